// Adapters of tuning generation 7 over a display library of the test's own: what start-up reads
// and seeds into the configuration, the ranges and sensors, and the records the fan, power and
// clock operations hand to the library.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "FakeAdl.h"
#include "config/Config.h"
#include "gpu/OD7VideoAdapter.h"
#include "gpu/VideoAdapterBuilder.h"

namespace brumel {
namespace {

using test::FakeAdapter;
using test::FakeAdl;
using test::FakeCall;
using test::FakeTuning;
using test::OverdriveNCard;

const FakeAdapter kCard{3, 0, 0, "UDID_7", "Card 7", 7, 0};

// A library with the cards given, one adapter index each.
struct Bench {
  explicit Bench(std::vector<FakeTuning> cards, std::set<std::string> missing = {}) {
    fake.adapters.clear();
    for (size_t i = 0; i < cards.size(); ++i) {
      fake.adapters.push_back(kCard);
      fake.tuning[static_cast<int>(i)] = cards[i];
    }
    fake.missing = std::move(missing);
    adl = fake.LoadBeside();
  }
  std::unique_ptr<TOD7VideoAdapter> Make(int index = 0) {
    auto adapter = std::make_unique<TOD7VideoAdapter>(adl.get(), index);
    fake.calls.clear();
    return adapter;
  }
  FakeAdl fake;
  std::unique_ptr<TADL> adl;
};

// The values a new configuration section takes from the adapter.
struct Seeded {
  int32_t gpuClock, gpuVoltage, memoryClock, memoryVoltage, powerLimit, tempLimit;
  bool operator==(const Seeded&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Seeded& s) {
  return out << s.gpuClock << "/" << s.gpuVoltage << " " << s.memoryClock << "/" << s.memoryVoltage
             << " power " << s.powerLimit << " temp " << s.tempLimit;
}
const Seeded kUnset{-1, -1, -1, -1, -1, -1};

// Every way start-up can end, and what the new section then holds: the adapter's defaults, or
// "not set" where the adapter has none (never the integer a NaN would turn into).
TEST(OverdriveNAdapter, StartUpSeedsTheConfiguration) {
  const auto with = [](auto change) {
    FakeTuning t = OverdriveNCard();
    change(t);
    return t;
  };
  const struct {
    const char* what;
    FakeTuning card;
    std::set<std::string> missing;
    Seeded seeded;
    bool readsLevels;
  } cases[] = {
      {"healthy", OverdriveNCard(), {}, {1500, 1100, 1000, 850, 5, 90}, true},
      {"no capabilities entry point",
       OverdriveNCard(),
       {"ADL2_OverdriveN_CapabilitiesX2_Get"},
       kUnset,
       false},
      {"capabilities refused",
       with([](FakeTuning& t) { t.results["ADL2_OverdriveN_CapabilitiesX2_Get"] = -8; }),
       {},
       kUnset,
       false},
      {"maximum level count 0",
       with([](FakeTuning& t) { t.capabilities.MaximumNumberOfPerformanceLevels = 0; }),
       {},
       kUnset,
       false},
      {"maximum level count -1",
       with([](FakeTuning& t) { t.capabilities.MaximumNumberOfPerformanceLevels = -1; }),
       {},
       kUnset,
       false},
      {"maximum level count 2^30",
       with([](FakeTuning& t) { t.capabilities.MaximumNumberOfPerformanceLevels = 1 << 30; }),
       {},
       kUnset,
       false},
      {"no GPU levels entry point",
       OverdriveNCard(),
       {"ADL2_OverdriveN_SystemClocksX2_Get"},
       kUnset,
       false},
      {"GPU levels refused",
       with([](FakeTuning& t) { t.results["ADL2_OverdriveN_SystemClocksX2_Get"] = -1; }),
       {},
       kUnset,
       true},
      {"memory levels refused",
       with([](FakeTuning& t) { t.results["ADL2_OverdriveN_MemoryClocksX2_Get"] = -1; }),
       {},
       kUnset,
       true},
      {"no thermal controller entry point",
       OverdriveNCard(),
       {"ADL2_Overdrive5_ThermalDevices_Enum"},
       kUnset,
       true},
      {"GPU default table of zeros",
       with([](FakeTuning& t) {
         for (auto& level : t.gpuDefault) level.Clock = 0;
       }),
       {},
       {0, 0, 1000, 850, 5, 90},
       true},
      // The record says 8 levels, the table was sized for 2: only those are read.
      {"more levels reported than the table holds",
       with([](FakeTuning& t) {
         t.capabilities.MaximumNumberOfPerformanceLevels = 2;
         t.levelCountReported = 8;
       }),
       {},
       {1200, 900, 1000, 850, 5, 90},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TConfig config("");
    Bench bench({c.card}, c.missing);
    TVideoAdapterBuilder builder(bench.adl.get(), &config);
    ASSERT_EQ(builder.GetAdapters()->size(), 1u);
    EXPECT_EQ(bench.fake.CountOf("ADL2_OverdriveN_SystemClocksX2_Get") > 0, c.readsLevels);
    const TCfgAdapterSetting* s = config.FindAdapterSetting("3_UDID_7");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ((Seeded{s->UserGpuClock, s->UserGpuVoltage, s->UserMemClock, s->UserMemVoltage,
                      s->Limits[0].PowerLimit, s->Limits[0].TempLimit}),
              c.seeded);
    EXPECT_EQ(s->FanMode, 0);
    for (const TCfgLimits& limits : s->Limits) {
      EXPECT_EQ(limits.PowerLimit, c.seeded.powerLimit);
      EXPECT_EQ(limits.TempLimit, c.seeded.tempLimit);
    }
  }
}

// A card of another generation gets no adapter and no section; a UDID filling its whole field
// names the section in full.
TEST(OverdriveNAdapter, StartUpOfOtherCards) {
  TConfig config("");
  FakeAdl fake;
  fake.adapters = {kCard, kCard};
  fake.adapters[0].overdrive = 9;
  fake.adapters[1].bus = 4;
  fake.adapters[1].udid = std::string(256, 'U');
  fake.tuning = {{0, OverdriveNCard()}, {1, OverdriveNCard()}};
  auto adl = fake.LoadBeside();
  TVideoAdapterBuilder builder(adl.get(), &config);
  ASSERT_EQ(builder.GetAdapters()->size(), 1u);
  EXPECT_EQ(config.GetAdapterSettings().size(), 1u);
  const TCfgAdapterSetting* s = config.FindAdapterSetting("4_" + std::string(256, 'U'));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->UserGpuClock, 1500);
}

struct Range {
  int32_t supported;
  double defaultValue, min, max;
};

// Ranges from the capabilities (clocks from 10 kHz units to MHz) and the default tables' top
// levels, widened to hold the default; current values from the current tables and limits.
TEST(OverdriveNAdapter, RangesAndCurrentValues) {
  FakeTuning card = OverdriveNCard();
  card.capabilities.EngineClock.Max = 140000;  // below the top level's 1500 MHz
  card.capabilities.FanSpeed.Min = 1300;       // above the default 1200
  Bench bench({card});
  auto a = bench.Make();
  const Range expected[kSettingCount] = {
      {1, 1500, 500, 1500},  {1, 1000, 500, 1200}, {1, 1100, 750, 1200}, {1, 850, 750, 1200},
      {1, 1200, 1200, 3200}, {1, 85, 25, 100},     {1, 5, -20, 30},      {1, 90, 60, 105},
  };
  const double current[kSettingCount] = {1550, 1050, 1120, 860, NAN, NAN, 7, 88};
  for (int32_t id = 0; id < kSettingCount; ++id) {
    SCOPED_TRACE(id);
    const ADL_ODRange* r = a->GetSettingRange(static_cast<_ADL_SETTING_ID>(id));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Supported, expected[id].supported);
    EXPECT_EQ(r->Default, expected[id].defaultValue);
    EXPECT_EQ(r->Min, expected[id].min);
    EXPECT_EQ(r->Max, expected[id].max);
    if (std::isnan(current[id])) {
      EXPECT_TRUE(std::isnan(r->Current));
    } else {
      EXPECT_EQ(r->Current, current[id]);
    }
  }
  EXPECT_EQ(a->GetThermalControllers().size(), 1u);
  EXPECT_EQ(a->GetGpuLevelCount(), 3);
  EXPECT_EQ(a->GetMemoryLevelCount(), 2);

  // An id past the table still refreshes the current values first.
  bench.fake.calls.clear();
  EXPECT_EQ(a->GetSettingRange(static_cast<_ADL_SETTING_ID>(9)), nullptr);
  const auto reads = bench.fake.CallsOf("ADL2_OverdriveN_SystemClocksX2_Get");
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].record[1], kAdlLevelsCurrent);
  EXPECT_EQ(bench.fake.CountOf("ADL2_OverdriveN_MemoryClocksX2_Get"), 1u);
  EXPECT_EQ(bench.fake.CountOf("ADL2_OverdriveN_PowerLimit_Get"), 1u);
}

// A power limit that cannot be read leaves the current values of the power and temperature
// limits as the last reading had them; the clocks are refreshed all the same.
TEST(OverdriveNAdapter, PowerLimitThatCannotBeReadKeepsItsCurrentValues) {
  Bench bench({OverdriveNCard()});
  auto a = bench.Make();
  a->GetSettingRange(kSettingPowerLimit);
  bench.fake.Tuning().results["ADL2_OverdriveN_PowerLimit_Get"] = -1;
  bench.fake.Tuning().power.TDPLimit = 99;
  bench.fake.Tuning().gpuCurrent.back().Clock = 160000;
  const ADL_ODRange* power = a->GetSettingRange(kSettingPowerLimit);
  ASSERT_NE(power, nullptr);
  EXPECT_EQ(power->Current, 7);
  EXPECT_EQ(a->GetSettingRange(kSettingTemperatureLimit)->Current, 88);
  EXPECT_EQ(a->GetSettingRange(kSettingGpuClock)->Current, 1600);
  EXPECT_EQ(power->Default, 5);  // the ranges stay as start-up filled them
}

// A table whose defaults had no level with a clock keeps its current values as they were.
TEST(OverdriveNAdapter, TableWithoutLevelsIsNotRead) {
  FakeTuning card = OverdriveNCard();
  for (auto& level : card.memoryDefault) level.Clock = 0;
  Bench bench({card});
  auto a = bench.Make();
  EXPECT_EQ(a->GetMemoryLevelCount(), 0);
  const ADL_ODRange* memory = a->GetSettingRange(kSettingMemoryClock);
  EXPECT_EQ(memory->Default, 0);
  EXPECT_TRUE(std::isnan(memory->Current));
  EXPECT_EQ(bench.fake.CountOf("ADL2_OverdriveN_MemoryClocksX2_Get"), 0u);
  EXPECT_TRUE(a->SetClocks(150000, 1100, 150000, 900));
  EXPECT_EQ(bench.fake.CountOf("ADL2_OverdriveN_MemoryClocksX2_Get"), 0u);
  EXPECT_EQ(bench.fake.CountOf("ADL2_OverdriveN_MemoryClocksX2_Set"), 0u);
  EXPECT_EQ(bench.fake.CountOf("ADL2_OverdriveN_SystemClocksX2_Set"), 1u);
}

// Thermal controllers: only those whose enumeration succeeded, addressed by the index their
// enumeration used.
TEST(OverdriveNAdapter, ThermalControllersKeepTheirIndex) {
  FakeTuning card = OverdriveNCard();
  card.thermalDomains = {1, 1, 2, 1};
  card.thermalResults[1] = -3;  // a failed call: nothing to keep, not the record before again
  Bench bench({card});
  auto a = bench.Make();
  std::vector<int32_t> indices;
  for (const auto& c : a->GetThermalControllers()) indices.push_back(c->Index);
  EXPECT_EQ(indices, (std::vector<int32_t>{0, 3}));
  a->SetFanSpeed(40);
  std::vector<int> addressed;
  for (const FakeCall& c : bench.fake.CallsOf("ADL2_Overdrive5_FanSpeed_Set"))
    addressed.push_back(c.controller);
  EXPECT_EQ(addressed, (std::vector<int>{0, 3}));
}

TEST(OverdriveNAdapter, Sensors) {
  Bench bench({OverdriveNCard()});
  auto a = bench.Make();
  ASSERT_TRUE(a->UpdateSensors());
  const std::map<_ADL_HWM_ID, double> expected = {
      {kHwmGpuCoreClock, 1450},   {kHwmGpuMemoryClock, 1000}, {kHwmGpuLoad, 37},
      {kHwmFanSpeedRpm, 1300},    {kHwmMemoryUsage, 1536},    {kHwmGpuTemperature, 61.5},
      {kHwmTemperatureLimit, 88}, {kHwmTdpLimit, 7}};
  for (const auto& [id, sensor] : a->GetSensors()) {
    SCOPED_TRACE(HwmLabel(id));
    const auto it = expected.find(id);
    EXPECT_EQ(sensor->HasValue, it != expected.end() ? 1 : 0);
    if (it == expected.end()) continue;
    EXPECT_DOUBLE_EQ(sensor->Value, it->second);
    EXPECT_EQ(sensor->Name, HwmLabel(id));
  }
  const auto temperature = bench.fake.CallsOf("ADL2_OverdriveN_Temperature_Get");
  ASSERT_EQ(temperature.size(), 1u);
  EXPECT_EQ(temperature[0].record, std::vector<int32_t>{1});
}

// The same fan speed read again and again is taken as stale on the ninth identical reading in
// a row (the eighth repeat), then the speed of thermal controller 0 stands in; the count runs
// across adapters.
TEST(OverdriveNAdapter, RepeatedFanReadingIsStale) {
  Bench bench({OverdriveNCard(), OverdriveNCard()});
  auto a = bench.Make(0);
  auto b = bench.Make(1);
  const auto fan = [&](IVideoAdapter& adapter) {
    adapter.UpdateSensors();
    return adapter.GetSensors().at(kHwmFanSpeedRpm)->Value;
  };
  for (int i = 0; i < 2; ++i) bench.fake.Tuning(i).fan.CurrentFanSpeed = 777;
  EXPECT_EQ(fan(*a), 777);  // a new value starts the count afresh
  for (int i = 0; i < 2; ++i) bench.fake.Tuning(i).fan.CurrentFanSpeed = 1300;
  for (int reading = 1; reading <= 8; ++reading) {
    SCOPED_TRACE(reading);
    EXPECT_EQ(fan(reading % 2 ? *a : *b), 1300);
  }
  bench.fake.calls.clear();
  EXPECT_EQ(fan(*b), 0);  // the ninth; controller 0 has no reading
  const auto controller = bench.fake.CallsOf("ADL2_Overdrive5_FanSpeed_Get");
  ASSERT_EQ(controller.size(), 1u);
  EXPECT_EQ(controller[0].controller, 0);
  EXPECT_EQ(controller[0].record, (std::vector<int32_t>{16, kAdlFanSpeedTypeRpm, 0, 0}))
      << "the RPM sensor asks for RPM";
  bench.fake.Tuning(0).fanSpeeds[0] = {16, 1, 990, 0};
  EXPECT_EQ(fan(*a), 990);  // still stale: controller 0's reading
  bench.fake.Tuning(1).fan.CurrentFanSpeed = 1250;
  EXPECT_EQ(fan(*b), 1250);
}

// Every combination of a percent, the thermal controllers and the reset entry point: the fans
// are never left at a fixed 0 % when automatic control is asked for.
TEST(OverdriveNAdapter, SetFanSpeed) {
  enum class Controllers { kGpu, kNone, kFailing };
  for (int32_t percent : {-1, -5, 0, 50}) {
    for (Controllers controllers : {Controllers::kGpu, Controllers::kNone, Controllers::kFailing}) {
      for (bool toDefault : {true, false}) {
        SCOPED_TRACE("percent " + std::to_string(percent) + ", controllers " +
                     std::to_string(static_cast<int>(controllers)) +
                     (toDefault ? ", with reset" : ", without reset"));
        FakeTuning card = OverdriveNCard();  // the GPU controller has index 1
        if (controllers == Controllers::kNone) card.thermalDomains = {2};
        Bench bench({card}, toDefault
                                ? std::set<std::string>{}
                                : std::set<std::string>{"ADL2_Overdrive5_FanSpeedToDefault_Set"});
        auto a = bench.Make();
        if (controllers == Controllers::kFailing) {
          bench.fake.Tuning().results["ADL2_Overdrive5_FanSpeed_Set"] = -1;
          bench.fake.Tuning().results["ADL2_Overdrive5_FanSpeedToDefault_Set"] = -1;
        }
        EXPECT_TRUE(a->SetFanSpeed(percent));

        const bool haveController = controllers != Controllers::kNone;
        const auto sets = bench.fake.CallsOf("ADL2_Overdrive5_FanSpeed_Set");
        const auto resets = bench.fake.CallsOf("ADL2_Overdrive5_FanSpeedToDefault_Set");
        if (percent < 0) {
          // 0 % then the reset; without the reset no fixed speed at all.
          const size_t expected = haveController && toDefault ? 1u : 0u;
          ASSERT_EQ(sets.size(), expected);
          ASSERT_EQ(resets.size(), expected);
          if (expected) {
            EXPECT_EQ(sets[0].controller, 1);
            EXPECT_EQ(sets[0].record, (std::vector<int32_t>{16, 1, 0, 1}));
            EXPECT_EQ(resets[0].controller, 1);
          }
        } else {
          EXPECT_TRUE(resets.empty());
          ASSERT_EQ(sets.size(), haveController ? 1u : 0u);
          if (!sets.empty()) {
            EXPECT_EQ(sets[0].controller, 1);
            EXPECT_EQ(sets[0].record, (std::vector<int32_t>{16, 1, percent, 1}));
          }
        }
        // The fan control: automatic, or the percent (0 taken as 1) of the 3200 maximum.
        const auto fan = bench.fake.CallsOf("ADL2_OverdriveN_FanControl_Set");
        ASSERT_EQ(fan.size(), 1u);
        const int32_t target = percent < 0 ? 1200 : (percent == 0 ? 32 : 1600);
        const int32_t limit = percent < 0 ? 500 : target;
        EXPECT_EQ(fan[0].record, (std::vector<int32_t>{percent < 0 ? 2 : 3, 1, 1, 1300, target, 85,
                                                       50000, limit}));
      }
    }
  }
}

TEST(OverdriveNAdapter, FanControlThatCannotBeReadIsNotSet) {
  Bench bench({OverdriveNCard()});
  auto a = bench.Make();
  bench.fake.Tuning().results["ADL2_OverdriveN_FanControl_Get"] = -1;
  EXPECT_TRUE(a->SetFanAuto());
  EXPECT_EQ(bench.fake.CountOf("ADL2_OverdriveN_FanControl_Set"), 0u);
  const size_t sets = bench.fake.CountOf("ADL2_Overdrive5_FanSpeed_Set");
  EXPECT_TRUE(a->SetFanCurve(nullptr, 3));  // accepted and ignored
  EXPECT_EQ(bench.fake.CountOf("ADL2_Overdrive5_FanSpeed_Set"), sets);
}

TEST(OverdriveNAdapter, FanModeFromTheFirstControllerThatAnswers) {
  const struct {
    std::vector<int> domains;
    int32_t flags;
    int32_t mode;
  } cases[] = {{{2, 1}, 0, 0}, {{2, 1}, 1, 1}, {{2}, 1, 0}, {{1, 1}, 1, 1}};
  for (const auto& c : cases) {
    FakeTuning card = OverdriveNCard();
    card.thermalDomains = c.domains;
    card.fanSpeeds.clear();
    card.fanSpeeds[static_cast<int>(c.domains.size()) - 1] = {16, 1, 1000, c.flags};
    Bench bench({card});
    auto a = bench.Make();
    EXPECT_EQ(a->GetFanMode(), c.mode);
    // Each read names its unit (the library answers none without one): the percent setting.
    for (const FakeCall& call : bench.fake.CallsOf("ADL2_Overdrive5_FanSpeed_Get"))
      EXPECT_EQ(call.record[1], kAdlFanSpeedTypePercent);
  }
}

// Levels above level 0 follow the ratio of the requested top value to the default top value,
// products in single precision; a table that cannot be read is not written.
TEST(OverdriveNAdapter, SetClocks) {
  using Words = std::vector<int32_t>;
  // size, mode, count, then clock, voltage, enabled, control per level
  const Words scaledGpu = {140, 3, 3, 30000, 750, 1, 0, 132000, 990, 3, 0, 165000, 1210, 3, 0};
  const Words scaledMemory = {140, 3, 2, 30000, 750, 1, 0, 110000, 935, 1, 0};
  const struct {
    const char* what;
    std::function<void(FakeTuning&)> change;
    int32_t gpuClock, gpuVoltage;
    std::optional<Words> gpu, memory;
  } cases[] = {
      {"both tables", [](FakeTuning&) {}, 165000, 1210, scaledGpu, scaledMemory},
      {"GPU table unreadable",
       [](FakeTuning& t) { t.results["ADL2_OverdriveN_SystemClocksX2_Get"] = -1; }, 165000, 1210,
       std::nullopt, scaledMemory},
      {"GPU top level without a clock", [](FakeTuning& t) { t.gpuDefault[2].Clock = 0; }, 165000,
       1210, std::nullopt, scaledMemory},
      {"GPU top level without a voltage", [](FakeTuning& t) { t.gpuDefault[2].Vddc = 0; }, 165000,
       1210, Words{140, 3, 3, 30000, 750, 1, 0, 132000, 900, 3, 0, 165000, 0, 3, 0}, scaledMemory},
      {"no GPU clock requested", [](FakeTuning&) {}, 0, 1210, std::nullopt, scaledMemory},
      {"no GPU voltage requested", [](FakeTuning&) {}, 165000, 0,
       Words{140, 3, 3, 30000, 750, 1, 0, 132000, 900, 3, 0, 165000, 1100, 3, 0}, scaledMemory},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bench bench({OverdriveNCard()});
    auto a = bench.Make();
    c.change(bench.fake.Tuning());
    EXPECT_TRUE(a->SetClocks(c.gpuClock, c.gpuVoltage, 110000, 935));
    for (const char* read :
         {"ADL2_OverdriveN_SystemClocksX2_Get", "ADL2_OverdriveN_MemoryClocksX2_Get"}) {
      for (const FakeCall& call : bench.fake.CallsOf(read))
        EXPECT_EQ(call.record[1], kAdlLevelsDefault);
    }
    const auto gpu = bench.fake.CallsOf("ADL2_OverdriveN_SystemClocksX2_Set");
    const auto memory = bench.fake.CallsOf("ADL2_OverdriveN_MemoryClocksX2_Set");
    ASSERT_EQ(gpu.size(), c.gpu ? 1u : 0u);
    if (c.gpu) {
      EXPECT_EQ(gpu[0].record, *c.gpu);
    }
    ASSERT_EQ(memory.size(), c.memory ? 1u : 0u);
    if (c.memory) {
      EXPECT_EQ(memory[0].record, *c.memory);
    }
  }
}

// Both limits within the capability's bounds, inclusive; anything else is refused without a
// call.
TEST(OverdriveNAdapter, SetPowerLimit) {
  const struct {
    int32_t temperature, power;
    bool accepted;
  } cases[] = {{59, 0, false},   {60, 0, true},   {105, 0, true}, {106, 0, false},
               {90, -21, false}, {90, -20, true}, {90, 30, true}, {90, 31, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.temperature) + " degrees, " + std::to_string(c.power) + " %");
    Bench bench({OverdriveNCard()});
    auto a = bench.Make();
    EXPECT_EQ(a->SetPowerLimit(c.temperature, c.power), c.accepted);
    if (!c.accepted) {
      EXPECT_TRUE(bench.fake.calls.empty());
      continue;
    }
    const auto set = bench.fake.CallsOf("ADL2_OverdriveN_PowerLimit_Set");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0].record, (std::vector<int32_t>{3, c.power, c.temperature}));
    EXPECT_EQ(bench.fake.logLines.back(), (FakeAdl::Line{"Adapter TDP", "Temp:88, Power:7", 12}));
  }
  Bench refused({OverdriveNCard()});
  auto a = refused.Make();
  refused.fake.Tuning().results["ADL2_OverdriveN_PowerLimit_Set"] = -1;
  EXPECT_FALSE(a->SetPowerLimit(90, 0));
}

TEST(OverdriveNAdapter, ResetPowerLimit) {
  const struct {
    const char* what;
    std::set<std::string> missing;
    std::map<std::string, int> results;
    bool result;
    bool sets;
  } cases[] = {
      {"reads and resets", {}, {}, true, true},
      {"limits cannot be read", {}, {{"ADL2_OverdriveN_PowerLimit_Get", -1}}, true, false},
      {"reset refused", {}, {{"ADL2_OverdriveN_PowerLimit_Set", -1}}, false, true},
      {"no read entry point", {"ADL2_OverdriveN_PowerLimit_Get"}, {}, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bench bench({OverdriveNCard()}, c.missing);
    auto a = bench.Make();
    bench.fake.Tuning().results = c.results;
    EXPECT_EQ(a->ResetPowerLimit(), c.result);
    const auto set = bench.fake.CallsOf("ADL2_OverdriveN_PowerLimit_Set");
    ASSERT_EQ(set.size(), c.sets ? 1u : 0u);
    if (c.sets) {
      EXPECT_EQ(set[0].record, (std::vector<int32_t>{1, 7, 88}));
    }
  }
}

TEST(OverdriveNAdapter, SetPerformanceDefaultWritesTheDefaultTablesBack) {
  Bench bench({OverdriveNCard()});
  auto a = bench.Make();
  bench.fake.Tuning().results = {{"ADL2_OverdriveN_SystemClocksX2_Set", -1},
                                 {"ADL2_OverdriveN_MemoryClocksX2_Get", -1}};
  EXPECT_TRUE(a->SetPerformanceDefault());
  EXPECT_EQ(bench.fake.CountOf("ADL2_OverdriveN_PowerLimit_Set"), 1u);
  const auto gpu = bench.fake.CallsOf("ADL2_OverdriveN_SystemClocksX2_Set");
  ASSERT_EQ(gpu.size(), 1u);
  EXPECT_EQ(gpu[0].record, (std::vector<int32_t>{140, 1, 3, 30000, 750, 1, 0, 120000, 900, 1, 0,
                                                 150000, 1100, 1, 0}));
  const std::vector<FakeAdl::Line> tail(bench.fake.logLines.end() - 2, bench.fake.logLines.end());
  EXPECT_EQ(tail, (std::vector<FakeAdl::Line>{
                      {"SetPerformanceDefault", "ADL2_OverdriveN_SystemClocksX2_Set Fail", 12},
                      {"SetPerformanceDefault", "ADL2_OverdriveN_MemoryClocksX2_Get Fail", 12}}));
}

// An adapter outside the library does nothing and calls nothing.
TEST(OverdriveNAdapter, InvalidAdapterFails) {
  Bench bench({OverdriveNCard()});
  TOD7VideoAdapter a(bench.adl.get(), 5);
  bench.fake.calls.clear();
  EXPECT_FALSE(a.UpdateSensors());
  EXPECT_FALSE(a.SetFanSpeed(50));
  EXPECT_FALSE(a.SetPowerLimit(90, 0));
  EXPECT_FALSE(a.ResetPowerLimit());
  EXPECT_FALSE(a.SetClocks(1, 1, 1, 1));
  EXPECT_FALSE(a.SetPerformanceOC());
  EXPECT_FALSE(a.SetPerformanceDefault());
  EXPECT_NE(a.GetSettingRange(kSettingGpuClock), nullptr);
  EXPECT_TRUE(bench.fake.calls.empty());
}

}  // namespace
}  // namespace brumel
