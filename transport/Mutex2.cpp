#include "transport/Mutex2.h"

namespace brumel {

CMutex2::~CMutex2() {
  if (HeldByCaller()) {
    Count = 0;
    Owned = false;
    OwnerThreadId = std::thread::id();
    Handle.unlock();
  }
}

bool CMutex2::HeldByCaller() const {
  return Owned && OwnerThreadId.load() == std::this_thread::get_id();
}

void CMutex2::Lock() {
  if (HeldByCaller()) {
    ++Count;
    return;
  }
  Handle.lock();
  OwnerThreadId = std::this_thread::get_id();
  Owned = true;
  ++Count;
}

void CMutex2::Unlock() {
  if (!HeldByCaller() || Count == 0) return;
  if (--Count == 0) {
    Owned = false;
    OwnerThreadId = std::thread::id();
    Handle.unlock();
  }
}

ScopedMutex::ScopedMutex(CMutex2& mutex, bool releaseAll) : Mutex(mutex), ReleaseAll(releaseAll) {
  Mutex.Lock();
  if (ReleaseAll) {
    SavedDepth = Mutex.Depth();
    for (uint32_t i = 0; i < SavedDepth; ++i) Mutex.Unlock();
  }
}

ScopedMutex::~ScopedMutex() {
  if (ReleaseAll) {
    for (uint32_t i = 0; i < SavedDepth; ++i) Mutex.Lock();
  }
  Mutex.Unlock();
}

}  // namespace brumel
