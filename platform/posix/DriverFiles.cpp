#include "platform/DriverFiles.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace {

bool IsRegular(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

class PosixDriverFiles final : public DriverFiles {
 public:
  // Drivers are not installed into folders of this system.
  std::string SystemFolder() override { return {}; }
  std::string WindowsFolder() override { return {}; }

  FileProbe Probe(const std::string& path) override {
    // Non-blocking, so that a FIFO planted under the name cannot hold the open.
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
      return errno == ENOENT || errno == ENOTDIR ? FileProbe::Missing : FileProbe::Unreadable;
    const bool regular = IsRegular(fd);
    close(fd);
    return regular ? FileProbe::Present : FileProbe::Unreadable;
  }

  FileWrite Write(const std::string& path, const uint8_t* data, size_t size) override {
    if (!data && size != 0) return FileWrite::NotOpened;
    const int fd =
        open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return FileWrite::NotOpened;
    // Only a regular file is truncated and written; anything else is left as it is.
    if (!IsRegular(fd)) {
      close(fd);
      return FileWrite::NotOpened;
    }
    bool complete = ftruncate(fd, 0) == 0;
    size_t done = 0;
    while (complete && done < size) {
      const ssize_t n = write(fd, data + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        complete = false;
        break;
      }
      done += static_cast<size_t>(n);
    }
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
