#include "platform/ConsoleKeys.h"

namespace plat {

namespace {

constexpr int kEsc = 0x1B;
// A sequence longer than this is not a key any terminal sends: what follows is left alone.
constexpr int kLongestSequence = 16;

}  // namespace

int ReadTerminalKey(const std::function<int(int waitMs)>& next) {
  const int first = next(-1);
  if (first != kEsc) return first;
  const int second = next(kKeySequenceWaitMs);
  if (second < 0) return kEsc;
  if (second == 'O') {
    const int last = next(kKeySequenceWaitMs);
    return kSpecialKeyBase + (last < 0 ? second : last);
  }
  if (second != '[') return kSpecialKeyBase + second;
  // Control sequence: parameter and intermediate bytes (0x20-0x3F), then a final byte
  // (0x40-0x7E).
  int last = second;
  for (int n = 0; n < kLongestSequence; ++n) {
    const int c = next(kKeySequenceWaitMs);
    if (c < 0) break;
    last = c;
    if (c >= 0x40 && c <= 0x7E && !(n == 0 && c == '[')) break;  // ESC [ [ A: Linux console F1
  }
  return kSpecialKeyBase + last;
}

int ReadConsoleKey(const std::function<int()>& next) {
  const int first = next();
  if (first != 0 && first != 0xE0) return first;
  const int code = next();
  return code < 0 ? -1 : kSpecialKeyBase + code;
}

bool ControlEventEndsRun(ControlEvent event) {
  switch (event) {
    case ControlEvent::Close:
    case ControlEvent::Logoff:
    case ControlEvent::Shutdown:
    case ControlEvent::HangUp:
    case ControlEvent::Terminate:
      return true;
    case ControlEvent::Interrupt:
    case ControlEvent::Break:
    case ControlEvent::Quit:
    case ControlEvent::Stop:
      return false;
  }
  return false;
}

}  // namespace plat
