// The serial link on a pseudo-terminal: our own pair where the test plays the far end byte by
// byte, and the simulator's serial peer for a whole conversation with the channel.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>

#include "common/TestSupport.h"
#include "isp/ISPLdCMD.h"
#include "sim/model/SerialPeer.h"
#include "transport/UartIO.h"

namespace brumel {
namespace {

using test::Clock;
using test::ElapsedMs;

// A pseudo-terminal pair. The test keeps a slave descriptor of its own (opened before the port
// is, so that the port's exclusive open does not keep it out) to see what arrived on the line.
class PtyPair {
 public:
  PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    const char* name = ptsname(master_);
    if (!name) return;
    slavePath_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    // Start the line raw so that the bytes written by the test arrive unchanged.
    termios t{};
    if (slave_ >= 0 && tcgetattr(slave_, &t) == 0) {
      cfmakeraw(&t);
      tcsetattr(slave_, TCSANOW, &t);
    }
  }
  ~PtyPair() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  bool Ok() const { return master_ >= 0 && slave_ >= 0; }
  int Master() const { return master_; }
  int Slave() const { return slave_; }
  const std::string& SlavePath() const { return slavePath_; }

  // Reads exactly n bytes from the master side within timeoutMs.
  bool ReadMaster(uint8_t* buf, size_t n, int timeoutMs) {
    size_t got = 0;
    auto start = Clock::now();
    while (got < n) {
      pollfd p{master_, POLLIN, 0};
      int left = timeoutMs - static_cast<int>(ElapsedMs(start));
      if (left <= 0 || poll(&p, 1, left) <= 0) return false;
      ssize_t r = read(master_, buf + got, n - got);
      if (r <= 0) return false;
      got += static_cast<size_t>(r);
    }
    return true;
  }
  bool WriteMaster(const uint8_t* buf, size_t n) {
    return write(master_, buf, n) == static_cast<ssize_t>(n);
  }
  // Waits until the slave side holds input (bytes written on the master are passed on by the
  // kernel a moment later).
  bool SlaveHasInput(int timeoutMs) {
    pollfd p{slave_, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

TEST(UartPtyTest, OpenSetsTheLine) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  // Start from a cooked line at another speed with parity.
  termios before{};
  ASSERT_EQ(tcgetattr(pty.Slave(), &before), 0);
  before.c_lflag |= ICANON | ECHO;
  before.c_cflag |= PARENB | CSTOPB;
  before.c_cflag = (before.c_cflag & ~CSIZE) | CS7;
  cfsetispeed(&before, B9600);
  cfsetospeed(&before, B9600);
  ASSERT_EQ(tcsetattr(pty.Slave(), TCSANOW, &before), 0);

  CUartIO uart;
  ASSERT_TRUE(uart.OpenPort(pty.SlavePath()));
  termios t{};
  ASSERT_EQ(tcgetattr(pty.Slave(), &t), 0);
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);  // raw
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON | ISTRIP), 0u);
}

TEST(UartPtyTest, PortIsNotShared) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  CUartIO first;
  CUartIO second;
  ASSERT_TRUE(first.OpenPort(pty.SlavePath()));
  EXPECT_FALSE(second.OpenPort(pty.SlavePath()));
  first.ClosePort();
  EXPECT_TRUE(second.OpenPort(pty.SlavePath()));
}

TEST(UartPtyTest, WriteDiscardsStaleBytesAndReadGetsTheReply) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  CUartIO uart;
  ASSERT_TRUE(uart.OpenPort(pty.SlavePath()));

  // A late reply to an earlier request is waiting on the line.
  uint8_t stale[64];
  std::memset(stale, 0xEE, sizeof(stale));
  ASSERT_TRUE(pty.WriteMaster(stale, sizeof(stale)));
  ASSERT_TRUE(pty.SlaveHasInput(1000));

  uint8_t request[64] = {0xA6, 0, 0, 0, 18};
  uint32_t count = 0;
  ASSERT_TRUE(uart.Write(request, sizeof(request), &count, 1000));
  EXPECT_EQ(count, 64u);
  uint8_t seen[64];
  ASSERT_TRUE(pty.ReadMaster(seen, sizeof(seen), 1000));
  EXPECT_EQ(0, std::memcmp(seen, request, 64));  // bare packet bytes

  uint8_t reply[64] = {0xB8, 0, 0, 0, 19};
  reply[8] = 0x42;
  ASSERT_TRUE(pty.WriteMaster(reply, sizeof(reply)));
  uint8_t got[64] = {};
  ASSERT_TRUE(uart.Read(got, sizeof(got), &count, 1000));
  EXPECT_EQ(count, 64u);
  EXPECT_EQ(0, std::memcmp(got, reply, 64));
}

TEST(UartPtyTest, MissingOrShortReplyFailsAfterTheCallersTimeout) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  CUartIO uart;
  ASSERT_TRUE(uart.OpenPort(pty.SlavePath()));
  uint8_t got[64];
  uint32_t count = 99;
  auto start = Clock::now();
  EXPECT_FALSE(uart.Read(got, sizeof(got), &count, 300));
  long ms = ElapsedMs(start);
  EXPECT_EQ(count, 0u);
  EXPECT_GE(ms, 295);
  EXPECT_LT(ms, 1000);

  // Half a reply: still a failure after the timeout, with the count of what came.
  uint8_t half[32] = {1, 2, 3};
  ASSERT_TRUE(pty.WriteMaster(half, sizeof(half)));
  start = Clock::now();
  EXPECT_FALSE(uart.Read(got, sizeof(got), &count, 300));
  ms = ElapsedMs(start);
  EXPECT_EQ(count, 32u);
  EXPECT_GE(ms, 295);
  EXPECT_LT(ms, 1000);
}

TEST(UartPtyTest, WritesFailOnceThePortIsClosed) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  CUartIO uart;
  ASSERT_TRUE(uart.OpenPort(pty.SlavePath()));
  uint8_t packet[64] = {0xA6};
  EXPECT_TRUE(uart.Write(packet, sizeof(packet), nullptr, 1000));
  uart.ClosePort();
  EXPECT_FALSE(uart.Write(packet, sizeof(packet), nullptr, 1000));
}

// A line that hangs up (a USB serial adapter pulled out) ends a read at once, not when its time
// is up: the hung-up line reports itself readable and gives 0 bytes for ever.
TEST(UartPtyTest, AHungUpLineEndsTheReadAtOnce) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  CUartIO uart;
  ASSERT_TRUE(uart.OpenPort(pty.SlavePath()));
  if (ioctl(pty.Slave(), TIOCVHANGUP) != 0) GTEST_SKIP() << "no right to hang a line up here";
  uint8_t got[64];
  uint32_t count = 99;
  auto start = Clock::now();
  EXPECT_FALSE(uart.Read(got, sizeof(got), &count, 3000));
  EXPECT_LT(ElapsedMs(start), 500);
  EXPECT_EQ(count, 0u);
  start = Clock::now();
  EXPECT_FALSE(uart.Write(got, sizeof(got), &count, 3000));
  EXPECT_LT(ElapsedMs(start), 500);
}

TEST(UartPtyTest, ChannelQueriesOverTheSimulatedSerialPeer) {
  sim::Scenario scenario;
  scenario.identity.version = 0x01020304;
  scenario.identity.deviceId = 0x00235101;
  scenario.identity.config0 = 0xFFFFFF7E;
  scenario.identity.config1 = 0x0001E000;
  sim::SerialPeer peer(scenario);
  ASSERT_TRUE(peer.Ok()) << peer.Error();

  ISPLdCMD ch;
  ch.SetInterface(ISPLdCMD::kSerial, peer.SlavePath());
  ASSERT_TRUE(ch.Connect(0));
  EXPECT_TRUE(ch.SyncPacketNumber());
  EXPECT_EQ(ch.GetVersion(), 0x01020304u);
  EXPECT_EQ(ch.GetRelease(), scenario.identity.release);
  EXPECT_EQ(ch.GetHardwareVersion(), scenario.identity.hardware);
  EXPECT_EQ(ch.GetFeature(), scenario.identity.feature);
  EXPECT_EQ(ch.GetDeviceID(), 0x00235101u);
  EXPECT_EQ(ch.GetFlashMode(), scenario.identity.flashMode);
  uint32_t area[4] = {};
  EXPECT_TRUE(ch.ReadConfig(area));
  EXPECT_EQ(area[0], 0xFFFFFF7Eu);
  EXPECT_EQ(area[1], 0x0001E000u);
  EXPECT_TRUE(ch.ReadRomState(area));
  EXPECT_EQ(area[0], scenario.identity.ldromWord);
  EXPECT_EQ(area[1], scenario.identity.apromWord);
  EXPECT_EQ(peer.PacketsReceived(), 9u);
  EXPECT_EQ(ch.GetPacketNumber(), 19u);  // 1, then + 2 for the sync and each of the 8 queries

  // Raw LED reports are USB HID only.
  uint8_t report[65] = {0x00, 0x40};
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(ch.SendCommand(report));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "SendCommand Interface Fail\n");

  ch.Disconnect();
  EXPECT_EQ(ch.GetVersion(), 0u);  // the port is closed: the send fails
}

}  // namespace
}  // namespace brumel
