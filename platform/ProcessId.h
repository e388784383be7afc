// The id of the running process.
#pragma once
#include <cstdint>

namespace plat {

uint32_t CurrentProcessId();

}  // namespace plat
