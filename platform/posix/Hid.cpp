#include "platform/Hid.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "platform/DynLib.h"
#include "platform/posix/HidApi.h"

namespace plat {

namespace {

// hidapi keeps process-wide state: the library is loaded and initialised once and stays loaded
// for the life of the process.
struct HidApi {
  hid_enumerate_fn enumerate = nullptr;
  hid_free_enumeration_fn freeEnumeration = nullptr;
  hid_open_path_fn openPath = nullptr;
  hid_write_fn write = nullptr;
  hid_read_timeout_fn readTimeout = nullptr;
  hid_close_fn close = nullptr;
  hid_error_fn error = nullptr;  // optional: only words for the diagnostic log
  bool ready = false;
};

const HidApi& Api() {
  static const HidApi api = [] {
    HidApi a;
    LibHandle lib = LoadRuntimeLibrary({HidLibraryName()});
    if (!lib) return a;
    auto init = LookupEntryAs<hid_init_fn>(lib, "hid_init");
    a.enumerate = LookupEntryAs<hid_enumerate_fn>(lib, "hid_enumerate");
    a.freeEnumeration = LookupEntryAs<hid_free_enumeration_fn>(lib, "hid_free_enumeration");
    a.openPath = LookupEntryAs<hid_open_path_fn>(lib, "hid_open_path");
    a.write = LookupEntryAs<hid_write_fn>(lib, "hid_write");
    a.readTimeout = LookupEntryAs<hid_read_timeout_fn>(lib, "hid_read_timeout");
    a.close = LookupEntryAs<hid_close_fn>(lib, "hid_close");
    a.error = LookupEntryAs<hid_error_fn>(lib, "hid_error");
    a.ready = init && a.enumerate && a.freeEnumeration && a.openPath && a.write && a.readTimeout &&
              a.close && init() == 0;
    return a;
  }();
  return api;
}

bool IsValid(HidHandle handle) { return handle && handle != InvalidHidHandle(); }

// hidapi's words, in plain ASCII (anything else becomes '?').
std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text && *text && out.size() < 512; ++text) {
    out += (*text >= 0x20 && *text < 0x7F) ? static_cast<char>(*text) : '?';
  }
  return out;
}

// Room for the longest report a HID device can send (a full-speed interrupt endpoint gives 64
// bytes; a high-speed one up to 1024).
constexpr size_t kMaxReportBytes = 1024;

}  // namespace

HidHandle InvalidHidHandle() { return reinterpret_cast<HidHandle>(~uintptr_t{0}); }

HidLibrary::HidLibrary() { Api(); }

HidLibrary::~HidLibrary() = default;

const char* HidLibraryName() { return "libhidapi-hidraw.so.0"; }

int HidTimeoutError() { return ETIMEDOUT; }

bool HidLibrary::Available() const { return Api().ready; }

void HidLibrary::Failed(int error, HidHandle handle) {
  lastError_ = error;
  const HidApi& api = Api();
  lastErrorText_ = api.error ? Narrow(api.error(static_cast<hid_device*>(handle))) : std::string();
}

bool HidLibrary::ListDevices(std::vector<HidDeviceInfo>& devices) {
  devices.clear();
  const HidApi& api = Api();
  if (!api.ready) return false;
  // hidraw lists a device once per usage pair, all with the same path.
  hid_device_info* all = api.enumerate(0, 0);
  for (const hid_device_info* d = all; d; d = d->next) {
    if (!d->path) continue;
    bool seen = false;
    for (const HidDeviceInfo& known : devices) seen = seen || known.path == d->path;
    if (!seen) devices.push_back(HidDeviceInfo{d->path, d->vendor_id, d->product_id});
  }
  if (all) api.freeEnumeration(all);
  return true;
}

bool HidLibrary::FindDevices(uint16_t vendorId, const uint16_t (&productIds)[3],
                             std::vector<std::string>& paths) {
  paths.clear();
  std::vector<HidDeviceInfo> devices;
  if (!ListDevices(devices)) return false;
  for (const HidDeviceInfo& d : devices) {
    if (d.vendorId != vendorId) continue;
    if (d.productId == productIds[0] || d.productId == productIds[1] ||
        d.productId == productIds[2]) {
      paths.push_back(d.path);
    }
  }
  return true;
}

// Each call opens the path anew, so a read handle and a write handle of one device are two
// separate hidapi devices, each closed on its own.
HidHandle HidLibrary::Open(const std::string& path, HidAccess) {
  const HidApi& api = Api();
  if (!api.ready) return InvalidHidHandle();
  errno = 0;
  hid_device* device = api.openPath(path.c_str());
  if (!device) {
    int error = errno;
    // A library that kept no errno: what the node's permissions say, without opening it.
    if (error == 0 && access(path.c_str(), R_OK | W_OK) != 0) error = errno;
    Failed(error);
    return InvalidHidHandle();
  }
  return static_cast<HidHandle>(device);
}

// hidapi delivers the data bytes of a report without its id; the caller gets the report id 0 in
// front of them, as the Windows HID driver gives it.
bool HidLibrary::Read(HidHandle handle, uint8_t* buffer, uint32_t length, uint32_t* count,
                      uint32_t timeoutMs) {
  if (count) *count = 0;
  const HidApi& api = Api();
  if (!api.ready || !IsValid(handle) || !buffer || length < 2) return false;
  const int ms = timeoutMs > INT_MAX ? INT_MAX : static_cast<int>(timeoutMs);
  errno = 0;
  const int n = api.readTimeout(static_cast<hid_device*>(handle), buffer + 1, length - 1, ms);
  if (n < 0) Failed(errno, handle);
  if (n == 0) Failed(HidTimeoutError(), handle);
  if (n <= 0) return false;  // error, or nothing within the time
  buffer[0] = 0;
  if (count) *count = static_cast<uint32_t>(n) + 1;
  return true;
}

// hidapi transfers are synchronous: when a call returns nothing is left pending. hidapi has no
// write timeout: on hidraw a write waits until the kernel gives up on the transfer (about 5 s on
// USB), whatever timeoutMs says. No thread is put in to cut it short: a write the kernel still
// holds could not be taken back anyway.
bool HidLibrary::Write(HidHandle handle, const uint8_t* buffer, uint32_t length, uint32_t* count,
                       uint32_t) {
  if (count) *count = 0;
  const HidApi& api = Api();
  if (!api.ready || !IsValid(handle) || !buffer || length == 0) return false;
  errno = 0;
  const int n = api.write(static_cast<hid_device*>(handle), buffer, length);
  if (n < 0) {
    Failed(errno, handle);
    return false;
  }
  if (count) *count = static_cast<uint32_t>(n);
  return true;
}

void HidLibrary::FlushInput(HidHandle handle) {
  const HidApi& api = Api();
  if (!api.ready || !IsValid(handle)) return;
  // Bounded: the kernel keeps at most 64 reports per open device; a device that keeps sending
  // faster than this loop drains does not hold it up for long either.
  unsigned char report[kMaxReportBytes];
  for (int i = 0; i < 256; ++i) {
    if (api.readTimeout(static_cast<hid_device*>(handle), report, sizeof report, 0) <= 0) break;
  }
}

void HidLibrary::Cancel(HidHandle) {}

void HidLibrary::Close(HidHandle handle) {
  const HidApi& api = Api();
  if (!api.ready || !IsValid(handle)) return;
  api.close(static_cast<hid_device*>(handle));
}

std::string DescribeSystemError(int error) {
  if (error == 0) return "no reason given";
  return std::string(std::strerror(error)) + " (error " + std::to_string(error) + ")";
}

std::string DescribeHidOpenFailure(const std::string& path, int error) {
  const std::string head = "Cannot open " + path + ": ";
  switch (error) {
    case EACCES:
    case EPERM:
      return head + "permission denied; the udev rule in the README (\"Access to the " +
             "controller\") gives the user at the seat access";
    case EBUSY:
      return head + "the device is busy (another program holds it)";
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return head + "the device went away (" + DescribeSystemError(error) + ")";
    case 0:
      return head + "the HID library gave no reason";
    default:
      return head + DescribeSystemError(error);
  }
}

}  // namespace plat
