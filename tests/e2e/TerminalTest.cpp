// The tool on a terminal, as an operator sees it: the colours that carry meaning, and a run that
// is ended from outside. Linux executable only (a pseudo-terminal stands in for the operator's).
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "Harness.h"

namespace e2e {
namespace {

const char kNoDevice[] = "[Device]\nVendorId=1234\nProductId=5678\n";

RunSpec Args(std::vector<std::string> args) {
  RunSpec request;
  request.args = std::move(args);
  return request;
}

class TerminalRun : public ToolRun {
 protected:
  // The simulated controller beside the tool, with the given scenario.
  RunSpec BenchSpec(std::vector<std::string> args, const std::string& scenario = {}) {
    return BenchRequest(std::move(args), kHidLibrary, scenario);
  }

  // Runs to the end on a terminal, typing one key after each appearance of `prompt`.
  ColouredText Run(const RunSpec& request, int expectedExit, const std::string& prompt = {},
                   const std::string& keys = {}) {
    auto tool = StartOnTerminal(request);
    if (!tool) return {};
    size_t from = 0;
    for (char key : keys) {
      from = tool->WaitForText(prompt, from, DefaultTimeLimit());
      if (from == std::string::npos) break;
      tool->Type(std::string(1, key));
    }
    EXPECT_EQ(tool->Wait(DefaultTimeLimit()), expectedExit) << tool->Output();
    EXPECT_EQ(tool->SettingsChanged(), "") << "the terminal is left as it was";
    return DecodeColours(tool->Output());
  }
};

// Errors in bright red (12), usage headings in bright white (15), normal text in 7.
TEST_F(TerminalRun, LinuxOnly_ErrorsAndUsageHeadingsHaveTheirColours) {
  ColouredText t = Run(Args({"/I", "4"}), 1);
  EXPECT_EQ(t.AttrOf("*** Arguments Fail ***"), 12) << t.text;
  for (const char* heading : {"Usage:", "Commands", "Example"}) {
    EXPECT_EQ(t.AttrOf(heading), 15) << heading;
  }
  EXPECT_EQ(t.AttrOf("  BrumelISP.exe <command> [options]"), 7);
  EXPECT_EQ(t.AttrOf("Update APROM through USB"), 7);

  auto holder = HoldInstanceLock();
  ASSERT_TRUE(holder);
  t = Run(Args({"/I", "0"}), 1);
  EXPECT_EQ(t.AttrOf("Encountered a sharing violation while accessing"), 12) << t.text;
}

// The connection step's status line: its label in 7, "Fail" in 12.
TEST_F(TerminalRun, LinuxOnly_AFailedConnectionShowsFailInRed) {
  ColouredText t = Run(BenchSpec({"/I", "0", "/ID", "11112222"}, kNoDevice), 0);
  EXPECT_EQ(t.AttrOf("USB Connection"), 7) << t.text;
  EXPECT_EQ(t.AttrOf("Fail"), 12) << t.text;
}

// Tiles red, green, blue and white in 206, 160, 158 and 240, left to right; the plain copy in
// 7; a retry message in 192.
TEST_F(TerminalRun, LinuxOnly_ColourTilesAndRetriesHaveTheirColours) {
  ColouredText t = Run(BenchSpec({"/I", "0", "/ID", "0416A316", "/TEST:COLOR"}), 1,
                       "Please enter COLOR CODE: ", "xyz");
  // The first tile row is the line after the banner.
  const std::string banner(65, '=');
  const size_t bannerEnd = t.text.find(banner, t.text.find(banner) + 1);
  ASSERT_NE(bannerEnd, std::string::npos) << t.text;
  const size_t tiles = t.text.find('\n', bannerEnd) + 1;
  const uint16_t expected[4] = {206, 160, 158, 240};
  for (size_t row = 0, at = tiles; row < 7; ++row, at = t.text.find('\n', at) + 1) {
    for (size_t tile = 0; tile < 4; ++tile) {
      for (size_t i = 0; i < 17; ++i) {
        ASSERT_EQ(t.attrs[at + tile * 17 + i], expected[tile]) << "row " << row << " tile " << tile;
      }
    }
  }
  const size_t plain = tiles + 7 * 69;  // 7 rows of 68 characters and a line break
  EXPECT_EQ(t.attrs[plain], 7) << t.text.substr(plain, 80);
  EXPECT_EQ(t.AttrOf("Please enter COLOR CODE: "), 7);
  EXPECT_EQ(t.AttrOf("PLEASE TRY AGAIN (Remaining: 2)"), 192) << t.text;
}

// The big button symbol in black on yellow (224), the prompt in black on white (240); no link
// at all: one line in 12 says why the test ends.
TEST_F(TerminalRun, LinuxOnly_ButtonSymbolPromptAndTheNoControllerLineHaveTheirColours) {
  ColouredText t = Run(BenchSpec({"/I", "0", "/ID", "0416A316", "/TEST:BUTTON"},
                                 "[Buttons]\nScript=1:04, 2:04, 3:04\n"),
                       1);
  EXPECT_EQ(t.AttrOf("    +++++++++    "), 224) << t.text;
  EXPECT_EQ(t.AttrOf("Please press button [ + ]"), 240) << t.text;
  EXPECT_EQ(t.AttrOf("PLEASE TRY AGAIN (Remaining: 0)"), 192) << t.text;

  t = Run(BenchSpec({"/I", "0", "/TEST:BUTTON"}), 1);
  EXPECT_EQ(t.AttrOf("No controller answers: the button test cannot run"), 12) << t.text;
}

// SIGTERM (timeout 2) and SIGHUP (the terminal closed) end a button test that waits for a press
// in order: at once, exit code 1, the terminal's settings as they were, the configuration file
// gone, nothing else left.
TEST_F(TerminalRun, LinuxOnly_TerminateAndHangUpEndAWaitingButtonTestInOrder) {
  for (const char* signal : {"TERM", "HUP"}) {
    SCOPED_TRACE(signal);
    RunSpec request = BenchSpec({"/I", "0", "/ID", "0416A316", "/TEST:BUTTON"});
    for (const auto& f : request.files) folder_.Put(f);
    std::set<std::string> before = folder_.List();
    before.erase("sim.log");
    auto tool =
        StartOnTerminal(request, {"/usr/bin/timeout", "--preserve-status", "-s", signal, "2"});
    ASSERT_TRUE(tool);
    EXPECT_EQ(tool->Wait(10), 1) << tool->Output();
    EXPECT_GE(tool->Seconds(), 1.9);
    EXPECT_LT(tool->Seconds(), 3.0) << "ended at once";
    EXPECT_NE(tool->Output().find("Please press button [ + ]"), std::string::npos)
        << tool->Output();
    EXPECT_EQ(tool->SettingsChanged(), "");
    std::set<std::string> after = folder_.List();
    after.erase("sim.log");  // the simulated controller's, written on the first report
    EXPECT_EQ(after, before) << "no configuration file or anything else left";
  }
}

}  // namespace
}  // namespace e2e
