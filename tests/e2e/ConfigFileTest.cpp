// The tool's configuration file beside the executable.
#include <gtest/gtest.h>

#include <sstream>

#include "Harness.h"

namespace e2e {
namespace {

// A configuration file that cannot be written (here a folder holds its name; the tests run as
// root, so file permissions would not stop the write) ends the run with a message and exit
// code 1, not with a crash.
TEST_F(ToolRun, UnwritableIniFileIsReportedAndEndsWith1) {
  folder_.Put(ExtraFile::Folder("BrumelISP.ini"));
  RunResult r = RunTool({"/I", "0"});
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 1) << r.Describe();

  bool reported = false;
  std::istringstream lines(r.out + r.err);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("Unable to write to") != std::string::npos &&
        line.find("BrumelISP.ini") != std::string::npos) {
      reported = true;
    }
  }
  EXPECT_TRUE(reported) << r.Describe();
  EXPECT_TRUE(r.Left("BrumelISP.ini/")) << r.Describe();

  // The failed run leaves nothing behind that refuses the next start.
  RunResult next = RunTool({"/?"});
  EXPECT_EQ(next.out.find("Encountered a sharing violation"), std::string::npos) << next.Describe();
  EXPECT_EQ(next.exitCode, 1) << next.Describe();
}

}  // namespace
}  // namespace e2e
