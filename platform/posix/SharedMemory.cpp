#include "platform/SharedMemory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

namespace plat {

namespace {

// The areas this process holds: descriptor -> object name. A descriptor is entered once its
// shared lock is held and leaves the list before it is closed, both under the list's lock, so
// ReleaseSharedMemoryAtEnd never meets a descriptor of something else.
std::mutex& HeldLock() {
  static std::mutex lock;
  return lock;
}
std::map<int, std::string>& Held() {
  static auto* held = new std::map<int, std::string>;  // still there while the process ends
  return *held;
}

}  // namespace

void ReleaseSharedMemoryAtEnd() {
  std::lock_guard<std::mutex> hold(HeldLock());
  for (const auto& [fd, name] : Held()) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) shm_unlink(name.c_str());
  }
}

SharedMemory::~SharedMemory() { Close(); }

bool SharedMemory::Open(const std::string& name, size_t size, bool* created) {
  if (created) *created = false;
  Close();
  if (name.empty() || size == 0) return false;
  const std::string objectName = "/" + name;
  bool made = true;
  int fd = shm_open(objectName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) {
    fchmod(fd, 0666);  // other users must be able to open it too
  } else if (errno == EEXIST) {
    made = false;
    fd = shm_open(objectName.c_str(), O_RDWR | O_CLOEXEC, 0);
  }
  if (fd < 0) return false;

  // Every user holds a shared lock. An exclusive one that is granted at once means nobody else
  // uses the area: it was left by a process that ended without removing it, and starts anew.
  if (!made && flock(fd, LOCK_EX | LOCK_NB) == 0) made = true;
  flock(fd, LOCK_SH | LOCK_NB);

  struct stat st;
  if (made || fstat(fd, &st) != 0 || static_cast<size_t>(st.st_size) < size) {
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
      close(fd);
      return false;
    }
  }
  fd_ = fd;
  size_ = size;
  name_ = objectName;
  try {
    std::lock_guard<std::mutex> hold(HeldLock());
    Held()[fd_] = name_;
  } catch (...) {
    // Out of memory: the area works; only an end from outside would leave its name behind.
  }
  if (created) *created = made;
  return true;
}

bool SharedMemory::IsOpen() const { return fd_ >= 0; }

void* SharedMemory::Map() {
  if (fd_ < 0) return nullptr;
  if (!view_) {
    void* v = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    view_ = v == MAP_FAILED ? nullptr : v;
  }
  return view_;
}

void SharedMemory::Flush() {
  if (view_) msync(view_, size_, MS_SYNC);
}

void SharedMemory::Unmap() {
  if (view_) munmap(view_, size_);
  view_ = nullptr;
}

void SharedMemory::Close() {
  Unmap();
  if (fd_ >= 0) {
    std::lock_guard<std::mutex> hold(HeldLock());
    Held().erase(fd_);
    // The last user removes the name, as Windows drops a mapping with its last handle.
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) shm_unlink(name_.c_str());
    close(fd_);
  }
  fd_ = -1;
  size_ = 0;
  name_.clear();
}

}  // namespace plat
