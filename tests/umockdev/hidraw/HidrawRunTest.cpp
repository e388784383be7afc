// The Linux tool with Debian's own hidapi on an emulated hidraw node (brumel_hidraw_bed, see
// there): nothing is put beside the tool, so it loads the system's libhidapi-hidraw.so.0, which
// finds the node through the test bed's sysfs. The controller model answers the node; its log
// shows every report the node received. The cases: a lighting mode byte for byte, the colour
// test answered from the LED state the controller was set to, the button test with a scripted
// press, the controller removed in the middle of a test, a node the user may not open, and the
// installed tool run by a normal user.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "Harness.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

const char kPause[] = "Press any key to continue . . . \n";
const char kUsbFail[] = "USB Connection                    [ Fail ]\n";
const char kReadFail[] = "ReadFile Fail\n";
const char kWriteFail[] = "WriteFile Fail\n";
const char kNoController[] = "No controller answers: the button test cannot run\n";
const char kSharing[] = "Encountered a sharing violation while accessing\n";

// The unprivileged user of the normal-user cases (scripts/test.sh creates it), or null.
const passwd* TestUser() { return getpwnam(BRUMEL_TEST_USER); }

// Runs the rest of a command line with the user's ids and groups; the environment stays.
std::vector<std::string> AsUser(const passwd& user) {
  return {"/usr/bin/setpriv", std::string("--reuid=") + user.pw_name,
          "--regid=" + std::to_string(user.pw_gid), "--init-groups", "--"};
}

// A folder of the user's own, mode 0700, inside the case's folder.
std::string UserFolder(const ToolFolder& folder, const std::string& name, const passwd& user) {
  const std::string path = folder.PathOf(name);
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec || chown(path.c_str(), user.pw_uid, user.pw_gid) != 0 || chmod(path.c_str(), 0700) != 0) {
    ADD_FAILURE() << "cannot make " << path << " the user's own";
  }
  return path;
}

class HidrawRun : public ToolRun {
 protected:
  void SetUp() override {
    ToolRun::SetUp();
    ASSERT_FALSE(folder_.Exists(kHidLibrary)) << "the system's hidapi only";
    std::error_code ec;
    ASSERT_TRUE(fs::is_regular_file(BRUMEL_HIDRAW_BED, ec)) << BRUMEL_HIDRAW_BED;
  }

  // A run in the test bed with the scenario, its log going to `log` in the folder. With a user,
  // the tool runs as that user, who is given the node when giveNode says so (else the node is
  // root's alone, as on a stock system).
  RunSpec BedSpec(std::vector<std::string> args, const std::string& scenario = {},
                  const std::string& log = "sim.log", const passwd* user = nullptr,
                  bool giveNode = false) {
    RunSpec request = BenchRequest(std::move(args), std::string(), scenario, log);
    request.env["PULSE_SERVER"] = "unix:" + folder_.PathOf("no-sound-server");
    request.wrapper = {BRUMEL_HIDRAW_BED};
    if (user && giveNode) {
      request.wrapper.push_back("--give-node-to");
      request.wrapper.push_back(user->pw_name);
    } else if (user) {
      request.wrapper.push_back("--closed-node");
    }
    request.wrapper.push_back("--");
    if (user) {
      const std::vector<std::string> as = AsUser(*user);
      request.wrapper.insert(request.wrapper.end(), as.begin(), as.end());
    }
    return request;
  }

  std::vector<std::string> Received(const std::string& log = "sim.log") const {
    return LoggedMeanings(folder_.Read(log));
  }
};

TEST_F(HidrawRun, LightingModesReachTheNodeByteForByte) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> reports;
  };
  std::vector<std::string> zones;
  for (int k = 0; k < 8; ++k) {
    zones.push_back(ReportHex({0x00, 0x10, 0x00, k, 0x03, 0xFF, 0x00, 0x00, 0x50, 0xFF, 0x00}));
  }
  const std::vector<Case> cases{
      {{"/MODE", "3"}, zones},
      {{"/MODE", "1:0:FF:0:20:1"},
       {ReportHex({0x00, 0x10, 0x00, 0x00, 0x01, 0x00, 0xFF, 0x00, 0x20, 0xFF, 0x01})}},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string log = "sim-" + std::to_string(i) + ".log";
    std::vector<std::string> args{"/I", "0", "/ID", "0416A316"};
    args.insert(args.end(), cases[i].args.begin(), cases[i].args.end());
    RunSpec request = BedSpec(args, {}, log);
    request.stdinBytes = "k";
    RunResult r = RunTool(request);
    SCOPED_TRACE(cases[i].args.back());
    ASSERT_FALSE(r.Crashed()) << r.Describe();
    EXPECT_EQ(r.exitCode, 0) << r.Describe();
    EXPECT_EQ(r.out, std::string("\n") + kPause) << r.Describe();
    EXPECT_EQ(LoggedReports(folder_.Read(log)), cases[i].reports) << r.Describe();
    EXPECT_FALSE(r.Left("BrumelISP.ini")) << r.Describe();
  }
}

TEST_F(HidrawRun, TheColourTestIsAnsweredFromTheColourTheControllerWasSetTo) {
  auto tool = StartTool(BedSpec({"/I", "0", "/ID", "0416A316", "/TEST:COLOR"}));
  ASSERT_TRUE(tool);
  ASSERT_TRUE(AnswerColourRounds(*tool, 4, folder_.PathOf("sim.log")));
  EXPECT_EQ(tool->Wait(DefaultTimeLimit()), 0) << tool->OutputSoFar();
  EXPECT_EQ(tool->OutputSoFar().find("PLEASE TRY AGAIN"), std::string::npos) << tool->OutputSoFar();
  EXPECT_EQ(tool->OutputSoFar().find("Fail"), std::string::npos) << tool->OutputSoFar();
  ASSERT_FALSE(Received().empty());
  EXPECT_EQ(Received().back(), "LED end test");
}

TEST_F(HidrawRun, TheButtonTestSeesTheScriptedPresses) {
  RunResult r = RunTool(BedSpec({"/I", "0", "/ID", "0416A316", "/TEST:BUTTON"},
                                "[Buttons]\nScript=1:01, 2:02, 3:04, 4:08, 5:10\n"));
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 0) << r.Describe();
  for (const char* name : {"+", "-", "1", "2", "3"}) {
    EXPECT_NE(r.out.find(std::string("Please press button [ ") + name + " ]\n"), std::string::npos)
        << r.Describe();
  }
  EXPECT_EQ(r.out.find("PLEASE TRY AGAIN"), std::string::npos) << r.Describe();
  EXPECT_EQ(r.out.find("Fail"), std::string::npos) << r.Describe();
  std::vector<std::string> expected;
  for (const char* bits : {"01", "02", "04", "08", "10"}) {
    expected.push_back("LED enter button test");
    expected.push_back(std::string("LED read buttons -> ") + bits);
    expected.push_back("LED clear button");
  }
  expected.push_back("LED end test");
  EXPECT_EQ(Received(), expected) << r.Describe();
}

// The first round passes; in the second the controller goes away after one quiet poll: the
// node then refuses every write (ENODEV) and fails every read (EIO), as hidraw does for a
// device that was unplugged.
TEST_F(HidrawRun, TheControllerRemovedInTheMiddleOfTheButtonTest) {
  RunResult r = RunTool(BedSpec({"/I", "0", "/ID", "0416A316", "/TEST:BUTTON"},
                                "[Buttons]\nScript=1:01\n[Fault]\nUnplugAfter=5\n"));
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 1) << r.Describe();
  const size_t second = r.out.find("Please press button [ - ]\n");
  ASSERT_NE(second, std::string::npos) << r.Describe();
  EXPECT_NE(r.out.find("Please press button [ + ]\n"), std::string::npos) << r.Describe();
  EXPECT_NE(r.out.find(std::string(kReadFail) + kNoController + kReadFail, second),
            std::string::npos)
      << r.Describe();
  EXPECT_EQ(r.out.find("PLEASE TRY AGAIN"), std::string::npos) << r.Describe();
  EXPECT_EQ(Count(folder_.Read("sim.log"), "LED read buttons"), 2u) << r.Describe();
  EXPECT_EQ(Count(folder_.Read("sim.log"), "[unplugged after this]"), 1u) << r.Describe();
  EXPECT_NE(r.err.find("device /dev/hidraw0 unplugged"), std::string::npos) << r.Describe();
  EXPECT_LT(r.seconds, 10) << r.Describe();
  EXPECT_FALSE(r.Left("BrumelISP.ini")) << r.Describe();
}

// A normal user whose seat was not given the node (no udev rule, or not at the seat): hidapi
// cannot open it and the connection step fails. The same user given the node reaches the
// controller. The tool runs from a folder of the user's own.
TEST_F(HidrawRun, ANodeTheUserMayNotOpen) {
  const passwd* user = TestUser();
  if (!user) GTEST_SKIP() << "no user " << BRUMEL_TEST_USER << " (scripts/test.sh makes it)";
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the tool as another user";
  ASSERT_EQ(chown(folder_.Path().c_str(), user->pw_uid, user->pw_gid), 0);

  RunSpec refused = BedSpec({"/I", "0", "/ID", "0416A316", "/MODE", "1"}, {}, "refused.log", user);
  refused.stdinBytes = "k";
  RunResult r = RunTool(refused);
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.out.rfind(kUsbFail, 0), 0u) << r.Describe();
  // The failure line, then the reason: the node named, and the udev rule that hands it to the
  // user at the seat.
  EXPECT_EQ(r.out.rfind(std::string(kUsbFail) +
                            "Cannot open /dev/hidraw0: permission denied; the udev rule in the "
                            "README (\"Access to the controller\") gives the user at the seat "
                            "access\n",
                        0),
            0u)
      << r.Describe();
  EXPECT_EQ(r.out.find("Press any key"), std::string::npos) << "no lighting mode" << r.Describe();
  // A lighting mode skipped because the link failed.
  EXPECT_EQ(r.exitCode, 1) << r.Describe();
  EXPECT_TRUE(Received("refused.log").empty()) << r.Describe();

  RunSpec given =
      BedSpec({"/I", "0", "/ID", "0416A316", "/MODE", "1"}, {}, "given.log", user, true);
  given.stdinBytes = "k";
  r = RunTool(given);
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 0) << r.Describe();
  EXPECT_EQ(r.out, std::string("\n") + kPause) << r.Describe();
  EXPECT_EQ(Received("given.log").size(), 8u) << r.Describe();
  EXPECT_FALSE(r.Left("BrumelISP.ini")) << r.Describe();
}

// ---- the installed tool, run by a normal user -------------------------------------------------

// Every file under a folder with its size and time of change: what "nothing written" compares.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    struct stat st {};
    if (lstat(it->path().c_str(), &st) != 0) continue;
    files[it->path().string()] =
        std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
        std::to_string(st.st_mtim.tv_nsec) + " " + std::to_string(st.st_mode);
  }
  return files;
}

class InstalledRun : public HidrawRun {
 protected:
  void SetUp() override {
    HidrawRun::SetUp();
    if (HasFatalFailure()) return;
    user_ = TestUser();
    if (!user_) GTEST_SKIP() << "no user " << BRUMEL_TEST_USER << " (scripts/test.sh makes it)";
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the tool as another user";
    std::error_code ec;
    ASSERT_TRUE(fs::is_regular_file(tool_, ec)) << tool_ << ": the package check unpacks it";
    ASSERT_EQ(chmod(folder_.Path().c_str(), 0755), 0);
    home_ = UserFolder(folder_, "home", *user_);
    runtime_ = UserFolder(folder_, "runtime", *user_);
    prefix_ = Snapshot(BRUMEL_PACKAGE_ROOT);
  }

  // A run of the installed tool as the user, in the test bed (the node given to the user).
  RunSpec Installed(std::vector<std::string> args, const std::string& log = "sim.log",
                    const std::string& scenario = {}) {
    RunSpec request = BedSpec(std::move(args), scenario, log, user_, true);
    request.program = tool_;
    request.env["HOME"] = home_;
    request.env["XDG_RUNTIME_DIR"] = runtime_;
    request.env["XDG_CONFIG_HOME"] = std::nullopt;
    return request;
  }

  // Nothing under the prefix changed, and no private folder is left in the runtime folder.
  void CheckNothingLeft(const std::string& about) {
    EXPECT_EQ(Snapshot(BRUMEL_PACKAGE_ROOT), prefix_) << "written under the prefix: " << about;
    EXPECT_FALSE(fs::exists(runtime_ + "/brumelisp")) << "private folder left: " << about;
  }

  const passwd* user_ = nullptr;
  const std::string tool_ = std::string(BRUMEL_PACKAGE_ROOT) + "/usr/bin/BrumelISP";
  std::string home_, runtime_;
  std::map<std::string, std::string> prefix_;
};

// brumel_share_peer on the sharing area of the test bed's node: 0 when the record held
// `expected`, and `next` was left in it.
int SharePeer(const ToolFolder& folder, unsigned expected, unsigned next) {
  ProcessResult p =
      RunProcess(TargetCommand(GetSettings().sharePeer,
                               {"_dev_hidraw0", std::to_string(expected), std::to_string(next)},
                               folder.Path(), {}),
                 "", DefaultTimeLimit());
  if (p.exitCode != 0) ADD_FAILURE() << "share peer: " << p.err;
  return p.exitCode;
}

TEST_F(InstalledRun, EveryJobOfTheInstalledTool) {
  // Root has used the tool and the device before: the lock file and the sharing area's lock
  // file are root's (0644), and the user's runs open them for reading only.
  RunResult first = RunTool(BenchRequest({"/I", "0"}, std::string()));
  EXPECT_EQ(first.exitCode, 0) << first.Describe();
  EXPECT_EQ(SharePeer(folder_, 0, 0), 0);

  // The usage, as the operator's first try.
  {
    RunSpec request = Installed({"/?"});
    request.wrapper = AsUser(*user_);
    RunResult r = RunTool(request);
    ASSERT_FALSE(r.Crashed()) << r.Describe();
    EXPECT_EQ(r.exitCode, 1) << r.Describe();
    EXPECT_EQ(r.out.rfind("Usage:\n", 0), 0u) << r.Describe();
    EXPECT_EQ(r.out.find("Unable to write"), std::string::npos) << r.Describe();
    CheckNothingLeft("usage");
  }

  // A lighting mode on the emulated controller. While the tool waits for the key, its run's file
  // is in the user's private folder, root's copy is refused by the user's lock, and the device's
  // sharing area is the one root's processes meet.
  {
    auto tool = StartTool(Installed({"/I", "0", "/ID", "0416A316", "/MODE", "3"}));
    ASSERT_TRUE(tool);
    ASSERT_NE(tool->WaitForText("Press any key", 0, DefaultTimeLimit()), std::string::npos)
        << tool->OutputSoFar();
    const std::string privateFolder = runtime_ + "/brumelisp";
    struct stat st {};
    ASSERT_EQ(lstat(privateFolder.c_str(), &st), 0) << "no private folder";
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_uid, user_->pw_uid);
    EXPECT_TRUE(fs::is_regular_file(privateFolder + "/BrumelISP.ini"));

    RunResult second = RunTool(BenchRequest({"/I", "0"}, std::string()));
    EXPECT_EQ(second.exitCode, 1) << second.Describe();
    EXPECT_EQ(second.out, kSharing) << second.Describe();
    // The area outlives each peer only because the user's run holds it open.
    EXPECT_EQ(SharePeer(folder_, 0, 7), 0);
    EXPECT_EQ(SharePeer(folder_, 7, 9), 0);

    ASSERT_TRUE(tool->Write("k"));
    EXPECT_EQ(tool->Wait(DefaultTimeLimit()), 0) << tool->OutputSoFar();
    EXPECT_EQ(Received().size(), 8u) << tool->OutputSoFar();
    CheckNothingLeft("lighting mode");
  }

  // The two tests and the information display. The colour test gets three wrong keys; the
  // display runs over the I2C link of a graphics adapter this machine lacks.
  struct Job {
    const char* name;
    std::vector<std::string> args;
    std::string scenario, keys;
    int exitCode;  // -1: not looked at
    std::string out;
    std::string received;  // the controller's last report
  };
  const std::vector<Job> jobs{
      {"button test",
       {"/I", "0", "/ID", "0416A316", "/TEST:BUTTON"},
       "[Buttons]\nScript=1:01, 2:02, 3:04, 4:08, 5:10\n",
       "",
       0,
       "Please press button [ 3 ]\n",
       "LED end test"},
      {"colour test",
       {"/I", "0", "/ID", "0416A316", "/TEST:COLOR"},
       "",
       "x\r-",
       1,
       "PLEASE TRY AGAIN (Remaining: 0)\n",
       "LED end test"},
      {"information display", {"/I", "2"}, "", "", -1, "[ Chip - Current]\n", ""},
  };
  for (const Job& job : jobs) {
    SCOPED_TRACE(job.name);
    const std::string log = std::string(job.name) + ".log";
    RunSpec request = Installed(job.args, log, job.scenario);
    request.stdinBytes = job.keys;
    RunResult r = RunTool(request);
    ASSERT_FALSE(r.Crashed()) << r.Describe();
    if (job.exitCode >= 0) {
      EXPECT_EQ(r.exitCode, job.exitCode) << r.Describe();
    }
    EXPECT_NE(r.out.find(job.out), std::string::npos) << r.Describe();
    EXPECT_EQ(r.out.find("Unable to write"), std::string::npos) << r.Describe();
    if (!job.received.empty()) {
      ASSERT_FALSE(Received(log).empty()) << r.Describe();
      EXPECT_EQ(Received(log).back(), job.received) << r.Describe();
    }
    CheckNothingLeft(job.name);
  }

  // `| head -1`: the reader goes after the first line; the run still ends in order.
  {
    RunSpec request = Installed(
        {"-c", "\"$0\" \"$@\" | head -1", tool_, "/I", "0", "/ID", "0416A316", "/MODE", "3"},
        "head.log");
    request.program = "/bin/sh";
    RunResult r = RunTool(request);
    ASSERT_FALSE(r.Crashed()) << r.Describe();
    EXPECT_EQ(r.exitCode, 0) << "head's own code" << r.Describe();
    EXPECT_EQ(r.out, "\n") << r.Describe();
    EXPECT_EQ(Received("head.log").size(), 8u) << r.Describe();
    CheckNothingLeft("| head -1");
  }
}

}  // namespace
}  // namespace e2e
