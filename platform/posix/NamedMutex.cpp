#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/Time.h"
#include "platform/posix/SafeFiles.h"

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
  const int fd = OpenRegularFile(path, O_RDWR | O_CREAT, 0644);
  return fd < 0 && errno == EACCES ? OpenRegularFile(path, O_RDONLY) : fd;
}

}  // namespace

std::string NamedMutexFile(const std::string& name) {
  return LockFolder() + "/" + LockFileName(name);
}

// /proc/locks lists every lock with its holder: "1: FLOCK  ADVISORY  WRITE 1234 fe:00:5678 0 EOF",
// the file given as major:minor (hexadecimal) and inode. Waiters are listed with "->".
uint32_t NamedMutexHolder(const std::string& name) {
  struct stat st {};
  if (lstat(NamedMutexFile(name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  char device[64];
  std::snprintf(device, sizeof device, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, pid, file;
    fields >> number >> kind;
    if (kind != "FLOCK") continue;
    fields >> mode >> access >> pid >> file;
    if (file == device) return static_cast<uint32_t>(std::strtoul(pid.c_str(), nullptr, 10));
  }
  return 0;
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
