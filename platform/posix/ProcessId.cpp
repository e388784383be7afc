#include <unistd.h>

#include "platform/ProcessId.h"

namespace plat {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

}  // namespace plat
