#include "platform/DebugOutput.h"

#include <windows.h>

#include <string>

namespace plat {

namespace {

HANDLE AsHandle(DebugHandle output) { return reinterpret_cast<HANDLE>(output); }

bool Usable(DebugHandle output) {
  return output != kNoDebugHandle && output != kInvalidDebugHandle;
}

void WriteBytes(HANDLE h, const char* text, size_t length) {
  while (length > 0) {
    const DWORD chunk = length > 0x10000 ? 0x10000 : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!WriteConsoleA(h, text, chunk, &written, nullptr) &&
        !WriteFile(h, text, chunk, &written, nullptr)) {
      return;
    }
    if (written == 0) return;
    text += written;
    length -= written;
  }
}

}  // namespace

// The standard handles from before a console was allocated here; only one console can be.
HANDLE g_savedStd[3] = {};
constexpr DWORD kStdIds[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};

DebugHandle OpenDebugOutput(bool& ownsConsole) {
  ownsConsole = false;
  // Standard error as the process got it (a console, a file, a pipe): a console is asked for only
  // when there is none, so that a redirection stays where the caller put it.
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error && error != INVALID_HANDLE_VALUE) return reinterpret_cast<DebugHandle>(error);
  HANDLE saved[3];
  for (int i = 0; i < 3; ++i) saved[i] = GetStdHandle(kStdIds[i]);
  ownsConsole = AllocConsole() != 0;
  if (ownsConsole) {
    for (int i = 0; i < 3; ++i) g_savedStd[i] = saved[i];
  }
  return reinterpret_cast<DebugHandle>(GetStdHandle(STD_ERROR_HANDLE));
}

void CloseDebugOutput(DebugHandle output, bool ownsConsole) {
  if (!ownsConsole) return;  // the process's own console and standard error stay
  FreeConsole();
  if (Usable(output)) CloseHandle(AsHandle(output));
  // Standard handles go back to what they were, not to the closed console's.
  for (int i = 0; i < 3; ++i) SetStdHandle(kStdIds[i], g_savedStd[i]);
}

void WriteDebugOutput(DebugHandle output, const char* text, size_t length) {
  if (!Usable(output) || !text) return;
  WriteBytes(AsHandle(output), text, length);
}

void WriteDebugOutputW(DebugHandle output, const wchar_t* text, size_t length) {
  if (!Usable(output) || !text || length == 0) return;
  HANDLE h = AsHandle(output);
  if (length <= 0x10000) {
    DWORD written = 0;
    if (WriteConsoleW(h, text, static_cast<DWORD>(length), &written, nullptr)) return;
  }
  // Not a console (redirected): write the text in the system's code page.
  const int wide = length > 0x100000 ? 0x100000 : static_cast<int>(length);
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text, wide, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return;
  std::string narrow(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, wide, narrow.data(), bytes, nullptr, nullptr);
  WriteBytes(h, narrow.data(), narrow.size());
}

bool GetDebugAttribute(DebugHandle output, uint16_t& attribute) {
  if (!Usable(output)) return false;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(AsHandle(output), &info)) return false;
  attribute = info.wAttributes;
  return true;
}

void SetDebugAttribute(DebugHandle output, uint16_t attribute) {
  if (!Usable(output)) return;
  SetConsoleTextAttribute(AsHandle(output), attribute);
}

}  // namespace plat
