#include "platform/DebugOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace plat {

namespace {

// The attribute last set; the terminal itself cannot be asked.
uint16_t g_attribute = 7;

bool Usable(DebugHandle output) { return output > 0; }

void WriteBytes(int fd, const char* text, size_t length) {
  while (length > 0) {
    const ssize_t n = write(fd, text, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    length -= static_cast<size_t>(n);
  }
}

// ANSI colour for a console attribute: bits 0-2 blue, green, red, bit 3 bright; the same in
// bits 4-7 for the background.
std::string AnsiSequence(uint16_t attribute) {
  if (attribute == 7) return "\x1b[0m";
  auto rgb = [](unsigned bits) { return ((bits & 4) ? 1 : 0) | (bits & 2) | ((bits & 1) ? 4 : 0); };
  const unsigned fg = attribute & 0x0F;
  const unsigned bg = (attribute >> 4) & 0x0F;
  std::string s = "\x1b[0;";
  s += std::to_string(((fg & 8) ? 90 : 30) + rgb(fg));
  s += ';';
  s += std::to_string(((bg & 8) ? 100 : 40) + rgb(bg));
  s += 'm';
  return s;
}

void AppendUtf8(std::string& out, uint32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

DebugHandle OpenDebugOutput(bool& ownsConsole) {
  ownsConsole = false;  // standard error is used as it is: a terminal, a file or a pipe
  if (fcntl(STDERR_FILENO, F_GETFD) < 0) return kInvalidDebugHandle;
  return STDERR_FILENO;
}

void CloseDebugOutput(DebugHandle, bool) {}  // standard error stays open

void WriteDebugOutput(DebugHandle output, const char* text, size_t length) {
  if (!Usable(output) || !text) return;
  WriteBytes(static_cast<int>(output), text, length);
}

void WriteDebugOutputW(DebugHandle output, const wchar_t* text, size_t length) {
  if (!Usable(output) || !text) return;
  std::string utf8;
  utf8.reserve(length);
  for (size_t i = 0; i < length; ++i) AppendUtf8(utf8, static_cast<uint32_t>(text[i]));
  WriteBytes(static_cast<int>(output), utf8.data(), utf8.size());
}

bool GetDebugAttribute(DebugHandle output, uint16_t& attribute) {
  if (!Usable(output)) return false;
  attribute = g_attribute;
  return true;
}

void SetDebugAttribute(DebugHandle output, uint16_t attribute) {
  if (!Usable(output)) return;
  g_attribute = attribute;
  const int fd = static_cast<int>(output);
  if (!isatty(fd)) return;  // colours only on a terminal
  const std::string s = AnsiSequence(attribute);
  WriteBytes(fd, s.data(), s.size());
}

}  // namespace plat
