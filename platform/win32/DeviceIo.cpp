#include "platform/DeviceIo.h"

#include <windows.h>

#include <cstring>

#include "platform/win32/OverlappedWait.h"
#include "platform/win32/WideText.h"

namespace plat {

namespace {

HANDLE Win(DeviceHandle device) { return reinterpret_cast<HANDLE>(device); }

class WindowsDeviceIo final : public DeviceIo {
 public:
  DeviceHandle Open(const std::string& path, DeviceOpen how) override {
    const std::wstring name = Wide(path);
    if (name.empty()) return kInvalidDevice;
    HANDLE h = how == DeviceOpen::DynamicLoad
                   ? CreateFileW(name.c_str(), 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr)
                   // Overlapped, so that no request can keep the tool waiting for ever.
                   : CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE || !h) {
      lastOpenError_ = GetLastError();
      return kInvalidDevice;
    }
    return reinterpret_cast<DeviceHandle>(h);
  }

  uint32_t LastOpenError() const override { return lastOpenError_; }

  bool Control(DeviceHandle device, uint32_t code, const void* in, uint32_t inSize, void* out,
               uint32_t outSize, uint32_t& returned) override {
    returned = 0;
    if (device == kInvalidDevice || device == 0) return false;
    if ((!in && inSize) || (!out && outSize)) return false;
    HANDLE handle = Win(device);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event) return false;
    OVERLAPPED overlapped;
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = event;
    DWORD moved = 0;
    BOOL ok = DeviceIoControl(handle, code, const_cast<void*>(in), inSize, out, outSize, &moved,
                              &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
      // The request is over before the buffers and the overlapped record go away; one that
      // completed as its time ran out is kept.
      uint32_t done = 0;
      ok = FinishOverlapped(handle, overlapped, kDeviceRequestTimeoutMs, done);
      moved = done;
    }
    CloseHandle(event);
    if (!ok) return false;
    // A driver never reports more than the room it was given.
    returned = moved <= outSize ? moved : outSize;
    return true;
  }

  void Close(DeviceHandle device) override {
    if (device != kInvalidDevice && device != 0) CloseHandle(Win(device));
  }

 private:
  uint32_t lastOpenError_ = 0;
};

}  // namespace

DeviceIo& SystemDeviceIo() {
  static WindowsDeviceIo instance;
  return instance;
}

}  // namespace plat
