#include "platform/Console.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace plat {

namespace {

bool g_attached = false;
bool g_haveSavedMode = false;
termios g_savedMode{};

constexpr int kSignals[] = {SIGINT, SIGQUIT, SIGTSTP, SIGHUP, SIGTERM};
struct sigaction g_savedActions[sizeof(kSignals) / sizeof(kSignals[0])];
bool g_signalsIgnored = false;

bool OutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

void WriteEscape(const char* text) {
  if (!OutputIsTerminal()) return;
  std::fputs(text, stdout);
  std::fflush(stdout);
}

// Windows nibble (1 blue, 2 green, 4 red) to ANSI colour index (1 red, 2 green, 4 blue).
int AnsiColour(unsigned nibble) {
  return ((nibble & 4) ? 1 : 0) | ((nibble & 2) ? 2 : 0) | ((nibble & 1) ? 4 : 0);
}

}  // namespace

void ConsoleAttach() {
  if (g_attached) return;
  g_attached = true;
  g_haveSavedMode = isatty(STDIN_FILENO) == 1 && tcgetattr(STDIN_FILENO, &g_savedMode) == 0;
}

void ConsoleSetTextAttr(uint16_t attr) {
  std::fflush(stdout);
  if (!OutputIsTerminal()) return;
  if (attr == 7) {
    WriteEscape("\x1b[0m");
    return;
  }
  unsigned fg = attr & 0x0F, bg = (attr >> 4) & 0x0F;
  char seq[32];
  std::snprintf(seq, sizeof seq, "\x1b[0;%d;%dm", ((fg & 8) ? 90 : 30) + AnsiColour(fg),
                ((bg & 8) ? 100 : 40) + AnsiColour(bg));
  WriteEscape(seq);
}

void ConsoleSetCursorVisible(bool visible) { WriteEscape(visible ? "\x1b[?25h" : "\x1b[?25l"); }

void ConsoleSetInputRestricted(bool restricted) {
  if (!g_haveSavedMode) return;
  if (!restricted) {
    tcsetattr(STDIN_FILENO, TCSANOW, &g_savedMode);
    return;
  }
  termios raw = g_savedMode;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG | IEXTEN));
  raw.c_iflag &= static_cast<tcflag_t>(~(IXON | ICRNL));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
}

void ConsoleSetCloseEnabled(bool enabled) {
  constexpr size_t n = sizeof(kSignals) / sizeof(kSignals[0]);
  if (!enabled && !g_signalsIgnored) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (size_t i = 0; i < n; ++i) sigaction(kSignals[i], &ignore, &g_savedActions[i]);
    g_signalsIgnored = true;
  } else if (enabled && g_signalsIgnored) {
    for (size_t i = 0; i < n; ++i) sigaction(kSignals[i], &g_savedActions[i], nullptr);
    g_signalsIgnored = false;
  }
}

void ConsoleSetWindowHidden(bool) {}  // a terminal has no window of its own to hide

void ConsoleClear() { WriteEscape("\x1b[H\x1b[2J"); }

void ConsolePause() {
  std::fputs("Press any key to continue . . . ", stdout);
  std::fflush(stdout);
  ConsoleReadKey();
  std::fputs("\n", stdout);
  std::fflush(stdout);
}

int ConsoleReadKey() {
  std::fflush(stdout);
  termios saved{};
  const bool terminal = isatty(STDIN_FILENO) == 1 && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    termios raw = saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  }
  unsigned char c = 0;
  ssize_t n;
  do {
    n = read(STDIN_FILENO, &c, 1);
  } while (n < 0 && errno == EINTR);
  if (terminal) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  return n == 1 ? c : -1;
}

}  // namespace plat
