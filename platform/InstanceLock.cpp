#include "platform/InstanceLock.h"

namespace plat {

InstanceLock::InstanceLock(const std::string& guid) : name_("Global\\" + guid) {}

bool InstanceLock::Acquire(unsigned timeoutMs) {
  if (owned_) return true;
  if (!mutex_.IsOpen() && !mutex_.Open(name_)) return false;
  MutexWait result = mutex_.Wait(timeoutMs);
  if (result == MutexWait::Abandoned) {
    mutex_.Release();  // owned now, but not cleanly: give it back and refuse
    return false;
  }
  owned_ = result == MutexWait::Acquired;
  return owned_;
}

void InstanceLock::Release() {
  if (owned_) mutex_.Release();
  owned_ = false;
}

}  // namespace plat
