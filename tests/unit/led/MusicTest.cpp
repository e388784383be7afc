// The music loop with a scripted meter at the platform seam.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "isp/ChipLink.h"
#include "isp/ISPLdCMD.h"
#include "led/Music.h"

namespace brumel {
namespace {

// Gives the scripted peaks one per pass and clears MusicRunning after the last one.
class ScriptedMeter : public plat::AudioMeter {
 public:
  ScriptedMeter(std::vector<float> peaks, bool muted) : peaks_(std::move(peaks)), muted_(muted) {}
  bool IsMuted() override {
    if (muted_ && ++mutedLooks_ >= 3) MusicRunning = false;
    return muted_;
  }
  float PeakValue() override {
    const float p = peaks_.at(next_++);
    if (next_ == peaks_.size()) MusicRunning = false;
    return p;
  }

 private:
  std::vector<float> peaks_;
  size_t next_ = 0;
  bool muted_;
  int mutedLooks_ = 0;
};

class MusicLoop : public ::testing::Test {
 protected:
  void SetUp() override { SetControllerChannel(nullptr); }
  void TearDown() override {
    SetMeterFactory({});
    MusicRunning = false;
  }

  // Runs the thread procedure on a thread of its own, as the run flow does.
  uint32_t RunThread(std::string& out) {
    uint32_t code = 99;
    MusicRunning = true;
    ::testing::internal::CaptureStdout();
    std::thread t([&] { code = MusicThread(nullptr); });
    t.join();
    std::fflush(stdout);
    out = ::testing::internal::GetCapturedStdout();
    return code;
  }
};

TEST(MusicLevelOf, PeakTimesHundredWithTheFractionCutOff) {
  struct Case {
    float peak;
    int level;
  };
  for (const Case& c :
       {Case{0.0f, 0}, Case{1.0f, 100}, Case{0.999f, 99}, Case{0.5f, 50}, Case{0.0099f, 0},
        Case{-0.2f, 0}, Case{1.7f, 100}, Case{std::numeric_limits<float>::quiet_NaN(), 0}}) {
    EXPECT_EQ(MusicLevel(c.peak), c.level) << "peak " << c.peak;
  }
}

TEST_F(MusicLoop, PrintsOneLevelPerPassAndEndsWhenTheFlagIsCleared) {
  SetMeterFactory([] {
    return std::make_unique<ScriptedMeter>(std::vector<float>{0.0f, 1.0f, 0.999f}, false);
  });
  std::string out;
  EXPECT_EQ(RunThread(out), 0u);
  EXPECT_EQ(out, "Main_Volume: 0\nMain_Volume: 100\nMain_Volume: 99\nMusic Thread Exit\n");
}

TEST_F(MusicLoop, MutedOutputPrintsNothingButTheExit) {
  SetMeterFactory([] { return std::make_unique<ScriptedMeter>(std::vector<float>{}, true); });
  std::string out;
  EXPECT_EQ(RunThread(out), 0u);
  EXPECT_EQ(out, "Music Thread Exit\n");
}

TEST_F(MusicLoop, NoAudioInterfacesEndTheThreadWithOneAndNothingPrinted) {
  SetMeterFactory([] { return std::unique_ptr<plat::AudioMeter>(); });
  std::string out;
  EXPECT_EQ(RunThread(out), 1u);
  EXPECT_EQ(out, "");
}

TEST_F(MusicLoop, AClearedFlagStopsAThreadThatIsAlreadyRunning) {
  // A meter that never stops the loop by itself: only the flag does.
  class Endless : public plat::AudioMeter {
    bool IsMuted() override { return false; }
    float PeakValue() override { return 0.25f; }
  };
  SetMeterFactory([] { return std::make_unique<Endless>(); });
  uint32_t code = 99;
  MusicRunning = true;
  ::testing::internal::CaptureStdout();
  std::thread t([&] { code = MusicThread(nullptr); });
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  MusicRunning = false;
  t.join();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(code, 0u);
  EXPECT_NE(out.find("Main_Volume: 25\n"), std::string::npos);
  EXPECT_EQ(out.substr(out.size() - 18), "Music Thread Exit\n");
}

// A muted pass sleeps its 10 ms as well: the loop never spins while nothing is sent.
TEST_F(MusicLoop, MutedPassesSleepToo) {
  // Muted for 100 ms of passes, then the flag is cleared.
  class Muted : public plat::AudioMeter {
   public:
    explicit Muted(int* looks) : looks_(looks) {}
    bool IsMuted() override {
      ++*looks_;
      if (std::chrono::steady_clock::now() - start_ >= std::chrono::milliseconds(100)) {
        MusicRunning = false;
      }
      return true;
    }
    float PeakValue() override { return 0.5f; }

   private:
    int* looks_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  };
  int looks = 0;
  SetMeterFactory([&] { return std::make_unique<Muted>(&looks); });
  std::string out;
  EXPECT_EQ(RunThread(out), 0u);
  EXPECT_EQ(out, "Music Thread Exit\n");
  EXPECT_GE(looks, 3);
  EXPECT_LE(looks, 15) << "about one pass per 10 ms";
}

// The platform's own meter, where this machine has one (a sound library, a server, an output).
TEST(PlatformAudio, TheDefaultOutputsMeterIsInRange) {
  std::unique_ptr<plat::AudioMeter> meter = plat::OpenOutputMeter();
  if (!meter) GTEST_SKIP() << "no audio output on this machine (sound library, server or device)";
  meter->IsMuted();
  const float peak = meter->PeakValue();
  EXPECT_GE(peak, 0.0f);
  EXPECT_LE(peak, 1.0f);
}

// A file that is not there plays nothing, and stopping (twice) returns at once.
TEST(PlatformAudio, AMissingFilePlaysNothingAndStopsAtOnce) {
  const auto start = std::chrono::steady_clock::now();
  plat::StartAudioPlayback("no-such-folder/music.mp3");
  plat::StopAudioPlayback();
  plat::StopAudioPlayback();
  // Bounded for a stop that waits on nothing; wide enough for a first sound-library load.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
}

}  // namespace
}  // namespace brumel
