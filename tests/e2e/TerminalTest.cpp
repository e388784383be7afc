// The tool on a terminal, as an operator sees it: the colours that carry meaning, and a run that
// is ended from outside. Linux executable only (a pseudo-terminal stands in for the operator's).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Harness.h"

namespace e2e {
namespace {

const char kNoDevice[] = "[Device]\nVendorId=1234\nProductId=5678\n";

// What the tool wrote to the terminal, without the lines the simulated controller shows there.
std::string WithoutSimLines(const std::string& text) {
  std::string out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("[sim] ", 0) != 0) out += line + "\n";
  return out;
}

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

// The connection step's status line: its label in 7, "Fail" in 12, then its reason in 12. No
// job follows: the run still ends with 0.
TEST_F(TerminalRun, LinuxOnly_AFailedConnectionShowsFailInRed) {
  ColouredText t = Run(BenchSpec({"/I", "0", "/ID", "11112222"}, kNoDevice), 0);
  EXPECT_EQ(t.AttrOf("USB Connection"), 7) << t.text;
  EXPECT_EQ(t.AttrOf("Fail"), 12) << t.text;
  EXPECT_EQ(t.AttrOf("No USB HID device 1111:2222 is present, nor the fallback 0416:A316; no "
                     "other device of vendor 1111 or 0416 is present"),
            12)
      << t.text;
}

// The GPU I2C links' failures in 12: no adapter, its reason, and the line after the display.
TEST_F(TerminalRun, LinuxOnly_NoAdapterAndNoAnswerAreSaidInRed) {
  ColouredText t = Run(Args({"/I", "2"}), 1);
  EXPECT_EQ(t.AttrOf("Can't find adapter"), 12) << t.text;
  EXPECT_EQ(t.AttrOf("The display library was not found: neither libatiadlxx.so nor "
                     "libatiadlxy.so is beside the executable or found by the system's search"),
            12)
      << t.text;
  EXPECT_EQ(t.AttrOf("[ Chip - Current]"), 14) << t.text;
  EXPECT_EQ(t.AttrOf("No controller answered on ADL_I2C_OEM: no chip value above was read"), 12)
      << t.text;
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
  EXPECT_EQ(t.AttrOf("The USB link needs the device id"), 12) << t.text;
  EXPECT_EQ(t.AttrOf("No controller answers: the button test cannot run"), 12) << t.text;
  EXPECT_EQ(t.AttrOf("Button test: FAIL in round 1 of 5 (no controller answers)"), 12) << t.text;
}

// The verdict after the colour test: pass in 10 (four right digits, read from the tiles and the
// lit colour of the simulator's log); fail in 12, right after the last retry message; Esc in 12.
TEST_F(TerminalRun, LinuxOnly_TheColourTestsVerdictHasItsColour) {
  const char kPrompt[] = "Please enter COLOR CODE: ";
  RunSpec request = BenchSpec({"/I", "0", "/ID", "0416A316", "/TEST:COLOR"});
  auto tool = StartOnTerminal(request);
  ASSERT_TRUE(tool);
  size_t from = 0;
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE("round " + std::to_string(round + 1));
    from = tool->WaitForText(kPrompt, from, DefaultTimeLimit());
    ASSERT_NE(from, std::string::npos) << tool->Output();
    const std::string shown = WithoutSimLines(DecodeColours(tool->Output()).text);
    const std::vector<int> digits = ColourTileDigits(shown, shown.rfind(kPrompt));
    ASSERT_EQ(digits.size(), 4u) << shown;
    std::ifstream log(folder_.PathOf("sim.log"));
    std::string lit;
    for (std::string line; std::getline(log, line);) {
      const size_t at = line.find("LED set colour ");
      if (at != std::string::npos) lit = line.substr(at + 15, 8);
    }
    ASSERT_TRUE(TileOfColour().count(lit)) << lit;
    tool->Type(std::string(1, static_cast<char>('0' + digits[TileOfColour().at(lit)])));
  }
  EXPECT_EQ(tool->Wait(DefaultTimeLimit()), 0) << tool->Output();
  EXPECT_EQ(DecodeColours(tool->Output()).AttrOf("Colour test: PASS"), 10) << tool->Output();

  ColouredText t = Run(request, 1, kPrompt, "xyz");
  const std::string shown = WithoutSimLines(t.text);
  const size_t retry = shown.find("PLEASE TRY AGAIN (Remaining: 0)\n");
  ASSERT_NE(retry, std::string::npos) << shown;
  const std::string after = shown.substr(retry + 32);
  EXPECT_EQ(after.rfind("Colour test: FAIL in round 1 of 4 (asked for ", 0), 0u) << t.text;
  EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 1) << "nothing but the verdict";
  EXPECT_EQ(t.AttrOf("Colour test: FAIL in round 1 of 4"), 12) << t.text;

  t = Run(request, 1, kPrompt, "\x1b");
  EXPECT_EQ(t.AttrOf("Colour test: ABORTED in round 1 of 4 (Esc; asked for "), 12) << t.text;
}

// The verdict after the button test: pass in 10, fail and Esc in 12.
TEST_F(TerminalRun, LinuxOnly_TheButtonTestsVerdictHasItsColour) {
  ColouredText t = Run(BenchSpec({"/I", "0", "/ID", "0416A316", "/TEST:BUTTON"},
                                 "[Buttons]\nScript=1:01, 2:02, 3:04, 4:08, 5:10\n"),
                       0);
  EXPECT_EQ(t.AttrOf("Button test: PASS"), 10) << t.text;

  t = Run(BenchSpec({"/I", "0", "/ID", "0416A316", "/TEST:BUTTON"},
                    "[Buttons]\nScript=1:04, 2:04, 3:04\n"),
          1);
  EXPECT_EQ(t.AttrOf("Button test: FAIL in round 1 of 5 (asked for button [ + ])"), 12) << t.text;

  // Esc, typed once the prompt shows, ends it within a poll.
  t = Run(BenchSpec({"/I", "0", "/ID", "0416A316", "/TEST:BUTTON"}), 1, "Please press button [ + ]",
          "\x1b");
  EXPECT_EQ(t.AttrOf("Button test: ABORTED in round 1 of 5 (Esc; asked for button [ + ])"), 12)
      << t.text;
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
