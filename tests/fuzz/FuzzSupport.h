// Shared by the fuzz targets: a private scratch folder, files made from fuzz bytes, and quiet
// standard output (the tool prints as it works).
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// A folder of this process's own, made on first use and removed at exit.
inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    // Memory-backed when the system has it: every input becomes a file.
    const char* base = std::getenv("TMPDIR");
    if (!base || !*base) base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/brumel-fuzz.XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    static std::string made = pattern;
    std::atexit([] { std::system(("rm -rf '" + made + "'").c_str()); });
    return pattern;
  }();
  return dir;
}

// Writes bytes to name inside the scratch folder and returns the path.
inline std::string WriteScratchFile(const char* name, const uint8_t* data, size_t size) {
  const std::string path = ScratchDir() + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  return path;
}

// The tool's messages go to standard output; a fuzz run does not need them.
inline void QuietStdout() {
  static const bool done = [] { return std::freopen("/dev/null", "w", stdout) != nullptr; }();
  (void)done;
}

}  // namespace fuzz
