// Diagnostic log: one-line labelled messages with a coloured value, written to the process's
// console. Whether anything is shown is fixed when the object is first asked for.
#pragma once
#include <cstdint>
#include <string>

#include "platform/DebugOutput.h"

namespace brumel {

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

// The form the other parts of the tool use.
void DebugLog(TDebugConsole* console, const std::wstring& label, const std::wstring& value,
              uint16_t colour);
// Narrow texts are widened byte for byte.
void DebugLog(TDebugConsole* console, const std::string& label, const std::string& value,
              uint16_t colour);

}  // namespace brumel
