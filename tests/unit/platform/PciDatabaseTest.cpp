// Names from the text of a PCI id database, and PCI addresses as the kernel writes them.
#include <gtest/gtest.h>

#include <string>

#include "platform/KernelI2c.h"

namespace plat {
namespace {

const char kDatabase[] =
    "#\tList of PCI ID's\r\n"
    "1000  Broadcom / LSI\n"
    "\t73bf  Not this vendor's\n"
    "1002  Advanced Micro Devices, Inc. [AMD/ATI]\n"
    "# a comment inside the vendor\n"
    "\t67df  Ellesmere [Radeon RX 470/480/570/580]\n"
    "\t\t1da2 e366  Nitro+ Radeon RX 570/580/590\n"
    "\t73bf  Navi 21 [Radeon RX 6800/6800 XT / 6900 XT]  \r\n"
    "\t\t1002 0e3a  Radeon RX 6900 XT\r\n"
    "\t\t1da2 438e  \n"
    "\t7340  Navi 14\n"
    "10de  NVIDIA Corporation\n"
    "\t\t1002 0e3a  Not a subsystem of an AMD device\n"
    "C 03  Display controller\n"
    "\t00  VGA compatible controller\n";

TEST(PciDatabase, SubsystemEntryElseDeviceEntryElseNothing) {
  const struct {
    uint16_t vendor, device, subVendor, sub;
    const char* name;
  } cases[] = {
      {0x1002, 0x73BF, 0x1002, 0x0E3A, "Radeon RX 6900 XT"},
      {0x1002, 0x73BF, 0x1DA2, 0x438E, "Navi 21 [Radeon RX 6800/6800 XT / 6900 XT]"},  // empty
      {0x1002, 0x73BF, 0x148C, 0x2408, "Navi 21 [Radeon RX 6800/6800 XT / 6900 XT]"},
      {0x1002, 0x67DF, 0x1002, 0x0E3A, "Ellesmere [Radeon RX 470/480/570/580]"},
      {0x1002, 0x7340, 0x1002, 0x0E3A, "Navi 14"},
      {0x1002, 0x1234, 0x1002, 0x0E3A, ""},
      {0x1000, 0x73BF, 0x1002, 0x0E3A, "Not this vendor's"},
      {0x10DE, 0x2484, 0x1002, 0x0E3A, ""},
      {0x1003, 0x73BF, 0x1002, 0x0E3A, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PciDatabaseName(kDatabase, c.vendor, c.device, c.subVendor, c.sub), c.name);
  }
  EXPECT_EQ(PciDatabaseName("", 0x1002, 0x73BF, 0x1002, 0x0E3A), "");
  EXPECT_EQ(PciDatabaseName("1002  AMD\n\t73bf  Navi\x01\x7f 21", 0x1002, 0x73BF, 0, 0),
            "Navi?? 21");
}

TEST(PciDatabase, AddressesAsTheKernelWritesThem) {
  PciDisplayFunction f;
  ASSERT_TRUE(ParsePciAddress("0001:0a:1f.7", f));
  EXPECT_EQ(f.Domain, 1);
  EXPECT_EQ(f.Bus, 0x0A);
  EXPECT_EQ(f.Device, 0x1F);
  EXPECT_EQ(f.Function, 7);
  EXPECT_EQ(f.Address, "0001:0a:1f.7");
  for (const char* bad : {"0000:03:00", "0000:03:00.0 ", "0000:03:20.0", "0000:03:00.8",
                          "000g:03:00.0", "0000-03:00.0", "", "i2c-3"}) {
    EXPECT_FALSE(ParsePciAddress(bad, f)) << bad;
  }
}

}  // namespace
}  // namespace plat
