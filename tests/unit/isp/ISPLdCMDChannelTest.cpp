// The channel without a controller: link choice, the I2C target, and failures that must come
// back at once with their defined results.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "common/TestSupport.h"
#include "isp/ISPLdCMD.h"
#include "platform/Files.h"

namespace brumel {
namespace {

using test::Clock;
using test::ElapsedMs;

TEST(ISPLdCMDTest, FreshChannel) {
  ISPLdCMD ch;
  EXPECT_EQ(ch.GetInterface(), ISPLdCMD::kNoLink);
  EXPECT_EQ(ch.GetPacketNumber(), 18u);
  EXPECT_EQ(ch.GetPacketSize(), 64u);
  EXPECT_EQ(ch.GetHeaderOffset(), 4u);
  EXPECT_EQ(ch.GetI2cAdapterIndex(), -1);
  EXPECT_EQ(ch.GetI2cAddress(), 0xFF);
  EXPECT_EQ(ch.GetI2cLine(), -1);
  EXPECT_FALSE(ch.IsConnected());
}

TEST(ISPLdCMDTest, WithoutALinkEverythingFails) {
  ISPLdCMD ch;
  EXPECT_FALSE(ch.Connect(0x0416A316));
  EXPECT_FALSE(ch.SyncPacketNumber());
  EXPECT_EQ(ch.GetVersion(), 0u);
  EXPECT_EQ(ch.GetFlashMode(), 0u);
  uint32_t area[4] = {1, 2, 3, 4};
  EXPECT_FALSE(ch.ReadConfig(area));
  for (uint32_t w : area) EXPECT_EQ(w, 0xFFFFFFFFu);
  uint32_t rom[4] = {1, 2, 3, 4};
  EXPECT_FALSE(ch.ReadRomState(rom));
  for (uint32_t w : rom) EXPECT_EQ(w, 0xFFFFFFFFu);
  EXPECT_EQ(ch.GetPacketNumber(), 1u);  // the sync set it; no send succeeded

  uint8_t report[65] = {0x00, 0x40, 0x00, 0x01, 0x00};
  uint8_t out[65] = {};
  uint32_t length = 42;
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(ch.SendCommand(report, 65));
  EXPECT_FALSE(ch.ReadReply(out, &length));  // silent
  ch.SendAndRead(report, out, &length);      // does nothing off USB HID
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "SendCommand Interface Fail\n");
  EXPECT_EQ(length, 42u);  // left alone off USB HID
}

TEST(ISPLdCMDTest, GpuI2cLinkTargetAndPacketShape) {
  ISPLdCMD ch;
  ch.SetInterface(ISPLdCMD::kUsbHid);
  EXPECT_EQ(ch.GetPacketSize(), 64u);
  ch.SetInterface(ISPLdCMD::kGpuI2c);
  EXPECT_EQ(ch.GetPacketSize(), 12u);
  EXPECT_EQ(ch.GetHeaderOffset(), 2u);

  // Connect opens nothing; it needs adapter, line and address.
  struct Case {
    int adapter;
    uint8_t address;
    int line;
    bool connects;
  } cases[] = {{-1, 0x6C, 1, false}, {0, 0xFF, 1, false}, {0, 0x6C, -1, false}, {0, 0x6C, 4, true}};
  for (const Case& c : cases) {
    ch.SetI2CTarget(c.adapter, c.address, c.line);
    EXPECT_EQ(ch.Connect(0), c.connects) << c.adapter << " " << int(c.address) << " " << c.line;
  }
  EXPECT_TRUE(ch.IsConnected());
  EXPECT_EQ(ch.GetI2cLine(), 4);

  // No I2C transfers are carried yet: a failed send there keeps the connection.
  EXPECT_FALSE(ch.WritePacket(0xA6, nullptr, 0, 100));
  EXPECT_TRUE(ch.IsConnected());
  EXPECT_EQ(ch.GetPacketNumber(), 18u);

  ch.Disconnect();
  EXPECT_FALSE(ch.IsConnected());
  EXPECT_EQ(ch.GetI2cAdapterIndex(), -1);
  EXPECT_EQ(ch.GetI2cAddress(), 0xFF);
  EXPECT_EQ(ch.GetI2cLine(), -1);
}

TEST(ISPLdCMDTest, MissingSerialPortFailsToConnect) {
  ISPLdCMD ch;
  ch.SetInterface(ISPLdCMD::kSerial, "COM3");
  EXPECT_EQ(ch.GetPortName(), "COM3");
  EXPECT_FALSE(ch.Connect(0));
  EXPECT_FALSE(ch.IsConnected());
}

TEST(ISPLdCMDTest, NoControllerOnTheSystemsHidDevices) {
  // The Linux build talks to the simulated controller beside the test executable; the same
  // failure is checked there with a bench that has no controller (tests/linux/isp).
  if (plat::kPathSeparator == '/') GTEST_SKIP() << "covered against the simulator";
  ISPLdCMD ch;
  ch.SetInterface(ISPLdCMD::kUsbHid);
  auto start = Clock::now();
  EXPECT_FALSE(ch.Connect(0x0416A316));
  EXPECT_FALSE(ch.IsConnected());
  EXPECT_EQ(ch.GetOpenedProductId(), 0u);
  EXPECT_EQ(ch.GetVersion(), 0u);
  EXPECT_LT(ElapsedMs(start), 3000);
}

}  // namespace
}  // namespace brumel
