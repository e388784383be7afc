// The substitute display library, loaded the way the tool loads the display library (dlopen
// by full path, every entry point by name). Its records are checked byte by byte at the
// library's offsets.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "SimTestSupport.h"
#include "sim/model/ControllerModel.h"

namespace {

using simtest::Word16;
using simtest::Word32;

using Alloc = void* (*)(int);
using CreateFn = int (*)(Alloc, int, void**);
using DestroyFn = int (*)(void*);
using CountFn = int (*)(void*, int*);
using InfoFn = int (*)(void*, void*, int);
using CapsFn = int (*)(void*, int, int*, int*, int*);
using I2cFn = int (*)(void*, int, void*);

void* Allocate(int size) { return std::malloc(static_cast<size_t>(size)); }

// The I2C request as the library reads it: seven 32-bit fields, the data pointer at 32.
struct Request {
  uint8_t bytes[40] = {};
  Request(int32_t size, int32_t line, int32_t address, int32_t offset, int32_t action,
          int32_t dataSize, uint8_t* data) {
    const int32_t fields[7] = {size, line, address, offset, action, 400, dataSize};
    for (int f = 0; f < 7; ++f)
      for (int b = 0; b < 4; ++b)
        bytes[4 * f + b] = static_cast<uint8_t>(static_cast<uint32_t>(fields[f]) >> (8 * b));
    std::memcpy(bytes + 32, &data, sizeof data);
  }
};

class SimDisplayLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.Ok());
    lib_ = dlopen(BRUMEL_SIM_ADL_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib_, nullptr) << dlerror();
    create_ = Entry<CreateFn>("ADL2_Main_Control_Create");
    destroy_ = Entry<DestroyFn>("ADL2_Main_Control_Destroy");
    count_ = Entry<CountFn>("ADL2_Adapter_NumberOfAdapters_Get");
    info_ = Entry<InfoFn>("ADL2_Adapter_AdapterInfo_Get");
    caps_ = Entry<CapsFn>("ADL2_Overdrive_Caps");
    i2c_ = Entry<I2cFn>("ADL2_Display_WriteAndReadI2C");
    ASSERT_TRUE(create_ && destroy_ && count_ && info_ && caps_ && i2c_);
    EXPECT_EQ(dlsym(lib_, "ADL_Main_Control_Create"), nullptr);  // only the ADL2 interface
    log_ = dir_.File("sim.log");
    setenv("BRUMEL_SIM_LOG", log_.c_str(), 1);
    unsetenv("BRUMEL_SIM_SCENARIO");
  }
  void TearDown() override {
    if (context_) destroy_(context_);
    unsetenv("BRUMEL_SIM_SCENARIO");
    unsetenv("BRUMEL_SIM_LOG");
    if (lib_) dlclose(lib_);
  }
  template <typename Fn>
  Fn Entry(const char* name) {
    return reinterpret_cast<Fn>(dlsym(lib_, name));
  }
  void Start(const std::string& scenario = {}) {
    if (!scenario.empty())
      setenv("BRUMEL_SIM_SCENARIO", dir_.Write("scenario.ini", scenario).c_str(), 1);
    ASSERT_EQ(create_(Allocate, 1, &context_), 0);
  }
  std::vector<std::string> LogLines() {
    std::ifstream in(log_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // One ISP exchange: a write of the request's d + 5 bytes, a read of r + 4 bytes.
  int WriteIsp(int adapter, int line, const brumel::sim::Packet& p, int dataBytes) {
    std::vector<uint8_t> data(p.begin() + 1, p.begin() + 1 + dataBytes + 4);
    Request r(40, line, 0x6C, p[0], 2, static_cast<int32_t>(data.size()), data.data());
    return i2c_(context_, adapter, r.bytes);
  }
  int ReadReply(int adapter, int line, uint8_t* out, int replyBytes) {
    Request r(40, line, 0x6C, 0, 1, replyBytes + 4, out);
    return i2c_(context_, adapter, r.bytes);
  }

  simtest::ScratchDir dir_;
  std::string log_;
  void* lib_ = nullptr;
  void* context_ = nullptr;
  CreateFn create_ = nullptr;
  DestroyFn destroy_ = nullptr;
  CountFn count_ = nullptr;
  InfoFn info_ = nullptr;
  CapsFn caps_ = nullptr;
  I2cFn i2c_ = nullptr;
};

TEST_F(SimDisplayLibrary, DefaultCardAsFourLogicalAdapters) {
  Start();
  int n = 0;
  ASSERT_EQ(count_(context_, &n), 0);
  ASSERT_EQ(n, 4);
  std::vector<uint8_t> table(1572 * 4, 0xEE);
  EXPECT_NE(info_(context_, table.data(), 1572 * 4 - 1), 0);  // no room for the fourth
  ASSERT_EQ(info_(context_, table.data(), 1572 * 4), 0);
  for (int i = 0; i < 4; ++i) {
    const uint8_t* r = table.data() + 1572 * i;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r + 8)),
              "PCI_VEN_1002&DEV_73BF&SUBSYS_0E3A1002&REV_C1_4&BENCH&0&01");
    EXPECT_EQ(Word32(r + 264), 3u);
    EXPECT_EQ(Word32(r + 268), 0u);
    EXPECT_EQ(Word32(r + 272), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r + 280)), "Bench Radeon Graphics");
  }
  int supported = 0, enabled = 0, version = 0;
  ASSERT_EQ(caps_(context_, 3, &supported, &enabled, &version), 0);
  EXPECT_EQ(version, 7);
  EXPECT_NE(caps_(context_, 4, &supported, &enabled, &version), 0);
  EXPECT_NE(caps_(nullptr, 0, &supported, &enabled, &version), 0);  // no context
}

// The controller answers on lines 1 and 4 at 0x6C: a write is one ISP request (h = 2), a read
// from register 0 returns the reply. Every call is logged with its target and bytes.
TEST_F(SimDisplayLibrary, ControllerOnTheI2cLines) {
  Start();
  const auto request = simtest::IspRequest(0xA6, 3, 2);
  ASSERT_EQ(WriteIsp(0, 1, request, 0), 0);
  uint8_t reply[8] = {};
  ASSERT_EQ(ReadReply(0, 1, reply, 4), 0);
  EXPECT_EQ(Word16(reply), brumel::sim::PacketChecksum(request));
  EXPECT_EQ(Word16(reply + 2), 4u);
  EXPECT_EQ(Word32(reply + 4), 0x00010203u);

  EXPECT_EQ(WriteIsp(2, 4, request, 0), 0);  // another logical entry, the other line
  EXPECT_NE(WriteIsp(0, 2, request, 0), 0);  // no device on line 2
  uint8_t byte = 0;
  Request wrongAddress(40, 1, 0x6E, 0, 2, 1, &byte);
  EXPECT_NE(i2c_(context_, 0, wrongAddress.bytes), 0);
  // A request record of the 32-bit layout is refused in this 64-bit process.
  Request narrow(32, 1, 0x6C, 0, 1, 1, &byte);
  EXPECT_EQ(i2c_(context_, 0, narrow.bytes), -4);

  const auto lines = LogLines();
  const auto has = [&](const std::string& text) {
    for (const auto& l : lines)
      if (l.find(text) != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(
      has("ADL2_Display_WriteAndReadI2C adapter=0 line=1 address=6C offset=A6 "
          "action=write size=4 speed=400 result=0 | 00 03 00 00 | ISP GetVersion #3"));
  EXPECT_TRUE(
      has("ADL2_Display_WriteAndReadI2C adapter=0 line=1 address=6C offset=00 "
          "action=read size=8 speed=400 result=0 | "));
  EXPECT_TRUE(
      has("line=2 address=6C offset=A6 action=write size=4 speed=400 result=-1 | "
          "no device answers"));
  EXPECT_TRUE(has("result=-4 | request size field 32, expected 40"));
  EXPECT_TRUE(has("ADL2_Main_Control_Create connected=1 result=0"));
}

TEST_F(SimDisplayLibrary, ScenarioCardsOrderFaultsAndForcedResults) {
  Start(
      "[Display]\nCards=2\nOrder=1,2,1\n"
      "[Card2]\nBus=7\nOverdrive=6\nI2cLines=none\n"
      "[Fault]\nKind=noreply\nApplyTo=A6\n"
      "[Results]\nADL2_Adapter_Active_Get=-8\n");
  int n = 0;
  ASSERT_EQ(count_(context_, &n), 0);
  ASSERT_EQ(n, 3);
  std::vector<uint8_t> table(1572 * 3, 0);
  ASSERT_EQ(info_(context_, table.data(), static_cast<int>(table.size())), 0);
  EXPECT_EQ(Word32(table.data() + 264), 3u);
  EXPECT_EQ(Word32(table.data() + 1572 + 264), 7u);
  EXPECT_EQ(Word32(table.data() + 2 * 1572 + 264), 3u);
  int supported = 0, enabled = 0, version = 0;
  ASSERT_EQ(caps_(context_, 1, &supported, &enabled, &version), 0);
  EXPECT_EQ(version, 6);
  auto active = Entry<int (*)(void*, int, int*)>("ADL2_Adapter_Active_Get");
  int flag = 0;
  EXPECT_EQ(active(context_, 0, &flag), -8);

  // The second card has no controller; the first answers, except GetVersion.
  const auto version3 = simtest::IspRequest(0xA6, 3, 2);
  EXPECT_NE(WriteIsp(1, 1, version3, 0), 0);
  ASSERT_EQ(WriteIsp(0, 1, version3, 0), 0);
  uint8_t reply[8] = {};
  EXPECT_NE(ReadReply(0, 1, reply, 4), 0);  // nothing to read
  ASSERT_EQ(WriteIsp(0, 1, simtest::IspRequest(0xA7, 5, 2), 0), 0);
  EXPECT_EQ(ReadReply(0, 1, reply, 4), 0);
}

TEST_F(SimDisplayLibrary, UnusableScenarioRefusesTheContext) {
  setenv("BRUMEL_SIM_SCENARIO", dir_.Write("scenario.ini", "[Card3]\n").c_str(), 1);
  void* context = nullptr;
  EXPECT_NE(create_(Allocate, 1, &context), 0);
  EXPECT_EQ(context, nullptr);
}

}  // namespace
