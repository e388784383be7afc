#include "platform/Console.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <thread>

#include "platform/ConsoleKeys.h"
#include "platform/Time.h"

namespace plat {

namespace {

bool g_attached = false;
bool g_haveSavedMode = false;
termios g_savedMode{};

// Swallowed while a job runs, as the Windows console swallows Ctrl+C and Ctrl+Break.
constexpr int kSwallowed[] = {SIGINT, SIGQUIT, SIGTSTP};
// End the run in order.
constexpr int kEnding[] = {SIGHUP, SIGTERM};
struct sigaction g_savedSwallowed[std::size(kSwallowed)];
bool g_signalsTaken = false;
bool g_endTaken = false;
// While a job runs with the watcher in place. Read by whichever thread finds the output lost.
std::atomic<bool> g_endWatched{false};
std::atomic<bool> g_outputLost{false};

std::atomic<ConsoleEndHandler> g_endHandler{nullptr};

// The signal handler only writes a byte to this pipe; a thread of its own reads it and ends the
// run in ordinary code, where files, locks and the terminal may be handled.
int g_endPipe[2] = {-1, -1};

void OnEndSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(g_endPipe[1], &byte, 1);
  errno = saved;
}

// A lost output ends a running job as SIGTERM does: through the watcher, which ends the run in
// order. Outside a job the run goes on to its end, which is near (the usage, an early message).
void EndJobForLostOutput() {
  if (g_outputLost.load() && g_endWatched.load()) OnEndSignal(SIGPIPE);
}

void MarkOutputLost() {
  if (g_outputLost.exchange(true)) return;
  EndJobForLostOutput();
}

void WatchForTheEnd() {
  char byte = 0;
  for (;;) {
    const ssize_t n = read(g_endPipe[0], &byte, 1);
    if (n == 1) break;
    if (n < 0 && errno == EINTR) continue;
    return;  // the pipe is gone: nothing can end the run through it
  }
  if (ConsoleEndHandler handler = g_endHandler.load()) handler();
  EndProcessNow(1);
}

// Made once, when the run first takes the ending signals; the thread waits for the rest of the
// process.
bool StartEndWatcher() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    if (pipe2(g_endPipe, O_CLOEXEC) != 0) return;
    try {
      std::thread(WatchForTheEnd).detach();
      started = true;
    } catch (...) {
    }
  });
  return started;
}

bool EnvironmentSays(const char* name, const char* value) {
  const char* set = std::getenv(name);
  return set && (value ? std::strcmp(set, value) == 0 : *set != '\0');
}

// Escapes go to a terminal only, and not to one that declares it understands none (TERM=dumb):
// redirected output and a dumb terminal get the plain text.
bool EscapesWanted() {
  static const bool wanted = isatty(STDOUT_FILENO) == 1 && !EnvironmentSays("TERM", "dumb");
  return wanted && !g_outputLost.load();
}

// Colours besides, unless the user asks for none (NO_COLOR set to anything but empty).
bool ColoursWanted() {
  static const bool wanted = !EnvironmentSays("NO_COLOR", nullptr);
  return wanted && EscapesWanted();
}

void WriteEscape(const char* text) {
  if (!EscapesWanted()) return;
  std::fputs(text, stdout);
  ConsoleFlush();
}

// Windows nibble (1 blue, 2 green, 4 red) to ANSI colour index (1 red, 2 green, 4 blue).
int AnsiColour(unsigned nibble) {
  return ((nibble & 4) ? 1 : 0) | ((nibble & 2) ? 2 : 0) | ((nibble & 1) ? 4 : 0);
}

}  // namespace

void ConsoleAttach() {
  if (g_attached) return;
  g_attached = true;
  // A reader that goes away (`| head -1`) gives a write error, which ends the run in order,
  // instead of a signal that would end the process on the spot.
  signal(SIGPIPE, SIG_IGN);
  g_haveSavedMode = isatty(STDIN_FILENO) == 1 && tcgetattr(STDIN_FILENO, &g_savedMode) == 0;
}

void ConsoleFlush() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) MarkOutputLost();
}

bool ConsoleOutputLost() { return g_outputLost.load(); }

void ConsoleSetTextAttr(uint16_t attr) {
  ConsoleFlush();
  if (!ColoursWanted()) return;
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
  if (!enabled && !g_signalsTaken) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (size_t i = 0; i < std::size(kSwallowed); ++i) {
      sigaction(kSwallowed[i], &ignore, &g_savedSwallowed[i]);
    }
    g_signalsTaken = true;
    g_endWatched = g_endTaken;
    // The output may have gone before the job started.
    EndJobForLostOutput();
  } else if (enabled && g_signalsTaken) {
    g_endWatched = false;
    for (size_t i = 0; i < std::size(kSwallowed); ++i) {
      sigaction(kSwallowed[i], &g_savedSwallowed[i], nullptr);
    }
    g_signalsTaken = false;
  }
}

// SIGTERM and SIGHUP end the run in order from the moment the run has an end handler (its
// start, before it waits for the single-instance lock) until the process ends: a copy that is
// ended while it waits leaves with exit code 1 and, not owning the lock, touches no file of
// the copy that runs.
void ConsoleSetEndHandler(ConsoleEndHandler handler) {
  g_endHandler = handler;
  if (!handler || g_endTaken) return;
  struct sigaction end {};
  end.sa_handler = OnEndSignal;
  sigemptyset(&end.sa_mask);
  end.sa_flags = SA_RESTART;
  // Without the watcher the default action stays: the process ends, as it would anyway.
  if (!StartEndWatcher()) return;
  for (int signal : kEnding) {
    // One the tool was started with ignored (nohup) stays ignored.
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &end, nullptr);
  }
  g_endTaken = true;
}

void EndProcessNow(int exitCode) { _exit(exitCode); }

void ConsoleSetWindowHidden(bool) {}  // a terminal has no window of its own to hide

void ConsoleClear() { WriteEscape("\x1b[H\x1b[2J"); }

void ConsolePause() {
  std::fputs("Press any key to continue . . . ", stdout);
  ConsoleFlush();
  ConsoleReadKey();
  std::fputs("\n", stdout);
  ConsoleFlush();
}

namespace {

// The next byte of standard input, or -1 at its end, on an error, or when none comes within
// waitMs (negative: wait for it).
int NextInputByte(int waitMs) {
  if (waitMs >= 0) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    int r;
    do {
      r = poll(&p, 1, waitMs);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) return -1;
  }
  unsigned char c = 0;
  ssize_t n;
  do {
    n = read(STDIN_FILENO, &c, 1);
  } while (n < 0 && errno == EINTR);
  return n == 1 ? c : -1;
}

// Whether standard input has something to read (a key, or its end) within waitMs.
bool InputReady(int waitMs) {
  pollfd p{STDIN_FILENO, POLLIN, 0};
  int r;
  do {
    r = poll(&p, 1, waitMs);
  } while (r < 0 && errno == EINTR);
  return r > 0;
}

}  // namespace

int ConsoleWaitKey(unsigned timeoutMs) {
  ConsoleFlush();
  const uint64_t start = MonotonicMs();
  const auto left = [&]() -> int {
    const uint64_t spent = MonotonicMs() - start;
    return spent >= timeoutMs ? 0 : static_cast<int>(timeoutMs - spent);
  };
  if (InputReady(static_cast<int>(timeoutMs > 0x7FFFFFFF ? 0x7FFFFFFF : timeoutMs))) {
    const int key = ConsoleReadKey();
    if (key >= 0) return key;
  }
  // Nothing came, or the input has ended (it is always ready then): the rest of the time passes.
  if (const int rest = left(); rest > 0) SleepMs(static_cast<unsigned>(rest));
  return -1;
}

int ConsoleReadKey() {
  ConsoleFlush();
  termios saved{};
  const bool terminal = isatty(STDIN_FILENO) == 1 && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (!terminal) return NextInputByte(-1);  // a pipe or a file: a stream of keys

  termios raw = saved;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  const int key = ReadTerminalKey(NextInputByte);
  // The rest of what was typed goes nowhere: not to the next prompt, not to the shell.
  tcflush(STDIN_FILENO, TCIFLUSH);
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  return key;
}

}  // namespace plat
