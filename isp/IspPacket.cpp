#include "isp/IspPacket.h"

#include <cstdio>
#include <cstring>

namespace brumel {

namespace {

void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>(v >> 8);
}

uint16_t GetLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

size_t BuildRequestPacket(uint8_t* packet, uint16_t command, uint32_t packetNumber,
                          const void* payload, size_t length, unsigned headerOffset) {
  std::memset(packet, 0, kIspPacketBytes);
  size_t room = IspPayloadRoom(headerOffset);
  size_t n = length < room ? length : room;
  PutLe16(packet, command);
  PutLe16(packet + headerOffset, static_cast<uint16_t>(packetNumber & 0xFFFF));
  if (payload && n > 0) {
    std::memcpy(packet + 2 * headerOffset, payload, n);
  } else {
    n = 0;
  }
  return n;
}

uint16_t ChecksumOf(const uint8_t* packet) {
  uint32_t sum = 0;
  for (size_t i = 0; i < kIspPacketBytes; ++i) sum += packet[i];
  return static_cast<uint16_t>(sum & 0xFFFF);
}

bool AcceptReply(const uint8_t* packet, size_t received, unsigned headerOffset,
                 uint16_t lastChecksum, uint32_t packetNumber, bool checkNumber) {
  if (received < 2u * headerOffset) return false;
  if (checkNumber &&
      GetLe16(packet + headerOffset) != static_cast<uint16_t>((packetNumber - 1) & 0xFFFF)) {
    return false;
  }
  return GetLe16(packet) == lastChecksum;
}

std::string RejectedReplyReason(const uint8_t* packet, size_t received, unsigned headerOffset,
                                uint16_t lastChecksum, uint32_t packetNumber, bool checkNumber) {
  char text[96];
  if (received < 2u * headerOffset) {
    std::snprintf(text, sizeof text, "short: %zu bytes, at least %u expected", received,
                  2u * headerOffset);
    return text;
  }
  const auto expectedNumber = static_cast<uint16_t>((packetNumber - 1) & 0xFFFF);
  if (checkNumber && GetLe16(packet + headerOffset) != expectedNumber) {
    std::snprintf(text, sizeof text, "packet number echo 0x%04X, 0x%04X expected",
                  unsigned{GetLe16(packet + headerOffset)}, unsigned{expectedNumber});
    return text;
  }
  if (GetLe16(packet) != lastChecksum) {
    std::snprintf(text, sizeof text, "checksum echo 0x%04X, 0x%04X expected",
                  unsigned{GetLe16(packet)}, unsigned{lastChecksum});
    return text;
  }
  return std::string();
}

}  // namespace brumel
