// LED reports: plain 65-byte HID output reports (byte 0 the report id 0, byte 1 the command),
// sent over the controller's USB HID link without ISP framing. Every byte a builder does not
// set is 0.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace brumel {

inline constexpr size_t kLedReportBytes = 65;
using LedReport = std::array<uint8_t, kLedReportBytes>;

// Commands (byte 1).
inline constexpr uint8_t kLedModeCommand = 0x10;
inline constexpr uint8_t kLedTestControlCommand = 0x40;
inline constexpr uint8_t kLedReadButtonsCommand = 0x34;
inline constexpr uint8_t kLedClearButtonCommand = 0x35;

inline constexpr int kZoneCount = 8;
inline constexpr uint8_t kMusicMode = 0x06;

// The three forms of the lighting-mode report:
//   zone:      byte 3 the zone (0-7), byte 10 = 0
//   all zones: byte 3 = 0,            byte 10 = 1
//   music:     byte 3 = 4,            byte 10 = 0, byte 11 the sound level (0-100)
enum class ModeForm { kZone, kAllZones, kMusic };

struct LightingMode {
  uint8_t mode = 0;
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  uint8_t param = 0;
};

// Lighting mode (0x10): bytes 4-8 mode, red, green, blue, param; byte 9 = 0xFF. `zone` is used
// by the zone form only, `level` by the music form only.
LedReport LightingModeReport(ModeForm form, const LightingMode& m, uint8_t zone = 0,
                             uint8_t level = 0);

// Test control (0x40): byte 3 = 1, byte 4 the action, bytes 5-7 the colour of "set colour".
enum class TestAction : uint8_t { kEndTest = 0x00, kSetColour = 0x01, kEnterButtonTest = 0x02 };
LedReport TestControlReport(TestAction action, uint8_t red = 0, uint8_t green = 0,
                            uint8_t blue = 0);

// Read buttons (0x34) and clear button (0x35): byte 3 = 5.
LedReport ReadButtonsReport();
LedReport ClearButtonReport();

// Buttons of the controller, in the order of their bits in the read-buttons reply.
inline constexpr int kButtonCount = 5;
inline constexpr const char* kButtonNames[kButtonCount] = {"+", "-", "1", "2", "3"};

// The button byte of a read-buttons reply as the channel delivers it (report id first): byte 8,
// bit k set while button k is pressed; 0 means no button.
inline uint8_t ButtonBitsOf(const LedReport& reply) { return reply[8]; }

// The one button a button byte names: its index (0-4) when exactly one button bit is set and
// no other bit, else -1 (no button, several at once, or unknown bits).
int SingleButtonIndex(uint8_t bits);

// Sends one report through ControllerChannel with its send-and-read exchange; the reply is
// read into a scratch buffer and dropped. Nothing is sent while there is no channel. True when
// the controller took the report (the send succeeded).
bool SendLedReport(const LedReport& report);

// A lighting mode: one all-zones report when allZones is not 0, else one report per zone 0-7
// in order. A failed exchange does not stop the remaining reports. True when every report was
// sent; reportsSent (may be null) gets how many were, of ModeReportCount(allZones).
bool SendModePackets(uint8_t mode, uint8_t red, uint8_t green, uint8_t blue, uint8_t param,
                     uint8_t allZones, int* reportsSent = nullptr);
inline int ModeReportCount(uint8_t allZones) { return allZones != 0 ? 1 : kZoneCount; }

}  // namespace brumel
