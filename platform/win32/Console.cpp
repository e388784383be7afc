#include "platform/Console.h"

#include <conio.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace plat {

namespace {

HANDLE g_output = nullptr;
HANDLE g_input = nullptr;
DWORD g_savedInputMode = 0;
bool g_attached = false;

HANDLE Output() {
  if (!g_output || g_output == INVALID_HANDLE_VALUE) g_output = GetStdHandle(STD_OUTPUT_HANDLE);
  return g_output == INVALID_HANDLE_VALUE ? nullptr : g_output;
}

BOOL WINAPI CtrlHandler(DWORD) { return TRUE; }  // every event counts as handled

}  // namespace

void ConsoleAttach() {
  if (g_attached) return;
  g_attached = true;
  g_output = GetStdHandle(STD_OUTPUT_HANDLE);
  g_input = GetStdHandle(STD_INPUT_HANDLE);
  GetConsoleMode(g_input, &g_savedInputMode);
}

void ConsoleSetTextAttr(uint16_t attr) {
  std::fflush(stdout);
  if (HANDLE out = Output()) SetConsoleTextAttribute(out, attr);
}

void ConsoleSetCursorVisible(bool visible) {
  HANDLE out = Output();
  if (!out) return;
  CONSOLE_CURSOR_INFO info{};
  info.dwSize = 100;
  info.bVisible = visible ? TRUE : FALSE;
  SetConsoleCursorInfo(out, &info);
}

void ConsoleSetInputRestricted(bool restricted) {
  // Only the extended-flags bit stays: quick edit, insert, mouse, window, echo, line and
  // processed input are off.
  SetConsoleMode(g_input,
                 restricted ? (g_savedInputMode & ENABLE_EXTENDED_FLAGS) : g_savedInputMode);
}

void ConsoleSetCloseEnabled(bool enabled) {
  SetConsoleCtrlHandler(CtrlHandler, enabled ? FALSE : TRUE);
  HWND window = GetConsoleWindow();
  if (!window) return;
  if (HMENU menu = GetSystemMenu(window, FALSE)) {
    EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
  }
  DrawMenuBar(window);
}

void ConsoleSetWindowHidden(bool hidden) {
  if (HWND window = GetConsoleWindow()) ShowWindow(window, hidden ? SW_HIDE : SW_RESTORE);
}

void ConsoleClear() {
  std::fflush(stdout);
  std::system("cls");
}

void ConsolePause() {
  std::fflush(stdout);
  std::system("PAUSE");
}

int ConsoleReadKey() {
  std::fflush(stdout);
  return _getch();
}

}  // namespace plat
