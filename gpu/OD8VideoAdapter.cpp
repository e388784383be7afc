#include "gpu/OD8VideoAdapter.h"

#include <algorithm>
#include <iterator>

namespace brumel {

namespace {

// Entries of the power-management log the sensors come from.
constexpr int kLogGfxClock = 1;
constexpr int kLogMemoryClock = 2;
constexpr int kLogEdgeTemperature = 8;
constexpr int kLogFanRpm = 14;
constexpr int kLogGfxActivity = 19;
constexpr int kLogHotspotTemperature = 27;

// The five fan-curve speeds.
constexpr int32_t kCurveSpeeds[] = {20, 22, 24, 26, 28};

int32_t FeatureCount(int count) { return std::clamp(count, 0, kAdlOd8Features); }

void Request(ADLOD8SetSetting& request, int32_t feature, int32_t value, int32_t reset) {
  request.Entries[feature].Value = value;
  request.Entries[feature].Requested = 1;
  request.Entries[feature].Reset = reset;
}

// A record of the feature tables with every entry zero (the room past the tool's features
// included) and the number of features set.
template <class Record>
Record Empty() {
  Record record{};
  record.Count = kAdlOd8Features;
  return record;
}

// A list the library made through the tool's allocation callback: at most the table's number
// of entries is copied into `into` (their number into `taken`), then the list is freed. False
// when the call failed or a success handed out no list.
template <class T>
bool TakeList(int result, int count, T*& list, T* into, int32_t& taken) {
  const bool ok = AdlSucceeded(result) && list;
  if (ok) {
    taken = FeatureCount(count);
    std::copy_n(list, taken, into);
  }
  AdlMemoryFree(reinterpret_cast<void**>(&list));
  return ok;
}

}  // namespace

TOD8VideoAdapter::TOD8VideoAdapter(TADL* adl, int32_t adapterIndex)
    : IVideoAdapter(adl, adapterIndex) {
  OverdriveVersion = 8;
  InitOverdrive();
}

TOD8VideoAdapter::~TOD8VideoAdapter() { FreeOverdrive(); }

bool TOD8VideoAdapter::InitOverdrive() {
  InitOverdrive8();
  return true;
}

bool TOD8VideoAdapter::FreeOverdrive() { return true; }

void TOD8VideoAdapter::ReadInitSettings() {
  InitSettings = Empty<ADLOD8InitSetting>();
  if (!Valid) return;
  const AdlContextHandle context = Adl->GetContext();
  if (auto list = Adl->Entry<AdlEntry::ADL2_Overdrive8_Init_SettingX2_Get>()) {
    int capabilities = 0;
    int count = kAdlOd8Features;
    ADLOD8SingleInitSetting* features = nullptr;
    const int result = Adl->Checked("ADL2_Overdrive8_Init_SettingX2_Get", AdapterIndex,
                                    list(context, AdapterIndex, &capabilities, &count, &features));
    if (TakeList(result, count, features, InitSettings.Features, InitSettings.Count))
      InitSettings.OverdriveCapabilities = capabilities;
  } else if (auto record = Adl->Entry<AdlEntry::ADL2_Overdrive8_Init_Setting_Get>()) {
    if (!AdlSucceeded(Adl->Checked("ADL2_Overdrive8_Init_Setting_Get", AdapterIndex,
                     record(context, AdapterIndex, &InitSettings))))
      InitSettings = Empty<ADLOD8InitSetting>();
    InitSettings.Count = FeatureCount(InitSettings.Count);
  }
}

int32_t TOD8VideoAdapter::ReadCurrentSettings(ADLOD8CurrentSetting& current) const {
  current = Empty<ADLOD8CurrentSetting>();
  if (!Valid) return 0;
  const AdlContextHandle context = Adl->GetContext();
  if (auto list = Adl->Entry<AdlEntry::ADL2_Overdrive8_Current_SettingX2_Get>()) {
    int count = kAdlOd8Features;
    int* values = nullptr;
    const int result = list(context, AdapterIndex, &count, &values);
    if (TakeList(result, count, values, current.Values, current.Count)) return current.Count;
    current.Count = kAdlOd8Features;
  } else if (auto record = Adl->Entry<AdlEntry::ADL2_Overdrive8_Current_Setting_Get>()) {
    if (AdlSucceeded(record(context, AdapterIndex, &current))) {
      current.Count = FeatureCount(current.Count);
      return current.Count;
    }
    current = Empty<ADLOD8CurrentSetting>();
  }
  return 0;
}

bool TOD8VideoAdapter::Capable(int32_t bits, std::initializer_list<int32_t> features) const {
  if (!(InitSettings.OverdriveCapabilities & bits)) return false;
  return std::all_of(features.begin(), features.end(), [this](int32_t f) { return HasFeature(f); });
}

void TOD8VideoAdapter::RequestCurrent(ADLOD8SetSetting& request,
                                      const ADLOD8CurrentSetting& current, int32_t read,
                                      int32_t first, int32_t last, int32_t reset) const {
  for (int32_t e = first; e <= last; ++e) {
    if (HasFeature(e) && e < read) Request(request, e, current.Values[e], reset);
  }
}

bool TOD8VideoAdapter::InitOverdrive8() {
  ReadInitSettings();
  const struct {
    _ADL_SETTING_ID id;
    int32_t feature;
    int32_t supported;
  } map[] = {
      {kSettingGpuClock, kOd8GfxClockMax, 1},
      {kSettingMemoryClock, kOd8MemoryClockMax, 1},
      {kSettingGpuVoltage, kOd8GfxVoltage1, 1},
      {kSettingMemoryVoltage, kOd8GfxVoltage1, 0},
      {kSettingFanSpeed, kOd8FanMinSpeed, 1},
      {kSettingFanTemperature, kOd8FanTargetTemp, 1},
      {kSettingPowerLimit, kOd8PowerPercentage, 1},
      {kSettingTemperatureLimit, kOd8FanTargetTemp, 0},
  };
  for (const auto& m : map) {
    const ADLOD8SingleInitSetting& feature = InitSettings.Features[m.feature];
    ADL_ODRange& range = *SettingRanges[m.id];
    range.Default = feature.DefaultValue;
    range.Min = feature.MinValue;
    range.Max = feature.MaxValue;
    range.Supported = HasFeature(m.feature) ? m.supported : 0;
    WidenRange(&range);
  }
  return true;
}

ADL_ODRange* TOD8VideoAdapter::GetSettingRange(_ADL_SETTING_ID id) {
  ADLOD8CurrentSetting current;
  ReadCurrentSettings(current);
  SettingRanges[kSettingGpuClock]->Current = current.Values[kOd8GfxFrequency3];
  SettingRanges[kSettingMemoryClock]->Current = current.Values[kOd8MemoryClockMax];
  SettingRanges[kSettingGpuVoltage]->Current = current.Values[kOd8GfxVoltage3];
  SettingRanges[kSettingPowerLimit]->Current = current.Values[kOd8PowerPercentage];
  SettingRanges[kSettingTemperatureLimit]->Current = current.Values[kOd8FanTargetTemp];
  if (static_cast<uint32_t>(id) >= static_cast<uint32_t>(kSettingCount)) return nullptr;
  return SettingRanges[id].get();
}

bool TOD8VideoAdapter::UpdateSensors() {
  if (!Valid) return false;
  for (auto& [id, sensor] : Sensors) *sensor = _ADL_HwmValue{};
  const AdlContextHandle context = Adl->GetContext();

  if (auto query = Adl->Entry<AdlEntry::ADL2_New_QueryPMLogData_Get>()) {
    ADLPMLogDataOutput log{};
    if (AdlSucceeded(query(context, AdapterIndex, &log))) {
      const struct {
        int entry;
        _ADL_HWM_ID sensor;
      } map[] = {{kLogGfxClock, kHwmGpuCoreClock},
                 {kLogMemoryClock, kHwmGpuMemoryClock},
                 {kLogFanRpm, kHwmFanSpeedRpm},
                 {kLogGfxActivity, kHwmGpuLoad}};
      for (const auto& m : map) {
        if (log.Sensors[m.entry].Supported) StoreSensor(m.sensor, log.Sensors[m.entry].Value);
      }
      if (log.Sensors[kLogEdgeTemperature].Supported)
        StoreSensor(kHwmGpuTemperature, log.Sensors[kLogHotspotTemperature].Value);
    }
  }

  if (auto vram = Adl->Entry<AdlEntry::ADL2_Adapter_VRAMUsage_Get>()) {
    int usage = 0;
    if (AdlSucceeded(vram(context, AdapterIndex, &usage))) StoreSensor(kHwmMemoryUsage, usage);
  }
  return true;
}

bool TOD8VideoAdapter::Send(ADLOD8SetSetting& request, ADLOD8CurrentSetting& current) const {
  if (!Valid) return false;
  auto set = Adl->Entry<AdlEntry::ADL2_Overdrive8_Setting_Set>();
  return set && AdlSucceeded(set(Adl->GetContext(), AdapterIndex, &request, &current));
}

bool TOD8VideoAdapter::SetFanSpeed(int32_t percent) {
  if (!Valid) return false;
  ADLOD8CurrentSetting current;
  const int32_t read = ReadCurrentSettings(current);
  ADLOD8SetSetting request = Empty<ADLOD8SetSetting>();
  const bool automatic = percent < 0;
  const int32_t reset = automatic ? 1 : 0;
  RequestCurrent(request, current, read, kOd8FanCurveFirst, kOd8FanCurveLast, reset);
  for (int32_t e : kCurveSpeeds) {
    if (HasFeature(e)) Request(request, e, automatic ? DefaultOf(e) : percent, reset);
  }

  const auto& features = InitSettings.Features;
  if (Capable(kOd8CapFanTargetTemp, {kOd8FanTargetTemp})) {
    Request(request, kOd8FanTargetTemp,
            automatic ? DefaultOf(kOd8FanTargetTemp) : features[kOd8FanTargetTemp].MinValue, reset);
  }
  if (Capable(kOd8CapFanMinSpeed, {kOd8FanMinSpeed})) {
    Request(request, kOd8FanMinSpeed,
            automatic ? DefaultOf(kOd8FanMinSpeed) : features[kOd8FanMinSpeed].MaxValue, reset);
  }
  if (Capable(kOd8CapAcousticLimit, {kOd8FanAcousticLimit})) {
    Request(request, kOd8FanAcousticLimit,
            automatic ? DefaultOf(kOd8FanAcousticLimit) : features[kOd8FanAcousticLimit].MaxValue,
            reset);
  }
  return Send(request, current);
}

bool TOD8VideoAdapter::SetFanCurve(const TCfgFanPoint* points, int32_t count) {
  // A curve is five points; a shorter one would be read past its end.
  if (!Valid || !points || count < kFanCurvePoints) return false;
  ADLOD8CurrentSetting current;
  const int32_t read = ReadCurrentSettings(current);
  ADLOD8SetSetting request = Empty<ADLOD8SetSetting>();
  RequestCurrent(request, current, read, kOd8FanCurveFirst, kOd8FanCurveLast, 0);
  for (int32_t k = 0; k < kFanCurvePoints; ++k) {
    const int32_t speed = kOd8FanCurveFirst + 1 + 2 * k;
    const int32_t temperature = kOd8FanCurveFirst + 2 * k;
    if (HasFeature(speed)) Request(request, speed, points[k].FanSpeed, 0);
    if (HasFeature(temperature)) Request(request, temperature, points[k].FanTemp, 0);
  }
  Send(request, current);
  return true;
}

int32_t TOD8VideoAdapter::GetFanMode() {
  if (!Valid) return 0;
  ADLOD8CurrentSetting current;
  ReadCurrentSettings(current);
  const int32_t first = current.Values[kCurveSpeeds[0]];
  if (std::all_of(std::begin(kCurveSpeeds), std::end(kCurveSpeeds),
                  [&](int32_t e) { return current.Values[e] == first; }))
    return 1;
  for (int32_t e = kOd8FanCurveFirst; e <= kOd8FanCurveLast; ++e) {
    if (current.Values[e] != DefaultOf(e)) return 2;
  }
  return 0;
}

bool TOD8VideoAdapter::SetPowerLimit(int32_t, int32_t powerLimit) {
  return SendPowerLimit(powerLimit, 0);
}

bool TOD8VideoAdapter::ResetPowerLimit() {
  return SendPowerLimit(DefaultOf(kOd8PowerPercentage), 1);
}

bool TOD8VideoAdapter::SendPowerLimit(int32_t value, int32_t reset) {
  if (!Valid) return false;
  ADLOD8CurrentSetting current;
  ReadCurrentSettings(current);
  ADLOD8SetSetting request = Empty<ADLOD8SetSetting>();
  if (Capable(kOd8CapPowerLimit, {kOd8PowerPercentage}))
    Request(request, kOd8PowerPercentage, value, reset);
  return Send(request, current);
}

// The GPU clock block is entries 0, 6 and 7 (maximum, third curve point and its voltage).
bool TOD8VideoAdapter::SetClocks(int32_t gpuClock, int32_t gpuVoltage, int32_t memoryClock,
                                 int32_t) {
  if (!Valid) return false;
  const int32_t gpu = TruncToInt32OrUnset(gpuClock * kPerTenKilohertz);
  const int32_t memory = TruncToInt32OrUnset(memoryClock * kPerTenKilohertz);
  ADLOD8CurrentSetting current;
  const int32_t read = ReadCurrentSettings(current);
  ADLOD8SetSetting request = Empty<ADLOD8SetSetting>();
  RequestCurrent(request, current, read, kOd8GfxClockMax, kOd8MemoryClockMax, 0);
  // No clock or voltage of 0 (or less) goes to a card: such a value stands for one that was
  // not known, and the entry keeps its current value.
  if (Capable(kOd8CapGfxClockLimits | kOd8CapGfxCurve,
              {kOd8GfxClockMax, kOd8GfxFrequency3, kOd8GfxVoltage3})) {
    if (gpu > 0) {
      Request(request, kOd8GfxClockMax, gpu, 0);
      Request(request, kOd8GfxFrequency3, gpu, 0);
    }
    if (gpuVoltage > 0) Request(request, kOd8GfxVoltage3, gpuVoltage, 0);
  }
  if (Capable(kOd8CapMemoryClockMax, {kOd8MemoryClockMax}) && memory > 0)
    Request(request, kOd8MemoryClockMax, memory, 0);
  return Send(request, current);
}

bool TOD8VideoAdapter::SetPerformanceDefault() {
  if (!Valid) return false;
  ResetPowerLimit();
  ADLOD8CurrentSetting current;
  const int32_t read = ReadCurrentSettings(current);
  ADLOD8SetSetting request = Empty<ADLOD8SetSetting>();
  RequestCurrent(request, current, read, kOd8GfxClockMax, kOd8MemoryClockMax, 0);
  if (Capable(kOd8CapGfxClockLimits | kOd8CapGfxCurve,
              {kOd8GfxClockMax, kOd8GfxFrequency3, kOd8GfxVoltage3})) {
    for (int32_t e : {kOd8GfxClockMax, kOd8GfxFrequency3, kOd8GfxVoltage3})
      Request(request, e, DefaultOf(e), 1);
  }
  if (Capable(kOd8CapMemoryClockMax, {kOd8MemoryClockMax}))
    Request(request, kOd8MemoryClockMax, DefaultOf(kOd8MemoryClockMax), 1);
  return Send(request, current);
}

}  // namespace brumel
