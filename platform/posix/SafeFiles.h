// How the Linux side opens the files it names itself (lock files, driver files, a function's PCI
// configuration file) and writes them: never through a link planted at the name, never waiting
// on a FIFO, never handed to a child program, and only when the name is a regular file.
#pragma once
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <string>

namespace plat {

inline constexpr int kSafeOpenFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

inline bool IsRegularFile(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// path opened with flags and kSafeOpenFlags, kept only when it is a regular file; else -1, with
// errno from the open, or EINVAL for anything but a regular file (which is left as it is).
inline int OpenRegularFile(const std::string& path, int flags, mode_t mode = 0) {
  const int fd = open(path.c_str(), flags | kSafeOpenFlags, mode);
  if (fd < 0 || IsRegularFile(fd)) return fd;
  close(fd);
  errno = EINVAL;
  return -1;
}

// Writes all of data, going on after an interruption; false on an error or a write of nothing.
inline bool WriteAll(int fd, const void* data, size_t length) {
  const char* at = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t n = write(fd, at, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace plat
