#include <windows.h>
// setupapi.h needs the types of windows.h first.
#include <setupapi.h>

#include <cstdlib>
#include <cstring>

#include "platform/DynLib.h"
#include "platform/Hid.h"
#include "platform/win32/OverlappedWait.h"

namespace plat {

namespace {

// The parts of hid.dll used here, declared from the library's documentation (it is loaded at
// run time, never linked).
struct HidAttributes {
  ULONG Size;
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
};
using HidD_GetHidGuid_fn = void(WINAPI*)(GUID* hidGuid);
using HidD_GetAttributes_fn = BOOLEAN(WINAPI*)(HANDLE device, HidAttributes* attributes);
using HidD_FlushQueue_fn = BOOLEAN(WINAPI*)(HANDLE device);

// Shared by every HidLibrary of the process: resolved by the first one that finds them empty,
// cleared when any of them goes away.
HidD_GetHidGuid_fn g_getHidGuid = nullptr;
HidD_GetAttributes_fn g_getAttributes = nullptr;

void ResolveShared(HMODULE module) {
  if (!module) return;
  if (!g_getHidGuid) {
    g_getHidGuid = LookupEntryAs<HidD_GetHidGuid_fn>(module, "HidD_GetHidGuid");
  }
  if (!g_getAttributes) {
    g_getAttributes = LookupEntryAs<HidD_GetAttributes_fn>(module, "HidD_GetAttributes");
  }
}

// error gets the system's code of a failure: WAIT_TIMEOUT for a transfer whose time ran out.
bool Transfer(HANDLE handle, HANDLE event, bool write, void* buffer, DWORD length, uint32_t* count,
              DWORD timeoutMs, int& error) {
  if (count) *count = 0;
  error = 0;
  if (handle == INVALID_HANDLE_VALUE || !handle || !buffer) {
    error = ERROR_INVALID_HANDLE;
    return false;
  }
  OVERLAPPED overlapped;
  std::memset(&overlapped, 0, sizeof overlapped);
  overlapped.hEvent = event;
  const BOOL started = write ? WriteFile(handle, buffer, length, nullptr, &overlapped)
                             : ReadFile(handle, buffer, length, nullptr, &overlapped);
  uint32_t moved = 0;
  bool done = false;
  if (started) {
    DWORD n = 0;
    // A transfer that completed with an error (device gone, for one) is a failure.
    done = GetOverlappedResult(handle, &overlapped, &n, TRUE) != 0;
    if (!done) error = static_cast<int>(GetLastError());
    moved = n;
  } else {
    error = static_cast<int>(GetLastError());
    if (error == ERROR_IO_PENDING) {
      // Time up: the transfer must be over before the overlapped record and the caller's
      // buffer go away; a report that completed just as the time ran out is kept.
      done = FinishOverlapped(handle, overlapped, timeoutMs, moved);
      // A transfer cancelled here ended because its time ran out.
      error = done ? 0 : static_cast<int>(GetLastError());
      if (error == ERROR_OPERATION_ABORTED) error = WAIT_TIMEOUT;
    }
  }
  if (event) ResetEvent(event);
  if (!done) return false;
  if (count) *count = moved;
  return true;
}

}  // namespace

HidHandle InvalidHidHandle() { return INVALID_HANDLE_VALUE; }

HidLibrary::HidLibrary() {
  readEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  writeEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  // The tool runs elevated: hid.dll comes from the system folder only.
  module_ = LoadSystemLibrary("hid.dll");
  ResolveShared(static_cast<HMODULE>(module_));
  flushQueue_ = LookupEntry(module_, "HidD_FlushQueue");
}

HidLibrary::~HidLibrary() {
  if (readEvent_) CloseHandle(static_cast<HANDLE>(readEvent_));
  if (writeEvent_) CloseHandle(static_cast<HANDLE>(writeEvent_));
  g_getHidGuid = nullptr;
  g_getAttributes = nullptr;
  FreeRuntimeLibrary(module_);
}

const char* HidLibraryName() { return "hid.dll"; }

int HidTimeoutError() { return WAIT_TIMEOUT; }

bool HidLibrary::Available() const { return module_ && g_getHidGuid && g_getAttributes; }

void HidLibrary::Failed(int error, HidHandle) {
  lastError_ = error;
  lastErrorText_.clear();
}

bool HidLibrary::ListDevices(std::vector<HidDeviceInfo>& devices) {
  devices.clear();
  // Another object that went away cleared the shared pointers; this one's library is still
  // loaded, so they can be resolved again.
  ResolveShared(static_cast<HMODULE>(module_));
  if (!g_getHidGuid || !g_getAttributes) return false;

  GUID hidGuid;
  g_getHidGuid(&hidGuid);
  HDEVINFO set =
      SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return false;

  for (DWORD member = 0;; ++member) {
    SP_DEVICE_INTERFACE_DATA iface;
    std::memset(&iface, 0, sizeof iface);
    iface.cbSize = sizeof iface;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, member, &iface)) break;

    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::malloc(size));
    if (!detail) {
      SetupDiDestroyDeviceInfoList(set);
      devices.clear();
      return false;
    }
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    const BOOL fetched =
        SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, size, nullptr, nullptr);
    std::string path;
    if (fetched) {
      const size_t room = size - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
      path.assign(detail->DevicePath, strnlen(detail->DevicePath, room));
    }
    std::free(detail);
    if (!fetched || path.empty()) continue;

    // A handle without access rights is enough to read the attributes.
    HANDLE probe = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE) continue;
    HidAttributes attributes;
    std::memset(&attributes, 0, sizeof attributes);
    attributes.Size = sizeof attributes;
    const BOOLEAN known = g_getAttributes(probe, &attributes);
    CloseHandle(probe);
    if (!known) continue;

    bool seen = false;
    for (const HidDeviceInfo& d : devices) seen = seen || d.path == path;
    if (!seen) devices.push_back(HidDeviceInfo{path, attributes.VendorID, attributes.ProductID});
  }
  SetupDiDestroyDeviceInfoList(set);
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

HidHandle HidLibrary::Open(const std::string& path, HidAccess access) {
  DWORD rights = GENERIC_READ | GENERIC_WRITE;
  if (access == HidAccess::Read) rights = GENERIC_READ;
  if (access == HidAccess::Write) rights = GENERIC_WRITE;
  HANDLE handle = CreateFileA(path.c_str(), rights, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) Failed(static_cast<int>(GetLastError()));
  return handle;
}

bool HidLibrary::Read(HidHandle handle, uint8_t* buffer, uint32_t length, uint32_t* count,
                      uint32_t timeoutMs) {
  int error = 0;
  const bool done = Transfer(static_cast<HANDLE>(handle), static_cast<HANDLE>(readEvent_), false,
                             buffer, length, count, timeoutMs, error);
  if (!done) Failed(error);
  return done;
}

bool HidLibrary::Write(HidHandle handle, const uint8_t* buffer, uint32_t length, uint32_t* count,
                       uint32_t timeoutMs) {
  // WriteFile only reads the buffer.
  int error = 0;
  const bool done = Transfer(static_cast<HANDLE>(handle), static_cast<HANDLE>(writeEvent_), true,
                             const_cast<uint8_t*>(buffer), length, count, timeoutMs, error);
  if (!done) Failed(error);
  return done;
}

void HidLibrary::FlushInput(HidHandle handle) {
  auto flush = reinterpret_cast<HidD_FlushQueue_fn>(flushQueue_);
  if (!flush || !handle || handle == INVALID_HANDLE_VALUE) return;
  flush(static_cast<HANDLE>(handle));
}

void HidLibrary::Cancel(HidHandle handle) {
  if (!handle || handle == INVALID_HANDLE_VALUE) return;
  CancelOverlapped(static_cast<HANDLE>(handle), nullptr);
}

void HidLibrary::Close(HidHandle handle) {
  if (!handle || handle == INVALID_HANDLE_VALUE) return;
  CloseHandle(static_cast<HANDLE>(handle));
}

std::string DescribeSystemError(int error) {
  if (error == 0) return "no reason given";
  char text[512] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
  std::string words(text, n < sizeof text ? n : 0);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                            words.back() == '.')) {
    words.pop_back();
  }
  if (words.empty()) words = "system error";
  return words + " (error " + std::to_string(error) + ")";
}

std::string DescribeHidOpenFailure(const std::string& path, int error) {
  const std::string head = "Cannot open " + path + ": ";
  switch (error) {
    case ERROR_ACCESS_DENIED:
      return head + "access denied (another program holds the device for itself)";
    case ERROR_SHARING_VIOLATION:
      return head + "the device is busy (another program holds it)";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:
      return head + "the device went away (" + DescribeSystemError(error) + ")";
    case 0:
      return head + "the system gave no reason";
    default:
      return head + DescribeSystemError(error);
  }
}

}  // namespace plat
