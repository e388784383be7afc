// USB HID link to the controller: finds the HID devices with a vendor id and one of three product
// ids, opens every one of them, and moves whole reports to and from the selected one, each
// transfer bounded by a timeout. Reports are passed whole: the report id first (0 for the
// controller), the length including it (65 for 64-byte reports).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Hid.h"
#include "transport/HidShare.h"

namespace brumel {

class CHidIO {
 public:
  CHidIO();
  ~CHidIO();
  CHidIO(const CHidIO&) = delete;
  CHidIO& operator=(const CHidIO&) = delete;

  // Opens every present HID device with vendorId whose product id is one of the three (0 matches
  // a device whose product id is 0), and selects the first found. With separateHandles each
  // device gets a read handle and a write handle, otherwise one handle for both. True when at
  // least one device was found. Devices still open from an earlier call are closed first.
  bool OpenDevice(bool separateHandles, uint16_t vendorId, uint16_t productId1, uint16_t productId2,
                  uint16_t productId3);
  // Cancels and closes every handle and forgets the devices. The sharing area stays open.
  void CloseDevice();
  // Makes device number index the one Read and Write use, and opens the sharing area named after
  // its path (none when index names no device). Returns the previous index.
  uint32_t SelectDevice(uint32_t index);

  // One read of length bytes from the selected device, waiting at most timeoutMs. count (may be
  // null) receives the bytes read. False without a selected device, on a failed start, on
  // timeout or on a failed transfer.
  bool Read(uint8_t* buffer, uint32_t length, uint32_t* count, uint32_t timeoutMs);
  // One write of length bytes to the selected device, as Read. The input reports queued on the
  // device's read handle are discarded first: they are stale replies to earlier requests.
  bool Write(const uint8_t* buffer, uint32_t length, uint32_t* count, uint32_t timeoutMs);

  // Whether the selected device's handles opened; a device found but not opened (no access,
  // busy) is kept in the lists with invalid handles.
  bool SelectedDeviceOpen() const;
  // The system's code for the selected device's failed open; 0 when it opened or the system
  // gave no reason.
  int SelectedOpenError() const;
  plat::HidLibrary& Library() { return Hid; }

  size_t GetDeviceCount() const { return DevicePaths.size(); }
  uint32_t GetSelectedIndex() const { return SelectedIndex; }
  const std::vector<std::string>& GetDevicePaths() const { return DevicePaths; }
  bool HasSeparateHandles() const { return SeparateHandles; }
  ShareArea<CHidShare>& GetShareArea() { return HidShareArea; }

  // The base name of a device's sharing area: the path with every character that is not an
  // ASCII letter or digit replaced by '_'.
  static std::string ShareBaseName(const std::string& devicePath);

 private:
  bool SeparateHandles = true;
  uint32_t SelectedIndex = 0;
  std::vector<plat::HidHandle> ReadHandles;
  std::vector<plat::HidHandle> WriteHandles;
  std::vector<std::string> DevicePaths;
  std::vector<int> OpenErrors;  // per device: the system's code of a failed open, else 0
  // Declared before the library so that it is closed after it, when the object goes away.
  ShareArea<CHidShare> HidShareArea;
  plat::HidLibrary Hid;
};

}  // namespace brumel
