#include "sim/model/SimLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "sim/model/Scenario.h"

// Not every C library has these flags; where one is missing it is not needed.
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace brumel::sim {

namespace {

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The last colour named in a notice, for the swatch.
bool FindColour(const std::string& text, unsigned& r, unsigned& g, unsigned& b) {
  const size_t at = text.rfind("colour ");
  return at != std::string::npos &&
         std::sscanf(text.c_str() + at, "colour %2x %2x %2x", &r, &g, &b) == 3;
}

}  // namespace

std::string HexBytes(const uint8_t* bytes, size_t length) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(length * 3);
  for (size_t i = 0; i < length; ++i) {
    if (i) out += ' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

void LogLine(const std::string& line) {
  const char* path = std::getenv(kLogVariable);
  if (!path || !*path) return;
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_BINARY, 0644);
  if (fd < 0) return;
  WriteAll(fd, line + "\n");
  ::close(fd);
}

void LogReceived(const uint8_t* bytes, size_t length, const std::string& meaning) {
  LogLine(HexBytes(bytes, length) + " | " + meaning);
}

void ShowNotice(const std::string& text) {
  std::string line = "[sim] " + text;
  unsigned r = 0, g = 0, b = 0;
  if (::isatty(STDERR_FILENO) && FindColour(text, r, g, b)) {
    char swatch[64];
    std::snprintf(swatch, sizeof swatch, "  \x1b[48;2;%u;%u;%um        \x1b[0m", r, g, b);
    line += swatch;
  }
  WriteAll(STDERR_FILENO, line + "\n");
}

}  // namespace brumel::sim
