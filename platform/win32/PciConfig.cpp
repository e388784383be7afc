#include "platform/PciConfig.h"

#include <windows.h>
// setupapi.h needs the types of windows.h first.
#include <setupapi.h>

#include <vector>

namespace plat {

namespace {

// The display adapters' device setup class.
const GUID kDisplayClass = {
    0x4d36e968, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

constexpr DWORD kLongestProperty = 64 * 1024;

// A registry property of one device as bytes; empty when it is missing.
std::string Property(HDEVINFO devices, SP_DEVINFO_DATA& info, DWORD property) {
  DWORD type = 0, needed = 0;
  SetupDiGetDeviceRegistryPropertyA(devices, &info, property, &type, nullptr, 0, &needed);
  if (needed == 0 || needed > kLongestProperty) return {};
  std::vector<BYTE> buffer(needed);
  DWORD got = 0;
  if (!SetupDiGetDeviceRegistryPropertyA(devices, &info, property, &type, buffer.data(), needed,
                                         &got)) {
    return {};
  }
  if (got > needed) got = needed;
  std::string text(reinterpret_cast<const char*>(buffer.data()), got);
  // Texts end in zeros that are no part of them (a list keeps its inner separators).
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

bool DwordProperty(HDEVINFO devices, SP_DEVINFO_DATA& info, DWORD property, DWORD& value) {
  DWORD type = 0, got = 0;
  value = 0;
  return SetupDiGetDeviceRegistryPropertyA(devices, &info, property, &type,
                                           reinterpret_cast<PBYTE>(&value), sizeof value, &got) &&
         type == REG_DWORD && got == sizeof value;
}

// Where the device sits: the location text, else the bus number and address properties
// (the address of a PCI function is device << 16 | function).
bool Location(HDEVINFO devices, SP_DEVINFO_DATA& info, uint8_t& bus, uint8_t& device,
              uint8_t& function) {
  if (ParsePciLocation(Property(devices, info, SPDRP_LOCATION_INFORMATION), bus, device,
                       function)) {
    return true;
  }
  DWORD busNumber = 0, address = 0;
  if (!DwordProperty(devices, info, SPDRP_BUSNUMBER, busNumber) ||
      !DwordProperty(devices, info, SPDRP_ADDRESS, address)) {
    return false;
  }
  const DWORD d = address >> 16, f = address & 0xFFFF;
  if (busNumber > 255 || d > 31 || f > 7) return false;
  bus = static_cast<uint8_t>(busNumber);
  device = static_cast<uint8_t>(d);
  function = static_cast<uint8_t>(f);
  return true;
}

class DisplayAdapterProperties final : public PciConfigSource {
 public:
  bool ReadDword(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset,
                 uint32_t& value) override {
    value = 0xFFFFFFFFu;
    const uint16_t dword = offset & ~3u;
    if (dword != 0 && dword != 0x2C) return false;
    HDEVINFO devices = SetupDiGetClassDevsA(&kDisplayClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    for (DWORD member = 0; !found; ++member) {
      SP_DEVINFO_DATA info{};
      info.cbSize = sizeof info;
      if (!SetupDiEnumDeviceInfo(devices, member, &info)) break;
      uint8_t b = 0, d = 0, f = 0;
      if (!Location(devices, info, b, d, f) || b != bus || d != device || f != function) {
        continue;
      }
      PciHardwareIds ids;
      if (!ParsePciHardwareIds(Property(devices, info, SPDRP_HARDWAREID), ids)) continue;
      if (dword == 0) {
        value = static_cast<uint32_t>(ids.Device) << 16 | ids.Vendor;
        found = true;
      } else if (ids.HasSubsystem) {
        value = ids.Subsystem;
        found = true;
      } else {
        break;  // the function is there, but its ids do not give this dword
      }
    }
    SetupDiDestroyDeviceInfoList(devices);
    return found;
  }
};

// Windows has no sysfs.
class NoPciConfig final : public PciConfigSource {
 public:
  bool ReadDword(uint8_t, uint8_t, uint8_t, uint16_t, uint32_t& value) override {
    value = 0xFFFFFFFFu;
    return false;
  }
};

}  // namespace

std::unique_ptr<PciConfigSource> OpenPciConfigSource() {
  return std::make_unique<DisplayAdapterProperties>();
}

std::unique_ptr<PciConfigSource> OpenSysfsPciConfigSource(const std::string&) {
  return std::make_unique<NoPciConfig>();
}

}  // namespace plat
