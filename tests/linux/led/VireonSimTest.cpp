// The operator tests and the music loop against the simulated controller: the reports they send
// and the button replies they act on, read back from the simulator's log.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "isp/ChipLink.h"
#include "isp/ISPLdCMD.h"
#include "isp/RunOptions.h"
#include "led/Music.h"
#include "led/Vireonrun.h"
#include "linux/sim/SimTestSupport.h"

namespace brumel {
namespace {

constexpr uint32_t kControllerId = 0x0416A316;

class TestsOnSim : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.Ok());
    log_ = dir_.File("sim.log");
    setenv("BRUMEL_SIM_LOG", log_.c_str(), 1);
    TVireon::ResetState();
    TVireon::SetPollWait([this](unsigned ms) {
      waits_.push_back(ms);
      if (waitKeys_.empty()) return -1;
      const int key = waitKeys_.front();
      waitKeys_.erase(waitKeys_.begin());
      return key;
    });
  }
  void TearDown() override {
    SetControllerChannel(nullptr);
    TVireon::SetPollWait({});
    TVireon::SetKeySource({});
    TVireon::ResetState();
    SetMeterFactory({});
    MusicRunning = false;
    unsetenv("BRUMEL_SIM_SCENARIO");
    unsetenv("BRUMEL_SIM_LOG");
  }

  // Opens the channel on the simulated controller with the given scenario text.
  void Connect(const std::string& scenario = "") {
    setenv("BRUMEL_SIM_SCENARIO", dir_.Write("scenario.ini", scenario).c_str(), 1);
    auto channel = std::make_unique<ISPLdCMD>();
    channel->SetInterface(ISPLdCMD::kUsbHid);
    ASSERT_TRUE(channel->Connect(kControllerId));
    SetControllerChannel(std::move(channel));
  }

  // What the controller received: the decoded meaning of each LED report, in order.
  std::vector<std::string> Received() const {
    std::vector<std::string> out;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) {
      const size_t bar = line.find(" | ");
      if (bar != std::string::npos && line.compare(bar + 3, 4, "LED ") == 0)
        out.push_back(line.substr(bar + 3));
    }
    return out;
  }
  std::vector<std::string> RawLines() const {
    std::vector<std::string> out;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }

  static std::string Quietly(const std::function<void()>& run) {
    ::testing::internal::CaptureStdout();
    run();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
  }

  simtest::ScratchDir dir_;
  std::string log_;
  std::vector<unsigned> waits_;
  std::vector<int> waitKeys_;  // the key each wait between polls gives (then none)
};

// ---- colour test ------------------------------------------------------------------------------

TEST_F(TestsOnSim, FourColourRoundsSetEachColourOnceThenTheTestEnds) {
  Connect();
  uint8_t before = 0;
  TVireon::SetKeySource([&] {
    const uint8_t fresh = static_cast<uint8_t>(TVireon::TestedColors & ~before);
    for (int c = 0; c < kColorCount; ++c)
      if (fresh == (1u << c)) return '0' + TVireon::ColorToDigit.at(c);
    return -1;
  });
  uint32_t seed = 100;
  TVireon::SetSeedSource([&] { return seed; });
  Quietly([&] {
    for (int round = 0; round < 4; ++round, ++seed) {
      before = TVireon::TestedColors;
      EXPECT_TRUE(GetVireon()->ColorTest(0, 3)) << "round " << round;
    }
    GetVireon()->EndTest();
  });
  TVireon::SetSeedSource({});

  std::vector<std::string> got = Received();
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got.back(), "LED end test");
  got.pop_back();
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"LED set colour 00 00 FF", "LED set colour 00 FF 00",
                                           "LED set colour FF 00 00", "LED set colour FF FF FF"}));
}

TEST_F(TestsOnSim, AColourRoundOverAnotherInterfaceLightsNothing) {
  Connect();
  TVireon::SetKeySource([] { return -1; });
  Quietly([] { EXPECT_FALSE(GetVireon()->ColorTest(1, 3)); });
  EXPECT_TRUE(Received().empty());
  EXPECT_EQ(TVireon::LastInterface, 1);
}

// ---- button test ------------------------------------------------------------------------------

struct ButtonCase {
  const char* name;
  const char* script;  // n-th read-buttons report -> button bits
  bool passes;
  std::vector<std::string> received;
  std::vector<unsigned> waits;
  std::vector<int> retryCounts;
};

TEST_F(TestsOnSim, ButtonRoundJudgesTheReportedPresses) {
  const std::string enter = "LED enter button test";
  const std::string clear = "LED clear button";
  const std::vector<ButtonCase> cases{
      {"right press at once", "1:01", true, {enter, "LED read buttons -> 01", clear}, {}, {}},
      {"button 1 instead of +",
       "1:04, 2:01",
       true,
       {enter, "LED read buttons -> 04", clear, "LED read buttons -> 01", clear},
       {1000},
       {2}},
      {"two buttons at once, three times",
       "1:05, 2:03, 3:05",
       false,
       {enter, "LED read buttons -> 05", clear, "LED read buttons -> 03", clear,
        "LED read buttons -> 05", clear},
       {1000, 1000},
       {2, 1, 0}},
      {"no press for two polls",
       "3:01",
       true,
       {enter, "LED read buttons -> 00", "LED read buttons -> 00", "LED read buttons -> 01", clear},
       {1000, 1000},
       {}},
  };
  for (const ButtonCase& c : cases) {
    SCOPED_TRACE(c.name);
    TVireon::ResetState();
    waits_.clear();
    std::remove(log_.c_str());
    Connect(std::string("[Buttons]\nScript=") + c.script + "\n");
    bool passed = !c.passes;
    const std::string out = Quietly([&] { passed = GetVireon()->ButtonTest(0, 3); });
    EXPECT_EQ(passed, c.passes);
    EXPECT_EQ(Received(), c.received);
    EXPECT_EQ(waits_, c.waits);
    std::string retries;
    for (int n : c.retryCounts)
      retries += "PLEASE TRY AGAIN (Remaining: " + std::to_string(n) + ")\n";
    EXPECT_EQ(out.substr(out.find("Please press button [ + ]\n") + 26), retries);
    EXPECT_EQ(TVireon::ButtonIndex, 1);
    SetControllerChannel(nullptr);
  }
}

// Esc between two polls ends the round at once, as aborted; any other key is ignored.
TEST_F(TestsOnSim, EscBetweenPollsLeavesTheButtonRound) {
  Connect();
  waitKeys_ = {'x', '1', kEscapeKey, 'y'};
  bool passed = true;
  const std::string out = Quietly([&] { passed = GetVireon()->ButtonTest(0, 3); });
  EXPECT_FALSE(passed);
  EXPECT_EQ(TVireon::LastRoundEnd, TRoundEnd::Aborted);
  EXPECT_EQ(TVireon::LastAsked, "button [ + ]");
  EXPECT_EQ(waits_.size(), 3u);
  const std::vector<std::string> got = Received();
  EXPECT_EQ(std::count(got.begin(), got.end(), "LED read buttons -> 00"), 3);
  EXPECT_EQ(out.find("PLEASE TRY AGAIN"), std::string::npos) << out;
  EXPECT_EQ(TVireon::ButtonIndex, 1);
}

TEST_F(TestsOnSim, FiveRightPressesPassFiveRoundsAndStartOver) {
  Connect("[Buttons]\nScript=1:01, 2:02, 3:04, 4:08, 5:10\n");
  Quietly([] {
    for (int round = 0; round < 5; ++round) EXPECT_TRUE(GetVireon()->ButtonTest(0, 3));
  });
  EXPECT_EQ(TVireon::ButtonIndex, 0);
  EXPECT_TRUE(waits_.empty());
}

// ---- music loop -------------------------------------------------------------------------------

class FixedMeter : public plat::AudioMeter {
 public:
  FixedMeter(std::vector<float> peaks, int mutedPasses)
      : peaks_(std::move(peaks)), mutedPasses_(mutedPasses) {}
  bool IsMuted() override { return mutedPasses_-- > 0; }
  float PeakValue() override {
    const float p = peaks_.at(next_++);
    if (next_ == peaks_.size()) MusicRunning = false;
    return p;
  }

 private:
  std::vector<float> peaks_;
  size_t next_ = 0;
  int mutedPasses_;
};

TEST_F(TestsOnSim, MusicReportsCarryTheLevelInTheMusicForm) {
  Connect();
  RunOptionsRecord& o = RunOptions();
  const RunOptionsRecord saved = o;
  o.Red = 0x12;
  o.Green = 0x34;
  o.Blue = 0x56;
  o.Param = 0x20;
  o.AllZones = 1;  // plays no part in the music form
  // Two passes muted (nothing sent), then silence, full scale and 0.999.
  SetMeterFactory([] {
    return std::make_unique<FixedMeter>(std::vector<float>{0.0f, 1.0f, 0.999f}, 2);
  });
  uint32_t code = 99;
  const std::string out = Quietly([&] {
    MusicRunning = true;
    std::thread t([&] { code = MusicThread(nullptr); });
    t.join();
  });
  o.Red = saved.Red;
  o.Green = saved.Green;
  o.Blue = saved.Blue;
  o.Param = saved.Param;
  o.AllZones = saved.AllZones;

  EXPECT_EQ(code, 0u);
  EXPECT_EQ(out, "Main_Volume: 0\nMain_Volume: 100\nMain_Volume: 99\nMusic Thread Exit\n");
  const std::vector<std::string> lines = RawLines();
  ASSERT_EQ(lines.size(), 3u);
  const char* levels[] = {"00", "64", "63"};
  for (size_t i = 0; i < 3; ++i) {
    // Report id, command 0x10, zone 4, mode 6, the "/MODE" colour and parameter, 0xFF, 0, level.
    EXPECT_EQ(lines[i].substr(0, 35), std::string("00 10 00 04 06 12 34 56 20 FF 00 ") + levels[i])
        << lines[i];
  }
}

TEST_F(TestsOnSim, NoAudioInterfacesSendNothing) {
  Connect();
  SetMeterFactory([] { return std::unique_ptr<plat::AudioMeter>(); });
  MusicRunning = true;
  uint32_t code = MusicThread(nullptr);
  EXPECT_EQ(code, 1u);
  EXPECT_TRUE(RawLines().empty());
}

}  // namespace
}  // namespace brumel
