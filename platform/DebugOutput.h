// The output of the diagnostic log: a console the process asks for, written in colours given
// as Windows console text attributes.
#pragma once
#include <cstddef>
#include <cstdint>

namespace plat {

using DebugHandle = intptr_t;
inline constexpr DebugHandle kNoDebugHandle = 0;
inline constexpr DebugHandle kInvalidDebugHandle = -1;

// Asks for a console of the process's own (ignored when it already has one) and returns the
// standard output handle: kNoDebugHandle or kInvalidDebugHandle when there is none.
// ownsConsole tells whether the console was created here.
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
