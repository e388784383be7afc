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

bool Transfer(HANDLE handle, HANDLE event, bool write, void* buffer, DWORD length, uint32_t* count,
              DWORD timeoutMs) {
  if (count) *count = 0;
  if (handle == INVALID_HANDLE_VALUE || !handle || !buffer) return false;
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
    moved = n;
  } else if (GetLastError() == ERROR_IO_PENDING) {
    // Time up: the transfer must be over before the overlapped record and the caller's buffer
    // go away; a report that completed just as the time ran out is kept.
    done = FinishOverlapped(handle, overlapped, timeoutMs, moved);
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

bool HidLibrary::FindDevices(uint16_t vendorId, const uint16_t (&productIds)[3],
                             std::vector<std::string>& paths) {
  paths.clear();
  // Another object that went away cleared the shared pointers; this one's library is still
  // loaded, so they can be resolved again.
  ResolveShared(static_cast<HMODULE>(module_));
  if (!g_getHidGuid || !g_getAttributes) return false;

  GUID hidGuid;
  g_getHidGuid(&hidGuid);
  HDEVINFO devices =
      SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (devices == INVALID_HANDLE_VALUE) return false;

  for (DWORD member = 0;; ++member) {
    SP_DEVICE_INTERFACE_DATA iface;
    std::memset(&iface, 0, sizeof iface);
    iface.cbSize = sizeof iface;
    if (!SetupDiEnumDeviceInterfaces(devices, nullptr, &hidGuid, member, &iface)) break;

    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(devices, &iface, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::malloc(size));
    if (!detail) {
      SetupDiDestroyDeviceInfoList(devices);
      paths.clear();
      return false;
    }
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    const BOOL fetched =
        SetupDiGetDeviceInterfaceDetailA(devices, &iface, detail, size, nullptr, nullptr);
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

    if (attributes.VendorID != vendorId) continue;
    if (attributes.ProductID != productIds[0] && attributes.ProductID != productIds[1] &&
        attributes.ProductID != productIds[2]) {
      continue;
    }
    bool seen = false;
    for (const std::string& p : paths) seen = seen || p == path;
    if (!seen) paths.push_back(path);
  }
  SetupDiDestroyDeviceInfoList(devices);
  return true;
}

HidHandle HidLibrary::Open(const std::string& path, HidAccess access) {
  DWORD rights = GENERIC_READ | GENERIC_WRITE;
  if (access == HidAccess::Read) rights = GENERIC_READ;
  if (access == HidAccess::Write) rights = GENERIC_WRITE;
  return CreateFileA(path.c_str(), rights, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

bool HidLibrary::Read(HidHandle handle, uint8_t* buffer, uint32_t length, uint32_t* count,
                      uint32_t timeoutMs) {
  return Transfer(static_cast<HANDLE>(handle), static_cast<HANDLE>(readEvent_), false, buffer,
                  length, count, timeoutMs);
}

bool HidLibrary::Write(HidHandle handle, const uint8_t* buffer, uint32_t length, uint32_t* count,
                       uint32_t timeoutMs) {
  // WriteFile only reads the buffer.
  return Transfer(static_cast<HANDLE>(handle), static_cast<HANDLE>(writeEvent_), true,
                  const_cast<uint8_t*>(buffer), length, count, timeoutMs);
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

}  // namespace plat
