// Rows of the one table scripts/benchmark.sh prints. Given --rows, a benchmark program adds one
// line per figure beside its own report:
//   ROW|measure|link|figure|against
// which the script gathers, in order, from every program it runs.
#pragma once
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace bench {

inline bool& RowsWanted() {
  static bool wanted = false;
  return wanted;
}

// Takes --rows out of the arguments (so the positional ones keep their places).
inline void TakeRowsOption(int& argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rows") == 0) {
      RowsWanted() = true;
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  argv[argc] = nullptr;
}

inline std::string Text(const char* format, ...) {
  char buf[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

inline void Row(const std::string& measure, const std::string& link, const std::string& figure,
                const std::string& against) {
  if (!RowsWanted()) return;
  std::printf("ROW|%s|%s|%s|%s\n", measure.c_str(), link.c_str(), figure.c_str(), against.c_str());
  std::fflush(stdout);
}

}  // namespace bench
