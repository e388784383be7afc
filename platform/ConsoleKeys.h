// The parts of the console's key and control-event handling that are the same rule everywhere:
// what makes one key out of the bytes or codes the system delivers, and which control events
// end a run. The system calls sit in platform/*/Console.cpp; these are what they decide with.
#pragma once
#include <functional>

namespace plat {

// The value of a key that has no character of its own (an arrow or function key): never a
// digit, never a character of the 8-bit range.
inline constexpr int kSpecialKeyBase = 0x100;

// One key from a terminal's byte stream (Linux). A byte other than ESC is a key of its own. ESC
// starts a sequence that is one key: ESC "[" parameters and a final byte (arrows, function
// keys), ESC "O" and one byte (keypad, F1-F4), ESC and one byte (Alt with a key); such a key is
// kSpecialKeyBase plus its last byte. A lone ESC is the ESC key. `next(waitMs)` gives the next
// byte, or -1 when none comes within waitMs (negative: wait for it); the bytes of one key follow
// each other at once, so they are waited for only briefly.
int ReadTerminalKey(const std::function<int(int waitMs)>& next);
// The wait for each byte after the first of a terminal key.
inline constexpr int kKeySequenceWaitMs = 50;

// One key from the C runtime's console key reader (Windows getch): 0 or 0xE0 comes before the
// code of an arrow or function key; the two are one key, kSpecialKeyBase plus the code. -1 (no
// key) stays -1.
int ReadConsoleKey(const std::function<int()>& next);

// Console control events, from either system.
enum class ControlEvent {
  Interrupt,  // Ctrl+C; SIGINT
  Break,      // Ctrl+Break
  Quit,       // SIGQUIT (Ctrl+\)
  Stop,       // SIGTSTP (Ctrl+Z)
  Close,      // the console window is closed
  Logoff,
  Shutdown,
  HangUp,     // SIGHUP: the terminal went away
  Terminate,  // SIGTERM
};
// While a job runs the keys that would pause or interrupt it are swallowed. The events after
// which the system ends the process anyway (Windows ends it once the handler returns), or that
// ask for the end (SIGTERM, SIGHUP), end the run in order instead.
bool ControlEventEndsRun(ControlEvent event);

}  // namespace plat
