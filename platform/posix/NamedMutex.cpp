#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Time.h"

namespace plat {

namespace {

std::string LockFolder() {
  static const char* const kFolders[] = {"/run/lock", "/var/lock", "/tmp"};
  for (const char* folder : kFolders) {
    if (access(folder, W_OK | X_OK) == 0) return folder;
  }
  return "/tmp";
}

// "Global\\62E0..." gives "Global_62E0....lock": one file name, no folders.
std::string LockFileName(const std::string& name) {
  std::string file = name;
  for (char& c : file) {
    if (c == '/' || c == '\\') c = '_';
  }
  return file + ".lock";
}

// Opens the lock file without following a link at its name, without waiting on a FIFO and
// without giving it to a child program. A file made by another user that we may not write is
// opened for reading: flock works on that as well. Anything but a regular file is refused.
int OpenLockFile(const std::string& path) {
  constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
  if (fd < 0 && errno == EACCES) fd = open(path.c_str(), O_RDONLY | kFlags);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::string NamedMutexFile(const std::string& name) {
  return LockFolder() + "/" + LockFileName(name);
}

NamedMutex::~NamedMutex() { Close(); }

bool NamedMutex::Open(const std::string& name) {
  Close();
  fd_ = OpenLockFile(NamedMutexFile(name));
  return fd_ >= 0;
}

bool NamedMutex::IsOpen() const { return fd_ >= 0; }

void NamedMutex::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  depth_ = 0;
}

MutexWait NamedMutex::Wait(int64_t timeoutMs) {
  if (fd_ < 0) return MutexWait::Failed;
  if (depth_ > 0) {
    ++depth_;
    return MutexWait::Acquired;
  }
  const uint64_t start = MonotonicMs();
  for (;;) {
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
      depth_ = 1;
      return MutexWait::Acquired;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) return MutexWait::Failed;
    const uint64_t waited = MonotonicMs() - start;
    if (timeoutMs >= 0 && waited >= static_cast<uint64_t>(timeoutMs)) return MutexWait::TimedOut;
    uint64_t nap = 10;
    if (timeoutMs >= 0 && static_cast<uint64_t>(timeoutMs) - waited < nap) {
      nap = static_cast<uint64_t>(timeoutMs) - waited;
    }
    SleepMs(static_cast<unsigned>(nap));
  }
}

bool NamedMutex::Release() {
  if (fd_ < 0 || depth_ == 0) return false;
  if (--depth_ == 0) flock(fd_, LOCK_UN);
  return true;
}

}  // namespace plat
