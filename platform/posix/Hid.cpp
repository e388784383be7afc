#include "platform/Hid.h"

#include <climits>
#include <cstring>

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
  bool ready = false;
};

const HidApi& Api() {
  static const HidApi api = [] {
    HidApi a;
    LibHandle lib = LoadRuntimeLibrary({"libhidapi-hidraw.so.0"});
    if (!lib) return a;
    auto init = LookupEntryAs<hid_init_fn>(lib, "hid_init");
    a.enumerate = LookupEntryAs<hid_enumerate_fn>(lib, "hid_enumerate");
    a.freeEnumeration = LookupEntryAs<hid_free_enumeration_fn>(lib, "hid_free_enumeration");
    a.openPath = LookupEntryAs<hid_open_path_fn>(lib, "hid_open_path");
    a.write = LookupEntryAs<hid_write_fn>(lib, "hid_write");
    a.readTimeout = LookupEntryAs<hid_read_timeout_fn>(lib, "hid_read_timeout");
    a.close = LookupEntryAs<hid_close_fn>(lib, "hid_close");
    a.ready = init && a.enumerate && a.freeEnumeration && a.openPath && a.write && a.readTimeout &&
              a.close && init() == 0;
    return a;
  }();
  return api;
}

bool IsValid(HidHandle handle) { return handle && handle != InvalidHidHandle(); }

// Room for the longest report a HID device can send (a full-speed interrupt endpoint gives 64
// bytes; a high-speed one up to 1024).
constexpr size_t kMaxReportBytes = 1024;

}  // namespace

HidHandle InvalidHidHandle() { return reinterpret_cast<HidHandle>(~uintptr_t{0}); }

HidLibrary::HidLibrary() { Api(); }

HidLibrary::~HidLibrary() = default;

bool HidLibrary::FindDevices(uint16_t vendorId, const uint16_t (&productIds)[3],
                             std::vector<std::string>& paths) {
  paths.clear();
  const HidApi& api = Api();
  if (!api.ready) return false;
  // hidraw lists a device once per usage pair, all with the same path.
  hid_device_info* all = api.enumerate(0, 0);
  for (const hid_device_info* d = all; d; d = d->next) {
    if (!d->path || d->vendor_id != vendorId) continue;
    if (d->product_id != productIds[0] && d->product_id != productIds[1] &&
        d->product_id != productIds[2]) {
      continue;
    }
    bool seen = false;
    for (const std::string& p : paths) seen = seen || p == d->path;
    if (!seen) paths.emplace_back(d->path);
  }
  if (all) api.freeEnumeration(all);
  return true;
}

// Each call opens the path anew, so a read handle and a write handle of one device are two
// separate hidapi devices, each closed on its own.
HidHandle HidLibrary::Open(const std::string& path, HidAccess) {
  const HidApi& api = Api();
  if (!api.ready) return InvalidHidHandle();
  hid_device* device = api.openPath(path.c_str());
  return device ? static_cast<HidHandle>(device) : InvalidHidHandle();
}

// hidapi delivers the data bytes of a report without its id; the caller gets the report id 0 in
// front of them, as the Windows HID driver gives it.
bool HidLibrary::Read(HidHandle handle, uint8_t* buffer, uint32_t length, uint32_t* count,
                      uint32_t timeoutMs) {
  if (count) *count = 0;
  const HidApi& api = Api();
  if (!api.ready || !IsValid(handle) || !buffer || length < 2) return false;
  const int ms = timeoutMs > INT_MAX ? INT_MAX : static_cast<int>(timeoutMs);
  const int n = api.readTimeout(static_cast<hid_device*>(handle), buffer + 1, length - 1, ms);
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
  const int n = api.write(static_cast<hid_device*>(handle), buffer, length);
  if (n < 0) return false;
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

}  // namespace plat
