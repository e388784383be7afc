// Adapters of tuning generation 7: the display library's Overdrive-N interface, with
// performance-level tables for the GPU and the memory clock, a power-limit and fan-control
// interface, and the fan speed per thermal controller of the older interface.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "gpu/VideoAdapter.h"

namespace brumel {

// A thermal controller of the GPU domain, as its enumeration returned it, with the controller
// index that enumeration used (the index the fan calls address it by).
struct TThermalController {
  int32_t Index = -1;
  ADLThermalControllerInfo Info{};
};
using ADL_ThermalControllerInfo = std::vector<std::unique_ptr<TThermalController>>;

// A performance-level table of the library: size in bytes, mode, number of levels, then the
// levels (clock in 10 kHz units, voltage in mV, enabled, control), sized for a number of
// levels fixed at creation.
class TPerformanceLevels {
 public:
  // Zero-filled, sized for `levels` levels (1 to kMaxLevels), with its size, the mode and
  // the number of levels set.
  TPerformanceLevels(int32_t levels, int32_t mode);

  static constexpr int32_t kMaxLevels = 32;
  static bool ValidLevelCount(int32_t levels) { return levels >= 1 && levels <= kMaxLevels; }

  // What the library reads and fills.
  ADLODNPerformanceLevelsX2* Record() {
    return reinterpret_cast<ADLODNPerformanceLevelsX2*>(Words.data());
  }
  void SetMode(int32_t mode) { Words[1] = mode; }
  // Levels the record holds by its own count, never more than it was sized for.
  int32_t Count() const;
  int32_t Capacity() const { return Levels; }
  // Fields of level k (0 <= k < Capacity()).
  int32_t& Clock(int32_t k) { return Words[Field(k, 0)]; }
  int32_t& Voltage(int32_t k) { return Words[Field(k, 1)]; }
  int32_t& Enabled(int32_t k) { return Words[Field(k, 2)]; }
  // Leading levels (from level 0, at most Count()) whose clock is non-zero.
  int32_t LeadingNonZero();

 private:
  static constexpr size_t kHeadWords = 3;
  static constexpr size_t kLevelWords = 4;
  static_assert(kHeadWords * sizeof(int32_t) == sizeof(ADLODNPerformanceLevelsX2));
  static_assert(kLevelWords * sizeof(int32_t) == sizeof(ADLODNPerformanceLevelX2));
  size_t Field(int32_t k, size_t f) const {
    return kHeadWords + static_cast<size_t>(k) * kLevelWords + f;
  }
  int32_t Levels;
  std::vector<int32_t> Words;
};

class TOD7VideoAdapter : public IVideoAdapter {
 public:
  TOD7VideoAdapter(TADL* adl, int32_t adapterIndex);
  ~TOD7VideoAdapter() override;

  bool InitOverdrive() override;
  bool FreeOverdrive() override;
  bool UpdateSensors() override;
  bool SetFanSpeed(int32_t percent) override;
  bool SetFanCurve(const TCfgFanPoint* points, int32_t count) override;
  int32_t GetFanMode() override;
  ADL_ODRange* GetSettingRange(_ADL_SETTING_ID id) override;
  bool SetPowerLimit(int32_t temperatureLimit, int32_t powerLimit) override;
  bool ResetPowerLimit() override;
  bool SetClocks(int32_t gpuClock, int32_t gpuVoltage, int32_t memoryClock,
                 int32_t memoryVoltage) override;
  bool SetPerformanceDefault() override;

  const ADLODNCapabilitiesX2& GetCapabilities() const { return Capabilities; }
  const ADL_ThermalControllerInfo& GetThermalControllers() const { return ThermalControllers; }
  int32_t GetGpuLevelCount() const { return GpuLevelCount; }
  int32_t GetMemoryLevelCount() const { return MemoryLevelCount; }

 private:
  // The table of a kind (GPU or memory) read in `mode` into a fresh table sized from the
  // capabilities; null when the capabilities give no usable size, the entry point is missing
  // or the read fails.
  std::unique_ptr<TPerformanceLevels> ReadLevels(bool gpu, int32_t mode) const;
  bool WriteLevels(bool gpu, TPerformanceLevels& levels) const;
  void ScaleLevels(bool gpu, int32_t clock, int32_t voltage);

  ADLODNCapabilitiesX2 Capabilities{};
  std::unique_ptr<TPerformanceLevels> GpuLevels;
  std::unique_ptr<TPerformanceLevels> MemoryLevels;
  ADL_ThermalControllerInfo ThermalControllers;
  int32_t GpuLevelCount = 0;
  int32_t MemoryLevelCount = 0;

  // The last fan speed the fan control reported and how often in a row it came again since;
  // shared by all adapters.
  static int32_t LastFanSpeed;
  static int32_t FanSpeedRepeats;
};

}  // namespace brumel
