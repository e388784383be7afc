// A mutex shared by every process of the machine (Windows: of the session, unless the name
// begins with "Global\\") that opens the same name.
//
// Windows: a named system mutex. Linux: flock on a lock file named after the mutex, in the
// system's lock folder (a world-writable folder when that one is not writable); the lock goes
// with the process however it ends, so a Linux mutex is never found abandoned. The lock file is
// created with mode 0644 and never re-moded; a link or anything but a regular file at its name
// makes the open fail, and one that another user made is opened read-only (flock needs no more).
#pragma once
#include <cstdint>
#include <string>

namespace plat {

// Windows: the thread whose wait took the mutex owns it, and only that thread can release it;
// when it ends still owning it the mutex is abandoned (and the next wait gets it, as
// Abandoned). Linux: the lock belongs to the open lock file, any thread may release it.
#ifdef _WIN32
inline constexpr bool kMutexOwnedByThread = true;
#else
inline constexpr bool kMutexOwnedByThread = false;
#endif

enum class MutexWait {
  Acquired,   // now owned
  Abandoned,  // now owned; the previous owner ended without releasing it
  TimedOut,
  Failed,  // not open, or the system refused the wait
};

// The file a mutex name lives in where names are files (Linux: the lock file, which stays when
// the mutex is closed); empty where they are not (Windows). For tests that tidy up after
// themselves.
std::string NamedMutexFile(const std::string& name);

// The id of a process that holds the named mutex, where the system tells it (Linux: the lock
// file's entry in /proc/locks); 0 when it is free, or the system does not say (Windows).
uint32_t NamedMutexHolder(const std::string& name);

class NamedMutex {
 public:
  NamedMutex() = default;
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // Creates the mutex, or opens it when it exists already. False when neither works.
  bool Open(const std::string& name);
  bool IsOpen() const;
  // Closes the handle; a mutex still owned through it is released by the system.
  void Close();
  // Waits up to timeoutMs (negative: without a limit) to own the mutex. Ownership nests:
  // each successful wait needs one Release.
  MutexWait Wait(int64_t timeoutMs);
  // Gives up one level of ownership. False when this object did not own the mutex.
  bool Release();

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
  unsigned depth_ = 0;
#endif
};

}  // namespace plat
