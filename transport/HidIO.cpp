#include "transport/HidIO.h"

#include <cstdio>

#include "support/DebugConsole.h"

namespace brumel {

namespace {

bool IsValid(plat::HidHandle handle) { return handle && handle != plat::InvalidHidHandle(); }

std::string IdText(uint16_t vendorId, uint16_t productId) {
  char text[16];
  std::snprintf(text, sizeof text, "%04X:%04X", vendorId, productId);
  return text;
}

// A failed transfer, for the diagnostic log.
void LogTransferFailure(const char* what, const std::string& path, const plat::HidLibrary& hid,
                        uint32_t timeoutMs) {
  if (!DebugLogRequested()) return;
  std::string value = path + ": ";
  if (hid.LastError() == plat::HidTimeoutError()) {
    value += "no report within " + std::to_string(timeoutMs) + " ms";
  } else {
    value += plat::DescribeSystemError(hid.LastError());
  }
  if (!hid.LastErrorText().empty()) value += " | " + hid.LastErrorText();
  ToolLog(what, value, kLogBad);
}

}  // namespace

CHidIO::CHidIO() = default;

// The library goes before the sharing area (members are destroyed in reverse order).
CHidIO::~CHidIO() { CloseDevice(); }

bool CHidIO::OpenDevice(bool separateHandles, uint16_t vendorId, uint16_t productId1,
                        uint16_t productId2, uint16_t productId3) {
  CloseDevice();
  SeparateHandles = separateHandles;

  const uint16_t productIds[3] = {productId1, productId2, productId3};
  std::vector<std::string> paths;
  if (!Hid.FindDevices(vendorId, productIds, paths)) {
    ToolLog("HID library", std::string(plat::HidLibraryName()) + " not loaded or incomplete",
            kLogBad);
    return false;
  }
  if (paths.empty()) ToolLog("HID open", "no device " + IdText(vendorId, productId1), kLogBad);

  for (const std::string& path : paths) {
    // A device whose handle could not be opened keeps its place, with the invalid handle.
    int error = 0;
    const auto open = [&](plat::HidAccess access) {
      const plat::HidHandle handle = Hid.Open(path, access);
      if (!IsValid(handle) && error == 0) error = Hid.LastError();
      return handle;
    };
    if (SeparateHandles) {
      ReadHandles.push_back(open(plat::HidAccess::Read));
      WriteHandles.push_back(open(plat::HidAccess::Write));
    } else {
      const plat::HidHandle both = open(plat::HidAccess::ReadWrite);
      ReadHandles.push_back(both);
      WriteHandles.push_back(both);
    }
    const bool opened = IsValid(ReadHandles.back()) && IsValid(WriteHandles.back());
    DevicePaths.push_back(path);
    OpenErrors.push_back(opened ? 0 : error);
    if (opened) {
      ToolLog("HID open", path + " opened", kLogGood);
    } else {
      ToolLog("HID open", path + " not opened: " + plat::DescribeSystemError(error), kLogBad);
    }
  }
  SelectDevice(0);
  return !DevicePaths.empty();
}

void CHidIO::CloseDevice() {
  for (plat::HidHandle handle : ReadHandles) Hid.Cancel(handle);
  if (SeparateHandles) {
    for (plat::HidHandle handle : WriteHandles) Hid.Cancel(handle);
  }
  for (plat::HidHandle& handle : ReadHandles) {
    if (IsValid(handle)) Hid.Close(handle);
    handle = plat::InvalidHidHandle();
  }
  // Without separate handles the write list holds the read handles, closed above.
  if (SeparateHandles) {
    for (plat::HidHandle& handle : WriteHandles) {
      if (IsValid(handle)) Hid.Close(handle);
      handle = plat::InvalidHidHandle();
    }
  }
  ReadHandles.clear();
  WriteHandles.clear();
  DevicePaths.clear();
  OpenErrors.clear();
}

bool CHidIO::SelectedDeviceOpen() const {
  return SelectedIndex < ReadHandles.size() && SelectedIndex < WriteHandles.size() &&
         IsValid(ReadHandles[SelectedIndex]) && IsValid(WriteHandles[SelectedIndex]);
}

int CHidIO::SelectedOpenError() const {
  return SelectedIndex < OpenErrors.size() ? OpenErrors[SelectedIndex] : 0;
}

uint32_t CHidIO::SelectDevice(uint32_t index) {
  HidShareArea.Close();
  const uint32_t previous = SelectedIndex;
  SelectedIndex = index;
  if (index < DevicePaths.size()) {
    HidShareArea.SetName(ShareBaseName(DevicePaths[index]));
    HidShareArea.Open();
  }
  return previous;
}

bool CHidIO::Read(uint8_t* buffer, uint32_t length, uint32_t* count, uint32_t timeoutMs) {
  if (count) *count = 0;
  if (SelectedIndex >= ReadHandles.size()) return false;
  const plat::HidHandle handle = ReadHandles[SelectedIndex];
  if (!IsValid(handle)) return false;
  const bool done = Hid.Read(handle, buffer, length, count, timeoutMs);
  if (!done) LogTransferFailure("HID read", DevicePaths[SelectedIndex], Hid, timeoutMs);
  return done;
}

bool CHidIO::Write(const uint8_t* buffer, uint32_t length, uint32_t* count, uint32_t timeoutMs) {
  if (count) *count = 0;
  if (SelectedIndex >= WriteHandles.size()) return false;
  const plat::HidHandle handle = WriteHandles[SelectedIndex];
  if (!IsValid(handle)) return false;
  // Every write is a request whose answer the next read waits for. A reply that came after its
  // own read gave up would otherwise be taken for this one's, and every later exchange would read
  // the one before it: whatever is queued now is stale.
  if (SelectedIndex < ReadHandles.size() && IsValid(ReadHandles[SelectedIndex])) {
    Hid.FlushInput(ReadHandles[SelectedIndex]);
  }
  const bool done = Hid.Write(handle, buffer, length, count, timeoutMs);
  if (!done) LogTransferFailure("HID write", DevicePaths[SelectedIndex], Hid, timeoutMs);
  return done;
}

std::string CHidIO::ShareBaseName(const std::string& devicePath) {
  std::string name = devicePath;
  for (char& c : name) {
    const bool letterOrDigit =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!letterOrDigit) c = '_';
  }
  return name;
}

}  // namespace brumel
