// Sleeps and a monotonic clock.
#pragma once
#include <cstdint>

namespace plat {

void SleepMs(unsigned ms);
// Milliseconds from an arbitrary start; never goes backwards.
uint64_t MonotonicMs();

}  // namespace plat
