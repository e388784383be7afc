#include "support/DebugConsole.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace brumel {

namespace {

constexpr uint16_t kDefaultColour = 7;
constexpr char kOpen[] = " ... [";
constexpr char kClose[] = "]\n";

}  // namespace

TDebugConsole::TDebugConsole(bool enable) : Enabled(enable) {
  if (Enabled) Output = plat::OpenDebugOutput(ownsConsole_);
}

TDebugConsole::~TDebugConsole() { Close(); }

void TDebugConsole::Close() {
  if (Output == plat::kInvalidDebugHandle) return;
  plat::CloseDebugOutput(Output, ownsConsole_);
  ownsConsole_ = false;
  Output = plat::kInvalidDebugHandle;
}

bool TDebugConsole::Writable() const {
  return Enabled && Output != plat::kNoDebugHandle && Output != plat::kInvalidDebugHandle;
}

uint16_t TDebugConsole::SetColor(uint16_t attribute) {
  // Attribute 0 (black on black) would hide the text: it changes nothing.
  if (!Writable() || attribute == 0) return kDefaultColour;
  uint16_t previous = kDefaultColour;
  if (!plat::GetDebugAttribute(Output, previous)) previous = kDefaultColour;
  plat::SetDebugAttribute(Output, attribute);
  return previous;
}

void TDebugConsole::Log(const char* label, const char* value, uint16_t colour) {
  if (!Writable()) return;
  std::string head = label ? label : "";
  head += kOpen;
  plat::WriteDebugOutput(Output, head.data(), head.size());
  SetColor(colour);
  if (value) plat::WriteDebugOutput(Output, value, std::strlen(value));
  SetColor(kDefaultColour);
  plat::WriteDebugOutput(Output, kClose, sizeof(kClose) - 1);
}

void TDebugConsole::LogW(const wchar_t* label, const wchar_t* value, uint16_t colour) {
  if (!Writable()) return;
  std::wstring head = label ? label : L"";
  head += L" ... [";
  plat::WriteDebugOutputW(Output, head.data(), head.size());
  SetColor(colour);
  if (value) plat::WriteDebugOutputW(Output, value, std::wcslen(value));
  SetColor(kDefaultColour);
  plat::WriteDebugOutputW(Output, L"]\n", 2);
}

TDebugConsole* GetDebugConsole(bool enable) {
  static TDebugConsole* const instance = new TDebugConsole(enable);
  return instance;
}

bool DebugLogRequested() {
  const char* value = std::getenv("BRUMEL_DEBUG");
  return value && std::strcmp(value, "1") == 0;
}

TDebugConsole* GetToolDebugConsole() { return GetDebugConsole(DebugLogRequested()); }

void ToolLog(const std::string& label, const std::string& value, uint16_t colour) {
  TDebugConsole* console = GetToolDebugConsole();
  if (console && console->Enabled) DebugLog(console, label, value, colour);
}

void DebugLog(TDebugConsole* console, const std::wstring& label, const std::wstring& value,
              uint16_t colour) {
  if (console) console->LogW(label.c_str(), value.c_str(), colour);
}

void DebugLog(TDebugConsole* console, const std::string& label, const std::string& value,
              uint16_t colour) {
  if (!console) return;
  auto widen = [](const std::string& s) {
    std::wstring w;
    w.reserve(s.size());
    for (unsigned char c : s) w += static_cast<wchar_t>(c);
    return w;
  };
  console->LogW(widen(label).c_str(), widen(value).c_str(), colour);
}

}  // namespace brumel
