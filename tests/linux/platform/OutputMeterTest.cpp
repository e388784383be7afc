// The output meter against a real sound server of its own (a private PulseAudio with a null
// output), and against one that never answers.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "common/TestSupport.h"
#include "linux/common/SoundServer.h"
#include "platform/Audio.h"

namespace brumel {
namespace {

using test::Clock;
using test::ElapsedMs;
using test::SoundServer;

// Sets PULSE_SERVER for the life of the object.
class ServerVariable {
 public:
  explicit ServerVariable(const std::string& value) { setenv("PULSE_SERVER", value.c_str(), 1); }
  ~ServerVariable() { unsetenv("PULSE_SERVER"); }
};

template <typename Check>
bool Within(int ms, Check check) {
  const auto start = Clock::now();
  while (ElapsedMs(start) < ms) {
    if (check()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return check();
}

TEST(OutputMeter, FollowsTheMuteStateAndNeverWaitsForTheServer) {
  if (!SoundServer::Installed()) GTEST_SKIP() << "no sound server here (package pulseaudio)";
  SoundServer server;
  ASSERT_TRUE(server.Up());
  ServerVariable variable(server.Address());

  std::unique_ptr<plat::AudioMeter> meter = plat::OpenOutputMeter();
  ASSERT_TRUE(meter);
  EXPECT_FALSE(meter->IsMuted());
  ASSERT_TRUE(server.SetMuted(true));
  EXPECT_TRUE(Within(1000, [&] { return meter->IsMuted(); }));
  ASSERT_TRUE(server.SetMuted(false));
  EXPECT_TRUE(Within(1000, [&] { return !meter->IsMuted(); }));
  const float peak = meter->PeakValue();
  EXPECT_GE(peak, 0.0f);
  EXPECT_LE(peak, 1.0f);

  // A look never waits for the server: a thousand of them take well under a second.
  auto start = Clock::now();
  for (int i = 0; i < 1000; ++i) meter->IsMuted();
  EXPECT_LT(ElapsedMs(start), 500);

  // Closing never waits for the server either (the figure against the mode's 50 ms target is
  // the operator bench's).
  start = Clock::now();
  meter.reset();
  EXPECT_LT(ElapsedMs(start), 1000);
}

// A server that takes the connection and never answers: opening the meter gives up after its
// bound instead of hanging the music mode.
TEST(OutputMeter, AServerThatNeverAnswersIsGivenUpOn) {
  test::TempFolder dir;
  const std::string path = dir.File("silent.sock");
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  ServerVariable variable("unix:" + path);

  const auto start = Clock::now();
  EXPECT_FALSE(plat::OpenOutputMeter());
  EXPECT_LT(ElapsedMs(start), 5000);
  close(listener);
}

}  // namespace
}  // namespace brumel
