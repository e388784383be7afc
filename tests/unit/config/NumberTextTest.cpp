#include <gtest/gtest.h>

#include "config/NumberText.h"

namespace {

struct NumberCase {
  const char* text;
  std::optional<int32_t> value;
};

TEST(NumberText, ReadsDecimalAndEveryHexPrefix) {
  const NumberCase cases[] = {
      {"0", 0},
      {"6699", 6699},
      {"  42", 42},
      {"\t-7", -7},
      {"+15", 15},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"0x1A2B", 6699},
      {"0X1a2b", 6699},
      {"$1A2B", 6699},
      {"x1A2B", 6699},
      {"X1A2B", 6699},
      {"0xFFFFFFFF", -1},
      {"$80000000", INT32_MIN},
      {"0xFFFFFF7F", static_cast<int32_t>(0xFFFFFF7Fu)},
      {"-0x10", -16},
      {"0x0416A316", 0x0416A316},
  };
  for (const auto& c : cases) EXPECT_EQ(brumel::ReadNumber(c.text), c.value) << c.text;
}

TEST(NumberText, RejectsWhatDoesNotRead) {
  const char* bad[] = {"",    " ",   "x",     "0x",         "$",           "yes",
                       "12a", "1 ",  "0x0x5", "2147483648", "-2147483649", "0x100000000",
                       "+",   "--1", "1.5",   "FF",         "0xG1"};
  for (const char* text : bad) EXPECT_EQ(brumel::ReadNumber(text), std::nullopt) << text;
}

TEST(NumberText, DefaultOnlyWhenTheTextDoesNotRead) {
  EXPECT_EQ(brumel::ReadNumberOr("0x0x5", 0x1E), 0x1E);
  EXPECT_EQ(brumel::ReadNumberOr("0xFFFFFFFF", 7), -1);
  EXPECT_EQ(brumel::ReadNumberOr("0", -1), 0);
}

}  // namespace
