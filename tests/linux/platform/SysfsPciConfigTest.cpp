#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "platform/PciConfig.h"
#include "support/ReadWrite.h"

namespace brumel {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ConfigBytes(size_t size) {
  std::vector<uint8_t> bytes(size, 0);
  const uint8_t ids[4] = {0x02, 0x10, 0xBF, 0x73};
  const uint8_t subsystem[4] = {0x02, 0x10, 0x3A, 0x0E};
  for (size_t i = 0; i < 4 && i < size; ++i) bytes[i] = ids[i];
  for (size_t i = 0; i < 4 && 0x2C + i < size; ++i) bytes[0x2C + i] = subsystem[i];
  return bytes;
}

void PutConfig(const test::TempFolder& root, const std::string& function,
               const std::vector<uint8_t>& bytes) {
  fs::create_directories(root.File(function));
  std::ofstream(root.File(function + "/config"), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

TEST(SysfsPciConfig, ReadsTheConfigFileOfAFixtureFolder) {
  test::TempFolder root;
  PutConfig(root, "0000:03:00.0", ConfigBytes(64));
  PutConfig(root, "0000:04:00.0", ConfigBytes(40));  // short: no subsystem dword
  PutConfig(root, "0000:0a:1f.7", ConfigBytes(256));
  // A link planted as "config", and a FIFO: neither is read.
  fs::create_directories(root.File("0000:05:00.0"));
  fs::create_symlink(root.File("0000:03:00.0/config"), root.File("0000:05:00.0/config"));
  fs::create_directories(root.File("0000:06:00.0"));
  ASSERT_EQ(mkfifo(root.File("0000:06:00.0/config").c_str(), 0600), 0);

  auto source = plat::OpenSysfsPciConfigSource(root.Folder());
  const struct {
    const char* what;
    uint8_t bus, device, function;
    uint16_t offset;
    bool ok;
    uint32_t value;
  } cases[] = {
      {"vendor and device", 3, 0, 0, 0x00, true, 0x73BF1002},
      {"subsystem", 3, 0, 0, 0x2C, true, 0x0E3A1002},
      {"inside the subsystem dword", 3, 0, 0, 0x2E, true, 0x0E3A1002},
      {"past the readable bytes", 3, 0, 0, 0x40, false, 0xFFFFFFFF},
      {"bus, device and function in hexadecimal", 0x0A, 0x1F, 7, 0x2C, true, 0x0E3A1002},
      {"missing function", 3, 0, 1, 0x00, false, 0xFFFFFFFF},
      {"short file: vendor and device", 4, 0, 0, 0x00, true, 0x73BF1002},
      {"short file: subsystem", 4, 0, 0, 0x2C, false, 0xFFFFFFFF},
      {"planted link", 5, 0, 0, 0x00, false, 0xFFFFFFFF},
      {"FIFO", 6, 0, 0, 0x00, false, 0xFFFFFFFF},
      {"device 32", 3, 32, 0, 0x00, false, 0xFFFFFFFF},
  };
  for (const auto& c : cases) {
    uint32_t value = 0;
    EXPECT_EQ(source->ReadDword(c.bus, c.device, c.function, c.offset, value), c.ok) << c.what;
    EXPECT_EQ(value, c.value) << c.what;
  }
}

uint32_t HexFile(const fs::path& path) {
  std::ifstream in(path);
  std::string text;
  in >> text;
  return static_cast<uint32_t>(std::stoul(text, nullptr, 16));
}

TEST(SysfsPciConfig, ThisMachinesFunctionsThroughTheAccessObject) {
  const fs::path devices = "/sys/bus/pci/devices";
  std::error_code ec;
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(devices, ec)) {
    unsigned domain, bus, device, function;
    char tail;
    const std::string name = entry.path().filename().string();
    if (std::sscanf(name.c_str(), "%4x:%2x:%2x.%1x%c", &domain, &bus, &device, &function, &tail) !=
            4 ||
        domain != 0) {
      continue;
    }
    const uint32_t ids = HexFile(entry.path() / "device") << 16 | HexFile(entry.path() / "vendor");
    const uint32_t subsystem = HexFile(entry.path() / "subsystem_device") << 16 |
                               HexFile(entry.path() / "subsystem_vendor");
    TReadWrite* rw = GetReadWrite();
    ASSERT_FALSE(rw->UsesDriver());
    EXPECT_EQ(rw->ReadPciConfig(static_cast<uint8_t>(bus), static_cast<uint8_t>(device), 0,
                                static_cast<uint8_t>(function)),
              ids)
        << name;
    EXPECT_EQ(rw->ReadPciConfig(static_cast<uint8_t>(bus), static_cast<uint8_t>(device), 0x2C,
                                static_cast<uint8_t>(function)),
              subsystem)
        << name;
    ++checked;
  }
  if (checked == 0) GTEST_SKIP() << "no PCI functions under " << devices;
}

}  // namespace
}  // namespace brumel
