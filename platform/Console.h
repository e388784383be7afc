// The console the tool writes to and reads keys from.
//
// Windows: the console API and the C runtime's console calls. Linux: ANSI escapes mapped from the
// Windows attribute word (only when stdout is a terminal, so redirected output stays plain),
// termios for the input mode, ignored signals for the control events.
#pragma once
#include <cstdint>

namespace plat {

// Fetches the standard handles and remembers the input mode found (restored by
// ConsoleSetInputRestricted(false)).
void ConsoleAttach();
// Text attribute for everything written afterwards: bits 0-3 foreground, 4-7 background;
// in each nibble 1 blue, 2 green, 4 red, 8 intensity. Flushes stdout first.
void ConsoleSetTextAttr(uint16_t attr);
void ConsoleSetCursorVisible(bool visible);
// true: no line mode, no echo, no processed keys (Ctrl+C arrives as character 3), no quick
// edit or mouse input. false: the mode found by ConsoleAttach.
void ConsoleSetInputRestricted(bool restricted);
// false: console control events (Ctrl+C, Ctrl+Break, close; on Linux the interrupt, quit,
// stop, hang-up and terminate signals) are swallowed and the window's Close item is greyed.
// true: as before.
void ConsoleSetCloseEnabled(bool enabled);
void ConsoleSetWindowHidden(bool hidden);
// "cls": clears the window (nothing when stdout is not a terminal on Linux).
void ConsoleClear();
// "PAUSE": "Press any key to continue . . . ", one key, then a line break.
void ConsolePause();
// One key without echo; -1 at end of input (never blocks there).
int ConsoleReadKey();

}  // namespace plat
