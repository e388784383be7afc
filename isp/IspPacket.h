// ISP packet framing: requests carry a command, a packet number and a payload; a reply is taken
// only when it echoes the request's checksum and the number after the request's.
//
// Request (h = header offset, 4 on USB HID and serial, 2 on GPU I2C; little-endian):
//   0-1 command, 2..h-1 zero, h..h+1 low 16 bits of the packet number, h+2..2h-1 zero,
//   2h.. payload (at most 64 - 2h bytes), rest zero.
// Reply: 0-1 checksum echo, h..h+1 packet-number echo, 2h.. payload.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace brumel {

inline constexpr size_t kIspPacketBytes = 64;

// The payload room of a packet with header offset h.
constexpr size_t IspPayloadRoom(unsigned headerOffset) {
  return kIspPacketBytes - 2 * headerOffset;
}

// Fills the 64 bytes of packet with a request. The payload (may be null) is cut to the payload
// room. Returns the payload bytes placed.
size_t BuildRequestPacket(uint8_t* packet, uint16_t command, uint32_t packetNumber,
                          const void* payload, size_t length, unsigned headerOffset);

// Sum of the 64 packet bytes, modulo 65536.
uint16_t ChecksumOf(const uint8_t* packet);

// Whether a reply of `received` packet bytes answers the request whose checksum was
// lastChecksum, packetNumber being the channel's counter after that request was sent. The number
// echo is compared with the low 16 bits of packetNumber - 1, so the check keeps working after the
// counter passes 65536.
bool AcceptReply(const uint8_t* packet, size_t received, unsigned headerOffset,
                 uint16_t lastChecksum, uint32_t packetNumber, bool checkNumber);
// Why AcceptReply refuses such a reply, in words: too short, the packet-number echo or the
// checksum echo against what was expected. Empty when it accepts it.
std::string RejectedReplyReason(const uint8_t* packet, size_t received, unsigned headerOffset,
                                uint16_t lastChecksum, uint32_t packetNumber, bool checkNumber);

}  // namespace brumel
