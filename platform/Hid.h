// HID devices of the system: finding them by vendor and product id, opening them, and moving
// whole reports with every transfer bounded by a timeout.
//
// Windows: "hid.dll" loaded at run time, SetupAPI enumeration and overlapped file I/O.
// Linux: hidapi ("libhidapi-hidraw.so.0") loaded at run time, beside the executable first (never
// for an installed tool, see ToolFiles.h); the library is loaded and initialised once per process
// and stays loaded. A missing library, or a missing entry point, means that no device is found.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// An open device: a file handle on Windows, a hidapi device on Linux.
using HidHandle = void*;
// The invalid handle value (all bits set).
HidHandle InvalidHidHandle();

enum class HidAccess { Read, Write, ReadWrite };

// A present HID device: its path and its USB ids.
struct HidDeviceInfo {
  std::string path;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
};

// One user's binding to the HID library, with the completion events of its reads and writes.
// One thread at a time uses an object.
class HidLibrary {
 public:
  HidLibrary();
  ~HidLibrary();
  HidLibrary(const HidLibrary&) = delete;
  HidLibrary& operator=(const HidLibrary&) = delete;

  // Whether the library loaded with every entry point this layer needs.
  bool Available() const;
  // Every present HID device, in enumeration order, each path once. False (the list empty) when
  // the devices could not be listed: library or entry point missing, no device set, out of
  // memory.
  bool ListDevices(std::vector<HidDeviceInfo>& devices);
  // Paths of the present HID devices whose vendor id is vendorId and whose product id is one of
  // productIds, in enumeration order, each path once. False (paths empty) when the devices could
  // not be listed.
  bool FindDevices(uint16_t vendorId, const uint16_t (&productIds)[3],
                   std::vector<std::string>& paths);

  // Opens a device path for transfers; InvalidHidHandle() when that fails.
  HidHandle Open(const std::string& path, HidAccess access);

  // One transfer of length bytes (report id first), waiting at most timeoutMs. count (may be
  // null) receives the bytes moved, 0 on failure. A transfer still pending when the time is up
  // is cancelled, and the cancellation waited for, before the call returns false: nothing
  // completes into the buffer afterwards.
  // Linux: a read returns the report id 0 followed by the report's data bytes.
  bool Read(HidHandle handle, uint8_t* buffer, uint32_t length, uint32_t* count,
            uint32_t timeoutMs);
  bool Write(HidHandle handle, const uint8_t* buffer, uint32_t length, uint32_t* count,
             uint32_t timeoutMs);

  // Discards the input reports already queued for the handle (replies that came too late for
  // the read that waited for them), so the next read gets a report that arrives after this call.
  // Windows: HidD_FlushQueue. Linux: reads with no wait until nothing is left. Invalid handles
  // are ignored.
  void FlushInput(HidHandle handle);
  // Cancels transfers pending on the handle. Invalid handles are ignored.
  void Cancel(HidHandle handle);
  // Closes the handle. Invalid handles are ignored.
  void Close(HidHandle handle);

  // The system's code for the last Open, Read or Write of this object that failed (Linux: errno;
  // Windows: GetLastError), HidTimeoutError() for a read or write whose time ran out, 0 when
  // the system did not say.
  int LastError() const { return lastError_; }
  // The HID library's own words on that failure where it has any (hidapi's hid_error).
  const std::string& LastErrorText() const { return lastErrorText_; }

 private:
  void Failed(int error, HidHandle handle = nullptr);
  int lastError_ = 0;
  std::string lastErrorText_;

#ifdef _WIN32
  void* readEvent_ = nullptr;  // manual-reset completion events
  void* writeEvent_ = nullptr;
  void* module_ = nullptr;      // hid.dll
  void* flushQueue_ = nullptr;  // its HidD_FlushQueue
#endif
};

// The HID library's file name: "hid.dll" (Windows), "libhidapi-hidraw.so.0" (Linux).
const char* HidLibraryName();
// The code of a transfer that ended because its time ran out.
int HidTimeoutError();

// One line for the operator on a device that was found but would not open: the device's path
// and the system's reason, with what to do where the reason says. Linux: permission denied
// points to the udev rule described in the README; a busy device says another program holds it.
std::string DescribeHidOpenFailure(const std::string& path, int error);
// A system error code in words, the code included ("Permission denied (error 13)").
std::string DescribeSystemError(int error);

}  // namespace plat
