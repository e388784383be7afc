#include "platform/CommandLine.h"

#include <windows.h>

namespace plat {

std::string ProcessCommandLine() {
  const char* line = GetCommandLineA();
  return line ? std::string(line) : std::string();
}

}  // namespace plat
