// The tool's configuration file beside the executable.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
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

// A FIFO or a device where the tool expects one of its files is never read: it neither blocks
// nor reads without end. As the configuration file it stops the run like a folder does.
TEST_F(ToolRun, LinuxOnly_FifosAndDevicesAreNeverReadAsFiles) {
  const std::string ini = folder_.PathOf("BrumelISP.ini");
  for (int kind = 0; kind < 2; ++kind) {
    SCOPED_TRACE(kind == 0 ? "FIFO" : "link to /dev/zero");
    if (kind == 0) {
      ASSERT_EQ(mkfifo(ini.c_str(), 0600), 0);
    } else {
      std::filesystem::create_symlink("/dev/zero", ini);
    }
    RunSpec request;
    request.args = {"/I", "0"};
    request.timeLimitSeconds = 10;
    RunResult r = RunTool(request);
    ASSERT_FALSE(r.Crashed()) << r.Describe();
    EXPECT_EQ(r.exitCode, 1) << r.Describe();
    EXPECT_NE(r.out.find("Unable to write to "), std::string::npos) << r.Describe();
    EXPECT_NE(r.out.find("BrumelISP.ini\n"), std::string::npos) << r.Describe();
    ASSERT_EQ(unlink(ini.c_str()), 0) << "the FIFO or link stays where it was";
  }

  // An update description that is a FIFO is no description: /AUTO alone is then no usable
  // command line.
  ASSERT_EQ(mkfifo(folder_.PathOf("UpdateFW.ini").c_str(), 0600), 0);
  RunSpec autoRun;
  autoRun.args = {"/AUTO"};
  autoRun.timeLimitSeconds = 10;
  RunResult r = RunTool(autoRun);
  EXPECT_EQ(r.exitCode, 1) << r.Describe();
  EXPECT_NE(r.out.find("Usage:"), std::string::npos) << r.Describe();

  // An image that is a FIFO is a file that cannot be opened: no size, no checksum, no message.
  ASSERT_EQ(mkfifo(folder_.PathOf("A.BIN").c_str(), 0600), 0);
  RunSpec image;
  image.args = {"/I", "1", "/UA", "A.BIN"};
  image.timeLimitSeconds = 10;
  r = RunTool(image);
  EXPECT_EQ(r.exitCode, 1) << r.Describe();  // /I 1 reaches no controller
  EXPECT_NE(r.out.find("Program Interface ...... I2C\n"), std::string::npos) << r.Describe();
  EXPECT_EQ(r.out.find("APROM file"), std::string::npos) << r.Describe();
  EXPECT_EQ(r.out.find("THis is a folder"), std::string::npos) << r.Describe();
}

}  // namespace
}  // namespace e2e
