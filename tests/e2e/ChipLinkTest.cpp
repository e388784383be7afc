// The connection step, the lighting modes and the information display as a whole run shows
// them. The lighting-mode cases drive the simulated controller (the substitute hidapi put
// beside the tool) and read what it received from its log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Harness.h"
#include "common/ExpectedTexts.h"

namespace e2e {
namespace {
using brumel::test::kNeedsDeviceIdLine;

const char kPause[] = "Press any key to continue . . . \n";
const char kUsbFail[] = "USB Connection                    [ Fail ]\n";

class ChipLinkRun : public ToolRun {
 protected:
  // A run with the simulated controller beside the tool.
  RunResult RunOnBench(std::vector<std::string> args, const std::string& scenario = {}) {
    RunSpec request = BenchRequest(std::move(args), kHidLibrary, scenario);
    request.stdinBytes = "k";
    return RunTool(request);
  }
  std::vector<std::string> Received() { return LoggedReports(folder_.Read("sim.log")); }
};

TEST_F(ChipLinkRun, LinuxOnly_ModeSentZoneByZone) {
  RunResult r = RunOnBench({"/I", "0", "/ID", "0416A316", "/MODE", "3"});
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 0) << r.Describe();
  EXPECT_EQ(r.out, std::string("\n") + kPause) << r.Describe();
  std::vector<std::string> expected;
  for (int k = 0; k < 8; ++k) {
    expected.push_back(ReportHex({0x00, 0x10, 0x00, k, 0x03, 0xFF, 0x00, 0x00, 0x50, 0xFF, 0x00}));
  }
  EXPECT_EQ(Received(), expected) << r.Describe();
  // The simulator shows the lit LEDs to whoever watches.
  EXPECT_NE(r.err.find("zone 7 mode 03 colour FF 00 00"), std::string::npos) << r.Describe();
  EXPECT_FALSE(r.Left("BrumelISP.ini")) << r.Describe();
}

TEST_F(ChipLinkRun, LinuxOnly_ModeSentToAllZonesAtOnce) {
  RunResult r = RunOnBench({"/I", "0", "/ID", "0416A316", "/MODE", "1:0:FF:0:20:1"});
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 0) << r.Describe();
  EXPECT_EQ(r.out, std::string("\n") + kPause) << r.Describe();
  EXPECT_EQ(Received(), std::vector<std::string>{ReportHex(
                            {0x00, 0x10, 0x00, 0x00, 0x01, 0x00, 0xFF, 0x00, 0x20, 0xFF, 0x01})})
      << r.Describe();
}

// Without /ID the connection step gives up and says what is missing: no report, no pause,
// exit code 1.
TEST_F(ChipLinkRun, ModeWithoutDeviceIdSendsNothingAndSaysWhy) {
  RunSpec request =
      BenchRequest({"/I", "0", "/MODE", "1"}, UnderWine() ? std::string() : kHidLibrary);
  request.stdinBytes = "k";
  RunResult r = RunTool(request);
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 1) << r.Describe();
  EXPECT_EQ(r.out, std::string(kNeedsDeviceIdLine) + "\n") << r.Describe();
  EXPECT_FALSE(r.Left("sim.log")) << r.Describe();
}

// No HID library beside the tool and no controller anywhere: the status line, then why, and
// exit code 1 (the mode was not sent).
TEST_F(ChipLinkRun, ModeWithoutControllerShowsUsbFailAndWhy) {
  RunResult r = RunTool({"/I", "0", "/ID", "0416A316", "/MODE", "1"});
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 1) << r.Describe();
  ASSERT_EQ(r.out.rfind(kUsbFail, 0), 0u) << r.Describe();
  // The system's HID library lists no such device; without one, that is the reason.
  const std::string reason = r.out.substr(sizeof kUsbFail - 1);
  EXPECT_TRUE(reason ==
                  "No USB HID device 0416:A316 is present; no other device of vendor 0416 is "
                  "present\n\n" ||
              reason.rfind("The HID library ", 0) == 0)
      << r.Describe();
  EXPECT_FALSE(r.Left("BrumelISP.ini")) << r.Describe();
}

// /I 1 sets up no link: the display shows the images and every chip value in its failure form,
// then says that no controller answered; exit code 1.
TEST_F(ChipLinkRun, InformationDisplayOverI2c) {
  RunSpec request;
  request.args = {"/I", "1", "/UA", "a.bin", "/UL", "b.bin"};
  request.files = {ExtraFile::Text("a.bin", "abc"),
                   ExtraFile::Text("b.bin", std::string(258, '\xFF'))};
  RunResult r = RunTool(request);
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 1) << r.Describe();
  EXPECT_EQ(r.out,
            "\n"
            "[ Configuration ]\n"
            "Program Interface ...... I2C\n"
            "APROM file size ........ 3 bytes (0x3)\n"
            "APROM file checksum .... 0126\n"
            "\n"
            "LDROM file size ........ 258 bytes\n"
            "LDROM file checksum .... 00FE\n"
            "[ Chip - Current]\n"
            "FW Version ............. 0x00000000\n"
            "FW Release ............. 0x00000000\n"
            "FW Feature ............. 0x00000000\n"
            "HW Version ............. 0x00000000\n"
            "Device ID .............. 0x00000000\n"
            "Flash Mode ............. Unknown (0x00)\n"
            "Config0 : Config1 ...... 0xFFFFFFFF : 0xFFFFFFFF\n"
            "\n"
            "No controller answered on I2C: no link is set up for it; /I 2 and /I 3 reach the "
            "controller over an I2C line of a graphics card\n")
      << r.Describe();
  EXPECT_FALSE(r.Left("BrumelISP.ini")) << r.Describe();
}

// A controller that opens makes the connection step print nothing; /I 0 without a mode or a
// test option then selects no job.
TEST_F(ChipLinkRun, LinuxOnly_UsbConnectionIsSilent) {
  RunResult r = RunOnBench({"/I", "0", "/ID", "0416A316"});
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 0) << r.Describe();
  EXPECT_EQ(r.out, "\n") << r.Describe();
}

}  // namespace
}  // namespace e2e
