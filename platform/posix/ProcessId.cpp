#include "platform/ProcessId.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace plat {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

uint64_t CurrentThreadId() { return static_cast<uint64_t>(syscall(SYS_gettid)); }

}  // namespace plat
