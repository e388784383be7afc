// A lock that only one process of the machine can hold at a time, named after a GUID.
// Windows: the named mutex "Global\\<guid>". Linux: flock on a lock file named after the GUID.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/NamedMutex.h"

namespace plat {

class InstanceLock {
 public:
  explicit InstanceLock(const std::string& guid);
  // Waits up to timeoutMs to own the lock. A time-out and a failed wait give false. A lock
  // whose last owner ended without giving it up (a copy ended by its console's close, say) is
  // free: the wait that reports it abandoned has it, and gives true.
  bool Acquire(unsigned timeoutMs);
  // Gives the lock up; the handle stays open until the object goes. Where a lock belongs to the
  // thread that took it (Windows), another thread cannot give it up: from there the lock is
  // left to the end of the process, which frees it, and no release is tried. False only when
  // the system refused a release.
  bool Release();
  // The process that holds the lock, where the system tells it; 0 when free or unknown.
  uint32_t Holder() const { return NamedMutexHolder(name_); }
  // May be asked from another thread (the end of a run that is ended while it waits).
  bool Owned() const { return owned_.load(); }

 private:
  std::string name_;
  NamedMutex mutex_;
  std::atomic<bool> owned_{false};
  uint64_t ownerThread_ = 0;
};

}  // namespace plat
