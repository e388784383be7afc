#include <windows.h>

#include "platform/CommandLine.h"

namespace plat {

std::string ProcessCommandLine() {
  const char* line = GetCommandLineA();
  return line ? std::string(line) : std::string();
}

}  // namespace plat
