// The reason line of a HID device that was found but would not open, from the system's code.
#include <gtest/gtest.h>

#include <string>

#include "platform/Hid.h"

namespace {

TEST(HidOpenFailure, TheSystemsCodeBecomesTheReason) {
  const std::string path = "\\\\?\\hid#vid_0416&pid_a316#1";
  const struct {
    int error;
    std::string reason;
  } cases[] = {
      {5, "access denied (another program holds the device for itself)"},
      {32, "the device is busy (another program holds it)"},
      {0, "the system gave no reason"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(plat::DescribeHidOpenFailure(path, c.error), "Cannot open " + path + ": " + c.reason);
  }
  // Any other code in the system's words, with the code.
  const std::string gone = plat::DescribeHidOpenFailure(path, 2);
  EXPECT_EQ(gone.rfind("Cannot open " + path + ": the device went away (", 0), 0u) << gone;
  EXPECT_NE(gone.find("(error 2))"), std::string::npos) << gone;
  EXPECT_NE(plat::DescribeSystemError(87).find("(error 87)"), std::string::npos);
}

}  // namespace
