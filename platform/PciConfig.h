// The identity of a PCI function as the operating system shows it without a driver of ours.
//
// Windows: the device properties of the display adapters (SetupAPI): the location text gives
// bus, device and function; the hardware ids give vendor, device, subsystem vendor and
// subsystem. Dword 0 and dword 0x2C are served. Linux: the function's sysfs "config" file,
// whose first 64 bytes any user can read.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace plat {

class PciConfigSource {
 public:
  virtual ~PciConfigSource() = default;
  // The configuration dword that holds the byte at offset (read at offset rounded down to a
  // multiple of 4). False when the function is not there or the offset cannot be served.
  virtual bool ReadDword(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset,
                         uint32_t& value) = 0;
};

// The running system's source.
std::unique_ptr<PciConfigSource> OpenPciConfigSource();

// Linux: the sysfs source reading root + "/0000:BB:DD.F/config" (root is
// "/sys/bus/pci/devices" for the system's).
std::unique_ptr<PciConfigSource> OpenSysfsPciConfigSource(const std::string& root);

// What a hardware-id list names: PCI vendor and device, and the SUBSYS_ value as written
// (subsystem id in the high half, subsystem vendor in the low half: the dword at 0x2C).
struct PciHardwareIds {
  uint16_t Vendor = 0;
  uint16_t Device = 0;
  bool HasSubsystem = false;
  uint32_t Subsystem = 0;
};

// Parses one hardware id or a list of them ("PCI\VEN_1002&DEV_73BF&SUBSYS_0E3A1002&REV_C1",
// one per line or zero-separated). Vendor and device come from the first id that names both,
// the subsystem from the first that names one. False when no id names vendor and device.
bool ParsePciHardwareIds(const std::string& ids, PciHardwareIds& out);

// Parses a PCI location text: "PCI bus 3, device 0, function 0", the same in another language
// (three numbers in this order), or the indirect form that ends in "(3,0,0)". False when the
// text does not give a bus up to 255, a device up to 31 and a function up to 7.
bool ParsePciLocation(const std::string& text, uint8_t& bus, uint8_t& device, uint8_t& function);

}  // namespace plat
