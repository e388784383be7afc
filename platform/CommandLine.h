// The process command line as the system reports it.
#pragma once
#include <string>

namespace plat {

// Windows: GetCommandLineA. Linux: the arguments of /proc/self/cmdline joined by blanks.
// Program path included.
std::string ProcessCommandLine();

}  // namespace plat
