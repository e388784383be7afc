#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Time.h"
#include "transport/HidIO.h"

using brumel::CHidIO;

namespace {

// No bench, simulated or real, has a device of this vendor.
constexpr uint16_t kAbsentVendor = 0x0001;

TEST(HidIO, WithoutAMatchingDeviceOpenFailsAndTransfersFailAtOnce) {
  CHidIO hid;
  EXPECT_FALSE(hid.OpenDevice(false, kAbsentVendor, 0xA316, 0, 0));
  EXPECT_EQ(hid.GetDeviceCount(), 0u);
  EXPECT_FALSE(hid.GetShareArea().IsOpen());

  uint8_t report[65] = {};
  uint32_t count = 99;
  const uint64_t start = plat::MonotonicMs();
  EXPECT_FALSE(hid.Read(report, sizeof report, &count, 5000));
  EXPECT_EQ(count, 0u);
  count = 99;
  EXPECT_FALSE(hid.Write(report, sizeof report, &count, 5000));
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(hid.Read(report, sizeof report, nullptr, 5000));
  EXPECT_FALSE(hid.Write(report, sizeof report, nullptr, 5000));
  EXPECT_LT(plat::MonotonicMs() - start, 1000u);

  hid.CloseDevice();
  hid.CloseDevice();
  EXPECT_EQ(hid.GetDeviceCount(), 0u);
}

TEST(HidIO, SelectDeviceReturnsThePreviousIndexAndOpensNoAreaForAMissingDevice) {
  CHidIO hid;
  EXPECT_EQ(hid.SelectDevice(3), 0u);
  EXPECT_EQ(hid.GetSelectedIndex(), 3u);
  EXPECT_FALSE(hid.GetShareArea().IsOpen());
  EXPECT_EQ(hid.SelectDevice(0), 3u);
  uint8_t report[65] = {};
  EXPECT_FALSE(hid.Write(report, sizeof report, nullptr, 100));
}

// Wine presents two virtual HID devices of vendor 0x845E (product 1, a mouse; product 2, a
// keyboard). They send nothing unless a window gets input, so a read on them waits in vain.
constexpr uint16_t kWineVendor = 0x845E;

TEST(HidIOSystemDevices, OpensEveryMatchingDeviceAndAReadWithoutInputEndsAtItsTimeout) {
  CHidIO hid;
  if (!hid.OpenDevice(true, kWineVendor, 0x0001, 0x0002, 0)) {
    GTEST_SKIP() << "no devices of vendor 845E here (Wine presents them)";
  }
  ASSERT_EQ(hid.GetDeviceCount(), 2u);
  EXPECT_TRUE(hid.HasSeparateHandles());
  EXPECT_EQ(hid.GetSelectedIndex(), 0u);
  EXPECT_TRUE(hid.GetShareArea().IsOpen());
  const std::string areaName =
      CHidIO::ShareBaseName(hid.GetDevicePaths()[0]) + "-12d3688b-44c0-412a-85dd-5ebcfea9f503";
  EXPECT_EQ(hid.GetShareArea().GetName(), areaName);

  for (uint32_t index : {0u, 1u}) {
    hid.SelectDevice(index);
    uint8_t report[65];
    uint32_t count = 99;
    const uint64_t start = plat::MonotonicMs();
    EXPECT_FALSE(hid.Read(report, sizeof report, &count, 300)) << index;
    const uint64_t waited = plat::MonotonicMs() - start;
    EXPECT_EQ(count, 0u);
    EXPECT_GE(waited, 290u);
    EXPECT_LT(waited, 3000u);
  }
  hid.CloseDevice();
  hid.CloseDevice();
  EXPECT_EQ(hid.GetDeviceCount(), 0u);
}

TEST(HidIOSystemDevices, ProductIdsFilterAndASecondTransportStillFindsDevicesAfterTheFirstGoes) {
  auto first = std::make_unique<CHidIO>();
  if (!first->OpenDevice(false, kWineVendor, 0x0002, 0, 0)) {
    GTEST_SKIP() << "no devices of vendor 845E here (Wine presents them)";
  }
  EXPECT_EQ(first->GetDeviceCount(), 1u);
  EXPECT_FALSE(first->OpenDevice(false, kWineVendor, 0xA316, 0, 0));
  EXPECT_EQ(first->GetDeviceCount(), 0u);

  CHidIO second;
  first.reset();
  EXPECT_TRUE(second.OpenDevice(false, kWineVendor, 0x0001, 0, 0));
  EXPECT_EQ(second.GetDeviceCount(), 1u);
}

}  // namespace
