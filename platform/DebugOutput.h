// The output of the diagnostic log: the process's standard error (a console the process asks
// for only when it has no standard error at all), written in colours given as Windows console
// text attributes. The tool's own output on standard output stays as it is, so a script can
// capture the log on its own (2>).
#pragma once
#include <cstddef>
#include <cstdint>

namespace plat {

using DebugHandle = intptr_t;
inline constexpr DebugHandle kNoDebugHandle = 0;
inline constexpr DebugHandle kInvalidDebugHandle = -1;

// Returns the standard error handle; only when the process has none, asks for a console of its
// own first (Windows). kNoDebugHandle or kInvalidDebugHandle when there is none. ownsConsole
// tells whether a console was created here.
DebugHandle OpenDebugOutput(bool& ownsConsole);
// Gives back what OpenDebugOutput handed out; a console the process already had stays.
void CloseDebugOutput(DebugHandle output, bool ownsConsole);

// Writes bytes or wide characters; failures are ignored.
void WriteDebugOutput(DebugHandle output, const char* text, size_t length);
void WriteDebugOutputW(DebugHandle output, const wchar_t* text, size_t length);

// Current text attribute; false when it cannot be read.
bool GetDebugAttribute(DebugHandle output, uint16_t& attribute);
void SetDebugAttribute(DebugHandle output, uint16_t attribute);

}  // namespace plat
