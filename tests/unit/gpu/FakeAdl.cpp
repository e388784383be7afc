#include "FakeAdl.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace brumel::test {

namespace {

FakeAdl* g_current = nullptr;
int g_context = 0;  // its address is the context handle

template <AdlEntry E, typename Fn>
void* Typed(Fn fn) {
  static_assert(std::is_same_v<Fn, typename AdlEntryType<E>::type>,
                "the fake's entry point must have the tool's signature");
  return reinterpret_cast<void*>(fn);
}

bool Known(AdlContextHandle context) { return context == &g_context; }

int BRUMEL_ADL_API Create(AdlMallocCallback callback, int, AdlContextHandle* context) {
  FakeAdl* f = FakeAdl::Current();
  // Results 1 to 4 are successes: the work is done and the code returned.
  if (!AdlSucceeded(f->createResult)) return f->createResult;
  if (!callback || !context) return -9;
  f->allocate = callback;
  *context = &g_context;
  return f->createResult;
}

int BRUMEL_ADL_API Destroy(AdlContextHandle context) {
  if (!Known(context)) return -2;
  ++FakeAdl::Current()->destroys;
  return 0;
}

int BRUMEL_ADL_API Count(AdlContextHandle context, int* count) {
  FakeAdl* f = FakeAdl::Current();
  if (!Known(context) || !count) return -1;
  *count = f->reportedCount.value_or(static_cast<int>(f->adapters.size()));
  return 0;
}

int BRUMEL_ADL_API Info(AdlContextHandle context, AdapterInfo* table, int bytes) {
  FakeAdl* f = FakeAdl::Current();
  ++f->infoCalls;
  if (!Known(context) || !table) return -1;
  if (!AdlSucceeded(f->infoResult)) return f->infoResult;
  if (static_cast<size_t>(bytes) < f->adapters.size() * sizeof(AdapterInfo)) return -4;
  for (size_t i = 0; i < f->adapters.size(); ++i) {
    const FakeAdapter& a = f->adapters[i];
    AdapterInfo& r = table[i];
    std::memcpy(r.UDID, a.udid.data(), std::min(a.udid.size(), sizeof r.UDID));
    std::memcpy(r.AdapterName, a.name.data(), std::min(a.name.size(), sizeof r.AdapterName));
    r.BusNumber = a.bus;
    r.DeviceNumber = a.device;
    r.FunctionNumber = a.function;
  }
  return f->infoResult;
}

int BRUMEL_ADL_API Active(AdlContextHandle, int, int* active) {
  if (active) *active = 1;
  return 0;
}

int BRUMEL_ADL_API Caps(AdlContextHandle context, int index, int* supported, int* enabled,
                      int* version) {
  FakeAdl* f = FakeAdl::Current();
  if (!Known(context) || index < 0 || static_cast<size_t>(index) >= f->adapters.size()) return -5;
  const FakeAdapter& a = f->adapters[static_cast<size_t>(index)];
  *supported = 1;
  *enabled = 1;
  *version = a.overdrive;
  return a.capsResult;
}

int BRUMEL_ADL_API MemoryInfo(AdlContextHandle, int, ADLMemoryInfo* info) {
  std::memset(info, 0x11, sizeof *info);
  return 0;
}

int BRUMEL_ADL_API BiosInfo(AdlContextHandle, int, ADLBiosInfo* info) {
  std::memset(info, 0, sizeof *info);
  return 0;
}

int BRUMEL_ADL_API I2c(AdlContextHandle context, int index, ADLI2C* request) {
  if (!Known(context)) return -2;
  return FakeAdl::Current()->Transfer(index, request);
}

// ---- tuning ------------------------------------------------------------------------------

template <typename Record>
std::vector<int32_t> Words(const Record* record, size_t count = sizeof(Record) / 4) {
  std::vector<int32_t> words(count);
  if (record) std::memcpy(words.data(), record, count * 4);
  return words;
}

// Records the call; the result to return at once (an unknown adapter, a forced result), or
// nothing when the call goes on with the adapter's tuning values in *out.
std::optional<int> Begin(const char* entry, AdlContextHandle context, int adapter,
                         std::vector<int32_t> record, FakeTuning** out, int controller = -1) {
  FakeAdl* f = FakeAdl::Current();
  f->calls.push_back({entry, adapter, controller, std::move(record)});
  if (!Known(context)) return -2;
  if (adapter < 0 || static_cast<size_t>(adapter) >= f->adapters.size()) return -5;
  FakeTuning& t = f->Tuning(adapter);
  const auto forced = t.results.find(entry);
  if (forced != t.results.end()) return forced->second;
  *out = &t;
  return std::nullopt;
}

// The 32-bit words of a levels record, as far as its own count (at most 32 levels) goes.
std::vector<int32_t> LevelWords(const ADLODNPerformanceLevelsX2* levels) {
  if (!levels) return {};
  const int count = std::clamp(levels->NumberOfPerformanceLevels, 0, 32);
  return Words(levels, 3 + 4 * static_cast<size_t>(count));
}

int GetLevels(const char* entry, bool gpu, AdlContextHandle context, int adapter,
              ADLODNPerformanceLevelsX2* levels) {
  FakeTuning* t = nullptr;
  if (auto stop = Begin(entry, context, adapter, LevelWords(levels), &t)) return *stop;
  if (!levels) return -9;
  const int room = std::min(levels->NumberOfPerformanceLevels, (levels->Size - 12) / 16);
  const auto& defaults = gpu ? t->gpuDefault : t->memoryDefault;
  const auto& current = gpu ? t->gpuCurrent : t->memoryCurrent;
  const auto& table = levels->Mode == kAdlLevelsCurrent && !current.empty() ? current : defaults;
  auto* out = reinterpret_cast<ADLODNPerformanceLevelX2*>(levels + 1);
  for (int k = 0; k < room && static_cast<size_t>(k) < table.size(); ++k) out[k] = table[k];
  levels->NumberOfPerformanceLevels =
      t->levelCountReported.value_or(static_cast<int>(table.size()));
  return 0;
}

int SetLevels(const char* entry, AdlContextHandle context, int adapter,
              ADLODNPerformanceLevelsX2* levels) {
  FakeTuning* t = nullptr;
  if (auto stop = Begin(entry, context, adapter, LevelWords(levels), &t)) return *stop;
  return levels ? 0 : -9;
}

template <typename Record>
int GetRecord(const char* entry, AdlContextHandle context, int adapter, Record* record,
              Record FakeTuning::*field) {
  FakeTuning* t = nullptr;
  if (auto stop = Begin(entry, context, adapter, Words(record), &t)) return *stop;
  if (!record) return -9;
  *record = t->*field;
  return 0;
}

template <typename Record>
int SetRecord(const char* entry, AdlContextHandle context, int adapter, Record* record) {
  FakeTuning* t = nullptr;
  if (auto stop = Begin(entry, context, adapter, Words(record), &t)) return *stop;
  return record ? 0 : -9;
}

#define FAKE_LEVELS(name, gpu)                                                           \
  int BRUMEL_ADL_API name##_Get(AdlContextHandle c, int a, ADLODNPerformanceLevelsX2* l) { \
    return GetLevels(#name "_Get", gpu, c, a, l);                                        \
  }                                                                                      \
  int BRUMEL_ADL_API name##_Set(AdlContextHandle c, int a, ADLODNPerformanceLevelsX2* l) { \
    return SetLevels(#name "_Set", c, a, l);                                             \
  }
FAKE_LEVELS(ADL2_OverdriveN_SystemClocksX2, true)
FAKE_LEVELS(ADL2_OverdriveN_MemoryClocksX2, false)
#undef FAKE_LEVELS

int BRUMEL_ADL_API CapabilitiesGet(AdlContextHandle c, int a, ADLODNCapabilitiesX2* r) {
  return GetRecord("ADL2_OverdriveN_CapabilitiesX2_Get", c, a, r, &FakeTuning::capabilities);
}
int BRUMEL_ADL_API StatusGet(AdlContextHandle c, int a, ADLODNPerformanceStatus* r) {
  return GetRecord("ADL2_OverdriveN_PerformanceStatus_Get", c, a, r, &FakeTuning::status);
}
int BRUMEL_ADL_API FanControlGet(AdlContextHandle c, int a, ADLODNFanControl* r) {
  return GetRecord("ADL2_OverdriveN_FanControl_Get", c, a, r, &FakeTuning::fan);
}
int BRUMEL_ADL_API FanControlSet(AdlContextHandle c, int a, ADLODNFanControl* r) {
  return SetRecord("ADL2_OverdriveN_FanControl_Set", c, a, r);
}
int BRUMEL_ADL_API PowerLimitGet(AdlContextHandle c, int a, ADLODNPowerLimitSetting* r) {
  return GetRecord("ADL2_OverdriveN_PowerLimit_Get", c, a, r, &FakeTuning::power);
}
int BRUMEL_ADL_API PowerLimitSet(AdlContextHandle c, int a, ADLODNPowerLimitSetting* r) {
  return SetRecord("ADL2_OverdriveN_PowerLimit_Set", c, a, r);
}
int BRUMEL_ADL_API PMLogGet(AdlContextHandle c, int a, ADLPMLogDataOutput* r) {
  return GetRecord("ADL2_New_QueryPMLogData_Get", c, a, r, &FakeTuning::pmLog);
}

int BRUMEL_ADL_API TemperatureGet(AdlContextHandle c, int a, int type, int* value) {
  FakeTuning* t = nullptr;
  if (auto stop = Begin("ADL2_OverdriveN_Temperature_Get", c, a, {type}, &t)) return *stop;
  *value = t->temperature;
  return 0;
}

int BRUMEL_ADL_API VramGet(AdlContextHandle c, int a, int* value) {
  FakeTuning* t = nullptr;
  if (auto stop = Begin("ADL2_Adapter_VRAMUsage_Get", c, a, {}, &t)) return *stop;
  *value = t->vram;
  return 0;
}

int BRUMEL_ADL_API ThermalEnum(AdlContextHandle c, int a, int index, ADLThermalControllerInfo* r) {
  FakeTuning* t = nullptr;
  if (auto stop = Begin("ADL2_Overdrive5_ThermalDevices_Enum", c, a, Words(r), &t, index))
    return *stop;
  if (index < 0 || static_cast<size_t>(index) >= t->thermalDomains.size()) return -100;
  const auto failed = t->thermalResults.find(index);
  if (failed != t->thermalResults.end()) return failed->second;
  r->ThermalDomain = t->thermalDomains[static_cast<size_t>(index)];
  r->DomainIndex = index;
  r->Flags = 0;
  return 0;
}

int BRUMEL_ADL_API FanSpeedGet(AdlContextHandle c, int a, int controller, ADLFanSpeedValue* r) {
  FakeTuning* t = nullptr;
  if (auto stop = Begin("ADL2_Overdrive5_FanSpeed_Get", c, a, Words(r), &t, controller))
    return *stop;
  // The library answers in the unit asked for, and refuses a value that asks for none.
  if (!r || (r->SpeedType != kAdlFanSpeedTypePercent && r->SpeedType != kAdlFanSpeedTypeRpm))
    return -3;
  const auto it = t->fanSpeeds.find(controller);
  if (it == t->fanSpeeds.end()) return -1;
  const int32_t type = r->SpeedType;
  *r = it->second;
  r->SpeedType = type;
  return 0;
}

int BRUMEL_ADL_API FanSpeedSet(AdlContextHandle c, int a, int controller, ADLFanSpeedValue* r) {
  FakeTuning* t = nullptr;
  if (auto stop = Begin("ADL2_Overdrive5_FanSpeed_Set", c, a, Words(r), &t, controller))
    return *stop;
  return 0;
}

int BRUMEL_ADL_API FanSpeedToDefault(AdlContextHandle c, int a, int controller) {
  FakeTuning* t = nullptr;
  if (auto stop = Begin("ADL2_Overdrive5_FanSpeedToDefault_Set", c, a, {}, &t, controller))
    return *stop;
  return 0;
}

// A list made through the tool's allocation callback, as the library hands it out.
template <typename T>
T* HandOut(const std::vector<T>& items) {
  FakeAdl* f = FakeAdl::Current();
  const size_t bytes = std::max<size_t>(items.size(), 1) * sizeof(T);
  auto* list = static_cast<T*>(f->allocate(static_cast<int>(bytes)));
  if (!items.empty()) std::memcpy(list, items.data(), items.size() * sizeof(T));
  ++f->listsHandedOut;
  return list;
}

int BRUMEL_ADL_API Od8InitList(AdlContextHandle c, int a, int* capabilities, int* count,
                             ADLOD8SingleInitSetting** list) {
  FakeTuning* t = nullptr;
  if (auto stop = Begin("ADL2_Overdrive8_Init_SettingX2_Get", c, a, {*count}, &t)) return *stop;
  if (*list != nullptr) return -9;  // the out pointer must come in empty
  *capabilities = t->od8Capabilities;
  *count = t->od8InitCount.value_or(static_cast<int>(t->od8Init.size()));
  *list = t->od8InitNoList ? nullptr : HandOut(t->od8Init);
  return 0;
}

int BRUMEL_ADL_API Od8CurrentList(AdlContextHandle c, int a, int* count, int** list) {
  FakeTuning* t = nullptr;
  if (auto stop = Begin("ADL2_Overdrive8_Current_SettingX2_Get", c, a, {*count}, &t)) return *stop;
  if (*list != nullptr) return -9;
  *count = t->od8CurrentCount.value_or(static_cast<int>(t->od8Current.size()));
  *list = t->od8CurrentNoList ? nullptr : HandOut(t->od8Current);
  return 0;
}

int BRUMEL_ADL_API Od8InitRecord(AdlContextHandle c, int a, ADLOD8InitSetting* r) {
  FakeTuning* t = nullptr;
  if (auto stop = Begin("ADL2_Overdrive8_Init_Setting_Get", c, a, Words(r), &t)) return *stop;
  r->Count = t->od8InitCount.value_or(static_cast<int>(t->od8Init.size()));
  r->OverdriveCapabilities = t->od8Capabilities;
  for (size_t k = 0; k < t->od8Init.size() && k < kAdlOd8Features; ++k)
    r->Features[k] = t->od8Init[k];
  return 0;
}

int BRUMEL_ADL_API Od8CurrentRecord(AdlContextHandle c, int a, ADLOD8CurrentSetting* r) {
  FakeTuning* t = nullptr;
  if (auto stop = Begin("ADL2_Overdrive8_Current_Setting_Get", c, a, Words(r), &t)) return *stop;
  r->Count = t->od8CurrentCount.value_or(static_cast<int>(t->od8Current.size()));
  for (size_t k = 0; k < t->od8Current.size() && k < kAdlOd8Features; ++k)
    r->Values[k] = t->od8Current[k];
  return 0;
}

int BRUMEL_ADL_API Od8Set(AdlContextHandle c, int a, ADLOD8SetSetting* request,
                        ADLOD8CurrentSetting*) {
  FakeTuning* t = nullptr;
  if (auto stop = Begin("ADL2_Overdrive8_Setting_Set", c, a, Words(request), &t)) return *stop;
  return 0;
}

// Stands in for the entry points no test calls.
int BRUMEL_ADL_API NeverCalled() { return -1; }

const std::map<std::string, void*>& Implemented() {
  static const std::map<std::string, void*> table = {
      {"ADL2_Main_Control_Create", Typed<AdlEntry::ADL2_Main_Control_Create>(&Create)},
      {"ADL2_Main_Control_Destroy", Typed<AdlEntry::ADL2_Main_Control_Destroy>(&Destroy)},
      {"ADL2_Adapter_NumberOfAdapters_Get",
       Typed<AdlEntry::ADL2_Adapter_NumberOfAdapters_Get>(&Count)},
      {"ADL2_Adapter_AdapterInfo_Get", Typed<AdlEntry::ADL2_Adapter_AdapterInfo_Get>(&Info)},
      {"ADL2_Adapter_Active_Get", Typed<AdlEntry::ADL2_Adapter_Active_Get>(&Active)},
      {"ADL2_Overdrive_Caps", Typed<AdlEntry::ADL2_Overdrive_Caps>(&Caps)},
      {"ADL2_Adapter_MemoryInfo_Get", Typed<AdlEntry::ADL2_Adapter_MemoryInfo_Get>(&MemoryInfo)},
      {"ADL2_Adapter_VideoBiosInfo_Get",
       Typed<AdlEntry::ADL2_Adapter_VideoBiosInfo_Get>(&BiosInfo)},
      {"ADL2_Display_WriteAndReadI2C", Typed<AdlEntry::ADL2_Display_WriteAndReadI2C>(&I2c)},
#define FAKE_ENTRY(name, fn) {#name, Typed<AdlEntry::name>(&fn)},
      FAKE_ENTRY(ADL2_OverdriveN_CapabilitiesX2_Get, CapabilitiesGet)
          FAKE_ENTRY(ADL2_OverdriveN_PerformanceStatus_Get, StatusGet) FAKE_ENTRY(
              ADL2_OverdriveN_SystemClocksX2_Get,
              ADL2_OverdriveN_SystemClocksX2_Get) FAKE_ENTRY(ADL2_OverdriveN_SystemClocksX2_Set,
                                                             ADL2_OverdriveN_SystemClocksX2_Set)
              FAKE_ENTRY(ADL2_OverdriveN_MemoryClocksX2_Get, ADL2_OverdriveN_MemoryClocksX2_Get)
                  FAKE_ENTRY(ADL2_OverdriveN_MemoryClocksX2_Set, ADL2_OverdriveN_MemoryClocksX2_Set)
                      FAKE_ENTRY(ADL2_OverdriveN_FanControl_Get, FanControlGet) FAKE_ENTRY(
                          ADL2_OverdriveN_FanControl_Set,
                          FanControlSet) FAKE_ENTRY(ADL2_OverdriveN_PowerLimit_Get, PowerLimitGet)
                          FAKE_ENTRY(ADL2_OverdriveN_PowerLimit_Set, PowerLimitSet) FAKE_ENTRY(
                              ADL2_OverdriveN_Temperature_Get,
                              TemperatureGet) FAKE_ENTRY(ADL2_Overdrive5_ThermalDevices_Enum,
                                                         ThermalEnum)
                              FAKE_ENTRY(ADL2_Overdrive5_FanSpeed_Get, FanSpeedGet) FAKE_ENTRY(
                                  ADL2_Overdrive5_FanSpeed_Set,
                                  FanSpeedSet) FAKE_ENTRY(ADL2_Overdrive5_FanSpeedToDefault_Set,
                                                          FanSpeedToDefault)
                                  FAKE_ENTRY(ADL2_Adapter_VRAMUsage_Get, VramGet) FAKE_ENTRY(
                                      ADL2_Overdrive8_Init_SettingX2_Get,
                                      Od8InitList) FAKE_ENTRY(ADL2_Overdrive8_Current_SettingX2_Get,
                                                              Od8CurrentList)
                                      FAKE_ENTRY(ADL2_Overdrive8_Init_Setting_Get, Od8InitRecord)
                                          FAKE_ENTRY(ADL2_Overdrive8_Current_Setting_Get,
                                                     Od8CurrentRecord)
                                              FAKE_ENTRY(ADL2_Overdrive8_Setting_Set, Od8Set)
                                                  FAKE_ENTRY(ADL2_New_QueryPMLogData_Get, PMLogGet)
#undef FAKE_ENTRY
  };
  return table;
}

class Source : public TAdlLibrarySource {
 public:
  explicit Source(FakeAdl& fake) : fake_(fake) {}
  plat::LibHandle LoadBesideExecutable(const char* name) override {
    fake_.loads.push_back(std::string("beside ") + name);
    return fake_.besideExecutable.count(name) ? &fake_ : nullptr;
  }
  plat::LibHandle LoadBySearch(const char* name) override {
    fake_.loads.push_back(std::string("search ") + name);
    return fake_.bySearch.count(name) ? &fake_ : nullptr;
  }
  void* Lookup(plat::LibHandle library, const char* name) override {
    if (library != &fake_ || fake_.missing.count(name)) return nullptr;
    const auto it = Implemented().find(name);
    return it != Implemented().end() ? it->second : reinterpret_cast<void*>(&NeverCalled);
  }
  void Free(plat::LibHandle library) override {
    if (library == &fake_) ++fake_.frees;
  }

 private:
  FakeAdl& fake_;
};

void Put16(std::vector<uint8_t>& p, size_t at, uint32_t v) {
  p[at] = static_cast<uint8_t>(v);
  p[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& p, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) p[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

FakeTuning OverdriveNCard() {
  FakeTuning t;
  ADLODNCapabilitiesX2& c = t.capabilities;
  c.MaximumNumberOfPerformanceLevels = 8;
  c.EngineClock = {1, 50000, 200000, 100, 150000};
  c.MemoryClock = {1, 50000, 120000, 100, 100000};
  c.Vddc = {1, 750, 1200, 5, 1100};
  c.Power = {1, -20, 30, 1, 5};
  c.PowerTuneTemperature = {1, 60, 105, 1, 90};
  c.FanTemperature = {1, 25, 100, 1, 85};
  c.FanSpeed = {1, 500, 3200, 1, 1200};
  t.gpuDefault = {{30000, 750, 1, 0}, {120000, 900, 1, 0}, {150000, 1100, 1, 0}};
  t.memoryDefault = {{30000, 750, 1, 0}, {100000, 850, 1, 0}};
  t.gpuCurrent = {{30000, 750, 1, 0}, {120000, 900, 1, 0}, {155000, 1120, 1, 0}};
  t.memoryCurrent = {{30000, 750, 1, 0}, {105000, 860, 1, 0}};
  t.fan = {1, 1, 1, 1300, 1200, 85, 50000, 500};
  t.power = {1, 7, 88};
  t.status = {};
  t.status.CoreClock = 145000;
  t.status.MemoryClock = 100000;
  t.status.GPUActivityPercent = 37;
  t.temperature = 61500;
  t.vram = 1536;
  t.thermalDomains = {2, 1};  // the GPU's controller is the second
  t.fanSpeeds[1] = {16, 1, 1180, 0};
  return t;
}

FakeTuning Overdrive8Card() {
  FakeTuning t;
  t.od8Capabilities = 0x7F;
  for (int k = 0; k < kAdlOd8Features; ++k)
    t.od8Init.push_back({k, 100 * k, 100 * k + 50, 100 * k + 20});
  t.od8Init[0] = {0, 800, 2100, 1900};  // GPU clock
  t.od8Init[3] = {3, 700, 1150, 750};   // GPU voltage
  t.od8Init[8] = {8, 600, 1100, 875};   // memory clock
  t.od8Init[9] = {9, -50, 50, 10};      // power percent
  t.od8Init[12] = {12, 25, 105, 95};    // fan target temperature
  for (const auto& f : t.od8Init) t.od8Current.push_back(f.DefaultValue + 1);
  t.pmLog.Size = sizeof t.pmLog;
  for (const auto& [entry, value] :
       {std::pair{1, 1850}, {2, 870}, {8, 55}, {14, 1400}, {19, 42}, {27, 71}}) {
    t.pmLog.Sensors[entry] = {1, value};
  }
  t.vram = 2048;
  return t;
}

FakeAdl::FakeAdl() { g_current = this; }

FakeAdl::~FakeAdl() {
  if (g_current == this) g_current = nullptr;
}

FakeAdl* FakeAdl::Current() { return g_current; }

std::vector<FakeCall> FakeAdl::CallsOf(const std::string& entry) const {
  std::vector<FakeCall> out;
  for (const FakeCall& c : calls)
    if (c.entry == entry) out.push_back(c);
  return out;
}

std::unique_ptr<TADL> FakeAdl::Load() {
  return std::make_unique<TADL>(
      std::make_unique<Source>(*this),
      [this](const std::string& label, const std::string& value, uint16_t colour) {
        logLines.push_back({label, value, colour});
      });
}

std::unique_ptr<TADL> FakeAdl::LoadBeside() {
  besideExecutable.insert(TADL::LibraryFileName(0));
  return Load();
}

int FakeAdl::Transfer(int adapter, ADLI2C* request) {
  I2cRequest seen;
  seen.adapter = adapter;
  seen.size = request->Size;
  seen.line = request->Line;
  seen.address = request->Address;
  seen.offset = request->Offset;
  seen.action = request->Action;
  seen.speed = request->Speed;
  seen.dataSize = request->DataSize;
  const auto* data = reinterpret_cast<const uint8_t*>(request->Data);
  if (request->Action == kAdlI2cActionWrite && data)
    seen.written.assign(data, data + request->DataSize);
  i2c.push_back(seen);
  if (i2cResult != 0) return i2cResult;

  if (request->Action == kAdlI2cActionWrite) {
    // The register byte and the data are one ISP request with the number at bytes 2-3.
    std::vector<uint8_t> packet(64, 0);
    packet[0] = static_cast<uint8_t>(request->Offset);
    for (size_t i = 0; i < seen.written.size() && i + 1 < packet.size(); ++i)
      packet[i + 1] = seen.written[i];
    uint32_t sum = 0;
    for (uint8_t b : packet) sum += b;
    reply_.assign(64, 0);
    Put16(reply_, 0, sum);
    Put16(reply_, 2, (packet[2] | (packet[3] << 8)) + 1u);
    const uint8_t command = packet[0];
    if (command == 0xA2 || command == 0xA5) {
      Put32(reply_, 4, words.first);
      Put32(reply_, 8, words.second);
    } else if (replies.count(command)) {
      Put32(reply_, 4, replies[command]);
    }
    return 0;
  }
  if (reply_.empty()) return -1;
  auto* out = reinterpret_cast<uint8_t*>(request->Data);
  for (int32_t i = 0; i < request->DataSize; ++i) {
    const size_t at = static_cast<size_t>(request->Offset + i);
    out[i] = at < reply_.size() ? reply_[at] : 0;
  }
  return 0;
}

}  // namespace brumel::test
