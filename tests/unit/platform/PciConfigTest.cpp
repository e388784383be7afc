#include <gtest/gtest.h>

#include <string>

#include "platform/PciConfig.h"

namespace plat {
namespace {

using namespace std::string_literals;

TEST(PciDeviceProperties, HardwareIds) {
  const struct {
    const char* what;
    std::string ids;
    bool ok;
    uint16_t vendor, device;
    bool hasSubsystem;
    uint32_t subsystem;
  } cases[] = {
      {"the list SetupAPI gives, zero-separated",
       "PCI\\VEN_1002&DEV_73BF&SUBSYS_0E3A1002&REV_C1\0PCI\\VEN_1002&DEV_73BF&SUBSYS_0E3A1002\0"
       "PCI\\VEN_1002&DEV_73BF&CC_030000\0PCI\\VEN_1002&DEV_73BF&CC_0300"s,
       true, 0x1002, 0x73BF, true, 0x0E3A1002},
      {"lower case, one per line", "pci\\ven_10de&dev_2684&subsys_16f110de&rev_a1\r\n", true,
       0x10DE, 0x2684, true, 0x16F110DE},
      {"the subsystem only in a later id",
       "PCI\\VEN_1002&DEV_67DF&CC_030000\0PCI\\VEN_1002&DEV_67DF&SUBSYS_04681002"s, true, 0x1002,
       0x67DF, true, 0x04681002},
      {"no subsystem", "PCI\\VEN_1002&DEV_67DF&REV_E7", true, 0x1002, 0x67DF, false, 0},
      {"a subsystem of another function is not taken",
       "PCI\\VEN_1002&DEV_67DF\0PCI\\VEN_1002&DEV_AAF0&SUBSYS_AAF01002"s, true, 0x1002, 0x67DF,
       false, 0},
      {"not PCI", "ROOT\\BasicRender", false, 0, 0, false, 0},
      {"short vendor", "PCI\\VEN_102&DEV_67DF", false, 0, 0, false, 0},
      {"no device", "PCI\\VEN_1002&SUBSYS_04681002", false, 0, 0, false, 0},
      {"not hexadecimal", "PCI\\VEN_10G2&DEV_67DF", false, 0, 0, false, 0},
      {"a malformed subsystem is no subsystem", "PCI\\VEN_1002&DEV_67DF&SUBSYS_0468100", true,
       0x1002, 0x67DF, false, 0},
      {"empty", "", false, 0, 0, false, 0},
  };
  for (const auto& c : cases) {
    PciHardwareIds ids;
    EXPECT_EQ(ParsePciHardwareIds(c.ids, ids), c.ok) << c.what;
    EXPECT_EQ(ids.Vendor, c.vendor) << c.what;
    EXPECT_EQ(ids.Device, c.device) << c.what;
    EXPECT_EQ(ids.HasSubsystem, c.hasSubsystem) << c.what;
    EXPECT_EQ(ids.Subsystem, c.subsystem) << c.what;
  }
}

TEST(PciDeviceProperties, LocationTexts) {
  const struct {
    const char* text;
    bool ok;
    int bus, device, function;
  } cases[] = {
      {"PCI bus 3, device 0, function 0", true, 3, 0, 0},
      {"PCI bus 255, device 31, function 7", true, 255, 31, 7},
      {"PCI-Bus 10, Gerät 2, Funktion 1", true, 10, 2, 1},
      {"PCI Slot 2 (PCI bus 1, device 0, function 0)", true, 1, 0, 0},
      {"@System32\\drivers\\pci.sys,#65536;PCI bus %1, device %2, function %3;(3,0,0)", true, 3, 0,
       0},
      {"PCI bus 256, device 0, function 0", false, 0, 0, 0},
      {"PCI bus 3, device 32, function 0", false, 0, 0, 0},
      {"PCI bus 3, device 0, function 8", false, 0, 0, 0},
      {"PCI bus 99999999999999999999, device 0, function 0", false, 0, 0, 0},
      {"PCI bus 3, device 0", false, 0, 0, 0},
      {"", false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    uint8_t bus = 0xEE, device = 0xEE, function = 0xEE;
    EXPECT_EQ(ParsePciLocation(c.text, bus, device, function), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(bus, c.bus) << c.text;
      EXPECT_EQ(device, c.device) << c.text;
      EXPECT_EQ(function, c.function) << c.text;
    }
  }
}

}  // namespace
}  // namespace plat
