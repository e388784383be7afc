#include "StandInDisplayLibrary.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

namespace fuzz {

int32_t StandInScript::Value(int32_t healthy) {
  if (Empty()) return healthy;
  const uint8_t selector = Byte();
  switch (selector & 7) {
    case 4:
      return selector >> 3;
    case 5:
      return static_cast<int32_t>(Word() & 0xFFFF);
    case 6:
      return static_cast<int32_t>(Word());
    case 7:
      return -(selector >> 3);
    default:
      return healthy;
  }
}

int StandInScript::Result(int healthy) {
  const uint8_t b = Byte();
  if (b < 208) return healthy;
  if (b < 240) return -1;
  return -(b - 239);
}

namespace {

using namespace brumel;

StandInScript* g_script = nullptr;
StandInScript g_none(nullptr, 0);
uint32_t g_missing = 0;
AdlMallocCallback g_alloc = nullptr;
int g_context = 0;  // its address is the context handle

// More adapters than this would only make an input run slower.
constexpr int kMaxAdapters = 8;
// A list never has more entries than this, whatever count it reports.
constexpr int kMaxListEntries = 64;

StandInScript& In() { return g_script ? *g_script : g_none; }

// ---- the healthy library's values --------------------------------------------------------

ADLODNCapabilitiesX2 HealthyCapabilities() {
  ADLODNCapabilitiesX2 c{};
  c.MaximumNumberOfPerformanceLevels = 8;
  c.EngineClock = {1, 50000, 250000, 100, 180000};
  c.MemoryClock = {1, 50000, 120000, 100, 100000};
  c.Vddc = {1, 750, 1200, 5, 1150};
  c.Power = {1, -50, 50, 1, 0};
  c.PowerTuneTemperature = {1, 60, 110, 1, 90};
  c.FanTemperature = {1, 25, 110, 1, 85};
  c.FanSpeed = {1, 500, 3200, 1, 1200};
  c.MinimumPerformanceClock = {1, 50000, 250000, 100, 50000};
  c.ThrottleNotification = {1, 1, 100, 1, 50};
  c.AutoSystemClock = {1, 0, 1, 1, 1};
  return c;
}

const int32_t kGpuLevels[][2] = {{30000, 750},  {80000, 800},   {120000, 850},  {150000, 900},
                                 {160000, 950}, {170000, 1050}, {175000, 1100}, {180000, 1150}};
const int32_t kMemoryLevels[][2] = {{10000, 750}, {50000, 800}, {100000, 850}};

ADLOD8SingleInitSetting HealthyFeature(int k) {
  switch (k) {
    case 0:
    case 6:
      return {k, 800, 2150, 1905};
    case 3:
    case 5:
    case 7:
      return {k, 700, 1200, 750 + 100 * (k - 3) / 2};
    case 8:
      return {k, 625, 1075, 875};
    case 9:
      return {k, -50, 50, 0};
    case 12:
      return {k, 25, 105, 95};
    default:
      return {k, 0, 2500, 20 * k};
  }
}

// Each 32-bit field of a record: the input's value, or the healthy one.
void FillWords(void* record, const void* healthy, size_t bytes) {
  auto* p = static_cast<uint8_t*>(record);
  const auto* h = static_cast<const uint8_t*>(healthy);
  for (size_t at = 0; at + 4 <= bytes; at += 4) {
    int32_t v = 0;
    std::memcpy(&v, h + at, 4);
    v = In().Value(v);
    std::memcpy(p + at, &v, 4);
  }
}

template <typename Record>
void Fill(Record* record, const Record& healthy) {
  FillWords(record, &healthy, sizeof(Record));
}

// A text field of one letter repeated: mostly a short text, else up to its whole length, with
// or without a terminator.
void FillText(char* field, size_t bytes, char letter) {
  size_t n = 12;
  if (!In().Empty() && In().Byte() >= 192) n = std::min<size_t>(In().Byte() * 2u, bytes);
  std::memset(field, letter, n);
  if (n < bytes) field[n] = 0;
}

// ---- entry points ------------------------------------------------------------------------

bool Known(AdlContextHandle context) { return context == &g_context; }

int BRUMEL_ADL_API Create(AdlMallocCallback callback, int, AdlContextHandle* context) {
  const int result = In().Result();
  if (result != 0) return result;
  g_alloc = callback;
  *context = &g_context;
  return 0;
}

int BRUMEL_ADL_API Destroy(AdlContextHandle context) { return Known(context) ? 0 : -2; }

int BRUMEL_ADL_API Count(AdlContextHandle, int* count) {
  const int32_t v = In().Value(2);
  *count = v > kMaxAdapters ? v % (kMaxAdapters + 1) : v;
  return In().Result();
}

int BRUMEL_ADL_API Info(AdlContextHandle, AdapterInfo* table, int bytes) {
  const int records = bytes > 0 ? bytes / static_cast<int>(sizeof(AdapterInfo)) : 0;
  for (int i = 0; i < records; ++i) {
    AdapterInfo& r = table[i];
    FillText(r.UDID, sizeof r.UDID, static_cast<char>('A' + i % 26));
    r.BusNumber = In().Value(3 + i);
    r.DeviceNumber = In().Value(0);
    r.FunctionNumber = In().Value(0);
    FillText(r.AdapterName, sizeof r.AdapterName, 'N');
  }
  return In().Result();
}

int BRUMEL_ADL_API Active(AdlContextHandle, int, int* active) {
  *active = In().Value(1);
  return In().Result();
}

int BRUMEL_ADL_API Caps(AdlContextHandle, int index, int* supported, int* enabled, int* version) {
  *supported = In().Value(1);
  *enabled = In().Value(1);
  *version = In().Value(index % 2 ? 8 : 7);
  return In().Result();
}

int BRUMEL_ADL_API MemoryInfo(AdlContextHandle, int, ADLMemoryInfo* info) {
  std::memset(info, 0x5A, sizeof *info);
  return In().Result();
}

int BRUMEL_ADL_API BiosInfo(AdlContextHandle, int, ADLBiosInfo* info) {
  for (auto& text : info->Texts) FillText(text, sizeof text, 'B');
  return In().Result();
}

int BRUMEL_ADL_API Capabilities(AdlContextHandle, int, ADLODNCapabilitiesX2* record) {
  Fill(record, HealthyCapabilities());
  return In().Result();
}

// A levels record: the number of levels and the levels, within the size the caller gave.
template <bool Gpu>
int BRUMEL_ADL_API Levels(AdlContextHandle, int, ADLODNPerformanceLevelsX2* levels) {
  const int32_t size = levels->Size;
  if (size >= 12) {
    const size_t bytes = static_cast<size_t>(size);
    std::vector<int32_t> healthy(bytes / 4, 0);
    const auto& table = Gpu ? kGpuLevels : kMemoryLevels;
    const size_t count = Gpu ? std::size(kGpuLevels) : std::size(kMemoryLevels);
    healthy[0] = size;
    healthy[1] = levels->Mode;
    healthy[2] = static_cast<int32_t>(count);
    for (size_t k = 0; k < count && 3 + 4 * k + 3 < healthy.size(); ++k) {
      healthy[3 + 4 * k] = table[k][0];
      healthy[3 + 4 * k + 1] = table[k][1];
      healthy[3 + 4 * k + 2] = 1;
    }
    // The size and the mode are the caller's.
    auto* p = reinterpret_cast<uint8_t*>(levels);
    FillWords(p + 8, reinterpret_cast<const uint8_t*>(healthy.data()) + 8, bytes - 8);
  }
  return In().Result();
}

template <typename Record>
int BRUMEL_ADL_API SetRecord(AdlContextHandle, int, Record*) {
  return In().Result();
}

int BRUMEL_ADL_API FanControl(AdlContextHandle, int, ADLODNFanControl* record) {
  Fill(record, ADLODNFanControl{1, 1, 1, 1200, 1200, 85, 50000, 500});
  return In().Result();
}

int BRUMEL_ADL_API PowerLimit(AdlContextHandle, int, ADLODNPowerLimitSetting* record) {
  Fill(record, ADLODNPowerLimitSetting{1, 0, 90});
  return In().Result();
}

int BRUMEL_ADL_API Status(AdlContextHandle, int, ADLODNPerformanceStatus* record) {
  ADLODNPerformanceStatus healthy{};
  healthy.CoreClock = 175000;
  healthy.MemoryClock = 100000;
  healthy.GPUActivityPercent = 35;
  Fill(record, healthy);
  return In().Result();
}

int BRUMEL_ADL_API Temperature(AdlContextHandle, int, int, int* value) {
  *value = In().Value(62000);
  return In().Result();
}

int BRUMEL_ADL_API Vram(AdlContextHandle, int, int* value) {
  *value = In().Value(1536);
  return In().Result();
}

// One GPU controller, then the end of the list; the input can make any controller anything.
int BRUMEL_ADL_API Thermal(AdlContextHandle, int, int index, ADLThermalControllerInfo* info) {
  const int healthy = index == 0 ? 0 : kAdlNoMoreThermalControllers;
  const int result = In().Result(healthy);
  if (result == kAdlNoMoreThermalControllers) return result;
  Fill(info, ADLThermalControllerInfo{16, kAdlThermalDomainGpu, index, 0});
  return result;
}

int BRUMEL_ADL_API FanSpeed(AdlContextHandle, int, int, ADLFanSpeedValue* value) {
  Fill(value, ADLFanSpeedValue{16, 1, 1200, 0});
  return In().Result();
}

int BRUMEL_ADL_API FanSpeedSet(AdlContextHandle, int, int, ADLFanSpeedValue*) {
  return In().Result();
}

int BRUMEL_ADL_API FanSpeedToDefault(AdlContextHandle, int, int) { return In().Result(); }

// A list through the caller's callback (or, now and then, none), at least one entry and
// never fewer than a count of 1 or more lets the tool read.
template <typename T>
T* HandOut(int32_t count, const std::vector<T>& healthy) {
  if (!g_alloc || In().Byte() >= 240) return nullptr;
  const int entries = std::clamp<int32_t>(count, 1, kMaxListEntries);
  auto* list = static_cast<T*>(g_alloc(static_cast<int>(sizeof(T)) * entries));
  if (!list) return nullptr;
  for (int k = 0; k < entries; ++k) {
    const T h = static_cast<size_t>(k) < healthy.size() ? healthy[static_cast<size_t>(k)] : T{};
    FillWords(&list[k], &h, sizeof(T));
  }
  return list;
}

std::vector<ADLOD8SingleInitSetting> HealthyFeatures() {
  std::vector<ADLOD8SingleInitSetting> features;
  for (int k = 0; k < kAdlOd8Features; ++k) features.push_back(HealthyFeature(k));
  return features;
}

std::vector<int> HealthyCurrentValues() {
  std::vector<int> values;
  for (int k = 0; k < kAdlOd8Features; ++k) values.push_back(HealthyFeature(k).DefaultValue);
  return values;
}

int BRUMEL_ADL_API Od8InitList(AdlContextHandle, int, int* capabilities, int* count,
                             ADLOD8SingleInitSetting** list) {
  *capabilities = In().Value(0x7F);
  *count = In().Value(kAdlOd8Features);
  *list = HandOut(*count, HealthyFeatures());
  return In().Result();
}

int BRUMEL_ADL_API Od8CurrentList(AdlContextHandle, int, int* count, int** list) {
  *count = In().Value(kAdlOd8Features);
  *list = HandOut(*count, HealthyCurrentValues());
  return In().Result();
}

int BRUMEL_ADL_API Od8InitRecord(AdlContextHandle, int, ADLOD8InitSetting* record) {
  ADLOD8InitSetting healthy{};
  healthy.Count = kAdlOd8Features;
  healthy.OverdriveCapabilities = 0x7F;
  for (int k = 0; k < kAdlOd8Features; ++k) healthy.Features[k] = HealthyFeature(k);
  Fill(record, healthy);
  return In().Result();
}

int BRUMEL_ADL_API Od8CurrentRecord(AdlContextHandle, int, ADLOD8CurrentSetting* record) {
  ADLOD8CurrentSetting healthy{};
  healthy.Count = kAdlOd8Features;
  for (int k = 0; k < kAdlOd8Features; ++k) healthy.Values[k] = HealthyFeature(k).DefaultValue;
  Fill(record, healthy);
  return In().Result();
}

int BRUMEL_ADL_API Od8Set(AdlContextHandle, int, ADLOD8SetSetting*, ADLOD8CurrentSetting*) {
  return In().Result();
}

int BRUMEL_ADL_API PmLog(AdlContextHandle, int, ADLPMLogDataOutput* log) {
  ADLPMLogDataOutput healthy{};
  healthy.Size = sizeof healthy;
  for (const auto& [sensor, value] :
       {std::pair{1, 1850}, {2, 875}, {8, 55}, {14, 1100}, {19, 40}, {27, 68}})
    healthy.Sensors[sensor] = {1, value};
  // The log is long: only its first sensors take values of the input.
  *log = healthy;
  FillWords(log, &healthy, 4 + 8 * 32);
  return In().Result();
}

template <AdlEntry E, typename Fn>
void* Typed(Fn fn) {
  static_assert(std::is_same_v<Fn, typename AdlEntryType<E>::type>,
                "the stand-in's entry point must have the tool's signature");
  return reinterpret_cast<void*>(fn);
}

struct Implemented {
  const char* name;
  void* address;
};

// The entry points the tool calls; those after the first four can be missing.
const Implemented kEntries[] = {
#define STAND_IN(name, fn) \
  { #name, Typed < AdlEntry::name>(fn) }
    STAND_IN(ADL2_Main_Control_Create, &Create),
    STAND_IN(ADL2_Main_Control_Destroy, &Destroy),
    STAND_IN(ADL2_Adapter_NumberOfAdapters_Get, &Count),
    STAND_IN(ADL2_Adapter_AdapterInfo_Get, &Info),
    STAND_IN(ADL2_Overdrive_Caps, &Caps),
    STAND_IN(ADL2_Adapter_Active_Get, &Active),
    STAND_IN(ADL2_Adapter_MemoryInfo_Get, &MemoryInfo),
    STAND_IN(ADL2_Adapter_VideoBiosInfo_Get, &BiosInfo),
    STAND_IN(ADL2_OverdriveN_CapabilitiesX2_Get, &Capabilities),
    STAND_IN(ADL2_OverdriveN_PerformanceStatus_Get, &Status),
    STAND_IN(ADL2_OverdriveN_SystemClocksX2_Get, &Levels<true>),
    STAND_IN(ADL2_OverdriveN_SystemClocksX2_Set, &SetRecord<ADLODNPerformanceLevelsX2>),
    STAND_IN(ADL2_OverdriveN_MemoryClocksX2_Get, &Levels<false>),
    STAND_IN(ADL2_OverdriveN_MemoryClocksX2_Set, &SetRecord<ADLODNPerformanceLevelsX2>),
    STAND_IN(ADL2_OverdriveN_FanControl_Get, &FanControl),
    STAND_IN(ADL2_OverdriveN_FanControl_Set, &SetRecord<ADLODNFanControl>),
    STAND_IN(ADL2_OverdriveN_PowerLimit_Get, &PowerLimit),
    STAND_IN(ADL2_OverdriveN_PowerLimit_Set, &SetRecord<ADLODNPowerLimitSetting>),
    STAND_IN(ADL2_OverdriveN_Temperature_Get, &Temperature),
    STAND_IN(ADL2_Overdrive5_ThermalDevices_Enum, &Thermal),
    STAND_IN(ADL2_Overdrive5_FanSpeed_Get, &FanSpeed),
    STAND_IN(ADL2_Overdrive5_FanSpeed_Set, &FanSpeedSet),
    STAND_IN(ADL2_Overdrive5_FanSpeedToDefault_Set, &FanSpeedToDefault),
    STAND_IN(ADL2_Adapter_VRAMUsage_Get, &Vram),
    STAND_IN(ADL2_Overdrive8_Init_SettingX2_Get, &Od8InitList),
    STAND_IN(ADL2_Overdrive8_Current_SettingX2_Get, &Od8CurrentList),
    STAND_IN(ADL2_Overdrive8_Init_Setting_Get, &Od8InitRecord),
    STAND_IN(ADL2_Overdrive8_Current_Setting_Get, &Od8CurrentRecord),
    STAND_IN(ADL2_Overdrive8_Setting_Set, &Od8Set),
    STAND_IN(ADL2_New_QueryPMLogData_Get, &PmLog),
#undef STAND_IN
};
constexpr size_t kAlwaysThere = 4;
static_assert(std::size(kEntries) - kAlwaysThere <= 32);

class Source : public TAdlLibrarySource {
 public:
  plat::LibHandle LoadBesideExecutable(const char*) override { return &g_context; }
  plat::LibHandle LoadBySearch(const char*) override { return nullptr; }
  void* Lookup(plat::LibHandle, const char* name) override {
    for (size_t i = 0; i < std::size(kEntries); ++i) {
      if (std::strcmp(kEntries[i].name, name) != 0) continue;
      if (i >= kAlwaysThere && (g_missing >> (i - kAlwaysThere)) & 1) return nullptr;
      return kEntries[i].address;
    }
    return nullptr;
  }
  void Free(plat::LibHandle) override {}
};

}  // namespace

void UseStandInScript(StandInScript* script, uint32_t missingMask) {
  g_script = script;
  g_missing = missingMask;
}

std::unique_ptr<TADL> LoadStandInDisplayLibrary() {
  return std::make_unique<TADL>(std::make_unique<Source>(),
                                [](const std::string&, const std::string&, uint16_t) {});
}

}  // namespace fuzz
