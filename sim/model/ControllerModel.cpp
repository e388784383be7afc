#include "sim/model/ControllerModel.h"

#include <algorithm>
#include <cstdio>

namespace brumel::sim {

namespace {

std::string Hex2(uint8_t v) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", v);
  return text;
}

std::string ColourText(const Rgb& c) {
  return Hex2(c.red) + " " + Hex2(c.green) + " " + Hex2(c.blue);
}

void Put16(Packet& p, size_t at, uint16_t v) {
  p[at] = static_cast<uint8_t>(v & 0xFF);
  p[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(Packet& p, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) p[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint16_t Get16(const Packet& p, size_t at) {
  return static_cast<uint16_t>(p[at] | (p[at + 1] << 8));
}

uint32_t Get32(const Packet& p, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v |= static_cast<uint32_t>(p[at + i]) << (8 * i);
  return v;
}

bool IsLedCommand(uint8_t code) {
  return code == kLedMode || code == kLedReadButtons || code == kLedClearButton ||
         code == kLedTestControl;
}

const char* IspName(uint8_t code) {
  switch (code) {
    case kIspReadConfig:
      return "ReadConfig";
    case kIspSyncPacketNumber:
      return "SyncPacketNumber";
    case kIspReadRomState:
      return "ReadRomState";
    case kIspGetVersion:
      return "GetVersion";
    case kIspGetRelease:
      return "GetRelease";
    case kIspGetHardwareVersion:
      return "GetHardwareVersion";
    case kIspGetFeature:
      return "GetFeature";
    case kIspGetDeviceID:
      return "GetDeviceID";
    case kIspGetFlashMode:
      return "GetFlashMode";
    default:
      return nullptr;
  }
}

}  // namespace

uint16_t PacketChecksum(const Packet& packet) {
  uint32_t sum = 0;
  for (uint8_t b : packet) sum += b;
  return static_cast<uint16_t>(sum);
}

ControllerModel::ControllerModel(Scenario scenario) : scenario_(std::move(scenario)) {}

Outcome ControllerModel::Receive(const uint8_t* packet, size_t length, unsigned headerOffset) {
  Outcome out;
  if (unplugPending_) unplugged_ = true;
  if (unplugged_) return out;
  out.received = true;
  ++received_;

  Packet req{};
  std::copy_n(packet, std::min(length, kPacketBytes), req.begin());
  const unsigned h = headerOffset == 2 ? 2 : 4;
  const bool isLed = req[1] == 0 && IsLedCommand(req[0]);
  if (isLed)
    AnswerLed(req, out);
  else
    AnswerIsp(req, h, out);
  if (FaultApplies(req, isLed)) ApplyFault(req, h, isLed, out);

  if (scenario_.fault.unplugAfter != 0 && received_ >= scenario_.fault.unplugAfter) {
    unplugPending_ = true;
    out.meaning += " [unplugged after this]";
  }
  return out;
}

void ControllerModel::AnswerIsp(const Packet& req, unsigned h, Outcome& out) {
  const uint16_t code = Get16(req, 0);
  const uint16_t number = Get16(req, h);
  const char* name = code <= 0xFF ? IspName(static_cast<uint8_t>(code)) : nullptr;
  out.meaning = name ? std::string("ISP ") + name
                     : "ISP command " + Hex2(static_cast<uint8_t>(code >> 8)) +
                           Hex2(static_cast<uint8_t>(code));
  out.meaning += " #" + std::to_string(number);

  out.reply = true;
  Put16(out.bytes, 0, PacketChecksum(req));
  Put16(out.bytes, h, static_cast<uint16_t>(number + 1));
  const size_t payload = 2 * h;
  const Identity& id = scenario_.identity;
  switch (code) {
    case kIspSyncPacketNumber:
      syncedNumber_ = Get32(req, payload);
      break;
    case kIspGetVersion:
      Put32(out.bytes, payload, id.version);
      break;
    case kIspGetRelease:
      Put32(out.bytes, payload, id.release);
      break;
    case kIspGetHardwareVersion:
      Put32(out.bytes, payload, id.hardware);
      break;
    case kIspGetFeature:
      Put32(out.bytes, payload, id.feature);
      break;
    case kIspGetDeviceID:
      Put32(out.bytes, payload, id.deviceId);
      break;
    case kIspGetFlashMode:
      Put32(out.bytes, payload, id.flashMode);
      break;
    case kIspReadConfig:
      Put32(out.bytes, payload, id.config0);
      Put32(out.bytes, payload + 4, id.config1);
      break;
    case kIspReadRomState:
      Put32(out.bytes, payload, id.ldromWord);
      Put32(out.bytes, payload + 4, id.apromWord);
      break;
    default:
      break;  // unknown commands get the echoes and an empty payload
  }
}

void ControllerModel::AnswerLed(const Packet& req, Outcome& out) {
  // The reply to an LED report is the report itself, with the button bits filled in for a
  // read-buttons report (reply byte 7, byte 8 when the report id is counted).
  out.reply = true;
  out.bytes = req;
  switch (req[0]) {
    case kLedMode: {
      const uint8_t zone = req[2];
      const bool allZones = req[9] != 0;
      const ZoneState state{req[3], Rgb{req[4], req[5], req[6]}, req[7]};
      const std::string what = "mode " + Hex2(state.mode) + " colour " + ColourText(state.colour) +
                               " param " + Hex2(state.param);
      out.meaning = std::string("LED mode ") +
                    (allZones ? std::string("all zones") : "zone " + std::to_string(zone)) + " " +
                    what;
      if (state.mode == 6) out.meaning += " level " + std::to_string(req[10]);
      bool changed = false;
      for (int z = 0; z < kZones; ++z) {
        if ((allZones || z == zone) && zones_[z] != state) {
          zones_[z] = state;
          changed = true;
        }
      }
      if (changed) {
        out.notice = std::string("LED ") +
                     (allZones ? std::string("all zones") : "zone " + std::to_string(zone)) + " " +
                     what;
      }
      break;
    }
    case kLedTestControl: {
      const uint8_t action = req[3];
      if (action == 0) {
        out.meaning = "LED end test";
        if (test_ != TestState::kIdle) out.notice = "LED test ended";
        test_ = TestState::kIdle;
        testColour_ = Rgb{};
      } else if (action == 1) {
        const Rgb colour{req[4], req[5], req[6]};
        out.meaning = "LED set colour " + ColourText(colour);
        if (test_ != TestState::kColour || colour != testColour_)
          out.notice = "LED colour " + ColourText(colour);
        test_ = TestState::kColour;
        testColour_ = colour;
      } else if (action == 2) {
        out.meaning = "LED enter button test";
        if (test_ != TestState::kButtons) out.notice = "LED button test";
        test_ = TestState::kButtons;
      } else {
        out.meaning = "LED test control action " + Hex2(action);
      }
      break;
    }
    case kLedReadButtons: {
      ++buttonReads_;
      const auto it = scenario_.buttons.find(buttonReads_);
      const uint8_t bits = it == scenario_.buttons.end() ? 0 : it->second;
      out.bytes[7] = bits;
      out.meaning = "LED read buttons -> " + Hex2(bits);
      break;
    }
    case kLedClearButton:
      out.meaning = "LED clear button";
      break;
  }
}

bool ControllerModel::FaultApplies(const Packet& req, bool isLed) {
  const FaultPlan& f = scenario_.fault;
  if (f.kind == FaultKind::kNone && f.delayMs == 0) return false;
  bool matches = false;
  switch (f.target) {
    case FaultTarget::kAll:
      matches = true;
      break;
    case FaultTarget::kIsp:
      matches = !isLed;
      break;
    case FaultTarget::kLed:
      matches = isLed;
      break;
    case FaultTarget::kCommand:
      matches = req[0] == f.command && req[1] == 0;
      break;
  }
  if (!matches) return false;
  ++faultMatches_;
  if (faultMatches_ < f.from) return false;
  return f.count == 0 || faultMatches_ - f.from < f.count;
}

void ControllerModel::ApplyFault(const Packet& req, unsigned h, bool isLed, Outcome& out) {
  const FaultPlan& f = scenario_.fault;
  switch (f.kind) {
    case FaultKind::kNone:
      break;
    case FaultKind::kNoReply:
      out.reply = false;
      out.meaning += " [no reply]";
      break;
    case FaultKind::kBadChecksum:
      if (!isLed) {
        Put16(out.bytes, 0, static_cast<uint16_t>(PacketChecksum(req) + 1));
        out.meaning += " [bad checksum echo]";
      }
      break;
    case FaultKind::kBadNumber:
      if (!isLed) {
        Put16(out.bytes, h, Get16(req, h));  // the request's own number, not the next one
        out.meaning += " [bad number echo]";
      }
      break;
    case FaultKind::kGarbage: {
      uint32_t x = 0x9E3779B9u * received_ + 0x7F4A7C15u;
      for (uint8_t& b : out.bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
      }
      const uint16_t sum = PacketChecksum(req);
      if (Get16(out.bytes, 0) == sum) Put16(out.bytes, 0, static_cast<uint16_t>(sum ^ 0xFFFF));
      out.meaning += " [garbage reply]";
      break;
    }
  }
  if (f.delayMs != 0 && out.reply) {
    out.delayMs = f.delayMs;
    out.meaning += " [reply after " + std::to_string(f.delayMs) + " ms]";
  }
}

}  // namespace brumel::sim
