// The kernel's graphics cards and I2C buses read from sysfs trees laid out as the kernel lays
// them out (folders under devices/, links under bus/), and the OEM bus the tool's own display
// library chooses from them. Bus nodes here are plain files and links: what may not be opened.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "gpu/KernelI2cLibrary.h"
#include "platform/KernelI2c.h"

namespace brumel {
namespace {

namespace fs = std::filesystem;

class SysfsTree {
 public:
  SysfsTree() : root_(dir_.Folder()) {
    for (const char* d : {"sys/devices/pci0000:00", "sys/bus/pci/devices", "sys/bus/i2c/devices",
                          "dev"})
      fs::create_directories(root_ / d);
    // The bridge above the cards holds a PCI identity too.
    Function("0000:00:01.0", "0x1022", "0x1483", "0x060400", "pcieport", "");
  }

  // A PCI function below the root complex (below the bridge unless above is given).
  fs::path Function(const std::string& address, const std::string& vendor,
                    const std::string& device, const std::string& pciClass,
                    const std::string& driver, const std::string& above = "0000:00:01.0") {
    const fs::path dir = root_ / "sys/devices/pci0000:00" / above / address;
    fs::create_directories(dir);
    Attribute(dir / "vendor", vendor);
    Attribute(dir / "device", device);
    Attribute(dir / "subsystem_vendor", vendor);
    Attribute(dir / "subsystem_device", "0x0e3a");
    Attribute(dir / "class", pciClass);
    Attribute(dir / "revision", "0xc1");
    if (!driver.empty()) {
      fs::create_directories(root_ / "sys/bus/pci/drivers" / driver);
      Link(root_ / "sys/bus/pci/drivers" / driver, dir / "driver");
    }
    Link(dir, root_ / "sys/bus/pci/devices" / address);
    return dir;
  }

  // A bus of a card (in a sub-folder of it when under is given).
  void Bus(const std::string& entry, const std::string& name, const fs::path& card,
           const std::string& under = "") {
    const fs::path dir = card / under / entry;
    fs::create_directories(dir);
    Attribute(dir / "name", name);
    Link(dir, root_ / "sys/bus/i2c/devices" / entry);
  }

  fs::path Dev() const { return root_ / "dev"; }
  fs::path Root() const { return root_; }

  std::unique_ptr<plat::KernelI2c> Kernel() const {
    return plat::OpenKernelI2cAt((root_ / "sys").string(), (root_ / "dev").string(),
                                 {(root_ / "missing.ids").string(), (root_ / "pci.ids").string()});
  }

  static void Attribute(const fs::path& path, const std::string& text) {
    test::TempFolder::Write(path.string(), text + "\n");
  }

 private:
  static void Link(const fs::path& target, const fs::path& at) {
    fs::create_directory_symlink(fs::relative(target, at.parent_path()), at);
  }

  test::TempFolder dir_;
  fs::path root_;
};

const char kAmd[] = "0x1002";
const char kDisplay[] = "0x030000";

std::vector<std::string> Numbered(const std::string& format, int count) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    char text[64];
    std::snprintf(text, sizeof text, format.c_str(), i);
    names.push_back(text);
  }
  return names;
}

// The bus chosen as the OEM line for cards with the buses each kind of kernel and driver
// setting registers.
TEST(KernelI2cSysfs, TheOemBusIsChosenByNameAmongTheCardsBuses) {
  const struct {
    const char* what;
    std::vector<std::string> buses;  // i2c-0, i2c-1, ... in this order
    int chosen;
  } cases[] = {
      {"Linux 6.15, display core",
       {"AMDGPU DM i2c hw bus 0", "AMDGPU DM i2c hw bus 1", "AMDGPU DM aux hw bus 0",
        "AMDGPU SMU", "AMDGPU DM i2c OEM bus", "AMDGPU SMU 1"},
       4},
      {"Polaris with the display core",
       {"AMDGPU DM i2c hw bus 0", "AMDGPU i2c bit bus OEM 0x97", "AMDGPU DM aux hw bus 0"},
       1},
      {"display core off", Numbered("AMDGPU i2c bit bus 0x9%d", 8), 7},
      {"display core off, hardware I2C", Numbered("AMDGPU i2c hw bus 0x9%d", 8), 7},
      {"the display core's name comes first",
       {"AMDGPU i2c bit bus 0x97", "AMDGPU i2c bit bus OEM 0x97", "AMDGPU DM i2c OEM bus"},
       2},
      {"no OEM bus: connectors, aux and EEPROMs only",
       {"AMDGPU DM i2c hw bus 0", "AMDGPU DM aux hw bus 0", "AMDGPU SMU", "AMDGPU SMU 1",
        "AMDGPU DM i2c OEM bus 2"},
       -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SysfsTree tree;
    const fs::path card = tree.Function("0000:03:00.0", kAmd, "0x73bf", kDisplay, "amdgpu");
    for (size_t i = 0; i < c.buses.size(); ++i)
      tree.Bus("i2c-" + std::to_string(i), c.buses[i], card);
    TKernelI2cLibrary library(tree.Kernel());
    ASSERT_EQ(library.Cards().size(), 1u);
    const TKernelI2cLibrary::Card& found = library.Cards()[0];
    EXPECT_EQ(found.OemBus, c.chosen);
    ASSERT_EQ(found.Buses.size(), c.buses.size());
    for (size_t i = 0; i < c.buses.size(); ++i) EXPECT_EQ(found.Buses[i].Name, c.buses[i]);
  }
}

// Two AMD cards and an NVIDIA card: the cards in PCI order, each with the bus of its own folder
// (also one registered deeper below it), the NVIDIA card and its buses ignored, client devices
// and a card's bridge left out; names from the database or, without an entry, by their ids.
TEST(KernelI2cSysfs, CardsInPciOrderEachWithItsOwnBuses) {
  SysfsTree tree;
  test::TempFolder::Write((tree.Root() / "pci.ids").string(),
                          "# comment\n"
                          "1002  Advanced Micro Devices, Inc. [AMD/ATI]\n"
                          "\t67df  Ellesmere [Radeon RX 470/480/570/580]\n"
                          "\t73bf  Navi 21 [Radeon RX 6800/6800 XT / 6900 XT]\n"
                          "\t\t1002 0e3a  Radeon RX 6900 XT\n"
                          "10de  NVIDIA Corporation\n"
                          "\t2484  GA104 [GeForce RTX 3070]\n");
  // Made in the reverse of PCI order.
  const fs::path second = tree.Function("0000:0c:00.0", kAmd, "0x67df", kDisplay, "amdgpu");
  const fs::path nvidia = tree.Function("0000:05:00.0", "0x10de", "0x2484", kDisplay, "nvidia");
  const fs::path first = tree.Function("0000:03:00.0", kAmd, "0x73bf", kDisplay, "amdgpu");
  const fs::path audio = tree.Function("0000:03:00.1", kAmd, "0xab28", "0x040300", "snd_hda_intel");
  const fs::path unbound = tree.Function("0000:0d:00.0", kAmd, "0x7340", kDisplay, "");
  tree.Bus("i2c-0", "AMDGPU i2c bit bus OEM 0x97", second);
  tree.Bus("i2c-1", "NVIDIA i2c adapter 1 at 5:00.0", nvidia);
  tree.Bus("i2c-2", "AMDGPU DM i2c hw bus 0", first);
  tree.Bus("i2c-3", "AMDGPU DM i2c OEM bus", first);
  tree.Bus("i2c-4", "AMDGPU DM aux hw bus 1", first, "drm/card1/card1-DP-1");
  tree.Bus("i2c-5", "AMDGPU DM i2c OEM bus", unbound);
  fs::create_directories(first / "i2c-3" / "3-0050");
  SysfsTree::Attribute(first / "i2c-3" / "3-0050" / "name", "eeprom");
  fs::create_directory_symlink("../../../devices/pci0000:00/0000:00:01.0/0000:03:00.0/i2c-3/3-0050",
                               tree.Root() / "sys/bus/i2c/devices/3-0050");

  auto kernel = tree.Kernel();
  const std::vector<plat::PciDisplayFunction> functions = kernel->DisplayFunctions();
  std::vector<std::string> addresses;
  for (const auto& f : functions) addresses.push_back(f.Address + " " + f.Driver);
  EXPECT_EQ(addresses, (std::vector<std::string>{"0000:03:00.0 amdgpu", "0000:05:00.0 nvidia",
                                                 "0000:0c:00.0 amdgpu", "0000:0d:00.0 "}));
  EXPECT_EQ(functions[0].DeviceId, 0x73BF);
  EXPECT_EQ(functions[0].SubsystemId, 0x0E3A);
  EXPECT_EQ(functions[0].Revision, 0xC1);
  EXPECT_EQ(functions[2].Bus, 0x0C);

  TKernelI2cLibrary library(std::move(kernel));
  ASSERT_EQ(library.Cards().size(), 2u);
  const auto& a = library.Cards()[0];
  const auto& b = library.Cards()[1];
  EXPECT_EQ(a.Name, "Radeon RX 6900 XT");
  EXPECT_EQ(a.OemBus, 3);
  std::vector<int> aBuses;
  for (const auto& bus : a.Buses) aBuses.push_back(bus.Number);
  EXPECT_EQ(aBuses, (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(b.Name, "Ellesmere [Radeon RX 470/480/570/580]");
  EXPECT_EQ(b.OemBus, 0);
  ASSERT_EQ(b.Buses.size(), 1u);

  // Without a database the ids name the card.
  fs::remove(tree.Root() / "pci.ids");
  TKernelI2cLibrary unnamed(tree.Kernel());
  ASSERT_EQ(unnamed.Cards().size(), 2u);
  EXPECT_EQ(unnamed.Cards()[0].Name, "Graphics adapter 1002:73BF at 0000:03:00.0");
}

// Only a character device of i2c-dev at the bus's name is opened: a file or a link there is
// refused without being opened; no node at all means i2c-dev is not loaded.
TEST(KernelI2cSysfs, OnlyTheBussCharacterDeviceIsOpened) {
  SysfsTree tree;
  auto kernel = tree.Kernel();
  plat::I2cOpenFailure why = plat::I2cOpenFailure::None;
  std::string detail, node;
  EXPECT_FALSE(kernel->HasBusNodes());
  EXPECT_EQ(kernel->OpenBus(5, why, detail, node), nullptr);
  EXPECT_EQ(why, plat::I2cOpenFailure::Missing);
  EXPECT_EQ(node, (tree.Dev() / "i2c-5").string());

  test::TempFolder::Write((tree.Dev() / "i2c-5").string(), "");
  test::TempFolder::Write((tree.Root() / "target").string(), "");
  fs::create_symlink(tree.Root() / "target", tree.Dev() / "i2c-6");
  test::TempFolder::Write((tree.Dev() / "i2c-").string(), "");
  EXPECT_TRUE(kernel->HasBusNodes());
  EXPECT_EQ(kernel->OpenBus(5, why, detail, node), nullptr);
  EXPECT_EQ(why, plat::I2cOpenFailure::NotANode);
  EXPECT_EQ(kernel->OpenBus(6, why, detail, node), nullptr);
  EXPECT_EQ(why, plat::I2cOpenFailure::NotANode);
  EXPECT_EQ(detail, "a link");
  EXPECT_EQ(kernel->OpenBus(7, why, detail, node), nullptr);
  EXPECT_EQ(why, plat::I2cOpenFailure::Missing);
}

}  // namespace
}  // namespace brumel
