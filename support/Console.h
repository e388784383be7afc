// The console object of the tool: text attributes, the restrictions that hold while a job runs,
// and the status line. Its state is class-wide and outlives the instance. It sits in support/
// because app, isp and led all print through it.
#pragma once
#include <cstdint>

namespace brumel {

class TConsole {
 public:
  virtual ~TConsole() = default;

  static void SetTextAttr(int32_t attr);
  static void SetCloseEnabled(bool enabled);
  static void SetCursorVisible(bool visible);
  static void SetInputMode(bool restore);
  static void SetWindowHidden(bool hidden);
  // A label padded to 25 characters, nine blanks, "[ ", text in attr, " ]".
  static void PrintStatus(const char* label, const char* text, int32_t attr);

 private:
  friend TConsole* GetConsole();
  TConsole();
};

// The instance, created on the first call (which records the console handles and input mode).
TConsole* GetConsole();
void ReleaseConsole();

}  // namespace brumel
