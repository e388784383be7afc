#include "platform/DriverFiles.h"

#include "platform/posix/SafeFiles.h"

namespace plat {

namespace {

class PosixDriverFiles final : public DriverFiles {
 public:
  // Drivers are not installed into folders of this system.
  std::string SystemFolder() override { return {}; }
  std::string WindowsFolder() override { return {}; }

  FileProbe Probe(const std::string& path) override {
    const int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0)
      return errno == ENOENT || errno == ENOTDIR ? FileProbe::Missing : FileProbe::Unreadable;
    close(fd);
    return FileProbe::Present;
  }

  FileWrite Write(const std::string& path, const uint8_t* data, size_t size) override {
    if (!data && size != 0) return FileWrite::NotOpened;
    // Only a regular file is truncated and written; anything else is left as it is.
    const int fd = OpenRegularFile(path, O_WRONLY | O_CREAT, 0644);
    if (fd < 0) return FileWrite::NotOpened;
    bool complete = ftruncate(fd, 0) == 0 && WriteAll(fd, data, size);
    if (close(fd) != 0) complete = false;
    return complete ? FileWrite::Written : FileWrite::Incomplete;
  }

  bool Remove(const std::string& path) override { return unlink(path.c_str()) == 0; }
};

}  // namespace

DriverFiles& SystemDriverFiles() {
  static PosixDriverFiles instance;
  return instance;
}

}  // namespace plat
