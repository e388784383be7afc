// The fault suite: whole runs on the simulated bench, one table of what goes wrong between the
// tool and the controller. No reply, a wrong checksum or packet-number echo, a slow reply,
// garbage, the controller unplugged in the middle of a job, a second process on the same device,
// and the single-instance lock held by a copy that waits or that was killed. Every case ends
// within its bound, with the messages and the exit code the tool gives for it, and leaves
// nothing behind: no BrumelISP.ini, no sharing area of the device, no lock file but the tool's
// own (the lock files of its instance lock and of the device's sharing area stay by design).
//
// The command line reaches USB with /I 0 (the operator tests and the lighting modes) and the GPU
// I2C links with /I 2 and /I 3 (the information display). The USB cases need the substitute
// hidapi, which exists for Linux only: they are LinuxOnly. The GPU I2C and lock cases also run
// the Windows executable under Wine, with the substitute display library beside it. No option
// chooses the serial link; its faults are covered at the channel level, in the same table style
// (tests/linux/isp/ChannelFaultTest.cpp).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Harness.h"
#include "common/ExpectedTexts.h"

namespace e2e {
namespace {
using brumel::test::BenchCardDisplay;
using brumel::test::kChipGoneAfterRelease;
using brumel::test::kFailedChipLines;
using brumel::test::kNoControllerForColour;
using brumel::test::kSimulatedChipLines;
using brumel::test::NoAnswerLine;

namespace fs = std::filesystem;

const char kUsb[] = "/I 0 /ID 0416A316";  // expanded by Args()
const char kPause[] = "Press any key to continue . . . \n";
const char kReadFail[] = "ReadFile Fail\n";
const char kSharing[] = "Encountered a sharing violation while accessing\n";
const char kNoController[] = "No controller answers: the button test cannot run\n";
const char kNoDevice[] =
    "No USB HID device 0416:A316 is present; no other device of vendor 0416 is present\n";
const char kColourPrompt[] = "Please enter COLOR CODE: ";
const char kUsbFail[] = "USB Connection                    [ Fail ]\n";

// Names the tool gives its machine-wide objects on Linux: the instance lock's file, and the
// sharing area (and its mutex's lock file) of the bench's devices.
const char kInstanceLockFile[] = "Global_62E02173-24E1-421D-A0C0-D9EBC7F56EE6.lock";
const char kBenchDevicePrefix[] = "_dev_hidraw_sim";
const char kAreaSuffix[] = "-12d3688b-44c0-412a-85dd-5ebcfea9f503";
const char kAreaMutexSuffix[] = "-5004780a-b256-43f3-88f5-1c1a798e40b3";

std::vector<std::string> Args(std::initializer_list<const char*> parts) {
  std::vector<std::string> out{};
  for (const char* part : parts) {
    std::istringstream words(part);
    for (std::string w; words >> w;) out.push_back(w);
  }
  return out;
}

std::string Times(const std::string& text, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += text;
  return out;
}

// ---- the table --------------------------------------------------------------------------------

enum class Flow {
  Run,             // runs to its end with `keys` on its stdin
  TerminateAfter,  // waits for the operator for ever: SIGTERM after `signalAfter` seconds
  ColourAnswered,  // the first colour round answered right, then `keys` typed
  SecondStart,     // a second copy (`then`) starts while the first waits in "PAUSE"
  // A second copy (`then`) is ended by SIGTERM `signalAfter` seconds into its wait for the
  // machine-wide lock, while the first one runs its job.
  SecondTerminated,
  KilledHolder,  // the first copy is killed while it waits in "PAUSE"; then `then` runs
  SharedArea,    // another process opens the device's sharing area while the tool uses it
};

// The substitute library put beside the tool.
enum class Bench { Hid, Display };

struct FaultCase {
  const char* name;  // "LinuxOnly" where the Windows executable cannot run the case
  Flow flow = Flow::Run;
  Bench bench = Bench::Hid;
  std::vector<std::string> args{};
  std::string scenario{};
  std::string keys{};
  int exitCode = 0;
  // Stdout holds these texts in this order; with `whole` the one text is all of it.
  std::vector<std::string> out{};
  bool whole = false;
  std::vector<std::string> absent{};
  // The bound: seconds from start to end of the run that shows the fault (for SecondStart and
  // KilledHolder the copy started second).
  double minSeconds = 0;
  double maxSeconds = 5;
  // Text -> how often it appears in the simulator's log.
  std::vector<std::pair<std::string, size_t>> log{};
  std::vector<std::string> then{};  // arguments of the copy started second
  double signalAfter = 0;           // TerminateAfter
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

const std::vector<FaultCase>& Cases() {
  static const std::vector<FaultCase> cases{
      // ---- USB: the operator tests and a lighting mode ------------------------------------------
      {.name = "LinuxOnly_UsbUnpluggedBeforeTheStart_Mode",
       .args = Args({kUsb, "/MODE 1"}),
       .scenario = "[Device]\nVendorId=1234\nProductId=5678\n",
       .exitCode = 1,  // the mode was skipped
       .out = {std::string(kUsbFail) + kNoDevice + "\n"},
       .whole = true,
       .log = {{"LED", 0}}},
      // A node the user may not open: the reason names it and points to the udev rule.
      {.name = "LinuxOnly_UsbNodeNotOpened_Mode",
       .args = Args({kUsb, "/MODE 1"}),
       .scenario = "[Device]\nOpenError=EACCES\n",
       .exitCode = 1,
       .out = {std::string(kUsbFail) +
               "Cannot open /dev/hidraw-sim0: permission denied; the udev rule in the README "
               "(\"Access to the controller\") gives the user at the seat access\n\n"},
       .whole = true,
       .log = {{"LED", 0}}},
      {.name = "LinuxOnly_UsbNoReply_Mode",
       .args = Args({kUsb, "/MODE 3"}),
       .scenario = "[Fault]\nKind=noreply\n",
       .keys = "k",
       .out = {"\n" + Times(kReadFail, 8) + kPause},
       .whole = true,
       .minSeconds = 8 * 0.5 - 0.1,  // each exchange waits out its 500 ms
       .maxSeconds = 8,
       .log = {{"LED mode zone", 8}, {"[no reply]", 8}}},
      {.name = "LinuxOnly_UsbNoReply_ColourTest",
       .args = Args({kUsb, "/TEST:COLOR"}),
       .scenario = "[Fault]\nKind=noreply\n",
       .keys = "x\r-",
       .exitCode = 1,
       .out = {kReadFail, std::string(kColourPrompt) + "PLEASE TRY AGAIN (Remaining: 2)\n",
               "PLEASE TRY AGAIN (Remaining: 0)\n" + std::string(kReadFail)},
       .minSeconds = 2 * 0.5 - 0.1,  // set colour, end test
       .log = {{"LED set colour", 1}, {"LED end test", 1}, {"[no reply]", 2}}},
      {.name = "LinuxOnly_UsbNoReply_ButtonTest",
       .flow = Flow::TerminateAfter,
       .args = Args({kUsb, "/TEST:BUTTON"}),
       .scenario = "[Fault]\nKind=noreply\n",
       .exitCode = 1,  // ended from outside
       // A controller that stays silent may yet answer: the round polls on, once a second.
       .out = {kReadFail, "Please press button [ + ]\n", Times(kReadFail, 2)},
       .absent = {"PLEASE TRY AGAIN", kNoController},
       .maxSeconds = 4.0 + 1.5,
       .signalAfter = 4.0},
      {.name = "LinuxOnly_UsbSlowReply_ButtonTest",
       .args = Args({kUsb, "/TEST:BUTTON"}),
       .scenario = "[Buttons]\nScript=1:01, 2:02, 3:04, 4:08, 5:10\n[Fault]\nDelayMs=200\n",
       .out = {"Please press button [ + ]\n", "Please press button [ 3 ]\n"},
       .absent = {"ReadFile Fail", "PLEASE TRY AGAIN"},
       .minSeconds = 16 * 0.2 - 0.1,  // every exchange waits for its late but timely reply
       .maxSeconds = 8,
       .log = {{"LED clear button", 5}, {"[reply after 200 ms]", 16}}},
      {.name = "LinuxOnly_UsbGarbage_ButtonTest",
       .args = Args({kUsb, "/TEST:BUTTON"}),
       .scenario = "[Fault]\nKind=garbage\nApplyTo=34\n",
       .exitCode = 1,
       // The button byte of a garbage reply reads as presses of other buttons.
       .out = {"Please press button [ + ]\n" + std::string("PLEASE TRY AGAIN (Remaining: 2)\n") +
               "PLEASE TRY AGAIN (Remaining: 1)\n" + "PLEASE TRY AGAIN (Remaining: 0)\n"},
       .absent = {"ReadFile Fail"},
       .minSeconds = 2 * 1.0 - 0.1,  // polls a second apart
       .log = {{"[garbage reply]", 3}, {"LED clear button", 3}}},
      {.name = "LinuxOnly_UsbUnplugged_ColourTest",
       .flow = Flow::ColourAnswered,
       .args = Args({kUsb, "/TEST:COLOR"}),
       .scenario = "[Fault]\nUnplugAfter=1\n",
       .exitCode = 1,
       // The second round cannot light its colour: it fails at once, before it asks, whatever
       // the operator types; the verdict names it.
       .out = {std::string(kReadFail) + kNoControllerForColour + kReadFail +
               "Colour test: FAIL in round 2 of 4 (asked for "},
       .absent = {"PLEASE TRY AGAIN"},
       .maxSeconds = 10,
       .log = {{"LED set colour", 1}, {"[unplugged after this]", 1}}},
      {.name = "LinuxOnly_UsbUnplugged_ButtonTest",
       .args = Args({kUsb, "/TEST:BUTTON"}),
       .scenario = "[Buttons]\nScript=1:01\n[Fault]\nUnplugAfter=5\n",
       .exitCode = 1,
       // The first round passes; in the second the controller goes away after one quiet poll.
       .out = {"Please press button [ + ]\n",
               "Please press button [ - ]\n" + std::string(kReadFail) + kNoController + kReadFail},
       .absent = {"PLEASE TRY AGAIN"},
       .minSeconds = 1.0 - 0.1,
       .log = {{"LED read buttons", 2}, {"[unplugged after this]", 1}}},
      {.name = "LinuxOnly_UsbUnplugged_Mode",
       .args = Args({kUsb, "/MODE 3"}),
       .scenario = "[Fault]\nUnplugAfter=3\n",
       .keys = "k",
       .exitCode = 1,  // five zones were never sent
       .out = {"\n" + Times(kReadFail, 5) +
               "No controller answers: the lighting mode reached 3 of 8 zones\n" + kPause},
       .whole = true,
       .log = {{"LED mode zone", 3}, {"[unplugged after this]", 1}}},

      // ---- GPU I2C: the information display -----------------------------------------------------
      {.name = "I2cNoReply_InformationDisplay",
       .bench = Bench::Display,
       .args = Args({"/I 3"}),
       .scenario = "[Fault]\nKind=noreply\n",
       .exitCode = 1,
       .out = {BenchCardDisplay("ADL_I2C_OEM3", kFailedChipLines) + NoAnswerLine("ADL_I2C_OEM3")},
       .whole = true,
       // Nine queries, a write and a read each; every read finds nothing and fails at once.
       .log = {{"ADL2_Display_WriteAndReadI2C ", 18}, {"result=-1 | nothing to read", 9}}},
      {.name = "I2cBadChecksum_InformationDisplay",
       .bench = Bench::Display,
       .args = Args({"/I 2"}),
       .scenario = "[Fault]\nKind=badchecksum\n",
       .exitCode = 1,
       .out = {BenchCardDisplay("ADL_I2C_OEM", kFailedChipLines) + NoAnswerLine("ADL_I2C_OEM")},
       .whole = true,
       .log = {{"[bad checksum echo]", 9}, {"line=1 ", 18}}},
      {.name = "I2cBadNumber_InformationDisplay",
       .bench = Bench::Display,
       .args = Args({"/I 3"}),
       .scenario = "[Fault]\nKind=badnumber\n",
       .out = {BenchCardDisplay("ADL_I2C_OEM3", kFailedChipLines)},
       .whole = true,
       .log = {{"[bad number echo]", 9}, {"line=4 ", 18}}},
      {.name = "I2cSlowReply_InformationDisplay",
       .bench = Bench::Display,
       .args = Args({"/I 2"}),
       .scenario = "[Fault]\nDelayMs=300\n",
       .out = {BenchCardDisplay("ADL_I2C_OEM", kSimulatedChipLines)},
       .whole = true,
       // Each read holds the bus until its reply is ready, 300 ms after its write (the pause
       // before the read falls within them); the pauses before each write and after the ROM
       // query come on top.
       .minSeconds = 9 * (0.3 + 0.02) + 0.1 - 0.1,
       .maxSeconds = 8,
       .log = {{"[reply after 300 ms]", 9}}},
      {.name = "I2cGarbage_InformationDisplay",
       .bench = Bench::Display,
       .args = Args({"/I 3"}),
       .scenario = "[Fault]\nKind=garbage\n",
       .exitCode = 1,
       .out = {BenchCardDisplay("ADL_I2C_OEM3", kFailedChipLines) + NoAnswerLine("ADL_I2C_OEM3")},
       .whole = true,
       .log = {{"[garbage reply]", 9}}},
      {.name = "I2cUnplugged_InformationDisplay",
       .bench = Bench::Display,
       .args = Args({"/I 2"}),
       .scenario = "[Fault]\nUnplugAfter=3\n",
       .out = {BenchCardDisplay("ADL_I2C_OEM", kChipGoneAfterRelease)},
       .whole = true,
       // Three queries answered; each later one fails at its write, without reading.
       .log = {{"ADL2_Display_WriteAndReadI2C ", 3 * 2 + 6}, {"device unplugged", 6}}},

      // ---- one copy at a time, and two processes on one device ---------------------------------
      {.name = "SecondStartWhileACopyWaits",
       .flow = Flow::SecondStart,
       .bench = Bench::Display,
       .args = Args({"/I 2 /MODE 1"}),
       .exitCode = 1,
       .out = {kSharing},
       .whole = true,
       .minSeconds = 0.9,  // it waits its second for the lock
       .maxSeconds = 8,
       .then = Args({"/I 0"})},
      // The copy that waits owns nothing: ended from outside, it leaves the running copy's
      // configuration file where it is, and ends with 1 at once.
      {.name = "LinuxOnly_SecondCopyTerminatedWhileItWaits",
       .flow = Flow::SecondTerminated,
       .args = Args({kUsb, "/TEST:BUTTON"}),
       .exitCode = 1,
       .out = {""},
       .whole = true,
       .maxSeconds = 0.9,  // well within its second of waiting
       .then = Args({"/I 2"}),
       .signalAfter = 0.3},
      {.name = "LockOfAKilledCopy",
       .flow = Flow::KilledHolder,
       .bench = Bench::Display,
       .args = Args({"/I 2 /MODE 1"}),
       .out = {BenchCardDisplay("ADL_I2C_OEM3", kSimulatedChipLines)},
       .whole = true,
       .maxSeconds = 5,
       .then = Args({"/I 3"})},
      {.name = "LinuxOnly_LockAndSharingAreaOfAKilledCopy",
       .flow = Flow::KilledHolder,
       .args = Args({kUsb, "/MODE 3"}),
       .keys = "k",
       .out = {std::string("\n") + kPause},
       .whole = true,
       .then = Args({kUsb, "/MODE 2"})},
      {.name = "LinuxOnly_TwoProcessesOnOneDevice",
       .flow = Flow::SharedArea,
       .args = Args({kUsb, "/MODE 3"}),
       .out = {std::string("\n") + kPause},
       .whole = true,
       .maxSeconds = 5},
  };
  return cases;
}

// ---- the fixture ------------------------------------------------------------------------------

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Room for the start of a Windows process under Wine.
double Slack() { return UnderWine() ? 20.0 : 0.0; }

// The system's lock folder, as the tool picks it on Linux.
std::string LockFolder() {
  for (const char* folder : {"/run/lock", "/var/lock", "/tmp"}) {
    if (access(folder, W_OK | X_OK) == 0) return folder;
  }
  return "/tmp";
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> out{};
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) out.push_back(e.path().filename());
  return out;
}

class FaultRun : public ToolRun, public ::testing::WithParamInterface<FaultCase> {
 protected:
  // A run of the case's bench and scenario. Files are put into the folder by the first run
  // only: a library a running copy has loaded is not written over.
  RunSpec Request(std::vector<std::string> args, const std::string& keys, bool withFiles) {
    const FaultCase& c = GetParam();
    const std::string library =
        c.bench == Bench::Hid ? std::string(kHidLibrary) : DisplayLibraryFileName();
    RunSpec request = BenchRequest(std::move(args), library, c.scenario);
    request.stdinBytes = keys;
    if (withFiles) {
      placed_ = {ToolFileName(), library, "scenario.ini", "sim.log"};
    } else {
      request.files.clear();
    }
    request.env["PULSE_SERVER"] = "unix:" + folder_.PathOf("no-sound-server");
    return request;
  }

  // The run that shows the fault: its exit code, its output and its time against the case.
  void Check(const std::string& out, int exitCode, double seconds, const std::string& about) {
    const FaultCase& c = GetParam();
    EXPECT_EQ(exitCode, c.exitCode) << about;
    if (c.whole) {
      EXPECT_EQ(out, c.out.at(0)) << about;
    } else {
      size_t at = 0;
      for (const std::string& text : c.out) {
        const size_t found = out.find(text, at);
        EXPECT_NE(found, std::string::npos) << "missing, or out of order: " << text << "\n"
                                            << about;
        if (found != std::string::npos) at = found + text.size();
      }
    }
    for (const std::string& text : c.absent) {
      EXPECT_EQ(out.find(text), std::string::npos) << "unexpected: " << text << "\n" << about;
    }
    EXPECT_GE(seconds, c.minSeconds) << about;
    EXPECT_LE(seconds, c.maxSeconds + Slack()) << about;
    const std::string log = folder_.Read("sim.log");
    for (const auto& [text, times] : c.log) {
      EXPECT_EQ(Count(log, text), times) << "in the simulator's log: " << text << "\n" << log;
    }
  }

  // Nothing left in the tool's folder but what the case put there and the simulator's log;
  // on Linux no sharing area of the bench's devices, and no lock file but the tool's own.
  void CheckNothingLeft() {
    std::set<std::string> left = folder_.List();
    for (const std::string& name : placed_) left.erase(name);
    EXPECT_TRUE(left.empty()) << "left in the tool's folder: " << *left.begin();
    if (UnderWine()) return;  // Windows objects go with their last handle
    for (const std::string& name : Entries("/dev/shm")) {
      EXPECT_NE(name.rfind(kBenchDevicePrefix, 0), 0u) << "sharing area left: /dev/shm/" << name;
    }
    const std::set<std::string> own{
        kInstanceLockFile, std::string(kBenchDevicePrefix) + "0" + kAreaMutexSuffix + ".lock",
        std::string(kBenchDevicePrefix) + "1" + kAreaMutexSuffix + ".lock"};
    for (const std::string& name : Entries(LockFolder())) {
      const bool tools = name.rfind("Global_", 0) == 0 || name.rfind(kBenchDevicePrefix, 0) == 0;
      EXPECT_TRUE(!tools || own.count(name)) << "lock folder: " << name;
    }
  }

  // Starts the first copy and waits until it stands in "PAUSE".
  std::unique_ptr<BackgroundProcess> StartWaitingCopy() {
    auto first = StartTool(Request(GetParam().args, "", true));
    if (!first) return nullptr;
    if (first->WaitForText("Press any key to continue", 0, DefaultTimeLimit()) ==
        std::string::npos) {
      ADD_FAILURE() << "the first copy did not come to \"PAUSE\":\n" << first->OutputSoFar();
      return nullptr;
    }
    return first;
  }

  // brumel_share_peer on the bench device's sharing area: 0 when the record held `expected`
  // (it then holds `next`).
  int SharePeer(unsigned expected, unsigned next, double* seconds) {
    const double start = Now();
    ProcessResult p = RunProcess(TargetCommand(GetSettings().sharePeer,
                                               {std::string(kBenchDevicePrefix) + "0",
                                                std::to_string(expected), std::to_string(next)},
                                               folder_.Path(), {}),
                                 "", DefaultTimeLimit());
    *seconds = Now() - start;
    if (p.exitCode != 0) ADD_FAILURE() << "share peer: " << p.err;
    return p.exitCode;
  }

  std::set<std::string> placed_;
};

TEST_P(FaultRun, EndsInTimeWithItsMessageAndLeavesNothing) {
  const FaultCase& c = GetParam();
  switch (c.flow) {
    case Flow::Run: {
      RunResult r = RunTool(Request(c.args, c.keys, true));
      ASSERT_FALSE(r.Crashed()) << r.Describe();
      Check(r.out, r.exitCode, r.seconds, r.Describe());
      break;
    }

    case Flow::TerminateAfter: {
      const double start = Now();
      auto tool = StartTool(Request(c.args, "", true));
      ASSERT_TRUE(tool);
      std::this_thread::sleep_for(std::chrono::duration<double>(c.signalAfter));
      ASSERT_TRUE(tool->Running()) << tool->OutputSoFar();
      kill(tool->Pid(), SIGTERM);
      const int code = tool->Wait(DefaultTimeLimit());
      Check(tool->OutputSoFar(), code, Now() - start, tool->OutputSoFar());
      break;
    }

    case Flow::ColourAnswered: {
      const double start = Now();
      auto tool = StartTool(Request(c.args, "", true));
      ASSERT_TRUE(tool);
      const size_t after = tool->WaitForText(kColourPrompt, 0, DefaultTimeLimit());
      ASSERT_NE(after, std::string::npos) << tool->OutputSoFar();
      const std::vector<int> digits =
          ColourTileDigits(tool->OutputSoFar(), after - (sizeof kColourPrompt - 1));
      ASSERT_EQ(digits.size(), 4u) << tool->OutputSoFar();
      const std::string log = folder_.Read("sim.log");
      const size_t lit = log.rfind("LED set colour ");
      ASSERT_NE(lit, std::string::npos) << log;
      const auto tile = TileOfColour().find(log.substr(lit + 15, 8));
      ASSERT_NE(tile, TileOfColour().end()) << log;
      ASSERT_TRUE(tool->Write(std::to_string(digits[static_cast<size_t>(tile->second)])));
      if (!c.keys.empty()) {
        ASSERT_NE(tool->WaitForText(kColourPrompt, after, DefaultTimeLimit()), std::string::npos)
            << tool->OutputSoFar();
        ASSERT_TRUE(tool->Write(c.keys));
      }
      const int code = tool->Wait(DefaultTimeLimit());
      Check(tool->OutputSoFar(), code, Now() - start, tool->OutputSoFar());
      EXPECT_EQ(Count(tool->OutputSoFar(), "Brumel LED Test Tool"), 2u) << "the first round passed";
      break;
    }

    case Flow::SecondStart: {
      auto first = StartWaitingCopy();
      ASSERT_TRUE(first);
      const std::string ini = folder_.Read("BrumelISP.ini");
      ASSERT_FALSE(ini.empty());

      RunResult second = RunTool(Request(c.then, "", false));
      ASSERT_FALSE(second.Crashed()) << second.Describe();
      Check(second.out, second.exitCode, second.seconds, second.Describe());
      EXPECT_TRUE(first->Running()) << "the first copy goes on waiting";
      EXPECT_EQ(folder_.Read("BrumelISP.ini"), ini) << "the refused copy keeps off its file";

      ASSERT_TRUE(first->Write("k"));
      // (Its lighting mode could not travel over I2C.)
      EXPECT_EQ(first->Wait(DefaultTimeLimit()), 1) << first->OutputSoFar();
      EXPECT_FALSE(folder_.Exists("BrumelISP.ini"));
      // Once the first copy has ended, a start is not refused.
      RunResult next = RunTool(Request(Args({"/I 1 /?"}), "", false));
      EXPECT_EQ(next.exitCode, 1) << next.Describe();
      EXPECT_EQ(next.out.rfind("Usage:\n", 0), 0u) << next.Describe();
      break;
    }

    case Flow::SecondTerminated: {
      auto first = StartTool(Request(c.args, "", true));
      ASSERT_TRUE(first);
      ASSERT_NE(first->WaitForText("Please press button", 0, DefaultTimeLimit()), std::string::npos)
          << first->OutputSoFar();
      const std::string ini = folder_.Read("BrumelISP.ini");
      ASSERT_FALSE(ini.empty());

      const double start = Now();
      auto second = StartTool(Request(c.then, "", false));
      ASSERT_TRUE(second);
      std::this_thread::sleep_for(std::chrono::duration<double>(c.signalAfter));
      ASSERT_TRUE(second->Running()) << second->OutputSoFar();
      kill(second->Pid(), SIGTERM);
      const int code = second->Wait(DefaultTimeLimit());
      Check(second->OutputSoFar(), code, Now() - start, second->OutputSoFar());
      EXPECT_TRUE(first->Running()) << "the first copy goes on";
      EXPECT_EQ(folder_.Read("BrumelISP.ini"), ini) << "the first copy's file is still there";

      // The first copy, ended in order too, takes its own file with it.
      kill(first->Pid(), SIGTERM);
      EXPECT_EQ(first->Wait(DefaultTimeLimit()), 1) << first->OutputSoFar();
      EXPECT_FALSE(folder_.Exists("BrumelISP.ini"));
      break;
    }

    case Flow::KilledHolder: {
      auto first = StartWaitingCopy();
      ASSERT_TRUE(first);
      // Only the process itself: under Wine its group may hold the prefix's own services.
      kill(first->Pid(), SIGKILL);
      first->Wait(DefaultTimeLimit());
      EXPECT_TRUE(folder_.Exists("BrumelISP.ini")) << "a killed copy cannot remove its file";
      if (!UnderWine() && c.bench == Bench::Hid) {
        EXPECT_TRUE(fs::exists(std::string("/dev/shm/") + kBenchDevicePrefix + "0" + kAreaSuffix))
            << "nor the name of its sharing area";
      }
      // The lock went with the process (Linux: its lock file's lock; Windows: the mutex, whose
      // last handle it was): the next start is not refused.
      RunResult r = RunTool(Request(c.then, c.keys, false));
      ASSERT_FALSE(r.Crashed()) << r.Describe();
      Check(r.out, r.exitCode, r.seconds, r.Describe());
      break;
    }

    case Flow::SharedArea: {
      ASSERT_FALSE(GetSettings().sharePeer.empty()) << "brumel_share_peer not named";
      auto tool = StartWaitingCopy();
      ASSERT_TRUE(tool);
      // The tool made the area for the device it selected and leaves its record alone: another
      // process finds it zero, and what that one writes stays while the tool holds the area.
      double seconds = 0;
      EXPECT_EQ(SharePeer(0, 7, &seconds), 0);
      EXPECT_LE(seconds, c.maxSeconds);
      EXPECT_EQ(SharePeer(7, 9, &seconds), 0);
      EXPECT_LE(seconds, c.maxSeconds);
      ASSERT_TRUE(tool->Write("k"));
      const int code = tool->Wait(DefaultTimeLimit());
      Check(tool->OutputSoFar(), code, 0, tool->OutputSoFar());
      // The area went with its last user: the next one starts from zero.
      EXPECT_EQ(SharePeer(0, 1, &seconds), 0);
      break;
    }
  }
  CheckNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(Bench, FaultRun, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace e2e
