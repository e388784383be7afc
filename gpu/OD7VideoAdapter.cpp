#include "gpu/OD7VideoAdapter.h"

#include <algorithm>
#include <string>

namespace brumel {

namespace {

constexpr uint16_t kRed = 12;
constexpr double kPerMilliDegree = 0.001;
constexpr int32_t kTemperatureTypeGpu = 1;
constexpr int32_t kLastThermalControllerIndex = 254;

// Overdrive-N fan-control modes.
constexpr int32_t kFanModeAutomatic = 2;
constexpr int32_t kFanModeManual = 3;
// Power-limit modes.
constexpr int32_t kPowerLimitDefault = 1;
constexpr int32_t kPowerLimitManual = 3;
// The enabled flag a scaled level gets in the GPU and in the memory table.
constexpr int32_t kGpuLevelEnabled = 3;
constexpr int32_t kMemoryLevelEnabled = 1;

// A fan speed reported unchanged this many times after the first is taken as stale.
constexpr int32_t kMaxFanSpeedRepeats = 7;

}  // namespace

// ---- TPerformanceLevels ------------------------------------------------------------------

TPerformanceLevels::TPerformanceLevels(int32_t levels, int32_t mode)
    : Levels(std::clamp(levels, 1, kMaxLevels)) {
  Words.assign(Field(Levels, 0), 0);
  Words[0] = static_cast<int32_t>(AdlPerformanceLevelsBytes(Levels));
  Words[1] = mode;
  Words[2] = Levels;
}

int32_t TPerformanceLevels::Count() const { return std::clamp(Words[2], 0, Levels); }

int32_t TPerformanceLevels::LeadingNonZero() {
  int32_t k = 0;
  while (k < Count() && Clock(k) != 0) ++k;
  return k;
}

// ---- TOD7VideoAdapter --------------------------------------------------------------------

int32_t TOD7VideoAdapter::LastFanSpeed = 0;
int32_t TOD7VideoAdapter::FanSpeedRepeats = 0;

TOD7VideoAdapter::TOD7VideoAdapter(TADL* adl, int32_t adapterIndex)
    : IVideoAdapter(adl, adapterIndex) {
  OverdriveVersion = 7;
  InitOverdrive();
}

TOD7VideoAdapter::~TOD7VideoAdapter() { FreeOverdrive(); }

bool TOD7VideoAdapter::InitOverdrive() {
  Capabilities = ADLODNCapabilitiesX2{};
  if (!Valid) return false;
  const AdlContextHandle context = Adl->GetContext();
  auto capabilities = Adl->Entry<AdlEntry::ADL2_OverdriveN_CapabilitiesX2_Get>();
  if (!capabilities || !AdlSucceeded(Adl->Checked("ADL2_OverdriveN_CapabilitiesX2_Get", AdapterIndex,
                                    capabilities(context, AdapterIndex, &Capabilities))))
    return false;

  // The count sizes the level tables: one the library cannot mean is refused before anything
  // is allocated.
  const int32_t levels = Capabilities.MaximumNumberOfPerformanceLevels;
  if (!TPerformanceLevels::ValidLevelCount(levels)) return false;

  GpuLevels = std::make_unique<TPerformanceLevels>(levels, kAdlLevelsDefault);
  auto gpu = Adl->Entry<AdlEntry::ADL2_OverdriveN_SystemClocksX2_Get>();
  if (!gpu || !AdlSucceeded(Adl->Checked("ADL2_OverdriveN_SystemClocksX2_Get", AdapterIndex,
                           gpu(context, AdapterIndex, GpuLevels->Record()))))
    return false;
  GpuLevelCount = GpuLevels->LeadingNonZero();

  MemoryLevels = std::make_unique<TPerformanceLevels>(levels, kAdlLevelsDefault);
  auto memory = Adl->Entry<AdlEntry::ADL2_OverdriveN_MemoryClocksX2_Get>();
  if (!memory || !AdlSucceeded(Adl->Checked("ADL2_OverdriveN_MemoryClocksX2_Get", AdapterIndex,
                              memory(context, AdapterIndex, MemoryLevels->Record()))))
    return false;
  MemoryLevelCount = MemoryLevels->LeadingNonZero();

  auto thermal = Adl->Entry<AdlEntry::ADL2_Overdrive5_ThermalDevices_Enum>();
  if (!thermal) return false;
  ThermalControllers.clear();
  for (int32_t index = 0; index <= kLastThermalControllerIndex; ++index) {
    ADLThermalControllerInfo info{};
    info.Size = static_cast<int32_t>(sizeof info);
    const int result = thermal(context, AdapterIndex, index, &info);
    if (result == kAdlNoMoreThermalControllers) break;
    // Only a controller the library described: a failed call leaves nothing to keep.
    if (!AdlSucceeded(result) || info.ThermalDomain != kAdlThermalDomainGpu) continue;
    auto controller = std::make_unique<TThermalController>();
    controller->Index = index;
    controller->Info = info;
    ThermalControllers.push_back(std::move(controller));
  }

  // A table without a level of non-zero clock has no top level: its defaults are 0.
  const auto topClock = [](TPerformanceLevels& table, int32_t count) {
    return count > 0 ? table.Clock(count - 1) * kPerTenKilohertz : 0.0;
  };
  const auto topVoltage = [](TPerformanceLevels& table, int32_t count) {
    return count > 0 ? static_cast<double>(table.Voltage(count - 1)) : 0.0;
  };
  const auto fill = [this](_ADL_SETTING_ID id, double defaultValue, double min, double max) {
    ADL_ODRange& range = *SettingRanges[id];
    range.Supported = 1;
    range.Default = defaultValue;
    range.Min = min;
    range.Max = max;
    WidenRange(&range);
  };
  const ADLODNCapabilitiesX2& c = Capabilities;
  fill(kSettingGpuClock, topClock(*GpuLevels, GpuLevelCount), c.EngineClock.Min * kPerTenKilohertz,
       c.EngineClock.Max * kPerTenKilohertz);
  fill(kSettingMemoryClock, topClock(*MemoryLevels, MemoryLevelCount),
       c.MemoryClock.Min * kPerTenKilohertz, c.MemoryClock.Max * kPerTenKilohertz);
  fill(kSettingGpuVoltage, topVoltage(*GpuLevels, GpuLevelCount), c.Vddc.Min, c.Vddc.Max);
  fill(kSettingMemoryVoltage, topVoltage(*MemoryLevels, MemoryLevelCount), c.Vddc.Min, c.Vddc.Max);
  fill(kSettingFanSpeed, c.FanSpeed.Default, c.FanSpeed.Min, c.FanSpeed.Max);
  fill(kSettingFanTemperature, c.FanTemperature.Default, c.FanTemperature.Min,
       c.FanTemperature.Max);
  fill(kSettingPowerLimit, c.Power.Default, c.Power.Min, c.Power.Max);
  fill(kSettingTemperatureLimit, c.PowerTuneTemperature.Default, c.PowerTuneTemperature.Min,
       c.PowerTuneTemperature.Max);
  return true;
}

bool TOD7VideoAdapter::FreeOverdrive() {
  ThermalControllers.clear();
  GpuLevels.reset();
  MemoryLevels.reset();
  return true;
}

std::unique_ptr<TPerformanceLevels> TOD7VideoAdapter::ReadLevels(bool gpu, int32_t mode) const {
  if (!Valid) return nullptr;
  const int32_t levels = Capabilities.MaximumNumberOfPerformanceLevels;
  if (!TPerformanceLevels::ValidLevelCount(levels)) return nullptr;
  auto read = gpu ? Adl->Entry<AdlEntry::ADL2_OverdriveN_SystemClocksX2_Get>()
                  : Adl->Entry<AdlEntry::ADL2_OverdriveN_MemoryClocksX2_Get>();
  if (!read) return nullptr;
  auto table = std::make_unique<TPerformanceLevels>(levels, mode);
  if (!AdlSucceeded(read(Adl->GetContext(), AdapterIndex, table->Record()))) return nullptr;
  return table;
}

bool TOD7VideoAdapter::WriteLevels(bool gpu, TPerformanceLevels& levels) const {
  if (!Valid) return false;
  auto write = gpu ? Adl->Entry<AdlEntry::ADL2_OverdriveN_SystemClocksX2_Set>()
                   : Adl->Entry<AdlEntry::ADL2_OverdriveN_MemoryClocksX2_Set>();
  return write && AdlSucceeded(write(Adl->GetContext(), AdapterIndex, levels.Record()));
}

ADL_ODRange* TOD7VideoAdapter::GetSettingRange(_ADL_SETTING_ID id) {
  // The current values of the top levels, when the defaults had one.
  const auto refresh = [this](bool gpu, int32_t count, _ADL_SETTING_ID clockId,
                              _ADL_SETTING_ID voltageId) {
    if (count < 1) return;
    auto table = ReadLevels(gpu, kAdlLevelsCurrent);
    if (!table || count > table->Capacity()) return;
    SettingRanges[clockId]->Current = table->Clock(count - 1) * kPerTenKilohertz;
    SettingRanges[voltageId]->Current = table->Voltage(count - 1);
  };
  refresh(true, GpuLevelCount, kSettingGpuClock, kSettingGpuVoltage);
  refresh(false, MemoryLevelCount, kSettingMemoryClock, kSettingMemoryVoltage);
  if (Valid) {
    if (auto get = Adl->Entry<AdlEntry::ADL2_OverdriveN_PowerLimit_Get>()) {
      ADLODNPowerLimitSetting power{};
      if (AdlSucceeded(get(Adl->GetContext(), AdapterIndex, &power))) {
        SettingRanges[kSettingPowerLimit]->Current = power.TDPLimit;
        SettingRanges[kSettingTemperatureLimit]->Current = power.MaxOperatingTemperature;
      }
    }
  }
  if (static_cast<uint32_t>(id) >= static_cast<uint32_t>(kSettingCount)) return nullptr;
  return SettingRanges[id].get();
}

bool TOD7VideoAdapter::UpdateSensors() {
  if (!Valid) return false;
  const AdlContextHandle context = Adl->GetContext();

  if (auto status = Adl->Entry<AdlEntry::ADL2_OverdriveN_PerformanceStatus_Get>()) {
    ADLODNPerformanceStatus record{};
    if (AdlSucceeded(status(context, AdapterIndex, &record))) {
      StoreSensor(kHwmGpuCoreClock, record.CoreClock * kPerTenKilohertz);
      StoreSensor(kHwmGpuMemoryClock, record.MemoryClock * kPerTenKilohertz);
      StoreSensor(kHwmGpuLoad, record.GPUActivityPercent);
    }
  }

  if (auto fan = Adl->Entry<AdlEntry::ADL2_OverdriveN_FanControl_Get>()) {
    ADLODNFanControl record{};
    if (AdlSucceeded(fan(context, AdapterIndex, &record))) {
      // A reading that does not change for long is no reading: the counter is shared by all
      // adapters.
      int32_t speed = record.CurrentFanSpeed;
      if (speed != LastFanSpeed) {
        LastFanSpeed = speed;
        FanSpeedRepeats = 0;
      } else if (++FanSpeedRepeats > kMaxFanSpeedRepeats) {
        speed = 0;
        FanSpeedRepeats = kMaxFanSpeedRepeats + 1;
      }
      StoreSensor(kHwmFanSpeedRpm, speed);
      auto controller = Adl->Entry<AdlEntry::ADL2_Overdrive5_FanSpeed_Get>();
      if (speed == 0 && controller) {
        // The library answers in the unit asked for, and only for one it knows.
        ADLFanSpeedValue value{};
        value.Size = static_cast<int32_t>(sizeof value);
        value.SpeedType = kAdlFanSpeedTypeRpm;
        if (AdlSucceeded(controller(context, AdapterIndex, 0, &value)))
          StoreSensor(kHwmFanSpeedRpm, value.FanSpeed);
      }
    }
  }

  if (auto vram = Adl->Entry<AdlEntry::ADL2_Adapter_VRAMUsage_Get>()) {
    int usage = 0;
    if (AdlSucceeded(vram(context, AdapterIndex, &usage))) StoreSensor(kHwmMemoryUsage, usage);
  }

  if (auto temperature = Adl->Entry<AdlEntry::ADL2_OverdriveN_Temperature_Get>()) {
    int milliDegrees = 0;
    if (AdlSucceeded(temperature(context, AdapterIndex, kTemperatureTypeGpu, &milliDegrees)))
      StoreSensor(kHwmGpuTemperature, milliDegrees * kPerMilliDegree);
  }

  if (auto power = Adl->Entry<AdlEntry::ADL2_OverdriveN_PowerLimit_Get>()) {
    ADLODNPowerLimitSetting record{};
    if (AdlSucceeded(power(context, AdapterIndex, &record))) {
      StoreSensor(kHwmTemperatureLimit, record.MaxOperatingTemperature);
      StoreSensor(kHwmTdpLimit, record.TDPLimit);
    }
  }
  return true;
}

bool TOD7VideoAdapter::SetFanSpeed(int32_t percent) {
  if (!Valid) return false;
  const AdlContextHandle context = Adl->GetContext();
  // Any negative percent returns the fans to automatic control.
  const bool automatic = percent < 0;

  auto setSpeed = Adl->Entry<AdlEntry::ADL2_Overdrive5_FanSpeed_Set>();
  auto toDefault = Adl->Entry<AdlEntry::ADL2_Overdrive5_FanSpeedToDefault_Set>();
  // On the way back to automatic control a controller is set to 0 % and then reset; without
  // the reset that would leave its fans stopped, so then nothing is set at all.
  const bool throughControllers = setSpeed && (!automatic || toDefault);
  for (const auto& controller : ThermalControllers) {
    if (!throughControllers) break;
    ADLFanSpeedValue value{};
    value.Size = static_cast<int32_t>(sizeof value);
    value.SpeedType = kAdlFanSpeedTypePercent;
    value.FanSpeed = automatic ? 0 : percent;
    value.Flags = kAdlFanSpeedFlagUserDefined;
    setSpeed(context, AdapterIndex, controller->Index, &value);
    if (automatic) toDefault(context, AdapterIndex, controller->Index);
  }

  auto get = Adl->Entry<AdlEntry::ADL2_OverdriveN_FanControl_Get>();
  ADLODNFanControl record{};
  if (!get || !AdlSucceeded(get(context, AdapterIndex, &record))) return true;
  if (automatic) {
    record.Mode = kFanModeAutomatic;
  } else {
    record.Mode = kFanModeManual;
    if (percent == 0) percent = 1;
    // percent of the capability's maximum, truncated; worked out exactly.
    const int64_t speed = static_cast<int64_t>(percent) * Capabilities.FanSpeed.Max / 100;
    const int32_t target = TruncToInt32OrUnset(static_cast<double>(speed));
    record.TargetFanSpeed = target;
    record.MinFanLimit = target;
  }
  if (auto set = Adl->Entry<AdlEntry::ADL2_OverdriveN_FanControl_Set>())
    set(context, AdapterIndex, &record);
  return true;
}

bool TOD7VideoAdapter::SetFanCurve(const TCfgFanPoint*, int32_t) { return true; }

int32_t TOD7VideoAdapter::GetFanMode() {
  if (!Valid) return 0;
  auto get = Adl->Entry<AdlEntry::ADL2_Overdrive5_FanSpeed_Get>();
  if (!get) return 0;
  for (const auto& controller : ThermalControllers) {
    // Whether the speed is the user's own, asked of the percent setting that SetFanSpeed makes.
    ADLFanSpeedValue value{};
    value.Size = static_cast<int32_t>(sizeof value);
    value.SpeedType = kAdlFanSpeedTypePercent;
    if (AdlSucceeded(get(Adl->GetContext(), AdapterIndex, controller->Index, &value)))
      return value.Flags != 0 ? 1 : 0;
  }
  return 0;
}

bool TOD7VideoAdapter::SetPowerLimit(int32_t temperatureLimit, int32_t powerLimit) {
  if (!Valid) return false;
  auto set = Adl->Entry<AdlEntry::ADL2_OverdriveN_PowerLimit_Set>();
  if (!set) return false;
  const ADLODNParameterRange& temperature = Capabilities.PowerTuneTemperature;
  const ADLODNParameterRange& power = Capabilities.Power;
  if (temperatureLimit < temperature.Min || temperatureLimit > temperature.Max ||
      powerLimit < power.Min || powerLimit > power.Max)
    return false;

  const AdlContextHandle context = Adl->GetContext();
  ADLODNPowerLimitSetting record{};
  if (auto get = Adl->Entry<AdlEntry::ADL2_OverdriveN_PowerLimit_Get>())
    get(context, AdapterIndex, &record);
  Log("Adapter TDP",
      "Temp:" + std::to_string(record.MaxOperatingTemperature) +
          ", Power:" + std::to_string(record.TDPLimit),
      kRed);
  record.Mode = kPowerLimitManual;
  record.MaxOperatingTemperature = temperatureLimit;
  record.TDPLimit = powerLimit;
  return AdlSucceeded(set(context, AdapterIndex, &record));
}

bool TOD7VideoAdapter::ResetPowerLimit() {
  if (!Valid) return false;
  auto get = Adl->Entry<AdlEntry::ADL2_OverdriveN_PowerLimit_Get>();
  auto set = Adl->Entry<AdlEntry::ADL2_OverdriveN_PowerLimit_Set>();
  if (!get || !set) return false;
  const AdlContextHandle context = Adl->GetContext();
  ADLODNPowerLimitSetting record{};
  if (!AdlSucceeded(get(context, AdapterIndex, &record))) return true;
  record.Mode = kPowerLimitDefault;
  return AdlSucceeded(set(context, AdapterIndex, &record));
}

void TOD7VideoAdapter::ScaleLevels(bool gpu, int32_t clock, int32_t voltage) {
  // A table without a top level, or a request for no clock at all, is left alone.
  const int32_t count = gpu ? GpuLevelCount : MemoryLevelCount;
  if (count < 1 || clock <= 0) return;
  auto table = ReadLevels(gpu, kAdlLevelsDefault);
  if (!table || count > table->Capacity()) return;
  const int32_t topClock = table->Clock(count - 1);
  const int32_t topVoltage = table->Voltage(count - 1);
  if (topClock <= 0) return;
  const float clockRatio = static_cast<float>(clock) / static_cast<float>(topClock);
  const bool scaleVoltage = topVoltage > 0 && voltage > 0;
  const float voltageRatio =
      scaleVoltage ? static_cast<float>(voltage) / static_cast<float>(topVoltage) : 1.0f;
  // Level 0 keeps its values.
  for (int32_t k = 1; k < table->Count(); ++k) {
    if (table->Clock(k) == 0) continue;
    table->Clock(k) = ScaleSingle(table->Clock(k), clockRatio);
    if (scaleVoltage) table->Voltage(k) = ScaleSingle(table->Voltage(k), voltageRatio);
    table->Enabled(k) = gpu ? kGpuLevelEnabled : kMemoryLevelEnabled;
  }
  table->SetMode(kAdlLevelsManual);
  WriteLevels(gpu, *table);
}

bool TOD7VideoAdapter::SetClocks(int32_t gpuClock, int32_t gpuVoltage, int32_t memoryClock,
                                 int32_t memoryVoltage) {
  if (!Valid) return false;
  ScaleLevels(true, gpuClock, gpuVoltage);
  ScaleLevels(false, memoryClock, memoryVoltage);
  return true;
}

bool TOD7VideoAdapter::SetPerformanceDefault() {
  if (!Valid) return false;
  ResetPowerLimit();
  const struct {
    bool gpu;
    const char* readFailed;
    const char* writeFailed;
  } tables[] = {
      {true, "ADL2_OverdriveN_SystemClocksX2_Get Fail", "ADL2_OverdriveN_SystemClocksX2_Set Fail"},
      {false, "ADL2_OverdriveN_MemoryClocksX2_Get Fail", "ADL2_OverdriveN_MemoryClocksX2_Set Fail"},
  };
  for (const auto& t : tables) {
    auto levels = ReadLevels(t.gpu, kAdlLevelsDefault);
    if (!levels) {
      Log("SetPerformanceDefault", t.readFailed, kRed);
      continue;
    }
    levels->SetMode(kAdlLevelsDefault);
    if (!WriteLevels(t.gpu, *levels)) Log("SetPerformanceDefault", t.writeFailed, kRed);
  }
  return true;
}

}  // namespace brumel
