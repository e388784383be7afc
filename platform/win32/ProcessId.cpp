#include "platform/ProcessId.h"

#include <windows.h>

namespace plat {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(GetCurrentProcessId()); }

uint64_t CurrentThreadId() { return GetCurrentThreadId(); }

}  // namespace plat
