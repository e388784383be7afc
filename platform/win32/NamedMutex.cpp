#include "platform/NamedMutex.h"

#include <windows.h>

namespace plat {

// Kernel objects: the name goes with its last handle.
std::string NamedMutexFile(const std::string&) { return {}; }

// A mutex's owner is not something Windows tells.
uint32_t NamedMutexHolder(const std::string&) { return 0; }

NamedMutex::~NamedMutex() { Close(); }

bool NamedMutex::Open(const std::string& name) {
  Close();
  HANDLE h = CreateMutexA(nullptr, FALSE, name.c_str());
  if (h && GetLastError() == ERROR_ALREADY_EXISTS) {
    // It existed already: keep a handle opened by name with full access.
    HANDLE opened = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str());
    if (opened) {
      CloseHandle(h);
      h = opened;
    }
  }
  handle_ = h;
  return handle_ != nullptr;
}

bool NamedMutex::IsOpen() const { return handle_ != nullptr; }

void NamedMutex::Close() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
}

MutexWait NamedMutex::Wait(int64_t timeoutMs) {
  if (!handle_) return MutexWait::Failed;
  DWORD ms = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  switch (WaitForSingleObject(static_cast<HANDLE>(handle_), ms)) {
    case WAIT_OBJECT_0:
      return MutexWait::Acquired;
    case WAIT_ABANDONED:
      return MutexWait::Abandoned;
    case WAIT_TIMEOUT:
      return MutexWait::TimedOut;
    default:
      return MutexWait::Failed;
  }
}

bool NamedMutex::Release() { return handle_ && ReleaseMutex(static_cast<HANDLE>(handle_)) != 0; }

}  // namespace plat
