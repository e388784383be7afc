#include "platform/InstanceLock.h"

#include "platform/ProcessId.h"

namespace plat {

InstanceLock::InstanceLock(const std::string& guid) : name_("Global\\" + guid) {}

bool InstanceLock::Acquire(unsigned timeoutMs) {
  if (owned_) return true;
  if (!mutex_.IsOpen() && !mutex_.Open(name_)) return false;
  const MutexWait result = mutex_.Wait(timeoutMs);
  owned_ = result == MutexWait::Acquired || result == MutexWait::Abandoned;
  if (owned_) ownerThread_ = CurrentThreadId();
  return owned_;
}

bool InstanceLock::Release() {
  bool released = true;
  if (owned_ && (!kMutexOwnedByThread || CurrentThreadId() == ownerThread_))
    released = mutex_.Release();
  owned_ = false;
  return released;
}

}  // namespace plat
