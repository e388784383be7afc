// Adapters of tuning generation 8 over a display library of the test's own: both forms of the
// settings reads, the ranges, and the set requests the operations send; and the two presets of
// both generations.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <set>

#include "FakeAdl.h"
#include "gpu/OD7VideoAdapter.h"
#include "gpu/OD8VideoAdapter.h"

namespace brumel {
namespace {

using test::FakeAdapter;
using test::FakeAdl;
using test::FakeCall;
using test::FakeTuning;
using test::Overdrive8Card;
using test::OverdriveNCard;

const FakeAdapter kCard{3, 0, 0, "UDID_8", "Card 8", 8, 0};

struct Bench {
  explicit Bench(FakeTuning card, std::set<std::string> missing = {}) {
    fake.adapters = {kCard};
    fake.tuning[0] = std::move(card);
    fake.missing = std::move(missing);
    adl = fake.LoadBeside();
  }
  std::unique_ptr<TOD8VideoAdapter> Make() {
    auto adapter = std::make_unique<TOD8VideoAdapter>(adl.get(), 0);
    fake.calls.clear();
    return adapter;
  }
  // The entries of the one set request sent: feature -> {value, requested, reset}.
  std::map<int, std::vector<int32_t>> Request(size_t which = 0) const {
    const auto sets = fake.CallsOf("ADL2_Overdrive8_Setting_Set");
    std::map<int, std::vector<int32_t>> entries;
    if (which >= sets.size()) return entries;
    const std::vector<int32_t>& r = sets[which].record;
    EXPECT_EQ(r[0], 29);
    for (int e = 0; e < kAdlOd8Features; ++e) {
      const std::vector<int32_t> entry(r.begin() + 1 + 3 * e, r.begin() + 4 + 3 * e);
      if (entry != std::vector<int32_t>{0, 0, 0}) entries[e] = entry;
    }
    return entries;
  }
  FakeAdl fake;
  std::unique_ptr<TADL> adl;
};

const char kInitList[] = "ADL2_Overdrive8_Init_SettingX2_Get";
const char kCurrentList[] = "ADL2_Overdrive8_Current_SettingX2_Get";
const char kInitRecord[] = "ADL2_Overdrive8_Init_Setting_Get";
const char kCurrentRecord[] = "ADL2_Overdrive8_Current_Setting_Get";

// The initial settings through either form, and what the library's count, list and result
// make of them.
TEST(Overdrive8Adapter, InitialSettingsThroughEitherForm) {
  const auto with = [](auto change) {
    FakeTuning t = Overdrive8Card();
    change(t);
    return t;
  };
  const struct {
    const char* what;
    FakeTuning card;
    std::set<std::string> missing;
    int32_t count;         // features kept
    int32_t capabilities;  // capability bits kept
    bool values;           // the card's values were taken
    const char* read;      // the entry point that was called
  } cases[] = {
      {"list form", Overdrive8Card(), {}, 29, 0x7F, true, kInitList},
      {"record form", Overdrive8Card(), {kInitList, kCurrentList}, 29, 0x7F, true, kInitRecord},
      {"neither", Overdrive8Card(), {kInitList, kInitRecord}, 29, 0, false, nullptr},
      {"count of 35",
       with([](FakeTuning& t) {
         t.od8InitCount = 35;
         t.od8Init.resize(35);
       }),
       {},
       29,
       0x7F,
       true,
       kInitList},
      {"count of 35 in the record",
       with([](FakeTuning& t) { t.od8InitCount = 35; }),
       {kInitList},
       29,
       0x7F,
       true,
       kInitRecord},
      {"count of -1",
       with([](FakeTuning& t) { t.od8InitCount = -1; }),
       {},
       0,
       0x7F,
       false,
       kInitList},
      {"success without a list",
       with([](FakeTuning& t) { t.od8InitNoList = true; }),
       {},
       29,
       0,
       false,
       kInitList},
      {"list refused",
       with([](FakeTuning& t) { t.results[kInitList] = -1; }),
       {},
       29,
       0,
       false,
       kInitList},
      {"record refused",
       with([](FakeTuning& t) { t.results[kInitRecord] = -1; }),
       {kInitList},
       29,
       0,
       false,
       kInitRecord},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bench bench(c.card, c.missing);
    auto a = std::make_unique<TOD8VideoAdapter>(bench.adl.get(), 0);
    const ADLOD8InitSetting& init = a->GetInitSettings();
    EXPECT_EQ(init.Count, c.count);
    EXPECT_EQ(init.OverdriveCapabilities, c.capabilities);
    EXPECT_EQ(init.Features[0].DefaultValue, c.values ? 1900 : 0);
    EXPECT_EQ(init.Features[28].MaxValue, c.values ? 2850 : 0);
    for (const char* entry : {kInitList, kInitRecord}) {
      const auto calls = bench.fake.CallsOf(entry);
      EXPECT_EQ(calls.size(), c.read && std::string(c.read) == entry ? 1u : 0u) << entry;
      // The tool asks for all 29.
      if (!calls.empty()) {
        EXPECT_EQ(calls[0].record[0], 29);
      }
    }
    const ADL_ODRange* clock = a->GetSettingRange(kSettingGpuClock);
    EXPECT_EQ(clock->Default, c.values ? 1900 : 0);
    // A card that lists no feature at all supports none.
    EXPECT_EQ(clock->Supported, c.count > 0 ? 1 : 0);
  }
}

// Setting ids to features, defaults and limits as the library gives them, widened to hold the
// default; current values from the current settings.
TEST(Overdrive8Adapter, RangesAndCurrentValues) {
  FakeTuning card = Overdrive8Card();
  card.od8Init[10] = {10, 1030, 1050, 1020};  // default below the minimum
  Bench bench(card);
  auto a = bench.Make();
  const struct {
    int32_t supported;
    double defaultValue, min, max, current;
  } expected[kSettingCount] = {
      {1, 1900, 800, 2100, 621}, {1, 875, 600, 1100, 876},  {1, 750, 700, 1150, 721},
      {0, 750, 700, 1150, -1},   {1, 1020, 1020, 1050, -1}, {1, 95, 25, 105, -1},
      {1, 10, -50, 50, 11},      {0, 95, 25, 105, 96},
  };
  for (int32_t id = 0; id < kSettingCount; ++id) {
    SCOPED_TRACE(id);
    const ADL_ODRange* r = a->GetSettingRange(static_cast<_ADL_SETTING_ID>(id));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Supported, expected[id].supported);
    EXPECT_EQ(r->Default, expected[id].defaultValue);
    EXPECT_EQ(r->Min, expected[id].min);
    EXPECT_EQ(r->Max, expected[id].max);
    if (expected[id].current >= 0) {
      EXPECT_EQ(r->Current, expected[id].current);
    }
  }
  EXPECT_EQ(a->GetSettingRange(static_cast<_ADL_SETTING_ID>(8)), nullptr);

  // Current values that cannot be read are 0.
  for (auto results :
       {std::map<std::string, int>{{kCurrentList, -1}}, std::map<std::string, int>{}}) {
    bench.fake.Tuning().results = results;
    bench.fake.Tuning().od8CurrentNoList = results.empty();
    for (int32_t id : {0, 1, 2, 6, 7})
      EXPECT_EQ(a->GetSettingRange(static_cast<_ADL_SETTING_ID>(id))->Current, 0) << id;
  }
}

TEST(Overdrive8Adapter, CurrentSettingsThroughEitherForm) {
  const struct {
    const char* what;
    std::set<std::string> missing;
    std::optional<int> count;
    double gpu;          // Current of id 0 (feature 6)
    double temperature;  // Current of id 7 (feature 12)
  } cases[] = {
      {"list form", {}, std::nullopt, 621, 96},
      {"record form", {kCurrentList}, std::nullopt, 621, 96},
      {"list of 7 values", {}, 7, 621, 0},
      {"record of 35 values", {kCurrentList}, 35, 621, 96},
      {"count of -1", {}, -1, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeTuning card = Overdrive8Card();
    card.od8CurrentCount = c.count;
    if (c.count && *c.count > 29) card.od8Current.resize(static_cast<size_t>(*c.count), 5);
    Bench bench(card, c.missing);
    auto a = bench.Make();
    EXPECT_EQ(a->GetSettingRange(kSettingGpuClock)->Current, c.gpu);
    EXPECT_EQ(a->GetSettingRange(kSettingTemperatureLimit)->Current, c.temperature);
    if (c.missing.empty()) {
      EXPECT_GT(bench.fake.listsHandedOut, 0);
    }
  }
}

TEST(Overdrive8Adapter, SensorsFromThePowerManagementLog) {
  Bench bench(Overdrive8Card());
  auto a = bench.Make();
  a->StoreSensor(kHwmTdpLimit, 1);  // every reading starts afresh
  ASSERT_TRUE(a->UpdateSensors());
  const std::map<_ADL_HWM_ID, double> expected = {
      {kHwmGpuCoreClock, 1850}, {kHwmGpuMemoryClock, 870}, {kHwmFanSpeedRpm, 1400},
      {kHwmGpuLoad, 42},        {kHwmGpuTemperature, 71},  {kHwmMemoryUsage, 2048}};
  for (const auto& [id, sensor] : a->GetSensors()) {
    SCOPED_TRACE(HwmLabel(id));
    const auto it = expected.find(id);
    EXPECT_EQ(sensor->HasValue, it != expected.end() ? 1 : 0);
    EXPECT_EQ(sensor->Value, it != expected.end() ? it->second : -1.0);
  }
  // Without the edge temperature there is no temperature, the hot spot's neither.
  bench.fake.Tuning().pmLog.Sensors[8].Supported = 0;
  a->UpdateSensors();
  EXPECT_EQ(a->GetSensors().at(kHwmGpuTemperature)->HasValue, 0);
}

// A fixed speed on every curve point and the limits toward cooling; automatic returns every
// curve speed and the limits to their defaults with the reset flag.
TEST(Overdrive8Adapter, SetFanSpeed) {
  using Entries = std::map<int, std::vector<int32_t>>;
  for (int32_t percent : {-1, -5, 40}) {
    SCOPED_TRACE(percent);
    Bench bench(Overdrive8Card());
    auto a = bench.Make();
    ASSERT_TRUE(a->SetFanSpeed(percent));
    const bool automatic = percent < 0;
    const int32_t reset = automatic ? 1 : 0;
    Entries expected;
    for (int e = 19; e <= 28; e += 2) expected[e] = {100 * e + 21, 1, reset};  // temperatures
    for (int e = 20; e <= 28; e += 2) expected[e] = {automatic ? 100 * e + 20 : percent, 1, reset};
    expected[12] = {automatic ? 95 : 25, 1, reset};      // target temperature: its minimum
    expected[10] = {automatic ? 1020 : 1050, 1, reset};  // minimum speed: its maximum
    expected[11] = {automatic ? 1120 : 1150, 1, reset};  // acoustic limit: its maximum
    EXPECT_EQ(bench.Request(), expected);
  }
  Bench refused(Overdrive8Card());
  auto a = refused.Make();
  refused.fake.Tuning().results["ADL2_Overdrive8_Setting_Set"] = -1;
  EXPECT_FALSE(a->SetFanAuto());
}

TEST(Overdrive8Adapter, SetFanCurveTakesFivePoints) {
  Bench bench(Overdrive8Card());
  auto a = bench.Make();
  TCfgFanPoint points[5] = {{10, 40}, {20, 50}, {30, 60}, {40, 70}, {50, 80}};
  for (int32_t count : {0, 1, 4}) EXPECT_FALSE(a->SetFanCurve(points, count)) << count;
  EXPECT_FALSE(a->SetFanCurve(nullptr, 5));
  EXPECT_TRUE(bench.fake.calls.empty());
  bench.fake.Tuning().results["ADL2_Overdrive8_Setting_Set"] = -1;
  EXPECT_TRUE(a->SetFanCurve(points, 5));  // whatever the library answered
  std::map<int, std::vector<int32_t>> expected;
  for (int k = 0; k < 5; ++k) {
    expected[19 + 2 * k] = {points[k].FanTemp, 1, 0};
    expected[20 + 2 * k] = {points[k].FanSpeed, 1, 0};
  }
  EXPECT_EQ(bench.Request(), expected);
}

TEST(Overdrive8Adapter, FanMode) {
  const auto speeds = [](std::vector<int> values) {
    FakeTuning t = Overdrive8Card();
    for (size_t k = 0; k < 5; ++k) t.od8Current[20 + 2 * k] = values[k];
    return t;
  };
  const auto defaults = [] {
    FakeTuning t = Overdrive8Card();
    for (int e = 19; e <= 28; ++e) t.od8Current[e] = t.od8Init[e].DefaultValue;
    return t;
  };
  FakeTuning equalDefaults = defaults();
  for (int e = 20; e <= 28; e += 2) equalDefaults.od8Init[e].DefaultValue = 33;
  for (int e = 20; e <= 28; e += 2) equalDefaults.od8Current[e] = 33;
  const struct {
    const char* what;
    FakeTuning card;
    int32_t mode;
  } cases[] = {
      {"five equal speeds", speeds({45, 45, 45, 45, 45}), 1},
      {"five equal speeds that are the defaults", equalDefaults, 1},
      {"the default curve", defaults(), 0},
      {"a curve of its own", speeds({20, 30, 45, 60, 80}), 2},
      {"the default curve but for its last entry",
       [&] {
         FakeTuning t = defaults();
         ++t.od8Current[28];
         return t;
       }(),
       2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bench bench(c.card);
    EXPECT_EQ(bench.Make()->GetFanMode(), c.mode);
  }
}

// Which entries the clock and default requests carry, by capability bit.
TEST(Overdrive8Adapter, ClockRequestsFollowTheCapabilities) {
  for (int32_t capabilities : {0, 1, 2, 4}) {
    SCOPED_TRACE(capabilities);
    FakeTuning card = Overdrive8Card();
    card.od8Capabilities = capabilities;
    Bench bench(card);
    auto a = bench.Make();
    const bool gfx = capabilities & 3;
    const bool memory = capabilities & 4;

    ASSERT_TRUE(a->SetClocks(190000, 800, 90000, 1234));
    std::map<int, std::vector<int32_t>> expected;
    for (int e = 0; e <= 8; ++e) expected[e] = {100 * e + 21, 1, 0};
    expected[0][0] = 1901;  // feature 0's current value
    expected[3][0] = 751;
    expected[8][0] = 876;
    if (gfx) {
      expected[0] = {1900, 1, 0};
      expected[6] = {1900, 1, 0};
      expected[7] = {800, 1, 0};
    }
    if (memory) expected[8] = {900, 1, 0};
    EXPECT_EQ(bench.Request(), expected);

    bench.fake.calls.clear();
    ASSERT_TRUE(a->SetPerformanceDefault());
    EXPECT_TRUE(bench.Request(0).empty());  // the power reset: no power-limit capability
    std::map<int, std::vector<int32_t>> defaults;
    for (int e = 0; e <= 8; ++e) defaults[e] = {100 * e + 21, 1, 0};
    defaults[0][0] = 1901;
    defaults[3][0] = 751;
    defaults[8][0] = 876;
    if (gfx) {
      defaults[0] = {1900, 1, 1};
      defaults[6] = {620, 1, 1};
      defaults[7] = {720, 1, 1};
    }
    if (memory) defaults[8] = {875, 1, 1};
    EXPECT_EQ(bench.Request(1), defaults);
  }
}

TEST(Overdrive8Adapter, PowerLimitNeedsItsCapability) {
  for (int32_t capabilities : {0x7F, 0x77}) {
    SCOPED_TRACE(capabilities);
    FakeTuning card = Overdrive8Card();
    card.od8Capabilities = capabilities;
    Bench bench(card);
    auto a = bench.Make();
    ASSERT_TRUE(a->SetPowerLimit(80, 25));
    ASSERT_TRUE(a->ResetPowerLimit());
    const bool power = capabilities & 8;
    using Entries = std::map<int, std::vector<int32_t>>;
    const Entries set = power ? Entries{{9, {25, 1, 0}}} : Entries{};
    const Entries reset = power ? Entries{{9, {10, 1, 1}}} : Entries{};
    EXPECT_EQ(bench.Request(0), set);
    EXPECT_EQ(bench.Request(1), reset);
  }
  Bench missing(Overdrive8Card(), {"ADL2_Overdrive8_Setting_Set"});
  EXPECT_FALSE(missing.Make()->SetPowerLimit(80, 25));
}

// Results 1 to 4 are the library's successes, with a warning or a mode change.
TEST(Overdrive8Adapter, ResultsOneToFourAreSuccesses) {
  for (int result : {0, 1, 2, 3, 4, -1, -8}) {
    SCOPED_TRACE(result);
    Bench bench(Overdrive8Card());
    auto a = bench.Make();
    bench.fake.Tuning().results["ADL2_Overdrive8_Setting_Set"] = result;
    EXPECT_EQ(a->SetPowerLimit(80, 25), result >= 0);
  }
}

// The set requests of every operation that sends one, in order.
std::vector<std::map<int, std::vector<int32_t>>> EveryRequest(Bench& bench, TOD8VideoAdapter& a) {
  bench.fake.calls.clear();
  TCfgFanPoint points[5] = {{10, 40}, {20, 50}, {30, 60}, {40, 70}, {50, 80}};
  a.SetPerformanceOC();
  a.SetPerformanceSilent();
  a.SetPerformanceDefault();
  a.SetClocks(190000, 800, 90000, 900);
  a.SetFanSpeed(60);
  a.SetFanAuto();
  a.SetFanCurve(points, 5);
  a.SetPowerLimit(80, 0);
  std::vector<std::map<int, std::vector<int32_t>>> requests;
  for (size_t i = 0; i < bench.fake.CountOf("ADL2_Overdrive8_Setting_Set"); ++i)
    requests.push_back(bench.Request(i));
  return requests;
}

// A card whose feature list is shorter than its capability bits claim: a capability whose
// feature the list lacks counts as unsupported, and no request carries an entry the card did not
// list. So no clock, voltage or power limit of 0 (a missing feature's zero-filled limits and
// default) ever reaches the card, in either form of the reads.
TEST(Overdrive8Adapter, AFeatureListShorterThanItsCapabilitiesGetsNoMadeUpValues) {
  for (bool recordForm : {false, true}) {
    SCOPED_TRACE(recordForm ? "record form" : "list form");
    FakeTuning card = Overdrive8Card();  // every capability bit
    // Features 0 to 5: the GPU clock maximum and voltage 1 but not the rest of the clock block
    // (6, 7), no memory clock (8), power (9), fan limits (10 to 12) or fan curve.
    card.od8Init.resize(6);
    Bench bench(card, recordForm ? std::set<std::string>{kInitList, kCurrentList}
                                 : std::set<std::string>{});
    auto a = bench.Make();
    EXPECT_EQ(a->GetInitSettings().Count, 6);
    EXPECT_EQ(a->GetSettingRange(kSettingGpuClock)->Supported, 1);
    EXPECT_EQ(a->GetSettingRange(kSettingGpuVoltage)->Supported, 1);
    for (_ADL_SETTING_ID id : {kSettingMemoryClock, kSettingFanSpeed, kSettingFanTemperature,
                               kSettingPowerLimit})
      EXPECT_EQ(a->GetSettingRange(id)->Supported, 0) << id;

    const auto requests = EveryRequest(bench, *a);
    EXPECT_EQ(requests.size(), 11u);  // each preset sends two: a power limit, then the clocks
    for (const auto& request : requests) {
      for (const auto& [feature, entry] : request) {
        EXPECT_LT(feature, 6) << "an entry the card did not list";
        EXPECT_NE(entry[0], 0) << "feature " << feature;
        EXPECT_EQ(entry, (std::vector<int32_t>{card.od8Current[static_cast<size_t>(feature)], 1,
                                               0}))
            << "only current values, feature " << feature;
      }
    }
  }
}

// Current settings that cannot be read: a request carries only what the operation sets itself,
// never the zeros that stand for the values not read.
TEST(Overdrive8Adapter, UnreadableCurrentSettingsAreNotSentBack) {
  for (bool recordForm : {false, true}) {
    SCOPED_TRACE(recordForm ? "record form" : "list form");
    Bench bench(Overdrive8Card(), recordForm ? std::set<std::string>{kInitList, kCurrentList}
                                             : std::set<std::string>{});
    auto a = bench.Make();
    bench.fake.Tuning().results[recordForm ? kCurrentRecord : kCurrentList] = -1;
    ASSERT_TRUE(a->SetClocks(190000, 800, 90000, 1234));
    EXPECT_EQ(bench.Request(), (std::map<int, std::vector<int32_t>>{
                                   {0, {1900, 1, 0}}, {6, {1900, 1, 0}}, {7, {800, 1, 0}},
                                   {8, {900, 1, 0}}}));
    // Nor does a clock of 0 stand in for one that is not known: that entry is left out.
    bench.fake.calls.clear();
    ASSERT_TRUE(a->SetClocks(0, 0, 0, 0));
    EXPECT_TRUE(bench.Request().empty());
  }
}

// ---- presets -----------------------------------------------------------------------------

// An adapter of either generation whose card identity the test chooses.
template <typename Adapter>
class CardOf : public Adapter {
 public:
  CardOf(TADL* adl, uint32_t subsystem) : Adapter(adl, 0) { this->SubsystemId = subsystem; }
};

TEST(Presets, FactorRowsByCardGroup) {
  FakeAdl fake;
  fake.adapters = {kCard};
  auto adl = fake.LoadBeside();
  const struct {
    uint32_t subsystem;
    float row[6];
  } cases[] = {
      {0x12345678u, {1.04f, 1.004f, 50, 0.96f, 0.996f, -15}},
      {kPresetGroupA[0], {1.02f, 1.02f, 15, 0.98f, 0.98f, -15}},
      {kPresetGroupA[1], {1.02f, 1.02f, 15, 0.98f, 0.98f, -15}},
      {kPresetGroupB[0], {1.02f, 1.004f, 20, 0.98f, 1.0f, -20}},
      {kPresetGroupB[2], {1.02f, 1.004f, 20, 0.98f, 1.0f, -20}},
      {kPresetGroupC[0], {1.02f, 1.004f, 50, 0.98f, 0.996f, -15}},
  };
  for (const auto& c : cases) {
    CardOf<TOD8VideoAdapter> a(adl.get(), c.subsystem);
    float f[6] = {};
    ASSERT_TRUE(a.PresetFactors(&f[0], &f[1], &f[2], &f[3], &f[4], &f[5]));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(f[i], c.row[i]) << std::hex << c.subsystem << " " << i;
    EXPECT_FALSE(a.PresetFactors(&f[0], &f[1], &f[2], &f[3], &f[4], nullptr));
  }
}

// Both presets over a generation-7 card: the factors in single precision (1500 x 1.04 gives
// 1560, 300 x 0.96 gives 288), the power clamped to the adapter's range, the lines they write.
TEST(Presets, OverdriveN) {
  const struct {
    const char* what;
    bool overclock;
    int32_t gpuTop;  // MHz of the GPU's top default level
    int32_t powerMin, powerMax;
    int32_t power;        // the power limit set
    int32_t gpu, memory;  // the clocks asked for, MHz
    const char* factors;
  } cases[] = {
      {"overclock", true, 1500, -20, 30, 30, 1560, 1003, "GpuClock=1.04, MemClock=1.004"},
      {"overclock within the range", true, 1500, -20, 60, 50, 1560, 1003,
       "GpuClock=1.04, MemClock=1.004"},
      {"quiet", false, 300, -20, 30, -15, 288, 996, "GpuClock=0.96, MemClock=0.996"},
      {"quiet at the range's floor", false, 300, -10, 30, -10, 288, 996,
       "GpuClock=0.96, MemClock=0.996"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeTuning card = OverdriveNCard();
    card.gpuDefault = {{30000, 750, 1, 0}, {c.gpuTop * 100, 1100, 1, 0}};
    card.capabilities.Power.Min = c.powerMin;
    card.capabilities.Power.Max = c.powerMax;
    FakeAdl fake;
    fake.adapters = {kCard};
    fake.adapters[0].overdrive = 7;
    fake.tuning[0] = card;
    auto adl = fake.LoadBeside();
    CardOf<TOD7VideoAdapter> a(adl.get(), 0x12345678u);
    fake.calls.clear();
    fake.logLines.clear();
    ASSERT_TRUE(c.overclock ? a.SetPerformanceOC() : a.SetPerformanceSilent());

    const auto power = fake.CallsOf("ADL2_OverdriveN_PowerLimit_Set");
    ASSERT_EQ(power.size(), 1u);
    EXPECT_EQ(power[0].record, (std::vector<int32_t>{3, c.power, 90}));
    const char* label = c.overclock ? "SetPerformanceOC" : "SetPerformanceSilent";
    const std::string clocks =
        "GpuClock=" + std::to_string(c.gpu) + ", MemClock=" + std::to_string(c.memory);
    EXPECT_EQ(fake.logLines, (std::vector<FakeAdl::Line>{{label, c.factors, 10},
                                                         {"Adapter TDP", "Temp:88, Power:7", 12},
                                                         {label, clocks, 10}}));
    // The top levels become the clocks asked for.
    const auto gpu = fake.CallsOf("ADL2_OverdriveN_SystemClocksX2_Set");
    ASSERT_EQ(gpu.size(), 1u);
    EXPECT_EQ(gpu[0].record[3 + 4], c.gpu * 100);
    const auto memory = fake.CallsOf("ADL2_OverdriveN_MemoryClocksX2_Set");
    ASSERT_EQ(memory.size(), 1u);
    EXPECT_EQ(memory[0].record[3 + 4], c.memory * 100);
  }
}

// The products of the presets, in single precision and each rounded to it: the same on every
// build. (Kept at extended precision, as the x87 unit does, each of these truncates one lower.)
TEST(Presets, ScaledClocksAreTheSameOnEveryBuild) {
  const struct {
    int32_t value;
    float factor;
    int32_t scaled;
  } cases[] = {{1900, 1.02f, 1938}, {1500, 1.04f, 1560}, {300, 0.96f, 288},
               {1000, 0.996f, 996}, {2250, 1.004f, 2259}};
  for (const auto& c : cases) EXPECT_EQ(ScaleSingle(c.value, c.factor), c.scaled) << c.value;
}

TEST(Presets, Overdrive8) {
  for (bool overclock : {true, false}) {
    SCOPED_TRACE(overclock);
    Bench bench(Overdrive8Card());
    CardOf<TOD8VideoAdapter> a(bench.adl.get(), kPresetGroupB[1]);
    bench.fake.calls.clear();
    ASSERT_TRUE(overclock ? a.SetPerformanceOC() : a.SetPerformanceSilent());
    // Power first (clamped to the feature's -50..50), then the clocks.
    const auto power = bench.Request(0);
    ASSERT_EQ(power.count(9), 1u);
    EXPECT_EQ(power.at(9), (std::vector<int32_t>{overclock ? 20 : -20, 1, 0}));
    const auto clocks = bench.Request(1);
    const int32_t gpu = overclock ? 1938 : 1862;   // 1900 x 1.02 / 0.98
    const int32_t memory = overclock ? 878 : 875;  // 875 x 1.004 / 1.0
    EXPECT_EQ(clocks.at(0), (std::vector<int32_t>{gpu, 1, 0}));
    EXPECT_EQ(clocks.at(6), (std::vector<int32_t>{gpu, 1, 0}));
    EXPECT_EQ(clocks.at(7), (std::vector<int32_t>{750, 1, 0}));
    EXPECT_EQ(clocks.at(8), (std::vector<int32_t>{memory, 1, 0}));
  }
}

}  // namespace
}  // namespace brumel
