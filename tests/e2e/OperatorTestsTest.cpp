// The colour test, the button test and the music mode as whole runs on the simulated bench.
// The colour cases are interactive: the case reads the digits from the plain copy of the tiles
// on the tool's stdout and the lit colour from the simulator's log, and types the answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Harness.h"
#include "common/ExpectedTexts.h"
#include "linux/common/SoundServer.h"

namespace e2e {
namespace {
using brumel::test::kNeedsDeviceIdLine;
using brumel::test::kNoControllerForButtons;
using brumel::test::kNoControllerForColour;

const char kPrompt[] = "Please enter COLOR CODE: ";
const char kPause[] = "Press any key to continue . . . ";

class OperatorRun : public ToolRun {
 protected:
  // A run with the simulated controller beside the tool (on Linux) and no sound server.
  RunSpec BenchSpec(std::vector<std::string> args, const std::string& scenario = {}) {
    RunSpec request =
        BenchRequest(std::move(args), UnderWine() ? std::string() : kHidLibrary, scenario);
    // A sound server that is not there: the music mode finds no audio interfaces.
    request.env["PULSE_SERVER"] = "unix:" + folder_.PathOf("no-sound-server");
    return request;
  }

  // What the controller received: the decoded meaning of each logged report.
  std::vector<std::string> Received() const { return LoggedMeanings(folder_.Read("sim.log")); }
  std::vector<std::string> SetColours() const { return LoggedSetColours(folder_.Read("sim.log")); }
};

// ---- colour test ------------------------------------------------------------------------------

TEST_F(OperatorRun, LinuxOnly_FourRightAnswersPassTheColourTest) {
  auto tool = StartTool(BenchSpec({"/I", "0", "/ID", "0416A316", "/TEST:COLOR"}));
  ASSERT_TRUE(tool);
  ASSERT_TRUE(AnswerColourRounds(*tool, 4, folder_.PathOf("sim.log")));
  EXPECT_EQ(tool->Wait(DefaultTimeLimit()), 0) << tool->OutputSoFar();
  const std::string& out = tool->OutputSoFar();
  EXPECT_EQ(out.find("PLEASE TRY AGAIN"), std::string::npos) << out;
  EXPECT_EQ(Count(out, kPrompt), 4u) << out;
  EXPECT_EQ(Count(out, "Brumel LED Test Tool"), 4u) << out;
  // The verdict ends the last prompt's line.
  EXPECT_TRUE(out.ends_with(std::string(kPrompt) + "\nColour test: PASS\n")) << out;

  std::vector<std::string> colours = SetColours();
  std::sort(colours.begin(), colours.end());
  EXPECT_EQ(colours, (std::vector<std::string>{"00 00 FF", "00 FF 00", "FF 00 00", "FF FF FF"}));
  ASSERT_FALSE(Received().empty());
  EXPECT_EQ(Received().back(), "LED end test");
  EXPECT_FALSE(folder_.Exists("BrumelISP.ini"));
}

// The colour lit in a run's first round, by name, from the simulator's log.
std::string FirstLitColourName(const std::vector<std::string>& lit) {
  static const std::map<std::string, std::string> kNames{
      {"FF 00 00", "red"}, {"00 FF 00", "green"}, {"00 00 FF", "blue"}, {"FF FF FF", "white"}};
  return lit.empty() || !kNames.count(lit.front()) ? "?" : kNames.at(lit.front());
}

TEST_F(OperatorRun, LinuxOnly_ThreeWrongKeysFailTheColourTest) {
  RunSpec request = BenchSpec({"/I", "0", "/ID", "0416A316", "/TEST:COLOR"});
  request.stdinBytes = "x\r-";
  RunResult r = RunTool(request);
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 1) << r.Describe();
  // Nothing follows the last retry message but the verdict, which names the round and the colour.
  const std::string retries =
      std::string(kPrompt) + "PLEASE TRY AGAIN (Remaining: 2)\n" + kPrompt +
      "PLEASE TRY AGAIN (Remaining: 1)\n" + kPrompt + "PLEASE TRY AGAIN (Remaining: 0)\n" +
      "Colour test: FAIL in round 1 of 4 (asked for " + FirstLitColourName(SetColours()) + ")\n";
  EXPECT_TRUE(r.out.ends_with(retries)) << r.Describe();
  EXPECT_EQ(Count(r.out, kPrompt), 3u) << r.Describe();  // the first failed round ends the test
  EXPECT_FALSE(r.Left("BrumelISP.ini")) << r.Describe();
  EXPECT_EQ(SetColours().size(), 1u) << r.Describe();
  ASSERT_FALSE(Received().empty()) << r.Describe();
  EXPECT_EQ(Received().back(), "LED end test") << r.Describe();
}

// Esc at the prompt ends the test at once, as aborted: exit code 1, the end-test report sent,
// no key read after it.
TEST_F(OperatorRun, LinuxOnly_EscLeavesTheColourTest) {
  RunSpec request = BenchSpec({"/I", "0", "/ID", "0416A316", "/TEST:COLOR"});
  request.stdinBytes =
      "\x1b"
      "0123456789";
  RunResult r = RunTool(request);
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 1) << r.Describe();
  ASSERT_EQ(SetColours().size(), 1u) << r.Describe();
  EXPECT_TRUE(r.out.ends_with(std::string(kPrompt) + "\nColour test: ABORTED in round 1 of 4 " +
                              "(Esc; asked for " + FirstLitColourName(SetColours()) + ")\n"))
      << r.Describe();
  EXPECT_EQ(Count(r.out, kPrompt), 1u) << r.Describe();
  EXPECT_EQ(Received(),
            (std::vector<std::string>{"LED set colour " + SetColours().at(0), "LED end test"}))
      << r.Describe();
}

// No controller at all (unplugged before the start; under Wine there is none): the test ends
// before its first round, so the connection step's lines stay on the screen; no tile, no
// prompt, exit code 1.
TEST_F(OperatorRun, TheColourTestWithoutAControllerEndsBeforeItsFirstRound) {
  RunSpec request = BenchSpec({"/I", "0", "/ID", "0416A316", "/TEST:COLOR"},
                              "[Device]\nVendorId=1234\nProductId=5678\n");
  request.stdinBytes = "0123456789";
  RunResult r = RunTool(request);
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 1) << r.Describe();
  ASSERT_EQ(r.out.rfind("USB Connection                    [ Fail ]\n", 0), 0u) << r.Describe();
  EXPECT_TRUE(r.out.ends_with(std::string("\n\n") + kNoControllerForColour +
                              "Colour test: FAIL in round 1 of 4 (no controller answers)\n"))
      << r.Describe();
  EXPECT_EQ(Count(r.out, "\n"), 5u) << r.Describe();  // status, reason, blank, line, verdict
  EXPECT_EQ(r.out.find(kPrompt), std::string::npos) << r.Describe();
  EXPECT_EQ(r.out.find("Brumel LED Test Tool"), std::string::npos) << r.Describe();
  EXPECT_FALSE(r.Left("BrumelISP.ini")) << r.Describe();
}

TEST_F(OperatorRun, LinuxOnly_BothTestOptionsRunTheColourTest) {
  RunResult r = RunTool(BenchSpec({"/I", "0", "/ID", "0416A316", "/TEST:BUTTON", "/TEST:COLOR"}));
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 1) << r.Describe();  // no keys: the first round fails
  EXPECT_NE(r.out.find(kPrompt), std::string::npos) << r.Describe();
  EXPECT_EQ(r.out.find("Please press button"), std::string::npos) << r.Describe();
}

// ---- button test ------------------------------------------------------------------------------

TEST_F(OperatorRun, LinuxOnly_FiveRightPressesPassTheButtonTest) {
  RunResult r = RunTool(BenchSpec({"/I", "0", "/ID", "0416A316", "/TEST:BUTTON"},
                                  "[Buttons]\nScript=1:01, 2:02, 3:04, 4:08, 5:10\n"));
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 0) << r.Describe();
  for (const char* name : {"+", "-", "1", "2", "3"}) {
    EXPECT_NE(r.out.find(std::string("Please press button [ ") + name + " ]\n"), std::string::npos)
        << r.Describe();
  }
  EXPECT_EQ(r.out.find("PLEASE TRY AGAIN"), std::string::npos) << r.Describe();
  std::vector<std::string> expected;
  for (const char* bits : {"01", "02", "04", "08", "10"}) {
    expected.push_back("LED enter button test");
    expected.push_back(std::string("LED read buttons -> ") + bits);
    expected.push_back("LED clear button");
  }
  expected.push_back("LED end test");
  EXPECT_EQ(Received(), expected) << r.Describe();
  EXPECT_TRUE(r.out.ends_with("Please press button [ 3 ]\nButton test: PASS\n")) << r.Describe();
}

TEST_F(OperatorRun, LinuxOnly_ThreeWrongPressesFailTheButtonTest) {
  RunResult r = RunTool(BenchSpec({"/I", "0", "/ID", "0416A316", "/TEST:BUTTON"},
                                  "[Buttons]\nScript=1:04, 2:03, 3:10\n"));
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 1) << r.Describe();
  EXPECT_TRUE(
      r.out.ends_with("Please press button [ + ]\n"
                      "PLEASE TRY AGAIN (Remaining: 2)\n"
                      "PLEASE TRY AGAIN (Remaining: 1)\n"
                      "PLEASE TRY AGAIN (Remaining: 0)\n"
                      "Button test: FAIL in round 1 of 5 (asked for button [ + ])\n"))
      << r.Describe();
  EXPECT_EQ(Count(r.out, "Please press button"), 1u) << r.Describe();
  // Polls one second apart: three presses take two waits.
  EXPECT_GE(r.seconds, 1.9) << r.Describe();
  ASSERT_FALSE(Received().empty());
  EXPECT_EQ(Received().back(), "LED end test");
  EXPECT_EQ(Count(folder_.Read("sim.log"), "LED clear button"), 3u);
}

// Esc between two polls ends the button test at once, as aborted; other keys are ignored.
TEST_F(OperatorRun, LinuxOnly_EscLeavesTheButtonTest) {
  auto tool = StartTool(BenchSpec({"/I", "0", "/ID", "0416A316", "/TEST:BUTTON"}));
  ASSERT_TRUE(tool);
  ASSERT_NE(tool->WaitForText("Please press button [ + ]\n", 0, DefaultTimeLimit()),
            std::string::npos)
      << tool->OutputSoFar();
  ASSERT_TRUE(tool->Write("x1"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_TRUE(tool->Running()) << "other keys are ignored";
  const auto esc = std::chrono::steady_clock::now();
  ASSERT_TRUE(tool->Write("\x1b"));
  EXPECT_EQ(tool->Wait(DefaultTimeLimit()), 1) << tool->OutputSoFar();
  EXPECT_LT(std::chrono::steady_clock::now() - esc, std::chrono::milliseconds(1500))
      << "ends within a poll";
  EXPECT_TRUE(tool->OutputSoFar().ends_with(
      "Please press button [ + ]\nButton test: ABORTED in round 1 of 5 (Esc; asked for button "
      "[ + ])\n"))
      << tool->OutputSoFar();
  ASSERT_FALSE(Received().empty());
  EXPECT_EQ(Received().back(), "LED end test");
}

TEST_F(OperatorRun, AnEarlierOptionErrorIsClearedAndTheButtonTestRuns) {
  // No device id: no link opens, so the test ends before its first round and says why.
  RunResult r = RunTool(BenchSpec({"/I", "9", "/I", "0", "/TEST:BUTTON"}));
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 1) << r.Describe();
  EXPECT_EQ(r.out.find("*** Arguments Fail ***"), std::string::npos) << r.Describe();
  EXPECT_EQ(r.out.find("Usage:"), std::string::npos) << r.Describe();
  EXPECT_EQ(r.out, std::string(kNeedsDeviceIdLine) + "\n" + kNoControllerForButtons +
                       "Button test: FAIL in round 1 of 5 (no controller answers)\n")
      << r.Describe();
  EXPECT_LT(r.seconds, DefaultTimeLimit() / 2) << "no polling";
}

// ---- music mode -------------------------------------------------------------------------------

TEST_F(OperatorRun, LinuxOnly_MusicModeWithoutSoundWaitsForTheKeyAndSendsNothing) {
  auto tool = StartTool(BenchSpec({"/I", "0", "/ID", "0416A316", "/MODE", "6"}));
  ASSERT_TRUE(tool);
  ASSERT_NE(tool->WaitForText(kPause, 0, DefaultTimeLimit()), std::string::npos)
      << tool->OutputSoFar();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(tool->Running()) << "\"PAUSE\" must wait for the key";
  ASSERT_TRUE(tool->Write("k"));
  EXPECT_EQ(tool->Wait(DefaultTimeLimit()), 0) << tool->OutputSoFar();
  // The thread found no audio interfaces: it ended at once, printing nothing.
  EXPECT_EQ(tool->OutputSoFar().substr(0, sizeof kPause), std::string("\n") + kPause);
  EXPECT_EQ(tool->OutputSoFar().find("Main_Volume"), std::string::npos);
  EXPECT_EQ(tool->OutputSoFar().find("Music Thread Exit"), std::string::npos);
  EXPECT_TRUE(Received().empty());
  EXPECT_FALSE(folder_.Exists("BrumelISP.ini"));
}

// With a sound server: nothing is sent while the default output is muted, the level follows it
// once it is unmuted, and the key ends the mode at once.
TEST_F(OperatorRun, LinuxOnly_MusicModeHonoursMuteAndStopsAtTheKey) {
  if (!brumel::test::SoundServer::Installed()) {
    GTEST_SKIP() << "no sound server here (package pulseaudio)";
  }
  brumel::test::SoundServer server;
  ASSERT_TRUE(server.Up());
  ASSERT_TRUE(server.SetMuted(true));
  RunSpec request = BenchSpec({"/I", "0", "/ID", "0416A316", "/MODE", "6"});
  request.env["PULSE_SERVER"] = server.Address();
  auto tool = StartTool(request);
  ASSERT_TRUE(tool);
  ASSERT_NE(tool->WaitForText(kPause, 0, DefaultTimeLimit()), std::string::npos)
      << tool->OutputSoFar();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(tool->OutputSoFar().find("Main_Volume"), std::string::npos) << "muted: nothing sent";
  EXPECT_TRUE(Received().empty());

  ASSERT_TRUE(server.SetMuted(false));
  EXPECT_NE(tool->WaitForText("Main_Volume: ", 0, 5), std::string::npos) << tool->OutputSoFar();
  std::vector<std::string> sent = Received();
  for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
       sent.empty() && std::chrono::steady_clock::now() < until; sent = Received()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.front().rfind("LED mode zone 4 mode 06", 0), 0u) << sent.front();

  const auto key = std::chrono::steady_clock::now();
  ASSERT_TRUE(tool->Write("k"));
  EXPECT_EQ(tool->Wait(DefaultTimeLimit()), 0) << tool->OutputSoFar();
  EXPECT_LT(std::chrono::steady_clock::now() - key, std::chrono::seconds(2))
      << "the mode and the run end without waiting for the sound server";
  EXPECT_NE(tool->OutputSoFar().find("Music Thread Exit"), std::string::npos);
}

}  // namespace
}  // namespace e2e
