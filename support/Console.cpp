#include "support/Console.h"

#include <cstdio>

#include "platform/Console.h"

namespace brumel {

namespace {
TConsole* g_console = nullptr;
}

TConsole::TConsole() { plat::ConsoleAttach(); }

TConsole* GetConsole() {
  if (!g_console) g_console = new TConsole();
  return g_console;
}

void ReleaseConsole() {
  delete g_console;
  g_console = nullptr;
}

void TConsole::SetTextAttr(int32_t attr) {
  plat::ConsoleSetTextAttr(static_cast<uint16_t>(attr & 0xFFFF));
}

void TConsole::SetCloseEnabled(bool enabled) { plat::ConsoleSetCloseEnabled(enabled); }

void TConsole::SetCursorVisible(bool visible) { plat::ConsoleSetCursorVisible(visible); }

void TConsole::SetInputMode(bool restore) { plat::ConsoleSetInputRestricted(!restore); }

void TConsole::SetWindowHidden(bool hidden) { plat::ConsoleSetWindowHidden(hidden); }

void TConsole::PrintStatus(const char* label, const char* text, int32_t attr) {
  SetTextAttr(7);
  char buffer[128] = {};
  std::snprintf(buffer, sizeof buffer, "%-25s         [ ", label ? label : "");
  std::printf("%s", buffer);
  SetTextAttr(attr);
  std::printf("%s", text ? text : "");
  SetTextAttr(7);
  std::printf(" ]\n");
}

}  // namespace brumel
