#include "platform/VersionResource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ElfSection.h"

namespace plat {

bool ReadVersionData(const char* path, VersionData& data) {
  data = VersionData{};
  if (!path || !*path) return false;
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  // Only regular files: a pipe or a device could block or never end.
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
    close(fd);
    return false;
  }
  ReadAtFn readAt = [fd](uint64_t offset, void* buffer, size_t length) {
    auto* out = static_cast<uint8_t*>(buffer);
    while (length > 0) {
      const ssize_t n = pread(fd, out, length, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;  // error, or the file shrank under us
      out += n;
      offset += static_cast<uint64_t>(n);
      length -= static_cast<size_t>(n);
    }
    return true;
  };
  std::vector<uint8_t> record;
  const bool found = ReadElfSection(readAt, static_cast<uint64_t>(st.st_size), kVersionSectionName,
                                    kVersionSectionMax, record);
  close(fd);
  if (!found || record.empty()) return false;
  SplitVersionRecord(std::move(record), data);
  return true;
}

}  // namespace plat
