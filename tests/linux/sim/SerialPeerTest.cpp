// The serial peer answers on a pseudo-terminal as the tool's serial transport sees it: the
// slave side opened raw at 115200 8N1, 64 bare bytes each way.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "SimTestSupport.h"
#include "sim/model/SerialPeer.h"

using brumel::sim::Packet;
using brumel::sim::Scenario;
using brumel::sim::SerialPeer;

namespace {

int OpenRaw(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  ::cfsetispeed(&tio, B115200);
  ::cfsetospeed(&tio, B115200);
  tio.c_cflag |= CLOCAL | CREAD;
  ::tcsetattr(fd, TCSANOW, &tio);
  return fd;
}

// Reads up to `want` bytes within `timeoutMs`; returns the count, or -1 when the line failed.
int ReadWithin(int fd, uint8_t* out, size_t want, int timeoutMs) {
  size_t have = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (have < want) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    const ssize_t n = ::read(fd, out + have, want - have);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return have ? static_cast<int>(have) : -1;
    have += static_cast<size_t>(n);
  }
  return static_cast<int>(have);
}

TEST(SimSerialPeer, AnswersEachPacketOnThePseudoTerminal) {
  Scenario s;
  s.identity.deviceId = 0x00AB12CD;
  SerialPeer peer(s);
  ASSERT_TRUE(peer.Ok()) << peer.Error();
  const int fd = OpenRaw(peer.SlavePath());
  ASSERT_GE(fd, 0);
  for (uint16_t number : {19, 21}) {
    const Packet query = simtest::IspRequest(0xB1, number);
    // Written in two pieces: the peer collects 64 bytes before it answers.
    ASSERT_EQ(::write(fd, query.data(), 10), 10);
    ASSERT_EQ(::write(fd, query.data() + 10, 54), 54);
    uint8_t reply[64] = {};
    ASSERT_EQ(ReadWithin(fd, reply, sizeof reply, 2000), 64);
    EXPECT_EQ(simtest::Word16(reply), brumel::sim::PacketChecksum(query));
    EXPECT_EQ(simtest::Word16(reply + 4), number + 1);
    EXPECT_EQ(simtest::Word32(reply + 8), 0x00AB12CDu);
  }
  EXPECT_EQ(peer.PacketsReceived(), 2u);
  ::close(fd);
}

TEST(SimSerialPeer, NoReplyStaysSilentAndUnplugHangsTheLineUp) {
  Scenario s;
  s.fault.kind = brumel::sim::FaultKind::kNoReply;
  s.fault.count = 1;
  s.fault.unplugAfter = 2;
  SerialPeer peer(s);
  ASSERT_TRUE(peer.Ok()) << peer.Error();
  const int fd = OpenRaw(peer.SlavePath());
  ASSERT_GE(fd, 0);
  uint8_t reply[64] = {};

  Packet query = simtest::IspRequest(0xA6, 19);
  ASSERT_EQ(::write(fd, query.data(), query.size()), 64);
  EXPECT_EQ(ReadWithin(fd, reply, sizeof reply, 300), 0);

  query = simtest::IspRequest(0xA6, 21);
  ASSERT_EQ(::write(fd, query.data(), query.size()), 64);
  EXPECT_EQ(ReadWithin(fd, reply, sizeof reply, 2000), 64);

  query = simtest::IspRequest(0xA6, 23);
  ASSERT_EQ(::write(fd, query.data(), query.size()), 64);
  EXPECT_EQ(ReadWithin(fd, reply, sizeof reply, 2000), -1);  // the line is hung up
  EXPECT_TRUE(peer.HungUp());
  ::close(fd);
}

}  // namespace
