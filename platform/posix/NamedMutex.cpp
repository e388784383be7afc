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

}  // namespace

NamedMutex::~NamedMutex() { Close(); }

bool NamedMutex::Open(const std::string& name) {
  Close();
  const std::string path = LockFolder() + "/" + LockFileName(name);
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ >= 0) fchmod(fd_, 0666);  // other users must be able to open it too
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
