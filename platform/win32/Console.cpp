#include "platform/Console.h"

#include <conio.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/ConsoleKeys.h"
#include "platform/Time.h"

namespace plat {

namespace {

HANDLE g_output = nullptr;
HANDLE g_input = nullptr;
DWORD g_savedInputMode = 0;
bool g_attached = false;
std::atomic<ConsoleEndHandler> g_endHandler{nullptr};
std::atomic<bool> g_outputLost{false};

HANDLE Output() {
  if (!g_output || g_output == INVALID_HANDLE_VALUE) g_output = GetStdHandle(STD_OUTPUT_HANDLE);
  return g_output == INVALID_HANDLE_VALUE ? nullptr : g_output;
}

ControlEvent EventOf(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
      return ControlEvent::Interrupt;
    case CTRL_BREAK_EVENT:
      return ControlEvent::Break;
    case CTRL_CLOSE_EVENT:
      return ControlEvent::Close;
    case CTRL_LOGOFF_EVENT:
      return ControlEvent::Logoff;
    default:
      return ControlEvent::Shutdown;
  }
}

// Runs on a thread the system starts for the event. Ctrl+C and Ctrl+Break are swallowed. After
// a close, logoff or shutdown event the system ends the process once the handler returns,
// whatever it returns: the handler ends the run in order first.
BOOL WINAPI CtrlHandler(DWORD type) {
  if (!ControlEventEndsRun(EventOf(type))) return TRUE;
  if (ConsoleEndHandler handler = g_endHandler.load()) handler();
  EndProcessNow(1);
}

// The standard input as a console: false for a pipe or a file.
bool InputIsConsole(HANDLE in) {
  DWORD mode = 0;
  return in && in != INVALID_HANDLE_VALUE && GetConsoleMode(in, &mode);
}

}  // namespace

void ConsoleAttach() {
  if (g_attached) return;
  g_attached = true;
  g_output = GetStdHandle(STD_OUTPUT_HANDLE);
  g_input = GetStdHandle(STD_INPUT_HANDLE);
  GetConsoleMode(g_input, &g_savedInputMode);
}

void ConsoleFlush() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) g_outputLost = true;
}

bool ConsoleOutputLost() { return g_outputLost.load(); }

void ConsoleSetTextAttr(uint16_t attr) {
  ConsoleFlush();
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

void ConsoleSetEndHandler(ConsoleEndHandler handler) { g_endHandler = handler; }

// Not ExitProcess: that would run the C runtime's exit handlers and the libraries' detach code
// while the other threads are wherever they were.
void EndProcessNow(int exitCode) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
  for (;;) Sleep(INFINITE);
}

void ConsoleSetWindowHidden(bool hidden) {
  if (HWND window = GetConsoleWindow()) ShowWindow(window, hidden ? SW_HIDE : SW_RESTORE);
}

void ConsoleClear() {
  ConsoleFlush();
  std::system("cls");
}

void ConsolePause() {
  ConsoleFlush();
  std::system("PAUSE");
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (InputIsConsole(in)) FlushConsoleInputBuffer(in);
}

int ConsoleReadKey() {
  ConsoleFlush();
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (!InputIsConsole(in)) {
    // getch would open the console itself (CONIN$) and wait for a key nobody can press: piped or
    // redirected input is read as the stream it is, and its end is -1 at once.
    unsigned char c = 0;
    DWORD n = 0;
    if (!in || in == INVALID_HANDLE_VALUE || !ReadFile(in, &c, 1, &n, nullptr) || n != 1) {
      return -1;
    }
    return c;
  }
  const int key = ReadConsoleKey([] { return _getch(); });
  FlushConsoleInputBuffer(in);
  return key;
}

int ConsoleWaitKey(unsigned timeoutMs) {
  ConsoleFlush();
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  const uint64_t start = MonotonicMs();
  const auto left = [&]() -> DWORD {
    const uint64_t spent = MonotonicMs() - start;
    return spent >= timeoutMs ? 0 : static_cast<DWORD>(timeoutMs - spent);
  };
  // Looked at this often while nothing is there: a key is taken within this time.
  constexpr DWORD kLookMs = 20;
  const bool console = InputIsConsole(in);
  const bool pipe =
      !console && in && in != INVALID_HANDLE_VALUE && GetFileType(in) == FILE_TYPE_PIPE;
  if (!console && !pipe) {
    // A file or a device: read as a stream; its end gives nothing, and the time passes.
    const int key = ConsoleReadKey();
    if (key >= 0) return key;
    if (const DWORD rest = left()) Sleep(rest);
    return -1;
  }
  for (;;) {
    if (console) {
      if (_kbhit()) return ConsoleReadKey();
    } else {
      DWORD available = 0;
      if (!PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr)) {
        // The pipe's writer has gone: the input has ended.
        if (const DWORD rest = left()) Sleep(rest);
        return -1;
      }
      if (available > 0) return ConsoleReadKey();
    }
    const DWORD rest = left();
    if (rest == 0) return -1;
    Sleep(rest < kLookMs ? rest : kLookMs);
  }
}

}  // namespace plat
