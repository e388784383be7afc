// The console the tool writes to and reads keys from.
//
// Windows: the console API and the C runtime's console calls. Linux: ANSI escapes mapped from the
// Windows attribute word (only when stdout is a terminal, so redirected output stays plain; none
// at all for TERM=dumb, no colours for NO_COLOR), termios for the input mode, signals for the
// control events.
#pragma once
#include <cstdint>

namespace plat {

// Fetches the standard handles and remembers the input mode found (restored by
// ConsoleSetInputRestricted(false)). Linux: SIGPIPE is ignored from here on, so a reader that
// goes away gives a write error (see ConsoleFlush) instead of ending the process on the spot.
void ConsoleAttach();
// Writes out what is buffered for stdout. A write that fails (the reader of a pipe gone, a full
// disk) marks the output lost; from then on no escape is written. Linux: a job that runs when the
// output is lost, or that starts after it was, is ended as SIGTERM ends it (see
// ConsoleSetCloseEnabled). Every part of the tool flushes stdout through here.
void ConsoleFlush();
// True once a write to stdout has failed: the run then ends with exit code 1.
bool ConsoleOutputLost();
// Text attribute for everything written afterwards: bits 0-3 foreground, 4-7 background;
// in each nibble 1 blue, 2 green, 4 red, 8 intensity. Flushes stdout first.
void ConsoleSetTextAttr(uint16_t attr);
void ConsoleSetCursorVisible(bool visible);
// true: no line mode, no echo, no processed keys (Ctrl+C arrives as character 3), no quick
// edit or mouse input. false: the mode found by ConsoleAttach.
void ConsoleSetInputRestricted(bool restricted);
// false: the console control events that would interrupt or pause a job are swallowed (Ctrl+C,
// Ctrl+Break; on Linux SIGINT, SIGQUIT, SIGTSTP), those that end the process anyway (Windows:
// close, logoff, shutdown) end the run in order through the end handler, and the window's
// Close item is greyed. true: as before. (On Linux SIGTERM and SIGHUP, which ask for the end,
// end the run in order from the moment an end handler is set; see ConsoleSetEndHandler.)
void ConsoleSetCloseEnabled(bool enabled);
// How the run ends in order when it is ended from outside (see ConsoleSetCloseEnabled). The
// handler runs on a thread of its own while the main thread is wherever it was; it restores the
// console, removes the run's files, releases its locks and ends the process through
// EndProcessNow. Without a handler such an event ends the process with exit code 1. On Linux,
// setting the first handler makes SIGTERM and SIGHUP end the run through it at any time, from
// then until the process ends.
using ConsoleEndHandler = void (*)();
void ConsoleSetEndHandler(ConsoleEndHandler handler);
// Ends the process at once with exitCode: no exit handlers, no destructors of static objects
// (other threads may hold what they would touch). Flush what must reach stdout first.
[[noreturn]] void EndProcessNow(int exitCode);
void ConsoleSetWindowHidden(bool hidden);
// "cls": clears the window (nothing when stdout is not a terminal on Linux).
void ConsoleClear();
// "PAUSE": "Press any key to continue . . . ", one key, then a line break. Keys typed beyond the
// one taken are dropped, so nothing reaches the shell after the run.
void ConsolePause();
// One key without echo; -1 at end of input (never blocks there). From a keyboard (a terminal on
// Linux, a console on Windows) an arrow or function key is one key (see ConsoleKeys.h), and
// whatever else is pending once the key is taken is dropped. Input that is not a keyboard (a
// pipe, a file) is read as a stream, one byte per key, nothing dropped.
int ConsoleReadKey();
// Waits at most timeoutMs for a key and takes it as ConsoleReadKey does; -1 when none came in
// that time. At the end of the input (a pipe or file that has nothing more) it waits the whole
// time and gives -1, so a caller that polls keeps its pace.
int ConsoleWaitKey(unsigned timeoutMs);

}  // namespace plat
