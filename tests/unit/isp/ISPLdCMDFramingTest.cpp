#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "isp/IspPacket.h"

namespace brumel {
namespace {

using Packet = std::array<uint8_t, kIspPacketBytes>;

Packet Build(uint16_t command, uint32_t number, const std::vector<uint8_t>& payload, unsigned h,
             size_t* placed = nullptr) {
  Packet p;
  p.fill(0xEE);  // every byte must be written
  size_t n = BuildRequestPacket(p.data(), command, number,
                                payload.empty() ? nullptr : payload.data(), payload.size(), h);
  if (placed) *placed = n;
  return p;
}

TEST(IspPacketTest, RequestBytes) {
  size_t placed = 0;
  Packet p = Build(0xA6, 0x12345, {0x11, 0x22, 0x33}, 4, &placed);
  Packet want{};
  want[0] = 0xA6;
  want[4] = 0x45;  // low 16 bits of the number, little-endian
  want[5] = 0x23;
  want[8] = 0x11;
  want[9] = 0x22;
  want[10] = 0x33;
  EXPECT_EQ(p, want);
  EXPECT_EQ(placed, 3u);

  // Header offset 2 (GPU I2C): number at 2-3, payload from 4.
  p = Build(0xA4, 1, {1, 0, 0, 0}, 2);
  want.fill(0);
  want[0] = 0xA4;
  want[2] = 0x01;
  want[4] = 0x01;
  EXPECT_EQ(p, want);
}

TEST(IspPacketTest, PayloadIsCutToTheRoom) {
  std::vector<uint8_t> payload(70);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i + 1);
  struct Case {
    unsigned h;
    size_t room;
  } cases[] = {{4, 56}, {2, 60}};
  for (const Case& c : cases) {
    size_t placed = 0;
    Packet p = Build(0xA0, 3, payload, c.h, &placed);
    EXPECT_EQ(placed, c.room) << c.h;
    for (size_t i = 0; i < c.room; ++i) ASSERT_EQ(p[2 * c.h + i], payload[i]) << i;
  }
  // A null payload places nothing, whatever the length says.
  Packet p;
  EXPECT_EQ(BuildRequestPacket(p.data(), 0xA6, 18, nullptr, 40, 4), 0u);
  EXPECT_EQ(p[8], 0);
}

TEST(IspPacketTest, ChecksumIsTheByteSumOverAllSixtyFourBytes) {
  Packet p{};
  EXPECT_EQ(ChecksumOf(p.data()), 0);
  p[0] = 0xA6;
  p[4] = 0x12;
  p[63] = 0x01;  // the last byte counts
  EXPECT_EQ(ChecksumOf(p.data()), 0xA6 + 0x12 + 1);
  p.fill(0xFF);  // 64 * 255 = 16320: no wrap
  EXPECT_EQ(ChecksumOf(p.data()), 16320);
  // A request as the channel builds it: A6, number 18.
  p = Build(0xA6, 18, {}, 4);
  EXPECT_EQ(ChecksumOf(p.data()), 0xA6 + 18);
}

TEST(IspPacketTest, ReplyAcceptance) {
  // Reply to a request with checksum 0x00B8, sent with number 18 (counter now 20): echo 19.
  auto reply = [](uint16_t sum, uint16_t number) {
    Packet r{};
    r[0] = static_cast<uint8_t>(sum);
    r[1] = static_cast<uint8_t>(sum >> 8);
    r[4] = static_cast<uint8_t>(number);
    r[5] = static_cast<uint8_t>(number >> 8);
    return r;
  };
  // The reason a refused reply is logged with; "" for an accepted one.
  struct Case {
    const char* what;
    Packet packet;
    size_t received;
    uint32_t counter;
    bool checkNumber;
    bool accepted;
    const char* reason;
  } cases[] = {
      {"matching", reply(0xB8, 19), 64, 20, true, true, ""},
      {"header only", reply(0xB8, 19), 8, 20, true, true, ""},
      {"short reply", reply(0xB8, 19), 7, 20, true, false, "short: 7 bytes, at least 8 expected"},
      {"nothing read", reply(0xB8, 19), 0, 20, false, false, "short: 0 bytes, at least 8 expected"},
      {"wrong checksum echo", reply(0xB9, 19), 64, 20, true, false,
       "checksum echo 0x00B9, 0x00B8 expected"},
      {"checksum high byte", reply(0x1B8, 19), 64, 20, true, false,
       "checksum echo 0x01B8, 0x00B8 expected"},
      {"wrong number echo", reply(0xB8, 18), 64, 20, true, false,
       "packet number echo 0x0012, 0x0013 expected"},
      {"number not checked (sync)", reply(0xB8, 77), 64, 20, false, true, ""},
      {"wrong checksum, number not checked", reply(0xB7, 19), 64, 20, false, false,
       "checksum echo 0x00B7, 0x00B8 expected"},
      {"after a sync: echo 4", reply(0xB8, 4), 64, 5, true, true, ""},
      // Past 65536 the echo is the low 16 bits of the counter minus one.
      {"counter 0x10005", reply(0xB8, 4), 64, 0x10005, true, true, ""},
      {"counter 0x10005, full number", reply(0xB8, 0x0004), 64, 0x20005, true, true, ""},
      {"counter 0x10000: echo FFFF", reply(0xB8, 0xFFFF), 64, 0x10000, true, true, ""},
      {"counter 0x10000: echo 0", reply(0xB8, 0), 64, 0x10000, true, false,
       "packet number echo 0x0000, 0xFFFF expected"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AcceptReply(c.packet.data(), c.received, 4, 0xB8, c.counter, c.checkNumber),
              c.accepted)
        << c.what;
    EXPECT_EQ(RejectedReplyReason(c.packet.data(), c.received, 4, 0xB8, c.counter, c.checkNumber),
              c.reason)
        << c.what;
  }
  // Header offset 2: number echo at 2-3, at least 4 bytes.
  Packet r{};
  r[0] = 0x10;
  r[2] = 0x04;
  EXPECT_TRUE(AcceptReply(r.data(), 4, 2, 0x10, 5, true));
  EXPECT_FALSE(AcceptReply(r.data(), 3, 2, 0x10, 5, true));
}

}  // namespace
}  // namespace brumel
