#include "platform/Files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <vector>

#include "platform/posix/SafeFiles.h"

namespace plat {

// The kernel gives the path of the executable through /proc, up to a page long; a longer path
// (or no /proc) cannot be read.
std::string ExecutablePath() {
  for (size_t size = 256; size <= 64 * 1024; size *= 2) {
    std::vector<char> buf(size);
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n <= 0) return {};
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
  }
  return {};
}

std::string ExecutableDir() {
  const std::string path = ExecutablePath();
  const size_t slash = path.rfind('/');
  if (path.empty() || path[0] != '/' || slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

// ---- RegularFile ------------------------------------------------------------------------------

RegularFile::~RegularFile() { Close(); }

RegularFile::OpenResult RegularFile::Open(const std::string& path) {
  Close();
  // Not blocking: opening a FIFO would otherwise wait for a writer.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    return errno == ENOENT || errno == ENOTDIR ? OpenResult::Missing : OpenResult::Failed;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    close(fd);
    return OpenResult::Failed;
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    return OpenResult::NotRegular;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  fd_ = fd;
  size_ = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  return OpenResult::Opened;
}

bool RegularFile::IsOpen() const { return fd_ >= 0; }

size_t RegularFile::Read(void* buffer, size_t length) {
  if (fd_ < 0 || !buffer) return 0;
  for (;;) {
    const ssize_t n = read(fd_, buffer, length);
    if (n < 0 && errno == EINTR) continue;
    return n > 0 ? static_cast<size_t>(n) : 0;
  }
}

void RegularFile::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  size_ = 0;
}

// ---- replacing a file -------------------------------------------------------------------------

namespace {

// Creates a new file next to path under a name nobody else has: O_EXCL fails on anything that
// is there already, a planted link included. The descriptor, or -1.
int CreateUniqueBeside(const std::string& path, std::string& tempPath) {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::mt19937_64 rng{std::random_device{}() ^ static_cast<uint64_t>(getpid())};
  for (int tries = 0; tries < 100; ++tries) {
    std::string name = path + ".";
    uint64_t bits = rng();
    for (int i = 0; i < 8; ++i, bits >>= 6) name += kLetters[bits % (sizeof kLetters - 1)];
    const int fd =
        open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd >= 0) {
      tempPath = name;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

}  // namespace

bool WriteFileReplacing(const std::string& path, const std::string& bytes) {
  if (path.empty()) return false;
  std::string temp;
  const int fd = CreateUniqueBeside(path, temp);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes.data(), bytes.size());
  // On the disk before it takes the name: a crash never leaves an empty file in its place.
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  // rename replaces a link at path by the file; it never writes through it.
  ok = ok && rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) unlink(temp.c_str());
  return ok;
}

}  // namespace plat
