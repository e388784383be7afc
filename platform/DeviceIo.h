// Opening a driver's device and sending it device-control requests.
//
// Windows: CreateFile on the device path and DeviceIoControl, overlapped: every request is
// bounded by a timeout, and one still pending then is cancelled and completed before the call
// returns. Other systems have no such devices here: opening fails.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

// An open device; kInvalidDevice when none (the system's invalid handle value).
using DeviceHandle = intptr_t;
inline constexpr DeviceHandle kInvalidDevice = -1;

// The longest a device-control request may take.
inline constexpr uint32_t kDeviceRequestTimeoutMs = 2000;

enum class DeviceOpen {
  // Read and write access, shared read and write, existing device only.
  ReadWrite,
  // The Windows 95/98/Me way of loading a dynamic driver by opening it: no access, no sharing,
  // creation disposition 0, delete on close.
  DynamicLoad,
};

class DeviceIo {
 public:
  virtual ~DeviceIo() = default;

  // kInvalidDevice when the device cannot be opened.
  virtual DeviceHandle Open(const std::string& path, DeviceOpen how) = 0;
  // Sends one request with inSize bytes in and room for outSize bytes out; returned gets the
  // bytes the driver wrote (0 on failure). False when the request fails or times out.
  virtual bool Control(DeviceHandle device, uint32_t code, const void* in, uint32_t inSize,
                       void* out, uint32_t outSize, uint32_t& returned) = 0;
  // Closes the device; kInvalidDevice is ignored.
  virtual void Close(DeviceHandle device) = 0;
  // The system's code for the last Open that failed; 0 when it is not known.
  virtual uint32_t LastOpenError() const { return 0; }
};

// The running system's devices.
DeviceIo& SystemDeviceIo();

}  // namespace plat
