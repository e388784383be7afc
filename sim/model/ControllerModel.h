// The simulated LED controller: answers ISP packets with their echoes and the scenario's values,
// keeps the LED state the LED reports set, reports scripted button presses, and shows the
// scenario's faults. Transport-free: the substitute libraries and the serial peer hand it the
// 64 bytes they received and deliver what it answers. Not thread-safe; callers lock.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/model/Scenario.h"

namespace brumel::sim {

inline constexpr size_t kPacketBytes = 64;
using Packet = std::array<uint8_t, kPacketBytes>;

// ISP command codes (packet bytes 0-1; the high byte is 0).
enum IspCommand : uint8_t {
  kIspReadConfig = 0xA2,
  kIspSyncPacketNumber = 0xA4,
  kIspReadRomState = 0xA5,
  kIspGetVersion = 0xA6,
  kIspGetRelease = 0xA7,
  kIspGetHardwareVersion = 0xA8,
  kIspGetFeature = 0xA9,
  kIspGetDeviceID = 0xB1,
  kIspGetFlashMode = 0xCA,
};

// LED report commands (first byte after the report id).
enum LedCommand : uint8_t {
  kLedMode = 0x10,
  kLedReadButtons = 0x34,
  kLedClearButton = 0x35,
  kLedTestControl = 0x40,
};

// 16-bit sum of the 64 packet bytes.
uint16_t PacketChecksum(const Packet& packet);

struct Outcome {
  bool received = false;  // false: the device is unplugged; nothing was taken in
  bool reply = false;     // a reply is sent (after delayMs)
  Packet bytes{};         // the reply packet, without a report id
  uint32_t delayMs = 0;
  std::string meaning;  // decoded request for the log, e.g. "ISP GetVersion #19"
  std::string notice;   // what the LEDs now show, for a person watching; empty if unchanged
};

struct Rgb {
  uint8_t red = 0, green = 0, blue = 0;
  bool operator==(const Rgb&) const = default;
};

struct ZoneState {
  uint8_t mode = 0;
  Rgb colour;
  uint8_t param = 0;
  bool operator==(const ZoneState&) const = default;
};

enum class TestState { kIdle, kColour, kButtons };

class ControllerModel {
 public:
  static constexpr int kZones = 8;

  explicit ControllerModel(Scenario scenario);

  // Takes in one packet. `length` bytes are given (at most 64; missing bytes read as 0).
  // `headerOffset` is h of the ISP framing: 4 on USB HID and serial, 2 on GPU I2C.
  Outcome Receive(const uint8_t* packet, size_t length, unsigned headerOffset = 4);

  bool Unplugged() const { return unplugged_; }
  uint32_t ReportsReceived() const { return received_; }
  uint32_t ButtonReads() const { return buttonReads_; }
  TestState Test() const { return test_; }
  Rgb TestColour() const { return testColour_; }
  const ZoneState& Zone(int index) const { return zones_[index]; }
  uint32_t SyncedNumber() const { return syncedNumber_; }

 private:
  void AnswerIsp(const Packet& req, unsigned h, Outcome& out);
  void AnswerLed(const Packet& req, Outcome& out);
  bool FaultApplies(const Packet& req, bool isLed);
  void ApplyFault(const Packet& req, unsigned h, bool isLed, Outcome& out);

  Scenario scenario_;
  uint32_t received_ = 0;
  uint32_t faultMatches_ = 0;
  uint32_t buttonReads_ = 0;
  uint32_t syncedNumber_ = 0;
  bool unplugPending_ = false;
  bool unplugged_ = false;
  TestState test_ = TestState::kIdle;
  Rgb testColour_;
  std::array<ZoneState, kZones> zones_{};
};

}  // namespace brumel::sim
