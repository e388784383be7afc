// Recursive in-process mutex and its scope guard. The controller channel uses them to serialise
// connecting and disconnecting.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

namespace brumel {

class CMutex2 {
 public:
  CMutex2() = default;
  // Releases the mutex when the destroying thread still holds it.
  ~CMutex2();
  CMutex2(const CMutex2&) = delete;
  CMutex2& operator=(const CMutex2&) = delete;

  // Waits without a time limit unless the calling thread holds the mutex already; each Lock
  // needs one Unlock.
  void Lock();
  // Gives up one level; the mutex is free again when the level reaches 0. A thread that does not
  // hold the mutex changes nothing.
  void Unlock();

  // Nesting depth of the holding thread (0 when free).
  uint32_t Depth() const { return Count; }
  bool HeldByCaller() const;

 private:
  std::atomic<bool> Owned{false};
  std::atomic<std::thread::id> OwnerThreadId{std::thread::id()};
  std::mutex Handle;
  uint32_t Count = 0;
};

// Lock mode (releaseAll false): locks on construction and unlocks on destruction.
// Release-all mode: frees the mutex for the scope (whatever depth the thread held) and restores
// that depth on destruction.
class ScopedMutex {
 public:
  ScopedMutex(CMutex2& mutex, bool releaseAll = false);
  ~ScopedMutex();
  ScopedMutex(const ScopedMutex&) = delete;
  ScopedMutex& operator=(const ScopedMutex&) = delete;

 private:
  CMutex2& Mutex;
  bool ReleaseAll;
  uint32_t SavedDepth = 0;
};

}  // namespace brumel
