// Substitute for libhidapi-hidraw.so.0: presents the simulated controller(s) of the scenario
// named by BRUMEL_SIM_SCENARIO through the hidapi entry points, with hidraw's report handling:
// writes carry the report id 0 in front of the 64 report bytes, reads deliver the 64 report
// bytes without it. State is per process (the library lives in the tool's process).
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/HidApi.h"
#include "sim/model/ControllerModel.h"
#include "sim/model/Scenario.h"
#include "sim/model/SimLog.h"

namespace {

using brumel::sim::ControllerModel;
using brumel::sim::DeviceSpec;
using brumel::sim::kPacketBytes;
using brumel::sim::Packet;
using brumel::sim::Scenario;
using Clock = std::chrono::steady_clock;

// A read asked to block (negative timeout) still gives up after this long, so a test that
// waits for a reply that never comes ends.
constexpr int kBlockingReadCapMs = 10000;
// Input reports kept per open handle before the oldest is dropped (as hidraw does).
constexpr size_t kQueueLimit = 64;

struct QueuedReport {
  Clock::time_point due;
  Packet bytes;
};

struct Device;

}  // namespace

struct hid_device_ {
  Device* device = nullptr;
  std::deque<QueuedReport> queue;
  bool nonblocking = false;
  std::wstring error;
};

namespace {

struct Device {
  Device(std::string p, DeviceSpec s, const Scenario& scenario, std::wstring sn)
      : path(std::move(p)), ids(s), model(scenario), serial(std::move(sn)) {}
  std::string path;
  DeviceSpec ids;
  ControllerModel model;
  std::wstring serial;
  bool gone = false;
  std::vector<hid_device*> handles;
};

struct Bench {
  std::mutex lock;
  std::condition_variable changed;
  bool loaded = false;
  std::string loadedKey;  // scenario variable and file content the devices were built from
  std::vector<std::unique_ptr<Device>> devices;
  unsigned usageEntries = 2;
  int openError = 0;  // errno of every open of a present device; 0: opens
  size_t openHandles = 0;
  std::wstring error;  // last error of a call without a device handle
};

std::mutex g_benchCreation;
Bench* g_bench = nullptr;

Bench& GetBench() {
  std::lock_guard<std::mutex> hold(g_benchCreation);
  if (!g_bench) g_bench = new Bench;
  return *g_bench;
}

// Frees the state when the library is unloaded or the process ends, unless a handle is still
// open: a caller could still close it, so the state is then left alone.
struct BenchRelease {
  ~BenchRelease() {
    std::lock_guard<std::mutex> hold(g_benchCreation);
    if (g_bench && g_bench->openHandles == 0) {
      delete g_bench;
      g_bench = nullptr;
    }
  }
} g_benchRelease;

// (Re)builds the devices from the scenario when it was not read yet, or when the variable or
// the file changed while no device is open. Call with the lock held.
void EnsureScenario(Bench& b) {
  const char* var = std::getenv(brumel::sim::kScenarioVariable);
  std::string key;
  std::string text;
  bool readable = true;
  if (var && *var) {
    readable = brumel::sim::ReadWholeFile(var, text);
    key = std::string(var) + (readable ? "\n" + text : "\n(unreadable)");
  }
  if (b.loaded && (key == b.loadedKey || b.openHandles != 0)) return;
  b.loaded = true;
  b.loadedKey = key;
  b.devices.clear();
  Scenario scenario;
  if (var && *var) {
    std::string error;
    if (!readable || !brumel::sim::ParseScenario(text, scenario, error)) {
      if (!readable) error = "cannot read the file";
      brumel::sim::ShowNotice(std::string("scenario ") + var + ": " + error +
                              "; no device is present");
      return;
    }
  }
  b.usageEntries = scenario.usageEntries;
  b.openError = scenario.openError;
  for (size_t i = 0; i < scenario.devices.size(); ++i) {
    b.devices.push_back(std::make_unique<Device>("/dev/hidraw-sim" + std::to_string(i),
                                                 scenario.devices[i], scenario,
                                                 L"SIM000" + std::to_wstring(i + 1)));
  }
}

wchar_t* CopyWide(const std::wstring& s) {
  auto* out = static_cast<wchar_t*>(std::calloc(s.size() + 1, sizeof(wchar_t)));
  if (out) std::wmemcpy(out, s.c_str(), s.size());
  return out;
}

bool Matches(const Device& d, unsigned short vendorId, unsigned short productId) {
  return !d.gone && (vendorId == 0 || d.ids.vendorId == vendorId) &&
         (productId == 0 || d.ids.productId == productId);
}

hid_device* OpenHandle(Bench& b, Device& d) {
  auto* dev = new hid_device_;
  dev->device = &d;
  d.handles.push_back(dev);
  ++b.openHandles;
  return dev;
}

}  // namespace

extern "C" {

int hid_init(void) {
  Bench& b = GetBench();
  std::lock_guard<std::mutex> hold(b.lock);
  EnsureScenario(b);
  return 0;
}

// The devices keep their state: a controller does not reset when the host library exits.
int hid_exit(void) { return 0; }

struct hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
  Bench& b = GetBench();
  std::lock_guard<std::mutex> hold(b.lock);
  EnsureScenario(b);
  hid_device_info* head = nullptr;
  hid_device_info** tail = &head;
  for (const auto& d : b.devices) {
    if (!Matches(*d, vendor_id, product_id)) continue;
    // hidraw lists a device once per top-level usage, all with the same path.
    for (unsigned usage = 1; usage <= b.usageEntries; ++usage) {
      auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
      if (!info) return head;
      info->path = strdup(d->path.c_str());
      info->vendor_id = d->ids.vendorId;
      info->product_id = d->ids.productId;
      info->serial_number = CopyWide(d->serial);
      info->release_number = 0x0100;
      info->manufacturer_string = CopyWide(L"Brumel Bench");
      info->product_string = CopyWide(L"Simulated LED Controller");
      info->usage_page = 0xFF00;
      info->usage = static_cast<unsigned short>(usage);
      info->interface_number = 0;
      *tail = info;
      tail = &info->next;
    }
  }
  return head;
}

void hid_free_enumeration(struct hid_device_info* devs) {
  while (devs) {
    hid_device_info* next = devs->next;
    std::free(devs->path);
    std::free(devs->serial_number);
    std::free(devs->manufacturer_string);
    std::free(devs->product_string);
    std::free(devs);
    devs = next;
  }
}

hid_device* hid_open_path(const char* path) {
  Bench& b = GetBench();
  std::lock_guard<std::mutex> hold(b.lock);
  EnsureScenario(b);
  if (path) {
    for (const auto& d : b.devices) {
      if (d->gone || d->path != path) continue;
      // A node the user may not open, or one another program holds: what open(2) says.
      if (b.openError != 0) {
        b.error = L"Failed to open a device with path '" +
                  std::wstring(d->path.begin(), d->path.end()) + L"': error " +
                  std::to_wstring(b.openError);
        errno = b.openError;
        return nullptr;
      }
      return OpenHandle(b, *d);
    }
  }
  b.error = L"No such device";
  errno = ENOENT;
  return nullptr;
}

hid_device* hid_open(unsigned short vendor_id, unsigned short product_id,
                     const wchar_t* serial_number) {
  Bench& b = GetBench();
  std::lock_guard<std::mutex> hold(b.lock);
  EnsureScenario(b);
  for (const auto& d : b.devices) {
    if (Matches(*d, vendor_id, product_id) && (!serial_number || d->serial == serial_number))
      return OpenHandle(b, *d);
  }
  b.error = L"No such device";
  return nullptr;
}

int hid_write(hid_device* dev, const unsigned char* data, size_t length) {
  if (!dev || !data) return -1;
  Bench& b = GetBench();
  std::lock_guard<std::mutex> hold(b.lock);
  Device& d = *dev->device;
  if (d.gone) {
    dev->error = L"Device unplugged";
    return -1;
  }
  // The controller's output endpoint takes whole 64-byte reports: anything else is refused, as
  // the device would (a short write would otherwise pass as a padded report).
  if (length != kPacketBytes + 1) {
    dev->error = L"A report is the report id and 64 bytes: 65 bytes";
    return -1;
  }
  if (data[0] != 0) {
    dev->error = L"This device uses no numbered reports: the report id must be 0";
    return -1;
  }
  const brumel::sim::Outcome out = d.model.Receive(data + 1, length - 1);
  if (!out.received) {
    d.gone = true;
    dev->error = L"Device unplugged";
    brumel::sim::ShowNotice("device " + d.path + " unplugged");
    b.changed.notify_all();
    return -1;
  }
  brumel::sim::LogReceived(data, length, out.meaning);
  if (!out.notice.empty()) brumel::sim::ShowNotice(out.notice);
  if (out.reply) {
    for (hid_device* h : d.handles) {
      // Replies leave in the order of their requests.
      auto due = Clock::now() + std::chrono::milliseconds(out.delayMs);
      if (!h->queue.empty() && due < h->queue.back().due) due = h->queue.back().due;
      h->queue.push_back({due, out.bytes});
      if (h->queue.size() > kQueueLimit) h->queue.pop_front();
    }
    b.changed.notify_all();
  }
  dev->error.clear();
  return static_cast<int>(length);
}

int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds) {
  if (!dev || !data) return -1;
  Bench& b = GetBench();
  std::unique_lock<std::mutex> hold(b.lock);
  const int waitMs = milliseconds < 0 ? kBlockingReadCapMs : milliseconds;
  const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    if (dev->device->gone) {
      dev->error = L"Device unplugged";
      return -1;
    }
    const auto now = Clock::now();
    if (!dev->queue.empty() && dev->queue.front().due <= now) {
      const size_t n = length < kPacketBytes ? length : kPacketBytes;
      std::memcpy(data, dev->queue.front().bytes.data(), n);
      dev->queue.pop_front();
      dev->error.clear();
      return static_cast<int>(n);
    }
    if (now >= deadline) return 0;
    auto wake = deadline;
    if (!dev->queue.empty() && dev->queue.front().due < wake) wake = dev->queue.front().due;
    b.changed.wait_until(hold, wake);
  }
}

int hid_read(hid_device* dev, unsigned char* data, size_t length) {
  if (!dev) return -1;
  bool nonblocking = false;
  {
    std::lock_guard<std::mutex> hold(GetBench().lock);
    nonblocking = dev->nonblocking;
  }
  return hid_read_timeout(dev, data, length, nonblocking ? 0 : -1);
}

int hid_set_nonblocking(hid_device* dev, int nonblock) {
  if (!dev) return -1;
  std::lock_guard<std::mutex> hold(GetBench().lock);
  dev->nonblocking = nonblock != 0;
  return 0;
}

void hid_close(hid_device* dev) {
  if (!dev) return;
  Bench& b = GetBench();
  std::lock_guard<std::mutex> hold(b.lock);
  auto& handles = dev->device->handles;
  for (auto it = handles.begin(); it != handles.end(); ++it) {
    if (*it == dev) {
      handles.erase(it);
      break;
    }
  }
  --b.openHandles;
  delete dev;
}

const wchar_t* hid_error(hid_device* dev) {
  Bench& b = GetBench();
  std::lock_guard<std::mutex> hold(b.lock);
  const std::wstring& text = dev ? dev->error : b.error;
  return text.empty() ? L"Success" : text.c_str();
}

}  // extern "C"
