// Only one copy of the tool runs on a machine.
#include <gtest/gtest.h>

#include "Harness.h"

namespace e2e {
namespace {

// The configuration file of the copy that runs: the refused copy must leave it alone.
const char kRunningCopysIni[] =
    "[Preferences]\r\nAutorun=0\r\nMinimize=1\r\nAutoApply=0\r\nActiveAdapter=3_PCI_VEN_1002\r\n";

TEST_F(ToolRun, SecondCopyWaitsOneSecondThenGivesUpAndKeepsTheIniFile) {
  folder_.Put("BrumelISP.ini", kRunningCopysIni);
  auto holder = HoldInstanceLock();
  ASSERT_TRUE(holder);

  RunResult r = RunTool({"/I", "0"});
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.out, "Encountered a sharing violation while accessing\n") << r.Describe();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_GE(r.seconds, 0.9);
  EXPECT_LT(r.seconds, UnderWine() ? 20.0 : 8.0);
  EXPECT_EQ(folder_.Read("BrumelISP.ini"), kRunningCopysIni);

  holder->CloseStdin();
  EXPECT_EQ(holder->Wait(30), 0);

  // Once the other copy has ended, a start is not refused; its own end removes the file.
  RunResult next = RunTool({"/I", "1", "/?"});
  EXPECT_EQ(next.exitCode, 1) << next.Describe();
  EXPECT_EQ(next.out.find("Encountered a sharing violation"), std::string::npos) << next.Describe();
  EXPECT_NE(next.out.find("Usage:\n"), std::string::npos) << next.Describe();
  EXPECT_FALSE(next.Left("BrumelISP.ini")) << next.Describe();
}

}  // namespace
}  // namespace e2e
