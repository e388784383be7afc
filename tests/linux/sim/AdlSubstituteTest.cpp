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
#include <tuple>
#include <vector>

#include "SimTestSupport.h"
#include "sim/model/ControllerModel.h"

namespace {

using simtest::FileLines;
using simtest::Logged;
using simtest::Put32;
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

// The adapter information record of the vendor's Linux library: without the fields that only
// its Windows library has at the end.
constexpr size_t kInfo = 796;

// The I2C request as the library reads it: seven 32-bit fields, the data pointer at 32.
struct Request {
  uint8_t bytes[40] = {};
  Request(int32_t size, int32_t line, int32_t address, int32_t offset, int32_t action,
          int32_t dataSize, uint8_t* data) {
    const int32_t fields[7] = {size, line, address, offset, action, 400, dataSize};
    for (int f = 0; f < 7; ++f) Put32(bytes + 4 * f, fields[f]);
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
  std::vector<std::string> LogLines() { return FileLines(log_); }
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
  std::vector<uint8_t> table(kInfo * 4, 0xEE);
  EXPECT_NE(info_(context_, table.data(), static_cast<int>(kInfo * 4 - 1)),
            0);  // no room for the fourth
  ASSERT_EQ(info_(context_, table.data(), static_cast<int>(kInfo * 4)), 0);
  for (int i = 0; i < 4; ++i) {
    const uint8_t* r = table.data() + kInfo * i;
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
  const auto has = [&](const std::string& text) { return Logged(lines, text); };
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
  std::vector<uint8_t> table(kInfo * 3, 0);
  ASSERT_EQ(info_(context_, table.data(), static_cast<int>(table.size())), 0);
  EXPECT_EQ(Word32(table.data() + 264), 3u);
  EXPECT_EQ(Word32(table.data() + kInfo + 264), 7u);
  EXPECT_EQ(Word32(table.data() + 2 * kInfo + 264), 3u);
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

// ---- tuning interfaces --------------------------------------------------------------------

using RecordFn = int (*)(void*, int, void*);
using ControllerFn = int (*)(void*, int, int, void*);

void Put(std::vector<uint8_t>& r, size_t at, int32_t v) { Put32(&r[at], v); }
int32_t At(const std::vector<uint8_t>& r, size_t at) {
  return static_cast<int32_t>(Word32(&r[at]));
}

// A levels record sized for n levels: size, mode, number of levels.
std::vector<uint8_t> Levels(int32_t n, int32_t mode, int32_t size = -1) {
  std::vector<uint8_t> r(12 + 16 * static_cast<size_t>(n > 0 ? n : 1), 0);
  Put(r, 0, size >= 0 ? size : 12 + 16 * n);
  Put(r, 4, mode);
  Put(r, 8, n);
  return r;
}

// The default card's Overdrive-N values, at the library's offsets.
TEST_F(SimDisplayLibrary, DefaultCardTuning) {
  Start();
  std::vector<uint8_t> caps(208, 0xEE);
  ASSERT_EQ(Entry<RecordFn>("ADL2_OverdriveN_CapabilitiesX2_Get")(context_, 0, caps.data()), 0);
  EXPECT_EQ(At(caps, 0), 8);
  const int32_t engine[5] = {1, 50000, 250000, 100, 180000};
  for (int f = 0; f < 5; ++f) EXPECT_EQ(At(caps, 8 + 4 * f), engine[f]);
  EXPECT_EQ(At(caps, 8 + 20 * 3 + 16), 100);  // power default
  EXPECT_EQ(At(caps, 188 + 16), 1);           // the last range's default

  auto gpu = Entry<RecordFn>("ADL2_OverdriveN_SystemClocksX2_Get");
  for (int32_t mode : {1, 0}) {
    auto levels = Levels(8, mode);
    ASSERT_EQ(gpu(context_, 0, levels.data()), 0);
    EXPECT_EQ(At(levels, 8), 8);
    EXPECT_EQ(At(levels, 12), 30000);              // level 0 clock
    EXPECT_EQ(At(levels, 12 + 16 * 7), 180000);    // level 7 clock
    EXPECT_EQ(At(levels, 12 + 16 * 7 + 4), 1150);  // and voltage
  }
  auto memory = Levels(8, 1);
  ASSERT_EQ(Entry<RecordFn>("ADL2_OverdriveN_MemoryClocksX2_Get")(context_, 0, memory.data()), 0);
  EXPECT_EQ(At(memory, 8), 3);
  EXPECT_EQ(At(memory, 12 + 32), 100000);
  auto small = Levels(2, 1);
  ASSERT_EQ(gpu(context_, 0, small.data()), 0);  // never more levels than the record holds
  EXPECT_EQ(At(small, 8), 2);

  std::vector<uint8_t> power(12, 0);
  ASSERT_EQ(Entry<RecordFn>("ADL2_OverdriveN_PowerLimit_Get")(context_, 0, power.data()), 0);
  EXPECT_EQ(At(power, 4), 100);
  EXPECT_EQ(At(power, 8), 90);
  std::vector<uint8_t> status(72, 0xEE);
  ASSERT_EQ(Entry<RecordFn>("ADL2_OverdriveN_PerformanceStatus_Get")(context_, 0, status.data()),
            0);
  EXPECT_EQ(At(status, 0), 175000);
  EXPECT_EQ(At(status, 24), 35);
  EXPECT_EQ(At(status, 68), 0);
  auto temperature = Entry<int (*)(void*, int, int, int*)>("ADL2_OverdriveN_Temperature_Get");
  int milli = 0;
  ASSERT_EQ(temperature(context_, 0, 1, &milli), 0);
  EXPECT_EQ(milli, 62000);
  EXPECT_EQ(temperature(context_, 0, 2, &milli), -8);

  auto thermal = Entry<ControllerFn>("ADL2_Overdrive5_ThermalDevices_Enum");
  std::vector<uint8_t> controller(16, 0);
  Put(controller, 0, 16);
  ASSERT_EQ(thermal(context_, 0, 0, controller.data()), 0);
  EXPECT_EQ(At(controller, 4), 1);  // the GPU's domain
  EXPECT_EQ(thermal(context_, 0, 1, controller.data()), -100);
  // A fan speed is read in the unit asked for; a value that asks for none is refused.
  auto fanGet = Entry<ControllerFn>("ADL2_Overdrive5_FanSpeed_Get");
  for (const auto& [type, result, speed] :
       {std::tuple{2, 0, 1200}, std::tuple{1, 0, 35}, std::tuple{0, -3, 0}, std::tuple{3, -3, 0}}) {
    SCOPED_TRACE(type);
    std::vector<uint8_t> fan(16, 0);
    Put(fan, 0, 16);
    Put(fan, 4, type);
    EXPECT_EQ(fanGet(context_, 0, 0, fan.data()), result);
    EXPECT_EQ(At(fan, 8), speed);
  }
  EXPECT_TRUE(Logged(LogLines(),
                     "ADL2_Overdrive5_FanSpeed_Get adapter=0 controller=0 result=-3 "
                     "| speed type 0, expected 1 (percent) or 2 (RPM)"));
}

// Size fields that do not match their record are refused and logged.
TEST_F(SimDisplayLibrary, SizeFieldsAreChecked) {
  Start();
  auto gpu = Entry<RecordFn>("ADL2_OverdriveN_SystemClocksX2_Get");
  auto wrong = Levels(8, 1, 12 + 16 * 7);
  EXPECT_EQ(gpu(context_, 0, wrong.data()), -4);
  auto none = Levels(0, 1, 12);
  EXPECT_EQ(gpu(context_, 0, none.data()), -4);
  std::vector<uint8_t> controller(16, 0);
  Put(controller, 0, 20);
  EXPECT_EQ(
      Entry<ControllerFn>("ADL2_Overdrive5_ThermalDevices_Enum")(context_, 0, 0, controller.data()),
      -4);
  EXPECT_EQ(Entry<ControllerFn>("ADL2_Overdrive5_FanSpeed_Set")(context_, 0, 0, controller.data()),
            -4);
  std::vector<uint8_t> request(352, 0);
  Put(request, 0, 28);
  std::vector<uint8_t> current(120, 0);
  EXPECT_EQ(Entry<int (*)(void*, int, void*, void*)>("ADL2_Overdrive8_Setting_Set")(
                context_, 0, request.data(), current.data()),
            -4);
  const auto lines = LogLines();
  EXPECT_TRUE(Logged(lines,
                     "ADL2_OverdriveN_SystemClocksX2_Get adapter=0 size=124 mode=1 levels=8 "
                     "result=-4 | size field 124 does not hold 8 levels"));
  EXPECT_TRUE(Logged(lines, "levels=0 result=-4"));
  EXPECT_TRUE(Logged(lines,
                     "ADL2_Overdrive5_ThermalDevices_Enum adapter=0 controller=0 result=-4 | "
                     "size field 20, expected 16"));
  EXPECT_TRUE(Logged(lines,
                     "ADL2_Overdrive8_Setting_Set adapter=0 result=-4 | count field 28, "
                     "expected 29"));
}

// A set call is logged with its whole record and changes what the card reports.
TEST_F(SimDisplayLibrary, SetCallsAreLoggedWhole) {
  Start();
  auto levels = Levels(3, 3);
  const int32_t values[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  for (int i = 0; i < 12; ++i) Put(levels, 12 + 4 * static_cast<size_t>(i), values[i]);
  ASSERT_EQ(Entry<RecordFn>("ADL2_OverdriveN_SystemClocksX2_Set")(context_, 0, levels.data()), 0);
  auto current = Levels(8, 0);
  ASSERT_EQ(Entry<RecordFn>("ADL2_OverdriveN_SystemClocksX2_Get")(context_, 1, current.data()), 0);
  EXPECT_EQ(At(current, 8), 3);  // the card's table, from any of its adapters
  EXPECT_EQ(At(current, 12 + 32 + 12), 12);

  std::vector<uint8_t> power(12, 0);
  Put(power, 0, 3);
  Put(power, 4, 120);
  Put(power, 8, 95);
  auto setPower = Entry<RecordFn>("ADL2_OverdriveN_PowerLimit_Set");
  ASSERT_EQ(setPower(context_, 0, power.data()), 0);
  Put(power, 0, 1);
  ASSERT_EQ(setPower(context_, 0, power.data()), 0);
  std::vector<uint8_t> read(12, 0);
  ASSERT_EQ(Entry<RecordFn>("ADL2_OverdriveN_PowerLimit_Get")(context_, 0, read.data()), 0);
  EXPECT_EQ(At(read, 4), 100);  // back to the defaults

  std::vector<uint8_t> fan(16, 0);
  const int32_t speed[4] = {16, 1, 40, 1};
  for (int i = 0; i < 4; ++i) Put(fan, 4 * static_cast<size_t>(i), speed[i]);
  ASSERT_EQ(Entry<ControllerFn>("ADL2_Overdrive5_FanSpeed_Set")(context_, 0, 0, fan.data()), 0);
  std::vector<uint8_t> fanRead(16, 0);
  Put(fanRead, 0, 16);
  Put(fanRead, 4, 1);  // percent, as set
  auto fanGet = Entry<ControllerFn>("ADL2_Overdrive5_FanSpeed_Get");
  ASSERT_EQ(fanGet(context_, 0, 0, fanRead.data()), 0);
  EXPECT_EQ(At(fanRead, 8), 40);
  EXPECT_EQ(At(fanRead, 12), 1);  // user-defined
  ASSERT_EQ(
      Entry<int (*)(void*, int, int)>("ADL2_Overdrive5_FanSpeedToDefault_Set")(context_, 0, 0), 0);
  ASSERT_EQ(fanGet(context_, 0, 0, fanRead.data()), 0);
  EXPECT_EQ(At(fanRead, 8), 35);
  EXPECT_EQ(At(fanRead, 12), 0);
  Put(fanRead, 4, 2);
  ASSERT_EQ(fanGet(context_, 0, 0, fanRead.data()), 0);
  EXPECT_EQ(At(fanRead, 8), 1200);
  EXPECT_NE(fanGet(context_, 0, 1, fanRead.data()), 0);  // no second controller

  // Overdrive 8: an entry out of its range refuses the whole request; a reset takes the
  // default.
  auto set = Entry<int (*)(void*, int, void*, void*)>("ADL2_Overdrive8_Setting_Set");
  std::vector<uint8_t> request(352, 0), now(120, 0);
  Put(request, 0, 29);
  Put(request, 4 + 12 * 9, 70);  // power percent 70 of -50..50
  Put(request, 4 + 12 * 9 + 4, 1);
  EXPECT_EQ(set(context_, 0, request.data(), now.data()), -3);
  Put(request, 4 + 12 * 9, 25);
  Put(request, 4 + 12 * 0, 2000);
  Put(request, 4 + 12 * 0 + 4, 1);
  Put(request, 4 + 12 * 0 + 8, 1);
  ASSERT_EQ(set(context_, 0, request.data(), now.data()), 0);
  Put(now, 0, 29);
  ASSERT_EQ(Entry<RecordFn>("ADL2_Overdrive8_Current_Setting_Get")(context_, 0, now.data()), 0);
  EXPECT_EQ(At(now, 4 + 4 * 9), 25);
  EXPECT_EQ(At(now, 4 + 4 * 0), 1905);

  const auto lines = LogLines();
  EXPECT_TRUE(Logged(lines,
                     "ADL2_OverdriveN_SystemClocksX2_Set adapter=0 size=60 mode=3 levels=3 "
                     "result=0 | 1/2/3/4 5/6/7/8 9/10/11/12"));
  EXPECT_TRUE(Logged(lines,
                     "ADL2_OverdriveN_PowerLimit_Set adapter=0 result=0 | Mode=3 "
                     "TDPLimit=120 MaxOperatingTemperature=95"));
  EXPECT_TRUE(Logged(lines,
                     "ADL2_Overdrive5_FanSpeed_Set adapter=0 controller=0 result=0 | "
                     "Size=16 SpeedType=1 FanSpeed=40 Flags=1"));
  EXPECT_TRUE(
      Logged(lines, "ADL2_Overdrive8_Setting_Set adapter=0 result=0 | 0=2000/1/1 1=0/0/0 "));
  EXPECT_TRUE(Logged(lines, " 9=25/1/0 10=0/0/0 "));
  EXPECT_TRUE(Logged(lines, " 28=0/0/0"));
  EXPECT_TRUE(Logged(lines, "| feature 9 value 70 outside -50 to 50"));
}

int g_allocations = 0;
int g_allocatedBytes = 0;
void* CountingAllocate(int size) {
  ++g_allocations;
  g_allocatedBytes += size;
  return std::malloc(static_cast<size_t>(size));
}

// The lists of the Overdrive-8 reads come from the caller's allocation callback.
TEST_F(SimDisplayLibrary, Overdrive8ListsThroughTheCallback) {
  setenv("BRUMEL_SIM_SCENARIO",
         dir_.Write("scenario.ini", "[Card1.Overdrive8]\nCount=35\nFeature28=1,2,3,4\n").c_str(),
         1);
  ASSERT_EQ(create_(CountingAllocate, 1, &context_), 0);
  g_allocations = g_allocatedBytes = 0;
  auto init = Entry<int (*)(void*, int, int*, int*, void**)>("ADL2_Overdrive8_Init_SettingX2_Get");
  int capabilities = 0, count = 29;
  void* list = nullptr;
  ASSERT_EQ(init(context_, 0, &capabilities, &count, &list), 0);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(g_allocations, 1);
  EXPECT_EQ(g_allocatedBytes, 35 * 16);
  EXPECT_EQ(count, 35);
  EXPECT_EQ(capabilities, 0x7F);
  const auto* entries = static_cast<const uint8_t*>(list);
  EXPECT_EQ(Word32(entries + 16 * 28), 28u);
  EXPECT_EQ(Word32(entries + 16 * 28 + 12), 3u);
  EXPECT_EQ(Word32(entries + 16 * 34), 34u);
  // The out pointer must come in empty, the count as 29.
  count = 29;
  EXPECT_EQ(init(context_, 0, &capabilities, &count, &list), -3);
  std::free(list);
  list = nullptr;
  count = 30;
  EXPECT_EQ(init(context_, 0, &capabilities, &count, &list), -4);

  auto current = Entry<int (*)(void*, int, int*, int**)>("ADL2_Overdrive8_Current_SettingX2_Get");
  int* values = nullptr;
  count = 29;
  ASSERT_EQ(current(context_, 0, &count, &values), 0);
  EXPECT_EQ(g_allocations, 2);
  EXPECT_EQ(values[28], 4);
  std::free(values);
}

// Results forced per adapter and call number; the calls of each adapter are counted apart.
TEST_F(SimDisplayLibrary, ResultsPerAdapterAndCall) {
  Start(
      "[Card1.Results]\nADL2_OverdriveN_PowerLimit_Get=-7 adapter=1 from=2 count=1\n"
      "ADL2_Display_WriteAndReadI2C=-1 from=2\n");
  auto get = Entry<RecordFn>("ADL2_OverdriveN_PowerLimit_Get");
  std::vector<uint8_t> power(12, 0);
  EXPECT_EQ(get(context_, 1, power.data()), 0);
  EXPECT_EQ(get(context_, 0, power.data()), 0);
  EXPECT_EQ(get(context_, 0, power.data()), 0);
  EXPECT_EQ(get(context_, 1, power.data()), -7);
  EXPECT_EQ(get(context_, 1, power.data()), 0);
  const auto request = simtest::IspRequest(0xA6, 3, 2);
  EXPECT_EQ(WriteIsp(2, 1, request, 0), 0);
  EXPECT_EQ(WriteIsp(2, 1, request, 0), -1);
  EXPECT_EQ(WriteIsp(3, 1, request, 0), 0);
  EXPECT_TRUE(Logged(LogLines(),
                     "ADL2_OverdriveN_PowerLimit_Get adapter=1 result=-7 | forced by "
                     "scenario (call 2)"));
}

// A card whose driver was built with a longer feature table: the record forms write and read
// its 77 entries, whatever room the caller has (a caller sized for 29 is overrun, as by a real
// newer driver). Entries past the 29 features must come in empty.
TEST_F(SimDisplayLibrary, ANewerDriversRecordsHoldItsWholeTable) {
  Start("[Card1]\nOverdrive=8\n[Card1.Overdrive8]\nTable=77\nCount=77\nFeature9=-50, 50, 0, 5\n");
  constexpr size_t kRoom = 100;  // entries of the caller's records
  std::vector<uint8_t> init(8 + 16 * kRoom, 0xEE);
  Put(init, 0, 29);
  ASSERT_EQ(Entry<RecordFn>("ADL2_Overdrive8_Init_Setting_Get")(context_, 0, init.data()), 0);
  EXPECT_EQ(At(init, 0), 77);
  EXPECT_EQ(At(init, 8 + 16 * 76), 76);      // the table's last entry: its id
  EXPECT_EQ(At(init, 8 + 16 * 76 + 12), 0);  // and a zero default
  EXPECT_EQ(init[8 + 16 * 77], 0xEE);        // nothing past the table
  std::vector<uint8_t> current(4 + 4 * kRoom, 0xEE);
  Put(current, 0, 29);
  auto read = Entry<RecordFn>("ADL2_Overdrive8_Current_Setting_Get");
  ASSERT_EQ(read(context_, 0, current.data()), 0);
  EXPECT_EQ(At(current, 4 + 4 * 9), 5);
  EXPECT_EQ(At(current, 4 + 4 * 76), 0);
  EXPECT_EQ(current[4 + 4 * 77], 0xEE);

  auto set = Entry<int (*)(void*, int, void*, void*)>("ADL2_Overdrive8_Setting_Set");
  std::vector<uint8_t> request(4 + 12 * kRoom, 0);
  Put(request, 0, 29);
  Put(request, 4 + 12 * 50 + 4, 1);  // an entry the caller cannot know
  std::fill(current.begin(), current.end(), 0xEE);
  EXPECT_EQ(set(context_, 0, request.data(), current.data()), -3);
  Put(request, 4 + 12 * 50 + 4, 0);
  Put(request, 4 + 12 * 9, -20);
  Put(request, 4 + 12 * 9 + 4, 1);
  ASSERT_EQ(set(context_, 0, request.data(), current.data()), 0);
  EXPECT_EQ(At(current, 4 + 4 * 9), -20);  // the current values come back in the second record
  EXPECT_EQ(At(current, 4 + 4 * 76), 0);
  EXPECT_EQ(current[4 + 4 * 77], 0xEE);
  const auto lines = LogLines();
  EXPECT_TRUE(Logged(lines,
                     "ADL2_Overdrive8_Init_Setting_Get adapter=0 result=0 | "
                     "capabilities 7F, count 77, table of 77 entries"));
  EXPECT_TRUE(Logged(lines, " 50=0/1/0 | entry 50 is past the features the caller knows"));
}

// Results 1 to 4 are successes: a call forced to one does its work and returns that code.
TEST_F(SimDisplayLibrary, ForcedSuccessCodesDoTheWork) {
  Start(
      "[Results]\nADL2_Overdrive_Caps=3\n[Card1.Results]\nADL2_OverdriveN_PowerLimit_Get=1 "
      "from=2\n");
  int supported = 0, enabled = 0, version = 0;
  EXPECT_EQ(caps_(context_, 0, &supported, &enabled, &version), 3);
  EXPECT_EQ(version, 7);
  auto get = Entry<RecordFn>("ADL2_OverdriveN_PowerLimit_Get");
  std::vector<uint8_t> power(12, 0);
  EXPECT_EQ(get(context_, 0, power.data()), 0);
  std::fill(power.begin(), power.end(), 0);
  EXPECT_EQ(get(context_, 0, power.data()), 1);
  EXPECT_EQ(At(power, 4), 100);
  EXPECT_TRUE(Logged(LogLines(), "ADL2_Overdrive_Caps adapter=0 result=3 | supported 1"));
}

// The build with the shorter list of exports lacks just those entry points.
TEST(SimDisplayLibraryShort, LacksFourEntryPoints) {
  std::string path = BRUMEL_SIM_ADL_PATH;
  path = path.substr(0, path.rfind('/')) + "/short/libatiadlxx.so";
  void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  for (const char* name :
       {"ADL2_Overdrive5_ThermalDevices_Enum", "ADL2_Overdrive5_FanSpeedToDefault_Set",
        "ADL2_Overdrive8_Init_SettingX2_Get", "ADL2_Overdrive8_Current_SettingX2_Get"})
    EXPECT_EQ(dlsym(lib, name), nullptr) << name;
  for (const char* name : {"ADL2_Main_Control_Create", "ADL2_Overdrive8_Init_Setting_Get",
                           "ADL2_Overdrive8_Current_Setting_Get", "ADL2_Overdrive5_FanSpeed_Set",
                           "ADL2_Display_WriteAndReadI2C"})
    EXPECT_NE(dlsym(lib, name), nullptr) << name;
  dlclose(lib);
}

TEST_F(SimDisplayLibrary, UnusableScenarioRefusesTheContext) {
  setenv("BRUMEL_SIM_SCENARIO", dir_.Write("scenario.ini", "[Card3]\n").c_str(), 1);
  void* context = nullptr;
  EXPECT_NE(create_(Allocate, 1, &context), 0);
  EXPECT_EQ(context, nullptr);
}

}  // namespace
