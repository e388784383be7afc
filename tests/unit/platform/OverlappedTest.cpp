// The end of a pending overlapped transfer, with the system's steps played by the test.
#include <gtest/gtest.h>

#include <string>

#include "platform/Overlapped.h"

namespace {

struct Script {
  bool inTime;           // the completion came within the wait
  bool doneAfterWait;    // ended just after the wait, before any cancel
  bool doneAfterCancel;  // ended (successfully) just as it was cancelled
  bool expected;
  std::string steps;  // what the transfer must see, in order
};

TEST(PendingTransfer, ATransferThatCompletesBeforeTheCancelTakesEffectIsKept) {
  const Script scripts[] = {
      {true, false, false, true, "wait result"},
      {false, true, false, true, "wait result"},
      {false, false, true, true, "wait result cancel result(wait)"},
      {false, false, false, false, "wait result cancel result(wait)"},
  };
  for (const Script& s : scripts) {
    std::string steps;
    bool cancelled = false;
    plat::PendingTransfer t;
    t.waitForCompletion = [&](uint32_t ms) {
      EXPECT_EQ(ms, 500u);
      steps += "wait";
      return s.inTime;
    };
    t.cancel = [&] {
      steps += " cancel";
      cancelled = true;
    };
    t.result = [&](bool wait, uint32_t& count) {
      steps += wait ? " result(wait)" : " result";
      const bool ok =
          s.inTime || (!cancelled && s.doneAfterWait) || (cancelled && s.doneAfterCancel);
      count = ok ? 65 : 3;  // a cancelled read may have moved a few bytes
      return ok;
    };
    uint32_t count = 99;
    EXPECT_EQ(plat::FinishPendingTransfer(t, 500, count), s.expected) << s.steps;
    EXPECT_EQ(count, s.expected ? 65u : 3u) << s.steps;
    EXPECT_EQ(steps, s.steps);
  }
}

}  // namespace
