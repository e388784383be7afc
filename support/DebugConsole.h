// Diagnostic log: one-line labelled messages with a coloured value, written to the process's
// standard error. Whether anything is shown is fixed when the object is first asked for: the
// tool asks for it enabled when the run's environment sets BRUMEL_DEBUG=1.
#pragma once
#include <cstdint>
#include <string>

#include "platform/DebugOutput.h"

namespace brumel {

// Colours of a log line's value (console attributes).
inline constexpr uint16_t kLogGood = 10;  // bright green
inline constexpr uint16_t kLogBad = 12;   // bright red

class TDebugConsole {
 public:
  explicit TDebugConsole(bool enable);
  virtual ~TDebugConsole();

  TDebugConsole(const TDebugConsole&) = delete;
  TDebugConsole& operator=(const TDebugConsole&) = delete;

  void Close();
  // Sets the text attribute and returns the previous one (7 when nothing is changed).
  uint16_t SetColor(uint16_t attribute);
  // Writes: label " ... [" value "]\n", the value in colour.
  void Log(const char* label, const char* value, uint16_t colour);
  void LogW(const wchar_t* label, const wchar_t* value, uint16_t colour);

  // True when the process had no console and this object made one.
  bool OwnsConsole() const { return ownsConsole_; }

  plat::DebugHandle Output = plat::kInvalidDebugHandle;
  bool Enabled = false;

 private:
  bool Writable() const;
  bool ownsConsole_ = false;
};

// The process-wide instance; the first call decides whether it logs, later calls ignore enable.
TDebugConsole* GetDebugConsole(bool enable);

// Whether the run asked for the diagnostic log: the environment variable BRUMEL_DEBUG is "1".
bool DebugLogRequested();
// The process-wide instance as every part of the tool asks for it: enabled when the run asked
// for the log. The first request of the process decides.
TDebugConsole* GetToolDebugConsole();
// One line through the tool's debug console; nothing unless the run asked for the log.
void ToolLog(const std::string& label, const std::string& value, uint16_t colour);

// The form the other parts of the tool use.
void DebugLog(TDebugConsole* console, const std::wstring& label, const std::wstring& value,
              uint16_t colour);
// Narrow texts are widened byte for byte.
void DebugLog(TDebugConsole* console, const std::string& label, const std::string& value,
              uint16_t colour);

}  // namespace brumel
