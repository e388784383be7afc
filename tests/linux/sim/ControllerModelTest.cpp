#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "sim/model/ControllerModel.h"
#include "sim/model/Scenario.h"

using brumel::sim::ControllerModel;
using brumel::sim::FaultKind;
using brumel::sim::FaultTarget;
using brumel::sim::Outcome;
using brumel::sim::Packet;
using brumel::sim::PacketChecksum;
using brumel::sim::Scenario;
using brumel::sim::TestState;
using simtest::IspRequest;
using simtest::Word16;
using simtest::Word32;

namespace {

Scenario DistinctIdentity() {
  Scenario s;
  s.identity = {0x11111111, 0x22222222, 0x33333333, 0x44444444, 0x55555555,
                0x00000010, 0x66666666, 0x77777777, 0xFFFFFFFF, 0x00000000};
  return s;
}

Outcome Send(ControllerModel& model, const Packet& p, unsigned h = 4) {
  return model.Receive(p.data(), p.size(), h);
}

// An LED report's 64 bytes (the report id is not part of them).
Packet Led(std::initializer_list<uint8_t> head) {
  Packet p{};
  std::copy(head.begin(), head.end(), p.begin());
  return p;
}

TEST(SimControllerModel, AnswersEveryQueryWithEchoesAndTheScenarioValues) {
  struct Case {
    uint16_t code;
    const char* name;
    uint32_t first;
    uint32_t second;  // the second payload word (0 for the 4-byte queries)
  };
  const Case cases[] = {
      {0xA6, "GetVersion", 0x11111111, 0},          {0xA7, "GetRelease", 0x22222222, 0},
      {0xA8, "GetHardwareVersion", 0x33333333, 0},  {0xA9, "GetFeature", 0x44444444, 0},
      {0xB1, "GetDeviceID", 0x55555555, 0},         {0xCA, "GetFlashMode", 0x10, 0},
      {0xA2, "ReadConfig", 0x66666666, 0x77777777}, {0xA5, "ReadRomState", 0xFFFFFFFF, 0},
  };
  for (unsigned h : {4u, 2u}) {  // USB HID and serial frame with h = 4, GPU I2C with h = 2
    ControllerModel model(DistinctIdentity());
    uint16_t number = 0xFFFD;  // the echo wraps at 16 bits
    for (const Case& c : cases) {
      const Packet req = IspRequest(c.code, number, h);
      const Outcome out = Send(model, req, h);
      ASSERT_TRUE(out.received);
      ASSERT_TRUE(out.reply) << c.name;
      EXPECT_EQ(Word16(&out.bytes[0]), PacketChecksum(req)) << c.name;
      EXPECT_EQ(Word16(&out.bytes[h]), static_cast<uint16_t>(number + 1)) << c.name;
      EXPECT_EQ(Word32(&out.bytes[2 * h]), c.first) << c.name;
      EXPECT_EQ(Word32(&out.bytes[2 * h + 4]), c.second) << c.name;
      EXPECT_EQ(out.meaning, std::string("ISP ") + c.name + " #" + std::to_string(number));
      number = static_cast<uint16_t>(number + 2);
    }
  }
}

TEST(SimControllerModel, SyncAndUnknownCommandsAreEchoedWithoutPayload) {
  ControllerModel model{Scenario{}};
  const Packet sync = IspRequest(0xA4, 1, 4, 1);
  Outcome out = Send(model, sync);
  EXPECT_EQ(out.meaning, "ISP SyncPacketNumber #1");
  EXPECT_EQ(Word16(&out.bytes[0]), PacketChecksum(sync));
  EXPECT_EQ(Word16(&out.bytes[4]), 2);
  EXPECT_EQ(model.SyncedNumber(), 1u);

  const Packet odd = IspRequest(0xA0, 3);
  out = Send(model, odd);
  EXPECT_EQ(out.meaning, "ISP command 00A0 #3");
  EXPECT_EQ(Word16(&out.bytes[0]), PacketChecksum(odd));
  EXPECT_EQ(Word16(&out.bytes[4]), 4);
  EXPECT_EQ(Word32(&out.bytes[8]), 0u);
}

TEST(SimControllerModel, DecodesLedReportsAndKeepsTheirState) {
  ControllerModel model{Scenario{}};
  Outcome out = Send(model, Led({0x10, 0x00, 0x02, 0x03, 0xFF, 0x00, 0x00, 0x50, 0xFF, 0x00}));
  EXPECT_EQ(out.meaning, "LED mode zone 2 mode 03 colour FF 00 00 param 50");
  EXPECT_EQ(out.notice, "LED zone 2 mode 03 colour FF 00 00 param 50");
  EXPECT_EQ(model.Zone(2).colour, (brumel::sim::Rgb{0xFF, 0, 0}));
  EXPECT_EQ(model.Zone(1).mode, 0);
  // The same state again shows nothing new.
  out = Send(model, Led({0x10, 0x00, 0x02, 0x03, 0xFF, 0x00, 0x00, 0x50, 0xFF, 0x00}));
  EXPECT_EQ(out.notice, "");

  out = Send(model, Led({0x10, 0x00, 0x00, 0x03, 0x00, 0x00, 0xFF, 0x10, 0xFF, 0x01}));
  EXPECT_EQ(out.meaning, "LED mode all zones mode 03 colour 00 00 FF param 10");
  for (int z = 0; z < ControllerModel::kZones; ++z) EXPECT_EQ(model.Zone(z).colour.blue, 0xFF);

  out = Send(model, Led({0x10, 0x00, 0x04, 0x06, 0, 0, 0, 0, 0xFF, 0x00, 37}));
  EXPECT_EQ(out.meaning, "LED mode zone 4 mode 06 colour 00 00 00 param 00 level 37");

  out = Send(model, Led({0x40, 0x00, 0x01, 0x01, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(out.meaning, "LED set colour FF FF FF");
  EXPECT_EQ(out.notice, "LED colour FF FF FF");
  EXPECT_EQ(model.Test(), TestState::kColour);
  // Every LED report is answered with itself.
  EXPECT_TRUE(out.reply);
  EXPECT_EQ(out.bytes, Led({0x40, 0x00, 0x01, 0x01, 0xFF, 0xFF, 0xFF}));

  out = Send(model, Led({0x40, 0x00, 0x01, 0x02}));
  EXPECT_EQ(out.meaning, "LED enter button test");
  EXPECT_EQ(model.Test(), TestState::kButtons);
  out = Send(model, Led({0x35, 0x00, 0x05, 0x00}));
  EXPECT_EQ(out.meaning, "LED clear button");
  out = Send(model, Led({0x40, 0x00, 0x01, 0x00}));
  EXPECT_EQ(out.meaning, "LED end test");
  EXPECT_EQ(out.notice, "LED test ended");
  EXPECT_EQ(model.Test(), TestState::kIdle);
}

TEST(SimControllerModel, ButtonScriptPressesOnTheNthReadButtonsReport) {
  Scenario s;
  s.buttons = {{3, 0x04}, {5, 0x01}};
  ControllerModel model(s);
  const Packet read = Led({0x34, 0x00, 0x05, 0x00});
  const uint8_t expected[] = {0, 0, 0x04, 0, 0x01, 0};
  for (uint8_t bits : expected) {
    // Other reports between the polls do not count.
    Send(model, Led({0x35, 0x00, 0x05, 0x00}));
    const Outcome out = Send(model, read);
    ASSERT_TRUE(out.reply);
    EXPECT_EQ(out.bytes[7], bits);  // byte 8 of the report when the report id is counted
    EXPECT_EQ(out.meaning, std::string("LED read buttons -> ") + (bits == 4   ? "04"
                                                                  : bits == 1 ? "01"
                                                                              : "00"));
  }
  EXPECT_EQ(model.ButtonReads(), 6u);
}

TEST(SimControllerModel, FaultsChangeTheRepliesTheyApplyTo) {
  const Packet version = IspRequest(0xA6, 19);
  const uint16_t sum = PacketChecksum(version);
  struct Case {
    FaultKind kind;
    bool reply;
    bool checksumGood;
    bool numberGood;
    const char* note;
  };
  const Case cases[] = {
      {FaultKind::kNoReply, false, true, true, " [no reply]"},
      {FaultKind::kBadChecksum, true, false, true, " [bad checksum echo]"},
      {FaultKind::kBadNumber, true, true, false, " [bad number echo]"},
      {FaultKind::kGarbage, true, false, false, " [garbage reply]"},
  };
  for (const Case& c : cases) {
    Scenario s;
    s.fault.kind = c.kind;
    ControllerModel model(s);
    const Outcome out = Send(model, version);
    EXPECT_EQ(out.reply, c.reply);
    EXPECT_EQ(out.meaning, std::string("ISP GetVersion #19") + c.note);
    if (!c.reply) continue;
    EXPECT_EQ(Word16(&out.bytes[0]) == sum, c.checksumGood) << c.note;
    if (c.kind != FaultKind::kGarbage) {
      EXPECT_EQ(Word16(&out.bytes[4]) == 20, c.numberGood);
    }
  }
}

TEST(SimControllerModel, FaultWindowCountsOnlyTheReportsItAppliesTo) {
  Scenario s;
  s.fault.kind = FaultKind::kNoReply;
  s.fault.target = FaultTarget::kCommand;
  s.fault.command = 0xA6;
  s.fault.from = 2;
  s.fault.count = 2;
  ControllerModel model(s);
  // GetVersion #1 answered, #2 and #3 not, #4 answered again; GetRelease always answered.
  const bool expected[] = {true, false, false, true};
  for (bool answered : expected) {
    EXPECT_TRUE(Send(model, IspRequest(0xA7, 5)).reply);
    EXPECT_EQ(Send(model, IspRequest(0xA6, 7)).reply, answered);
  }

  Scenario led;
  led.fault.target = FaultTarget::kLed;
  led.fault.delayMs = 300;
  ControllerModel slow(led);
  EXPECT_EQ(Send(slow, IspRequest(0xA6, 7)).delayMs, 0u);
  const Outcome out = Send(slow, Led({0x34, 0x00, 0x05}));
  EXPECT_EQ(out.delayMs, 300u);
  EXPECT_EQ(out.meaning, "LED read buttons -> 00 [reply after 300 ms]");
}

TEST(SimControllerModel, UnplugsAfterTheGivenNumberOfReports) {
  Scenario s;
  s.fault.unplugAfter = 2;
  ControllerModel model(s);
  EXPECT_TRUE(Send(model, IspRequest(0xA4, 1)).received);
  const Outcome second = Send(model, IspRequest(0xA6, 3));
  EXPECT_TRUE(second.received);
  EXPECT_TRUE(second.reply);  // the last report before the unplug is still answered
  EXPECT_FALSE(model.Unplugged());
  const Outcome third = Send(model, IspRequest(0xA7, 5));
  EXPECT_FALSE(third.received);
  EXPECT_FALSE(third.reply);
  EXPECT_TRUE(model.Unplugged());
  EXPECT_EQ(model.ReportsReceived(), 2u);
}

}  // namespace
