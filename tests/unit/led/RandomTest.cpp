// The tool's own generator: the same sequence on every target and run-time library.
#include <gtest/gtest.h>

#include <vector>

#include "led/Random.h"

namespace brumel {
namespace {

TEST(Random, KnownSequenceAndReseedRestartsIt) {
  // state = state * 214013 + 2531011, result = bits 16-30 of the state.
  const std::vector<int32_t> fromSeed1{41, 18467, 6334, 26500, 19169, 15724, 11478, 29358};
  TRandom rng(1);
  std::vector<int32_t> got;
  for (size_t i = 0; i < fromSeed1.size(); ++i) got.push_back(rng.Next());
  EXPECT_EQ(got, fromSeed1);

  rng.Seed(1);
  EXPECT_EQ(rng.Next(), 41);
  EXPECT_EQ(rng.Next(), 18467);
}

TEST(Random, ResultsStayWithinFifteenBits) {
  for (uint32_t seed : {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xDEADBEEFu}) {
    TRandom rng(seed);
    for (int i = 0; i < 100000; ++i) {
      const int32_t r = rng.Next();
      ASSERT_GE(r, 0);
      ASSERT_LE(r, TRandom::kMax);
    }
  }
}

TEST(Random, ScaledDrawsCoverTheRangeAndNeverLeaveIt) {
  struct Case {
    int32_t r, n, expected;
  };
  for (const Case& c : {Case{0, 10, 0}, Case{3276, 10, 0}, Case{3277, 10, 1}, Case{32767, 10, 9},
                        Case{0, 4, 0}, Case{8191, 4, 0}, Case{8192, 4, 1}, Case{32767, 4, 3}}) {
    EXPECT_EQ(ScaleDraw(c.r, c.n), c.expected) << "r " << c.r << " n " << c.n;
  }
}

}  // namespace
}  // namespace brumel
