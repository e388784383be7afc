// The ids of the running process and of the calling thread.
#pragma once
#include <cstdint>

namespace plat {

uint32_t CurrentProcessId();
// Distinct for the threads that run at the same time in the process.
uint64_t CurrentThreadId();

}  // namespace plat
