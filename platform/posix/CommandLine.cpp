#include "platform/CommandLine.h"

#include <fstream>
#include <iterator>

namespace plat {

std::string ProcessCommandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!raw.empty() && raw.back() == '\0') raw.pop_back();
  for (char& c : raw) {
    if (c == '\0') c = ' ';
  }
  return raw;
}

ProgramArguments::ProgramArguments(int argc, char** argv) {
  for (int i = 0; argv && i < argc && argv[i]; ++i) values_.emplace_back(argv[i]);
  for (std::string& v : values_) pointers_.push_back(v.data());
  pointers_.push_back(nullptr);
}

}  // namespace plat
