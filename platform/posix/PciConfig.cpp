#include "platform/PciConfig.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/posix/SafeFiles.h"

namespace plat {

namespace {

class SysfsPciConfig final : public PciConfigSource {
 public:
  explicit SysfsPciConfig(std::string root) : root_(std::move(root)) {}

  bool ReadDword(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset,
                 uint32_t& value) override {
    value = 0xFFFFFFFFu;
    if (device > 31 || function > 7) return false;
    char name[32];
    std::snprintf(name, sizeof name, "/0000:%02x:%02x.%x/config", bus, device, function);
    // The function's folder is a link into the device tree; "config" itself is a regular file.
    const int fd = OpenRegularFile(root_ + name, O_RDONLY);
    if (fd < 0) return false;
    uint8_t bytes[4];
    ssize_t n = -1;
    do {
      n = pread(fd, bytes, sizeof bytes, static_cast<off_t>(offset & ~3u));
    } while (n < 0 && errno == EINTR);
    close(fd);
    // A short file (or one this user may not read that far) does not serve the offset.
    if (n != static_cast<ssize_t>(sizeof bytes)) return false;
    value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
            static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    return true;
  }

 private:
  std::string root_;
};

}  // namespace

std::unique_ptr<PciConfigSource> OpenPciConfigSource() {
  return OpenSysfsPciConfigSource("/sys/bus/pci/devices");
}

std::unique_ptr<PciConfigSource> OpenSysfsPciConfigSource(const std::string& root) {
  return std::make_unique<SysfsPciConfig>(root);
}

}  // namespace plat
