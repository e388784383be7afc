// One key is one key: the rules that turn what a terminal or the console delivers into keys, and
// which control events end a run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ConsoleKeys.h"

namespace {

using plat::kSpecialKeyBase;

// Keys read from `typed` until its end; a '|' stands for a pause longer than any key takes.
std::vector<int> TerminalKeys(const std::string& typed) {
  size_t at = 0;
  auto next = [&](int waitMs) {
    if (at < typed.size() && typed[at] == '|') {
      if (waitMs >= 0) return -1;  // nothing comes within the short wait
      ++at;
    }
    return at < typed.size() ? static_cast<unsigned char>(typed[at++]) : -1;
  };
  std::vector<int> keys;
  for (int key; (key = plat::ReadTerminalKey(next)) >= 0;) keys.push_back(key);
  return keys;
}

TEST(TerminalKeys, AnEscapeSequenceIsOneKey) {
  struct Case {
    const char* what;
    std::string typed;
    std::vector<int> keys;
  } const cases[] = {
      {"plain keys", "5a\r", {'5', 'a', '\r'}},
      {"arrow up, then a digit", "\x1b[A5", {kSpecialKeyBase + 'A', '5'}},
      {"F5 with parameters", "\x1b[15~3", {kSpecialKeyBase + '~', '3'}},
      {"Ctrl+arrow", "\x1b[1;5C", {kSpecialKeyBase + 'C'}},
      {"F1 of the keypad set", "\x1bOP1", {kSpecialKeyBase + 'P', '1'}},
      {"F1 of the Linux console", "\x1b[[A2", {kSpecialKeyBase + 'A', '2'}},
      {"Alt with a key", "\x1bx7", {kSpecialKeyBase + 'x', '7'}},
      {"the Escape key alone, then a key", "\x1b|4", {0x1B, '4'}},
      {"a sequence cut short", "\x1b[1|9", {kSpecialKeyBase + '1', '9'}},
  };
  for (const auto& c : cases) EXPECT_EQ(TerminalKeys(c.typed), c.keys) << c.what;
}

TEST(ConsoleKeys, APrefixAndItsCodeAreOneKey) {
  struct Case {
    const char* what;
    std::vector<int> codes;
    std::vector<int> keys;
  } const cases[] = {
      {"digits", {'1', '2'}, {'1', '2'}},
      {"arrow up (0xE0 0x48), then a digit", {0xE0, 0x48, '3'}, {kSpecialKeyBase + 0x48, '3'}},
      {"F1 (0 0x3B)", {0, 0x3B, '4'}, {kSpecialKeyBase + 0x3B, '4'}},
      {"a prefix at the end of input", {0xE0}, {}},
  };
  for (const auto& c : cases) {
    size_t at = 0;
    auto next = [&] { return at < c.codes.size() ? c.codes[at++] : -1; };
    std::vector<int> keys;
    for (int key; (key = plat::ReadConsoleKey(next)) >= 0;) keys.push_back(key);
    EXPECT_EQ(keys, c.keys) << c.what;
  }
}

TEST(ControlEvents, KeysThatInterruptAreSwallowedAndEndsOfTheSessionEndTheRun) {
  using E = plat::ControlEvent;
  for (E e : {E::Interrupt, E::Break, E::Quit, E::Stop}) EXPECT_FALSE(plat::ControlEventEndsRun(e));
  for (E e : {E::Close, E::Logoff, E::Shutdown, E::HangUp, E::Terminate}) {
    EXPECT_TRUE(plat::ControlEventEndsRun(e));
  }
}

}  // namespace
