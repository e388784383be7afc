// The controller channel against the simulated controller, reached the way the tool reaches a
// real one: the HID transport loads the substitute hidapi that sits beside this executable.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/TestSupport.h"
#include "isp/ISPLdCMD.h"
#include "linux/sim/SimTestSupport.h"

namespace brumel {
namespace {

using test::Clock;
using test::ElapsedMs;

constexpr uint32_t kControllerId = 0x0416A316;
constexpr uint32_t kAbsentId = 0x04161234;  // not on the bench: Connect falls back to 0416:A316

const char kIdentity[] =
    "[Identity]\n"
    "Version=0x11223344\n"
    "Release=0x00000105\n"
    "Hardware=0x00000003\n"
    "Feature=0x0000000F\n"
    "DeviceId=0x00235101\n"
    "FlashMode=0x00000020\n"
    "Config0=0xFFFFFF7E\n"
    "Config1=0x0001E000\n"
    "LdromWord=0x12345678\n"
    "ApromWord=0x9ABCDEF0\n";

class ChannelOnSim : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.Ok());
    log_ = dir_.File("sim.log");
    setenv("BRUMEL_SIM_LOG", log_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("BRUMEL_SIM_SCENARIO");
    unsetenv("BRUMEL_SIM_LOG");
  }

  // Takes effect at the next Connect (the simulator re-reads it while no device is open).
  void UseScenario(const std::string& text) {
    setenv("BRUMEL_SIM_SCENARIO", dir_.Write("scenario.ini", text).c_str(), 1);
  }

  // Packet numbers of the ISP requests the controller received, in order.
  std::vector<unsigned> NumbersReceived() const {
    std::vector<unsigned> out;
    std::ifstream in(log_);
    std::string line;
    static const std::regex number(R"(\| ISP .* #(\d+))");
    std::smatch m;
    while (std::getline(in, line)) {
      if (std::regex_search(line, m, number)) out.push_back(std::stoul(m[1]));
    }
    return out;
  }

  simtest::ScratchDir dir_;
  std::string log_;
};

TEST_F(ChannelOnSim, QueriesReturnTheControllersValues) {
  UseScenario(kIdentity);
  ISPLdCMD ch;
  ch.SetInterface(ISPLdCMD::kUsbHid);
  ASSERT_TRUE(ch.Connect(kControllerId));
  EXPECT_EQ(ch.GetOpenedProductId(), ISPLdCMD::kOpenedRequested);  // requested id found first

  EXPECT_TRUE(ch.SyncPacketNumber());
  EXPECT_EQ(ch.GetVersion(), 0x11223344u);
  EXPECT_EQ(ch.GetRelease(), 0x105u);
  EXPECT_EQ(ch.GetHardwareVersion(), 3u);
  EXPECT_EQ(ch.GetFeature(), 0xFu);
  EXPECT_EQ(ch.GetDeviceID(), 0x00235101u);
  EXPECT_EQ(ch.GetFlashMode(), 0x20u);
  uint32_t area[4] = {0, 0, 0xAAAA, 0xBBBB};
  EXPECT_TRUE(ch.ReadConfig(area));
  EXPECT_EQ(area[0], 0xFFFFFF7Eu);
  EXPECT_EQ(area[1], 0x0001E000u);
  EXPECT_EQ(area[2], 0xAAAAu);  // only the first 8 bytes are the reply's
  EXPECT_EQ(area[3], 0xBBBBu);
  EXPECT_TRUE(ch.ReadRomState(area));
  EXPECT_EQ(area[0], 0x12345678u);
  EXPECT_EQ(area[1], 0x9ABCDEF0u);
}

TEST_F(ChannelOnSim, PacketNumbersBeforeAndAfterTheSync) {
  UseScenario(kIdentity);
  ISPLdCMD ch;
  ch.SetInterface(ISPLdCMD::kUsbHid);
  ASSERT_TRUE(ch.Connect(kControllerId));
  EXPECT_EQ(ch.GetPacketNumber(), 18u);
  EXPECT_EQ(ch.GetVersion(), 0x11223344u);  // carried 18, echo 19 accepted
  EXPECT_EQ(ch.GetPacketNumber(), 20u);
  EXPECT_TRUE(ch.SyncPacketNumber());  // carries 1
  EXPECT_EQ(ch.GetPacketNumber(), 3u);
  EXPECT_EQ(ch.GetDeviceID(), 0x00235101u);  // carries 3, echo 4 accepted
  EXPECT_EQ(ch.GetPacketNumber(), 5u);
  EXPECT_EQ(NumbersReceived(), (std::vector<unsigned>{18, 1, 3}));
}

TEST_F(ChannelOnSim, FailedSendDisconnectsAndKeepsTheNumber) {
  // The controller goes away after the first report: the second send fails.
  UseScenario(std::string(kIdentity) + "[Fault]\nUnplugAfter=1\n");
  ISPLdCMD ch;
  ch.SetInterface(ISPLdCMD::kUsbHid);
  ASSERT_TRUE(ch.Connect(kControllerId));
  EXPECT_EQ(ch.GetVersion(), 0x11223344u);
  EXPECT_EQ(ch.GetPacketNumber(), 20u);
  EXPECT_EQ(ch.GetVersion(), 0u);
  EXPECT_EQ(ch.GetPacketNumber(), 20u);
  EXPECT_FALSE(ch.IsConnected());
  EXPECT_EQ(ch.GetHid().GetDeviceCount(), 0u);
  // Later transfers fail at once until the next Connect.
  auto start = Clock::now();
  EXPECT_FALSE(ch.WritePacket(0xA6, nullptr, 0, 5000));
  EXPECT_FALSE(ch.ReadPacket(nullptr, 0, 5000, true));
  EXPECT_LT(ElapsedMs(start), 1000);
}

TEST_F(ChannelOnSim, FailedConfigAndRomQueriesFillTheAreaWithOnes) {
  // Every ISP reply carries a wrong checksum echo; under the requested id that fails at once.
  UseScenario(std::string(kIdentity) + "[Fault]\nKind=badchecksum\nApplyTo=isp\n");
  ISPLdCMD ch;
  ch.SetInterface(ISPLdCMD::kUsbHid);
  ASSERT_TRUE(ch.Connect(kControllerId));
  uint32_t area[4] = {1, 2, 3, 4};
  EXPECT_FALSE(ch.ReadConfig(area));
  for (uint32_t w : area) EXPECT_EQ(w, 0xFFFFFFFFu);
  uint32_t rom[4] = {1, 2, 3, 4};
  EXPECT_FALSE(ch.ReadRomState(rom));
  for (uint32_t w : rom) EXPECT_EQ(w, 0xFFFFFFFFu);
  EXPECT_EQ(ch.GetVersion(), 0u);
  EXPECT_TRUE(ch.IsConnected());  // a rejected reply does not disconnect

  // A failed send fills as well.
  ch.Disconnect();
  uint32_t unsent[4] = {1, 2, 3, 4};
  EXPECT_FALSE(ch.ReadConfig(unsent));
  for (uint32_t w : unsent) EXPECT_EQ(w, 0xFFFFFFFFu);
}

TEST_F(ChannelOnSim, RawReportsPutReplyByteIAtOutIPlusOne) {
  UseScenario(std::string(kIdentity) + "[Buttons]\nScript=1:04\n");
  ISPLdCMD ch;
  ch.SetInterface(ISPLdCMD::kUsbHid);
  ASSERT_TRUE(ch.Connect(kControllerId));

  // Read-buttons report: the controller echoes it with the button bits in reply byte 7.
  uint8_t report[65] = {0x00, 0x34};
  report[63] = 0xAB;  // reply byte 62: the last one delivered
  report[64] = 0xCD;  // reply byte 63: not delivered
  uint8_t out[65];
  std::fill(std::begin(out), std::end(out), 0x5A);
  uint32_t length = 99;
  EXPECT_TRUE(ch.SendCommand(report, 65));
  EXPECT_TRUE(ch.ReadReply(out, &length));
  EXPECT_EQ(length, 64u);
  EXPECT_EQ(out[0], 0x00);  // report id
  EXPECT_EQ(out[1], 0x34);  // reply byte 0
  EXPECT_EQ(out[8], 0x04);  // reply byte 7: button bits
  EXPECT_EQ(out[63], 0xAB);
  EXPECT_EQ(out[64], 0x5A);  // untouched

  // The combined exchange: set-colour report, echoed.
  uint8_t colour[65] = {0x00, 0x40, 0x00, 0x01, 0x01, 0xFF, 0x00, 0x00};
  uint8_t reply[65] = {};
  length = 0;
  ch.SendAndRead(colour, reply, &length);
  EXPECT_EQ(length, 64u);
  EXPECT_EQ(0, std::memcmp(reply, colour, 64));
}

TEST_F(ChannelOnSim, MissingRepliesFailAfterTheirTimeout) {
  UseScenario(std::string(kIdentity) + "[Fault]\nKind=noreply\n");
  ISPLdCMD ch;
  ch.SetInterface(ISPLdCMD::kUsbHid);
  ASSERT_TRUE(ch.Connect(kControllerId));
  ASSERT_TRUE(ch.WritePacket(0xA6, nullptr, 0, 5000));
  auto start = Clock::now();
  EXPECT_FALSE(ch.ReadPacket(nullptr, 0, 300, true));
  long ms = ElapsedMs(start);
  EXPECT_GE(ms, 295);
  EXPECT_LT(ms, 1000);

  // Raw read: 500 ms, then the message.
  uint8_t report[65] = {0x00, 0x34};
  uint8_t out[65] = {};
  uint32_t length = 64;
  ::testing::internal::CaptureStdout();
  start = Clock::now();
  ch.SendAndRead(report, out, &length);
  ms = ElapsedMs(start);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "ReadFile Fail\n");
  EXPECT_EQ(length, 0u);
  EXPECT_GE(ms, 495);
  EXPECT_LT(ms, 1500);
}

TEST_F(ChannelOnSim, RejectedReplyFailsAtOnceUnderTheRequestedId) {
  struct Case {
    const char* fault;
    bool checkNumber;
  } cases[] = {{"badchecksum", true}, {"badchecksum", false}, {"badnumber", true}};
  for (const Case& c : cases) {
    UseScenario(std::string(kIdentity) + "[Fault]\nKind=" + c.fault + "\n");
    ISPLdCMD ch;
    ch.SetInterface(ISPLdCMD::kUsbHid);
    ASSERT_TRUE(ch.Connect(kControllerId));
    ASSERT_TRUE(ch.WritePacket(0xA6, nullptr, 0, 5000));
    auto start = Clock::now();
    EXPECT_FALSE(ch.ReadPacket(nullptr, 0, 2000, c.checkNumber)) << c.fault;
    EXPECT_LT(ElapsedMs(start), 500) << c.fault;
  }
  // A wrong number echo does not matter when the number is not checked (the sync).
  UseScenario(std::string(kIdentity) + "[Fault]\nKind=badnumber\n");
  ISPLdCMD ch;
  ch.SetInterface(ISPLdCMD::kUsbHid);
  ASSERT_TRUE(ch.Connect(kControllerId));
  EXPECT_TRUE(ch.SyncPacketNumber());
  EXPECT_EQ(ch.GetVersion(), 0u);
}

TEST_F(ChannelOnSim, FallbackIdRetriesUntilAMatchOrTheTimeout) {
  // The one reply is wrong and comes 500 ms late: the read after it may wait only for what is
  // left of the 600 ms (about 600 in all), not for another 600 (about 1100).
  UseScenario(std::string(kIdentity) + "[Fault]\nKind=badchecksum\nApplyTo=isp\nDelayMs=500\n");
  ISPLdCMD ch;
  ch.SetInterface(ISPLdCMD::kUsbHid);
  ASSERT_TRUE(ch.Connect(kAbsentId));
  EXPECT_EQ(ch.GetOpenedProductId(), ISPLdCMD::kFallbackProductId);
  ASSERT_TRUE(ch.WritePacket(0xA6, nullptr, 0, 5000));
  // Only non-matching replies: the retries end with the read's time, in total.
  auto start = Clock::now();
  EXPECT_FALSE(ch.ReadPacket(nullptr, 0, 600, true));
  long ms = ElapsedMs(start);
  EXPECT_GE(ms, 595);
  EXPECT_LT(ms, 1000);
}

// A reply that comes after its read gave up is not taken for the next query's: the queued input
// is dropped before each request goes out.
TEST_F(ChannelOnSim, ALateReplyDoesNotSpoilTheQueriesAfterIt) {
  UseScenario(std::string(kIdentity) + "[Fault]\nApplyTo=A6\nDelayMs=200\n");
  ISPLdCMD ch;
  ch.SetInterface(ISPLdCMD::kUsbHid);
  ASSERT_TRUE(ch.Connect(kControllerId));
  ASSERT_TRUE(ch.WritePacket(0xA6, nullptr, 0, 5000));
  EXPECT_FALSE(ch.ReadPacket(nullptr, 0, 50, true));  // the reply is on its way
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(ch.GetRelease(), 0x105u);
  EXPECT_EQ(ch.GetDeviceID(), 0x00235101u);
  // The same for an LED exchange after a late one.
  uint8_t colour[65] = {0x00, 0x40, 0x00, 0x01, 0x01, 0xFF, 0x00, 0x00};
  uint8_t reply[65] = {};
  uint32_t length = 0;
  EXPECT_TRUE(ch.SendCommand(colour));
  EXPECT_TRUE(ch.ReadReply(reply, &length));
  ASSERT_TRUE(ch.WritePacket(0xA6, nullptr, 0, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ch.SendAndRead(colour, reply, &length);
  EXPECT_EQ(0, std::memcmp(reply, colour, 64));
}

TEST_F(ChannelOnSim, FallbackIdSkipsAStaleReply) {
  // An LED report whose reply comes late: the next query's first read gets that reply.
  UseScenario(std::string(kIdentity) + "[Fault]\nApplyTo=40\nDelayMs=100\n");
  const uint8_t report[65] = {0x00, 0x40, 0x00, 0x01, 0x00};
  {
    ISPLdCMD ch;
    ch.SetInterface(ISPLdCMD::kUsbHid);
    ASSERT_TRUE(ch.Connect(kAbsentId));
    ASSERT_TRUE(ch.SendCommand(report));
    EXPECT_EQ(ch.GetVersion(), 0x11223344u);  // skipped the stale reply, took the next
  }
  {
    ISPLdCMD ch;
    ch.SetInterface(ISPLdCMD::kUsbHid);
    ASSERT_TRUE(ch.Connect(kControllerId));
    ASSERT_TRUE(ch.SendCommand(report));
    EXPECT_EQ(ch.GetVersion(), 0u);  // the stale reply ends the read
  }
  {
    // Connect on a connected channel opens nothing and ends the retrying.
    ISPLdCMD ch;
    ch.SetInterface(ISPLdCMD::kUsbHid);
    ASSERT_TRUE(ch.Connect(kAbsentId));
    EXPECT_TRUE(ch.Connect(kAbsentId));
    EXPECT_EQ(ch.GetOpenedProductId(), 0u);
    ASSERT_TRUE(ch.SendCommand(report));
    EXPECT_EQ(ch.GetVersion(), 0u);
  }
}

TEST_F(ChannelOnSim, TwoControllersAreBothOpenedAndTheFirstIsUsed) {
  UseScenario(std::string(kIdentity) + "[Device]\nCount=2\n");
  ISPLdCMD ch;
  ch.SetInterface(ISPLdCMD::kUsbHid);
  ASSERT_TRUE(ch.Connect(kControllerId));
  ASSERT_EQ(ch.GetHid().GetDeviceCount(), 2u);
  EXPECT_EQ(ch.GetHid().GetSelectedIndex(), 0u);
  EXPECT_EQ(ch.GetHid().GetDevicePaths()[0], "/dev/hidraw-sim0");
  EXPECT_EQ(ch.GetVersion(), 0x11223344u);
}

TEST_F(ChannelOnSim, NoControllerPresent) {
  UseScenario(std::string(kIdentity) + "[Device]\nVendorId=0x1234\nProductId=0x5678\n");
  ISPLdCMD ch;
  ch.SetInterface(ISPLdCMD::kUsbHid);
  EXPECT_FALSE(ch.Connect(kControllerId));
  EXPECT_FALSE(ch.IsConnected());
  EXPECT_EQ(ch.GetOpenedProductId(), 0u);
  auto start = Clock::now();
  EXPECT_EQ(ch.GetVersion(), 0u);
  EXPECT_LT(ElapsedMs(start), 500);
}

}  // namespace
}  // namespace brumel
