// Linux: graphics cards and their I2C buses from sysfs, a bus through its i2c-dev node.
//
// Every path goes through the C library (opendir/readdir, open, readlink, realpath, lstat,
// ioctl), so a test bed that stands in for /sys and /dev at that level (umockdev) sees all of
// it. Attributes are read with a bound, without following a link at their name; a bus node is
// opened only when it is a character device of the i2c-dev major whose minor is the bus's own
// number.
#include "platform/KernelI2c.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "platform/Files.h"
#include "platform/posix/SafeFiles.h"

namespace plat {

namespace {

// The character-device major of i2c-dev's nodes.
constexpr unsigned kI2cDevMajor = 89;
// Bytes of an attribute that are read: far more than any the tool reads holds.
constexpr size_t kAttributeBytes = 256;
// A PCI id database larger than this is not read.
constexpr uint64_t kMaxDatabaseBytes = 16u * 1024 * 1024;
// Folders walked up from a bus to its card at most.
constexpr int kMaxCardDepth = 16;

// The attribute's text without its line end; empty when it cannot be read.
std::string ReadAttribute(const std::string& path) {
  const int fd = OpenRegularFile(path, O_RDONLY);
  if (fd < 0) return {};
  char buf[kAttributeBytes];
  ssize_t n = -1;
  do {
    n = read(fd, buf, sizeof buf);
  } while (n < 0 && errno == EINTR);
  close(fd);
  if (n <= 0) return {};
  std::string text(buf, static_cast<size_t>(n));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text;
}

// A hexadecimal attribute ("0x1002"); false when it does not read as one.
bool ReadHexAttribute(const std::string& path, uint32_t& value) {
  const std::string text = ReadAttribute(path);
  size_t at = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0 ? 2 : 0;
  if (at >= text.size() || text.size() - at > 8) return false;
  value = 0;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    uint32_t d;
    if (c >= '0' && c <= '9') {
      d = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      d = static_cast<uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      d = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return false;
    }
    value = (value << 4) | d;
  }
  return true;
}

// The names in a folder (without "." and "..").
std::vector<std::string> FolderNames(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  if (!dir) return names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  return names;
}

// N of a name "i2c-N"; -1 for any other name.
int BusNumberOf(const std::string& name) {
  if (name.rfind("i2c-", 0) != 0 || name.size() < 5 || name.size() > 10) return -1;
  int n = 0;
  for (size_t i = 4; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

std::string ResolvedPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return {};
  std::string out = resolved;
  free(resolved);
  return out;
}

std::string LinkTargetName(const std::string& path) {
  char buf[4096];
  const ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return {};
  const std::string target(buf, static_cast<size_t>(n));
  const size_t slash = target.rfind('/');
  return slash == std::string::npos ? target : target.substr(slash + 1);
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

class DevI2cBus final : public I2cBus {
 public:
  explicit DevI2cBus(int fd) : fd_(fd) {}
  ~DevI2cBus() override { close(fd_); }
  DevI2cBus(const DevI2cBus&) = delete;
  DevI2cBus& operator=(const DevI2cBus&) = delete;

  bool OffersPlainI2c() override {
    unsigned long functions = 0;
    if (ioctl(fd_, I2C_FUNCS, &functions) != 0) return false;
    return (functions & I2C_FUNC_I2C) != 0;
  }

  int Transfer(I2cMessage* messages, size_t count) override {
    if (!messages || count == 0 || count > I2C_RDWR_IOCTL_MAX_MSGS) return EINVAL;
    i2c_msg kernel[I2C_RDWR_IOCTL_MAX_MSGS] = {};
    for (size_t i = 0; i < count; ++i) {
      const I2cMessage& m = messages[i];
      if (m.Address > 0x7F || m.Length > kMaxI2cMessageBytes || (m.Length > 0 && !m.Data))
        return EINVAL;
      kernel[i].addr = m.Address;
      kernel[i].flags = m.Read ? I2C_M_RD : 0;
      kernel[i].len = m.Length;
      kernel[i].buf = m.Data;
    }
    i2c_rdwr_ioctl_data request{};
    request.msgs = kernel;
    request.nmsgs = static_cast<__u32>(count);
    // Not repeated after an interruption: the messages may have gone out already.
    const int done = ioctl(fd_, I2C_RDWR, &request);
    if (done < 0) return errno != 0 ? errno : EIO;
    return static_cast<size_t>(done) == count ? 0 : EIO;
  }

 private:
  int fd_;
};

class SysfsKernelI2c final : public KernelI2c {
 public:
  SysfsKernelI2c(std::string sysRoot, std::string devRoot, std::vector<std::string> databases)
      : sys_(std::move(sysRoot)), dev_(std::move(devRoot)), databases_(std::move(databases)) {}

  std::vector<PciDisplayFunction> DisplayFunctions() override {
    std::vector<PciDisplayFunction> out;
    const std::string root = sys_ + "/bus/pci/devices/";
    for (const std::string& name : FolderNames(root)) {
      PciDisplayFunction f;
      if (!ParsePciAddress(name, f)) continue;
      const std::string dir = root + name + "/";
      uint32_t pciClass = 0, vendor = 0, device = 0, subVendor = 0, sub = 0, revision = 0;
      if (!ReadHexAttribute(dir + "class", pciClass) || (pciClass >> 16) != 0x03) continue;
      if (!ReadHexAttribute(dir + "vendor", vendor) || !ReadHexAttribute(dir + "device", device))
        continue;
      ReadHexAttribute(dir + "subsystem_vendor", subVendor);
      ReadHexAttribute(dir + "subsystem_device", sub);
      ReadHexAttribute(dir + "revision", revision);
      f.VendorId = static_cast<uint16_t>(vendor);
      f.DeviceId = static_cast<uint16_t>(device);
      f.SubsystemVendorId = static_cast<uint16_t>(subVendor);
      f.SubsystemId = static_cast<uint16_t>(sub);
      f.Revision = static_cast<uint8_t>(revision);
      f.Driver = LinkTargetName(dir + "driver");
      out.push_back(std::move(f));
    }
    std::sort(out.begin(), out.end(), [](const PciDisplayFunction& a, const PciDisplayFunction& b) {
      return std::tie(a.Domain, a.Bus, a.Device, a.Function) <
             std::tie(b.Domain, b.Bus, b.Device, b.Function);
    });
    return out;
  }

  std::vector<I2cAdapterEntry> Adapters() override {
    std::vector<I2cAdapterEntry> out;
    const std::string root = sys_ + "/bus/i2c/devices/";
    std::string devices = ResolvedPath(sys_ + "/devices");
    if (devices.empty()) devices = sys_ + "/devices";
    for (const std::string& name : FolderNames(root)) {
      I2cAdapterEntry entry;
      entry.Number = BusNumberOf(name);
      if (entry.Number < 0) continue;  // a client device ("3-0050"), not a bus
      entry.Name = ReadAttribute(root + name + "/name");
      entry.Card = CardOf(ResolvedPath(root + name), devices);
      out.push_back(std::move(entry));
    }
    std::sort(out.begin(), out.end(), [](const I2cAdapterEntry& a, const I2cAdapterEntry& b) {
      return a.Number < b.Number;
    });
    return out;
  }

  bool HasBusNodes() override {
    for (const std::string& name : FolderNames(dev_)) {
      if (BusNumberOf(name) >= 0) return true;
    }
    return false;
  }

  std::unique_ptr<I2cBus> OpenBus(int number, I2cOpenFailure& why, std::string& detail,
                                  std::string& node) override {
    node = dev_ + "/i2c-" + std::to_string(number);
    detail.clear();
    why = I2cOpenFailure::Failed;
    if (number < 0) return nullptr;
    struct stat st {};
    if (lstat(node.c_str(), &st) != 0) {
      why = errno == ENOENT || errno == ENOTDIR ? I2cOpenFailure::Missing : I2cOpenFailure::Failed;
      detail = std::strerror(errno);
      return nullptr;
    }
    if (!S_ISCHR(st.st_mode) || major(st.st_rdev) != kI2cDevMajor ||
        minor(st.st_rdev) != static_cast<unsigned>(number)) {
      why = I2cOpenFailure::NotANode;
      detail = S_ISLNK(st.st_mode) ? "a link" : "not the bus's character device";
      return nullptr;
    }
    const int fd = open(node.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
      const int error = errno;
      detail = std::strerror(error);
      if (error == EACCES || error == EPERM) {
        why = I2cOpenFailure::Denied;
      } else if (error == ENOENT) {
        why = I2cOpenFailure::Missing;
      } else if (error == ELOOP) {
        why = I2cOpenFailure::NotANode;
      }
      return nullptr;
    }
    why = I2cOpenFailure::None;
    return std::make_unique<DevI2cBus>(fd);
  }

  std::string KernelRelease() override {
    struct utsname u {};
    return uname(&u) == 0 ? std::string(u.release) : std::string();
  }

  std::string DatabaseName(const PciDisplayFunction& f) override {
    if (!databaseRead_) {
      databaseRead_ = true;
      for (const std::string& path : databases_) {
        if (ReadRegularFile(path, kMaxDatabaseBytes, database_) == FileRead::Ok) break;
        database_.clear();
      }
    }
    return PciDatabaseName(database_, f.VendorId, f.DeviceId, f.SubsystemVendorId, f.SubsystemId);
  }

 private:
  // The PCI function a bus belongs to: the nearest folder above it (inside the device tree)
  // that holds a PCI function's identity.
  static std::string CardOf(const std::string& bus, const std::string& devices) {
    if (bus.empty()) return {};
    std::string dir = bus;
    for (int depth = 0; depth < kMaxCardDepth; ++depth) {
      const size_t slash = dir.rfind('/');
      if (slash == std::string::npos) return {};
      dir.resize(slash);
      if (dir.size() <= devices.size() || dir.compare(0, devices.size(), devices) != 0 ||
          dir[devices.size()] != '/')
        return {};
      if (Exists(dir + "/vendor") && Exists(dir + "/device") &&
          Exists(dir + "/subsystem_vendor") && Exists(dir + "/subsystem_device")) {
        PciDisplayFunction f;
        const std::string name = dir.substr(dir.rfind('/') + 1);
        return ParsePciAddress(name, f) ? name : std::string();
      }
    }
    return {};
  }

  std::string sys_;
  std::string dev_;
  std::vector<std::string> databases_;
  bool databaseRead_ = false;
  std::string database_;
};

}  // namespace

std::unique_ptr<KernelI2c> OpenKernelI2c() {
  return OpenKernelI2cAt(
      "/sys", "/dev",
      {"/usr/share/misc/pci.ids", "/usr/share/hwdata/pci.ids", "/usr/share/pci.ids"});
}

std::unique_ptr<KernelI2c> OpenKernelI2cAt(const std::string& sysRoot, const std::string& devRoot,
                                           const std::vector<std::string>& pciIdDatabases) {
  return std::make_unique<SysfsKernelI2c>(sysRoot, devRoot, pciIdDatabases);
}

}  // namespace plat
