#include <gtest/gtest.h>

#include "sim/model/Scenario.h"

using brumel::sim::FaultKind;
using brumel::sim::FaultTarget;
using brumel::sim::ParseScenario;
using brumel::sim::Scenario;

namespace {

TEST(SimScenario, EmptyTextIsTheHealthyDefaultController) {
  Scenario s;
  std::string error;
  ASSERT_TRUE(ParseScenario("", s, error)) << error;
  ASSERT_EQ(s.devices.size(), 1u);
  EXPECT_EQ(s.devices[0].vendorId, 0x0416);
  EXPECT_EQ(s.devices[0].productId, 0xA316);
  EXPECT_EQ(s.usageEntries, 2u);
  EXPECT_EQ(s.identity.version, 0x00010203u);
  EXPECT_EQ(s.identity.flashMode, 0x20u);
  EXPECT_TRUE(s.buttons.empty());
  EXPECT_EQ(s.fault.kind, FaultKind::kNone);
  EXPECT_EQ(s.fault.unplugAfter, 0u);
}

TEST(SimScenario, ReadsEverySectionWhateverTheCaseAndOrder) {
  const char* text =
      "\xEF\xBB\xBF; a bench with two controllers\r\n"
      "[fault]\r\n"
      "kind = BadChecksum   ; only GetVersion\n"
      "ApplyTo=a6\n"
      "From=2\nCount=3\nDelayMs=250\nUnplugAfter=9\n"
      "[Device]\n"
      "ProductId2=3F00\n"
      "Count=2\n"
      "VendorId=0x1234\n"
      "ProductId=abcd\n"
      "UsageEntries=1\n"
      "[Identity]\n"
      "Version=F0000012\nRelease=0x2\nHardware=3\nFeature=4\nDeviceId=00235100\n"
      "FlashMode=10\nConfig0=FFFFFF7F\nConfig1=1F000\nLdromWord=FFFFFFFF\nApromWord=0\n"
      "[Buttons]\n"
      "Script=3:04, 5:1,7:FF\n";
  Scenario s;
  std::string error;
  ASSERT_TRUE(ParseScenario(text, s, error)) << error;
  ASSERT_EQ(s.devices.size(), 2u);
  EXPECT_EQ(s.devices[0].vendorId, 0x1234);
  EXPECT_EQ(s.devices[0].productId, 0xABCD);
  EXPECT_EQ(s.devices[1].vendorId, 0x1234);  // the second device takes the first one's vendor
  EXPECT_EQ(s.devices[1].productId, 0x3F00);
  EXPECT_EQ(s.usageEntries, 1u);
  EXPECT_EQ(s.identity.version, 0xF0000012u);
  EXPECT_EQ(s.identity.config1, 0x1F000u);
  EXPECT_EQ(s.identity.ldromWord, 0xFFFFFFFFu);
  EXPECT_EQ(s.identity.apromWord, 0u);
  EXPECT_EQ(s.buttons, (std::map<uint32_t, uint8_t>{{3, 0x04}, {5, 0x01}, {7, 0xFF}}));
  EXPECT_EQ(s.fault.kind, FaultKind::kBadChecksum);
  EXPECT_EQ(s.fault.target, FaultTarget::kCommand);
  EXPECT_EQ(s.fault.command, 0xA6);
  EXPECT_EQ(s.fault.from, 2u);
  EXPECT_EQ(s.fault.count, 3u);
  EXPECT_EQ(s.fault.delayMs, 250u);
  EXPECT_EQ(s.fault.unplugAfter, 9u);
}

// The graphics cards of the substitute display library: by default one card listed as four
// logical adapters; each card's entries in turn, or the order given.
TEST(SimScenario, GraphicsCards) {
  Scenario s;
  std::string error;
  ASSERT_TRUE(ParseScenario("", s, error)) << error;
  ASSERT_EQ(s.display.cards.size(), 1u);
  EXPECT_EQ(s.display.cards[0].bus, 3u);
  EXPECT_EQ(s.display.cards[0].overdrive, 7);
  EXPECT_EQ(s.display.cards[0].i2cLines, (std::vector<int32_t>{1, 4}));
  EXPECT_EQ(s.display.cards[0].i2cAddress, 0x6C);
  EXPECT_EQ(s.display.adapterCards, (std::vector<unsigned>{0, 0, 0, 0}));

  ASSERT_TRUE(
      ParseScenario("[Display]\nCards=2\n[Card1]\nLogicalEntries=2\nOverdrive=8\n"
                    "[Card2]\nBus=10\nUDID=U2\nName=Second\nI2cLines=none\n"
                    "LogicalEntries=1\n[Results]\nadl2_overdrive_caps=-8\n",
                    s, error))
      << error;
  ASSERT_EQ(s.display.cards.size(), 2u);
  EXPECT_EQ(s.display.cards[0].overdrive, 8);
  EXPECT_EQ(s.display.cards[1].bus, 10u);
  EXPECT_EQ(s.display.cards[1].udid, "U2");
  EXPECT_EQ(s.display.cards[1].name, "Second");
  EXPECT_TRUE(s.display.cards[1].i2cLines.empty());
  EXPECT_EQ(s.display.adapterCards, (std::vector<unsigned>{0, 0, 1}));
  EXPECT_EQ(s.display.results, (std::map<std::string, int32_t>{{"ADL2_Overdrive_Caps", -8}}));

  ASSERT_TRUE(ParseScenario("[Display]\nCards=2\nOrder=1, 2 1\n", s, error)) << error;
  EXPECT_EQ(s.display.adapterCards, (std::vector<unsigned>{0, 1, 0}));
  EXPECT_NE(s.display.cards[0].udid, s.display.cards[1].udid);

  ASSERT_TRUE(ParseScenario("[Display]\nCards=0\n", s, error)) << error;
  EXPECT_TRUE(s.display.adapterCards.empty());
}

// What a card's tuning interfaces report: plausible values by default, every one of them from
// its section when given.
TEST(SimScenario, TuningValues) {
  Scenario s;
  std::string error;
  ASSERT_TRUE(ParseScenario("", s, error)) << error;
  const brumel::sim::TuningPlan& d = s.display.cards[0].tuning;
  EXPECT_EQ(d.maxLevels, 8);
  EXPECT_EQ(d.ranges[brumel::sim::kOdnEngineClock],
            (brumel::sim::OdnRange{1, 50000, 250000, 100, 180000}));
  EXPECT_EQ(d.gpuDefault.back(), (brumel::sim::OdnLevel{180000, 1150, 1, 0}));
  EXPECT_EQ(d.memoryDefault.back(), (brumel::sim::OdnLevel{100000, 850, 1, 0}));
  EXPECT_EQ(d.od8[0], (brumel::sim::Od8Feature{800, 2150, 1905, 1905}));
  EXPECT_TRUE(d.results.empty());

  ASSERT_TRUE(
      ParseScenario("[Display]\nCards=2\n"
                    "[Card2.OverdriveN]\nMaxLevels=2\nEngineClock=0, 1, 2, 3, 4\n"
                    "AutoSystemClock=-1,-2,-3,-4,-5\n"
                    "[card2.levels]\nGpuDefault=100:700, 200:800:3:1\nMemoryCurrent=5:6\n"
                    "[Card2.Thermal]\nDomains=2, 1\nFanSpeed=900\nFanFlags=none\n"
                    "[Card2.Fan]\nCurrentFanSpeed=1400\nMinFanLimit=-3\n"
                    "[Card2.Power]\nTDPLimit=20\nMaxOperatingTemperature=80\n"
                    "[Card2.Status]\nCoreClock=1\nVRAMUsage=2\nTemperature=-3\n"
                    "[Card2.Overdrive8]\nCapabilities=0x14\nCount=35\nFeature0=1,2,3\n"
                    "feature28=4,5,6,7\n"
                    "[Card2.PMLog]\nSensors=1:10, 255:-2\n"
                    "[Card2.Results]\nADL2_Overdrive5_FanSpeed_Get=-1 adapter=5 from=3 count=2\n"
                    "ADL2_OverdriveN_PowerLimit_Get=-8\n",
                    s, error))
      << error;
  const brumel::sim::TuningPlan& t = s.display.cards[1].tuning;
  EXPECT_EQ(t.maxLevels, 2);
  EXPECT_EQ(t.ranges[brumel::sim::kOdnEngineClock], (brumel::sim::OdnRange{0, 1, 2, 3, 4}));
  EXPECT_EQ(t.ranges[brumel::sim::kOdnAutoSystemClock],
            (brumel::sim::OdnRange{-1, -2, -3, -4, -5}));
  EXPECT_EQ(t.gpuDefault, (std::vector<brumel::sim::OdnLevel>{{100, 700, 1, 0}, {200, 800, 3, 1}}));
  EXPECT_EQ(t.memoryCurrent, (std::vector<brumel::sim::OdnLevel>{{5, 6, 1, 0}}));
  EXPECT_EQ(t.thermalDomains, (std::vector<int32_t>{2, 1}));
  EXPECT_EQ(t.fanSpeeds, (std::vector<int32_t>{900}));
  EXPECT_TRUE(t.fanFlags.empty());
  EXPECT_EQ(t.fanControl[3], 1400);
  EXPECT_EQ(t.fanControl[7], -3);
  EXPECT_EQ(t.tdpLimit, 20);
  EXPECT_EQ(t.maxOperatingTemperature, 80);
  EXPECT_EQ(t.coreClock, 1);
  EXPECT_EQ(t.vramUsage, 2);
  EXPECT_EQ(t.temperature, -3);
  EXPECT_EQ(t.od8Capabilities, 0x14);
  EXPECT_EQ(t.od8Count, 35);
  EXPECT_EQ(t.od8[0], (brumel::sim::Od8Feature{1, 2, 3, 3}));
  EXPECT_EQ(t.od8[28], (brumel::sim::Od8Feature{4, 5, 6, 7}));
  EXPECT_EQ(t.pmLog, (std::map<int, int32_t>{{1, 10}, {255, -2}}));
  ASSERT_EQ(t.results.size(), 2u);
  EXPECT_EQ(t.results[0].entryPoint, "ADL2_Overdrive5_FanSpeed_Get");
  EXPECT_EQ(t.results[0].result, -1);
  EXPECT_EQ(t.results[0].adapter, 5);
  EXPECT_EQ(t.results[0].from, 3u);
  EXPECT_EQ(t.results[0].count, 2u);
  EXPECT_EQ(t.results[1].adapter, -1);
  EXPECT_EQ(t.results[1].from, 1u);
  EXPECT_EQ(t.results[1].count, 0u);
  EXPECT_EQ(s.display.cards[0].tuning.maxLevels, 8);  // the other card keeps its values
}

TEST(SimScenario, RejectsWhatDoesNotReadWithTheLineNamed) {
  struct Case {
    const char* text;
    const char* expected;  // part of the message
  };
  const Case cases[] = {
      {"[Device]\nVendorId=10000\n", "line 2: VendorId=10000"},
      {"[Device]\nVendorId=0416\nvendorid=0416\n", "line 3: key \"vendorid\" given twice"},
      {"[Device]\nCount=3\n", "expected 1 or 2"},
      {"[Device]\nProductId2=3F00\n", "need Count=2"},
      {"[Identity]\nVersion=123456789\n", "32-bit"},
      {"[Identity]\nVersion=\n", "32-bit"},
      {"[Identity]\nColour=1\n", "unknown key \"Colour\""},
      {"[Lights]\n", "unknown section [Lights]"},
      {"Version=1\n", "line 1: key \"Version\" outside any section"},
      {"[Identity\n", "without \"]\""},
      {"[Identity]\njust text\n", "line 2: expected Key=Value"},
      {"[Buttons]\nScript=0:01\n", "\"0:01\" is not N:BITS"},
      {"[Buttons]\nScript=3:100\n", "\"3:100\" is not N:BITS"},
      {"[Buttons]\nScript=3\n", "\"3\" is not N:BITS"},
      {"[Buttons]\nScript=3:01,3:02\n", "scripted twice"},
      {"[Fault]\nKind=slow\n", "expected none, noreply"},
      {"[Fault]\nApplyTo=usb\n", "expected all, isp, led"},
      {"[Fault]\nFrom=0\n", "from 1"},
      {"[Fault]\nDelayMs=-5\n", "decimal number"},
      {"[Fault]\nUnplugAfter=0x10\n", "decimal number"},
      {"[Card2]\nBus=4\n", "[Card2] needs Cards=2"},
      {"[Card5]\n", "unknown section [Card5]"},
      {"[Display]\nCards=2\nOrder=1,3\n", "Order names card 3"},
      {"[Display]\nOrder=1,1\n[Card1]\nLogicalEntries=2\n", "either Order"},
      {"[Display]\nOrder=\n", "card numbers"},
      {"[Card1]\nBus=256\n", "0 to 255"},
      {"[Card1]\nUDID=\n", "1 to 256 characters"},
      {"[Card1]\nLogicalEntries=0\n", "1 to 16"},
      {"[Card1]\nI2cLines=1,x\n", "\"x\" is not a line"},
      {"[Card1]\nI2cAddress=FF\n", "00 to FE"},
      {"[Card1]\nBus=3\n[card1]\nbus=4\n", "given twice"},
      {"[Results]\nADL2_Main_Control_Crate=-1\n", "not an entry point"},
      {"[Results]\nADL2_Overdrive_Caps=x\n", "result code"},
      {"[Card1.Lights]\n", "unknown section [Card1.Lights]"},
      {"[Card1.]\n", "unknown section [Card1.]"},
      {"[Card2.Fan]\nMode=1\n", "[Card2] needs Cards=2"},
      {"[Card1.OverdriveN]\nEngineClock=1,2,3,4\n", "expected 5 numbers"},
      {"[Card1.Levels]\nGpuDefault=100\n", "clock:voltage"},
      {"[Card1.Thermal]\nDomains=1,x\n", "\"x\" is not a decimal number"},
      {"[Card1.Overdrive8]\nFeature29=1,2,3\n", "unknown key \"Feature29\""},
      {"[Card1.Overdrive8]\nFeature3=1,2\n", "minimum, maximum, default"},
      {"[Card1.Overdrive8]\nFeature3=1,2,3\nfeature3=1,2,3\n", "given twice"},
      {"[Card1.PMLog]\nSensors=256:1\n", "INDEX:VALUE"},
      {"[Card1.Results]\nADL2_Overdrive_Caps=-1 from=0\n", "from 1"},
      {"[Card1.Results]\nADL2_Overdrive_Caps=-1 every=2\n", "adapter=N"},
      {"[Card1.Results]\nADL2_Overdrive_Caps=-1 adapter=4\n", "adapter 4 is not one"},
      {"[Card1.Results]\nADL2_Overdrive_Caps=-1\nADL2_Overdrive_Caps=-2\n", "given twice"},
  };
  for (const Case& c : cases) {
    Scenario s;
    std::string error;
    EXPECT_FALSE(ParseScenario(c.text, s, error)) << c.text;
    EXPECT_NE(error.find(c.expected), std::string::npos) << c.text << " -> " << error;
  }
}

}  // namespace
