// The substitute hidapi library, loaded the way the tool loads hidapi: dlopen by full path and
// every entry point looked up by name.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "SimTestSupport.h"
#include "common/TestSupport.h"
#include "platform/posix/HidApi.h"
#include "sim/model/ControllerModel.h"

namespace {

using brumel::test::Clock;
using brumel::test::ElapsedMs;

class SimHidapi : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.Ok());
    lib_ = dlopen(BRUMEL_SIM_HIDAPI_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib_, nullptr) << dlerror();
    init_ = Entry<hid_init_fn>("hid_init");
    exit_ = Entry<hid_exit_fn>("hid_exit");
    enumerate_ = Entry<hid_enumerate_fn>("hid_enumerate");
    freeEnumeration_ = Entry<hid_free_enumeration_fn>("hid_free_enumeration");
    openPath_ = Entry<hid_open_path_fn>("hid_open_path");
    write_ = Entry<hid_write_fn>("hid_write");
    readTimeout_ = Entry<hid_read_timeout_fn>("hid_read_timeout");
    close_ = Entry<hid_close_fn>("hid_close");
    for (void* entry : {dlsym(lib_, "hid_open"), dlsym(lib_, "hid_read"), dlsym(lib_, "hid_error"),
                        dlsym(lib_, "hid_set_nonblocking")})
      ASSERT_NE(entry, nullptr);
    ASSERT_TRUE(init_ && exit_ && enumerate_ && freeEnumeration_ && openPath_ && write_ &&
                readTimeout_ && close_);
    logPath_ = dir_.File("sim.log");
    setenv("BRUMEL_SIM_LOG", logPath_.c_str(), 1);
  }

  void TearDown() override {
    unsetenv("BRUMEL_SIM_SCENARIO");
    unsetenv("BRUMEL_SIM_LOG");
    if (lib_) dlclose(lib_);
  }

  template <typename Fn>
  Fn Entry(const char* name) {
    return reinterpret_cast<Fn>(dlsym(lib_, name));
  }

  void UseScenario(const std::string& text) {
    setenv("BRUMEL_SIM_SCENARIO", dir_.Write("scenario.ini", text).c_str(), 1);
    ASSERT_EQ(init_(), 0);
  }

  struct Listed {
    std::string path;
    unsigned short vendorId, productId;
  };
  std::vector<Listed> Enumerate(unsigned short vendorId, unsigned short productId) {
    std::vector<Listed> out;
    hid_device_info* list = enumerate_(vendorId, productId);
    for (hid_device_info* d = list; d; d = d->next)
      out.push_back({d->path, d->vendor_id, d->product_id});
    freeEnumeration_(list);
    return out;
  }

  // A 65-byte report: report id 0, then the 64 packet bytes.
  static std::vector<unsigned char> Report(const brumel::sim::Packet& packet) {
    std::vector<unsigned char> r(65, 0);
    std::copy(packet.begin(), packet.end(), r.begin() + 1);
    return r;
  }

  std::vector<std::string> LogLines() { return simtest::FileLines(logPath_); }

  simtest::ScratchDir dir_;
  std::string logPath_;
  void* lib_ = nullptr;
  hid_init_fn init_ = nullptr;
  hid_exit_fn exit_ = nullptr;
  hid_enumerate_fn enumerate_ = nullptr;
  hid_free_enumeration_fn freeEnumeration_ = nullptr;
  hid_open_path_fn openPath_ = nullptr;
  hid_write_fn write_ = nullptr;
  hid_read_timeout_fn readTimeout_ = nullptr;
  hid_close_fn close_ = nullptr;
};

TEST_F(SimHidapi, PresentsTheControllerWithHidrawReportsAndLogsThem) {
  UseScenario("[Device]\nCount=2\nProductId2=3F00\n");
  const std::vector<Listed> all = Enumerate(0, 0);
  ASSERT_EQ(all.size(), 4u);  // each device once per top-level usage, under one path
  EXPECT_EQ(all[0].path, "/dev/hidraw-sim0");
  EXPECT_EQ(all[1].path, "/dev/hidraw-sim0");
  EXPECT_EQ(all[2].path, "/dev/hidraw-sim1");
  EXPECT_EQ(all[2].productId, 0x3F00);
  const std::vector<Listed> fallback = Enumerate(0x0416, 0xA316);
  ASSERT_EQ(fallback.size(), 2u);
  EXPECT_EQ(fallback[0].path, "/dev/hidraw-sim0");
  EXPECT_TRUE(Enumerate(0x0416, 0x1234).empty());

  hid_device* dev = openPath_("/dev/hidraw-sim0");
  ASSERT_NE(dev, nullptr);
  const brumel::sim::Packet query = simtest::IspRequest(0xA6, 19);
  std::vector<unsigned char> report = Report(query);
  EXPECT_EQ(write_(dev, report.data(), report.size()), 65);
  unsigned char reply[65] = {};
  EXPECT_EQ(readTimeout_(dev, reply, sizeof reply, 500), 64);  // no report-id byte on reads
  EXPECT_EQ(simtest::Word16(reply), brumel::sim::PacketChecksum(query));
  EXPECT_EQ(simtest::Word16(reply + 4), 20);
  EXPECT_EQ(simtest::Word32(reply + 8), 0x00010203u);
  // Nothing more is waiting.
  EXPECT_EQ(readTimeout_(dev, reply, sizeof reply, 0), 0);

  // A report id other than 0, and anything but a whole report, are refused and not taken in.
  EXPECT_EQ(write_(dev, report.data(), 64), -1);
  report.push_back(0);
  EXPECT_EQ(write_(dev, report.data(), 66), -1);
  report.pop_back();
  report[0] = 1;
  EXPECT_EQ(write_(dev, report.data(), report.size()), -1);

  const std::vector<unsigned char> white = {0x00, 0x40, 0x00, 0x01, 0x01, 0xFF, 0xFF, 0xFF};
  std::vector<unsigned char> led(65, 0);
  std::copy(white.begin(), white.end(), led.begin());
  EXPECT_EQ(write_(dev, led.data(), led.size()), 65);
  close_(dev);

  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 21), "00 A6 00 00 00 13 00 ");
  EXPECT_EQ(lines[0].size(), 65 * 3 - 1 + std::string(" | ISP GetVersion #19").size());
  EXPECT_EQ(lines[0].substr(65 * 3 - 1), " | ISP GetVersion #19");
  EXPECT_EQ(lines[1].substr(0, 24), "00 40 00 01 01 FF FF FF ");
  EXPECT_EQ(lines[1].substr(65 * 3 - 1), " | LED set colour FF FF FF");
}

TEST_F(SimHidapi, ReadsWaitForLateRepliesAndGiveUpAtTheTimeout) {
  UseScenario("[Fault]\nKind=noreply\nApplyTo=A6\n[Buttons]\nScript=1:04\n[Device]\nDelay=\n");
  // An unknown key makes the scenario unusable: no device is present.
  EXPECT_TRUE(Enumerate(0, 0).empty());
  EXPECT_EQ(openPath_("/dev/hidraw-sim0"), nullptr);

  UseScenario("[Fault]\nKind=noreply\nApplyTo=A6\n");
  hid_device* dev = openPath_("/dev/hidraw-sim0");
  ASSERT_NE(dev, nullptr);
  unsigned char reply[64] = {};

  std::vector<unsigned char> report = Report(simtest::IspRequest(0xA6, 19));
  ASSERT_EQ(write_(dev, report.data(), report.size()), 65);
  auto start = Clock::now();
  EXPECT_EQ(readTimeout_(dev, reply, sizeof reply, 300), 0);
  EXPECT_GE(ElapsedMs(start), 290);
  EXPECT_LT(ElapsedMs(start), 2000);

  close_(dev);

  // The scenario is read again once no device is open.
  UseScenario("[Fault]\nDelayMs=200\n");
  dev = openPath_("/dev/hidraw-sim0");
  ASSERT_NE(dev, nullptr);
  report = Report(simtest::IspRequest(0xA7, 21));
  ASSERT_EQ(write_(dev, report.data(), report.size()), 65);
  start = Clock::now();
  EXPECT_EQ(readTimeout_(dev, reply, sizeof reply, 50), 0);  // not there yet
  EXPECT_EQ(readTimeout_(dev, reply, sizeof reply, 2000), 64);
  EXPECT_GE(ElapsedMs(start), 190);
  EXPECT_LT(ElapsedMs(start), 1500);
  EXPECT_EQ(simtest::Word16(reply + 4), 22);
  close_(dev);
}

TEST_F(SimHidapi, UnpluggedDeviceFailsTransfersAndLeavesTheList) {
  UseScenario("[Fault]\nUnplugAfter=1\n");
  hid_device* dev = openPath_("/dev/hidraw-sim0");
  ASSERT_NE(dev, nullptr);
  unsigned char reply[64] = {};
  std::vector<unsigned char> report = Report(simtest::IspRequest(0xA4, 1, 4, 1));
  ASSERT_EQ(write_(dev, report.data(), report.size()), 65);
  EXPECT_EQ(readTimeout_(dev, reply, sizeof reply, 500), 64);
  EXPECT_EQ(write_(dev, report.data(), report.size()), -1);
  EXPECT_EQ(readTimeout_(dev, reply, sizeof reply, 500), -1);
  EXPECT_TRUE(Enumerate(0, 0).empty());
  EXPECT_EQ(openPath_("/dev/hidraw-sim0"), nullptr);
  close_(dev);
  EXPECT_EQ(LogLines().size(), 1u);  // the refused write was never received
}

}  // namespace
