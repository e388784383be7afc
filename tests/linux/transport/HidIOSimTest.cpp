// The HID transport against the simulated controller: the substitute hidapi beside this
// executable presents the devices of the scenario that BRUMEL_SIM_SCENARIO names.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "linux/sim/SimTestSupport.h"
#include "platform/Time.h"
#include "transport/HidIO.h"

namespace brumel {
namespace {

constexpr uint16_t kVendor = 0x0416;
constexpr uint16_t kProduct = 0xA316;
constexpr uint32_t kReport = 65;

// A GetVersion request as one whole report: report id 0, then the 64 packet bytes.
struct Request {
  uint8_t bytes[kReport] = {};
  uint16_t checksum = 0;
  explicit Request(uint16_t number) {
    const brumel::sim::Packet packet = simtest::IspRequest(0xA6, number);
    std::memcpy(bytes + 1, packet.data(), packet.size());
    for (uint8_t b : packet) checksum = static_cast<uint16_t>(checksum + b);
  }
};

class HidOnSim : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.Ok()); }
  void TearDown() override { unsetenv("BRUMEL_SIM_SCENARIO"); }

  // Takes effect at the next OpenDevice (the simulator re-reads it while no device is open).
  void UseScenario(const std::string& text) {
    setenv("BRUMEL_SIM_SCENARIO", dir_.Write("scenario.ini", text).c_str(), 1);
  }

  // Writes a request and reads its reply; checks the report layout and the echoes.
  static void ExchangeVersion(CHidIO& hid, uint16_t number) {
    Request request(number);
    uint32_t written = 0;
    ASSERT_TRUE(hid.Write(request.bytes, kReport, &written, 1000));
    EXPECT_EQ(written, kReport);

    uint8_t reply[kReport];
    std::memset(reply, 0xEE, sizeof reply);
    uint32_t read = 0;
    ASSERT_TRUE(hid.Read(reply, kReport, &read, 1000));
    EXPECT_EQ(read, kReport);
    EXPECT_EQ(reply[0], 0);  // report id in front of the 64 data bytes
    EXPECT_EQ(simtest::Word16(reply + 1), request.checksum);
    EXPECT_EQ(simtest::Word16(reply + 1 + 4), number + 1);
    EXPECT_EQ(simtest::Word32(reply + 1 + 8), 0x00010203u);  // the scenario's default version
  }

  simtest::ScratchDir dir_;
};

TEST_F(HidOnSim, OpensTheControllerOnceAndMovesWholeReports) {
  UseScenario("[Device]\nUsageEntries=2\n");  // hidapi lists the one path twice
  for (bool separate : {false, true}) {
    CHidIO hid;
    ASSERT_TRUE(hid.OpenDevice(separate, kVendor, kProduct, 0, 0)) << separate;
    ASSERT_EQ(hid.GetDeviceCount(), 1u);
    EXPECT_EQ(hid.GetDevicePaths()[0], "/dev/hidraw-sim0");
    EXPECT_STREQ(hid.GetShareArea().GetName(),
                 "_dev_hidraw_sim0-12d3688b-44c0-412a-85dd-5ebcfea9f503");
    EXPECT_TRUE(hid.GetShareArea().IsOpen());
    ExchangeVersion(hid, 19);
    ExchangeVersion(hid, 21);
    hid.CloseDevice();
    hid.CloseDevice();
    EXPECT_EQ(hid.GetDeviceCount(), 0u);
    uint8_t report[kReport] = {};
    EXPECT_FALSE(hid.Write(report, kReport, nullptr, 100));
  }
}

TEST_F(HidOnSim, MatchesTheVendorAndAnyOfTheThreeProductIds) {
  struct Case {
    const char* device;  // vendor:product on the bench
    uint16_t p1, p2, p3;
    bool found;
  } const cases[] = {
      {"0416:A316", kProduct, 0, 0, true},
      {"0416:0000", kProduct, 0, 0, true},  // product id 0 matches a 0 the caller passes
      {"0416:5020", kProduct, 0x1234, 0x5020, true},
      {"0416:5020", kProduct, 0, 0, false},
      {"0417:A316", kProduct, 0, 0, false},
  };
  for (const Case& c : cases) {
    const std::string device(c.device);
    UseScenario("[Device]\nVendorId=" + device.substr(0, 4) + "\nProductId=" + device.substr(5) +
                "\n");
    CHidIO hid;
    EXPECT_EQ(hid.OpenDevice(false, kVendor, c.p1, c.p2, c.p3), c.found) << c.device;
    EXPECT_EQ(hid.GetDeviceCount(), c.found ? 1u : 0u) << c.device;
  }
}

TEST_F(HidOnSim, TwoControllersAreBothOpenedAndTheFirstFoundIsUsed) {
  UseScenario("[Device]\nCount=2\n");
  CHidIO hid;
  ASSERT_TRUE(hid.OpenDevice(false, kVendor, kProduct, 0, 0));
  ASSERT_EQ(hid.GetDeviceCount(), 2u);
  EXPECT_EQ(hid.GetDevicePaths()[0], "/dev/hidraw-sim0");
  EXPECT_EQ(hid.GetDevicePaths()[1], "/dev/hidraw-sim1");
  EXPECT_EQ(hid.GetSelectedIndex(), 0u);

  Request request(19);
  ASSERT_TRUE(hid.Write(request.bytes, kReport, nullptr, 1000));
  // Only the first controller got the request: the second has nothing to say.
  EXPECT_EQ(hid.SelectDevice(1), 0u);
  EXPECT_STREQ(hid.GetShareArea().GetName(),
               "_dev_hidraw_sim1-12d3688b-44c0-412a-85dd-5ebcfea9f503");
  uint8_t reply[kReport];
  EXPECT_FALSE(hid.Read(reply, kReport, nullptr, 200));
  EXPECT_EQ(hid.SelectDevice(0), 1u);
  uint32_t read = 0;
  ASSERT_TRUE(hid.Read(reply, kReport, &read, 1000));
  EXPECT_EQ(read, kReport);
  EXPECT_EQ(simtest::Word16(reply + 1), request.checksum);
}

TEST_F(HidOnSim, AReadWithoutAReplyFailsAtItsTimeout) {
  UseScenario("[Fault]\nKind=noreply\n");
  CHidIO hid;
  ASSERT_TRUE(hid.OpenDevice(false, kVendor, kProduct, 0, 0));
  Request request(19);
  ASSERT_TRUE(hid.Write(request.bytes, kReport, nullptr, 1000));
  uint8_t reply[kReport];
  uint32_t read = 99;
  const uint64_t start = plat::MonotonicMs();
  EXPECT_FALSE(hid.Read(reply, kReport, &read, 500));
  const uint64_t waited = plat::MonotonicMs() - start;
  EXPECT_EQ(read, 0u);
  EXPECT_GE(waited, 490u);
  EXPECT_LT(waited, 2500u);
}

TEST_F(HidOnSim, AControllerThatGoesAwayFailsTheTransfersThatFollow) {
  UseScenario("[Fault]\nUnplugAfter=1\n");
  CHidIO hid;
  ASSERT_TRUE(hid.OpenDevice(false, kVendor, kProduct, 0, 0));
  ExchangeVersion(hid, 19);
  Request request(21);
  uint32_t count = 99;
  EXPECT_FALSE(hid.Write(request.bytes, kReport, &count, 1000));
  EXPECT_EQ(count, 0u);
  uint8_t reply[kReport];
  const uint64_t start = plat::MonotonicMs();
  EXPECT_FALSE(hid.Read(reply, kReport, &count, 1000));
  EXPECT_LT(plat::MonotonicMs() - start, 500u);  // a failure, not a wait for the timeout
  EXPECT_EQ(count, 0u);
}

}  // namespace
}  // namespace brumel
