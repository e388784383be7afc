#include "led/Random.h"

#include <ctime>

#include "platform/ProcessId.h"

namespace brumel {

uint32_t TimeAndProcessSeed() {
  return static_cast<uint32_t>(std::time(nullptr)) + plat::CurrentProcessId();
}

}  // namespace brumel
