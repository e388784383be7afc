// Adapters of tuning generation 8: the display library's Overdrive-8 interface, where every
// tunable value is one entry of a fixed feature table (initial settings with limits and
// defaults, current values, and a set request that marks the entries to change or reset) and
// the sensors come from one power-management log.
#pragma once
#include <initializer_list>

#include "gpu/VideoAdapter.h"

namespace brumel {

// Entries of the Overdrive-8 feature table the tool uses (index into every table).
enum TOD8Feature : int32_t {
  kOd8GfxClockMax = 0,        // OD8_GFXCLK_FMAX
  kOd8GfxVoltage1 = 3,        // OD8_GFXCLK_VOLTAGE1
  kOd8GfxFrequency3 = 6,      // OD8_GFXCLK_FREQ3
  kOd8GfxVoltage3 = 7,        // OD8_GFXCLK_VOLTAGE3
  kOd8MemoryClockMax = 8,     // OD8_UCLK_FMAX
  kOd8PowerPercentage = 9,    // OD8_POWER_PERCENTAGE
  kOd8FanMinSpeed = 10,       // OD8_FAN_MIN_SPEED
  kOd8FanAcousticLimit = 11,  // OD8_FAN_ACOUSTIC_LIMIT
  kOd8FanTargetTemp = 12,     // OD8_FAN_TARGET_TEMP
  kOd8FanCurveFirst = 19,     // OD8_FAN_CURVE_TEMPERATURE_1; temperatures and speeds alternate
  kOd8FanCurveLast = 28,      // OD8_FAN_CURVE_SPEED_5
};

// Capability bits of the initial settings.
inline constexpr int32_t kOd8CapGfxClockLimits = 0x01;
inline constexpr int32_t kOd8CapGfxCurve = 0x02;
inline constexpr int32_t kOd8CapMemoryClockMax = 0x04;
inline constexpr int32_t kOd8CapPowerLimit = 0x08;
inline constexpr int32_t kOd8CapAcousticLimit = 0x10;
inline constexpr int32_t kOd8CapFanMinSpeed = 0x20;
inline constexpr int32_t kOd8CapFanTargetTemp = 0x40;

class TOD8VideoAdapter : public IVideoAdapter {
 public:
  TOD8VideoAdapter(TADL* adl, int32_t adapterIndex);
  ~TOD8VideoAdapter() override;

  bool InitOverdrive() override;
  bool FreeOverdrive() override;
  bool UpdateSensors() override;
  bool SetFanSpeed(int32_t percent) override;
  // Five points of (fan speed, temperature); fewer fail without a call.
  bool SetFanCurve(const TCfgFanPoint* points, int32_t count) override;
  int32_t GetFanMode() override;
  ADL_ODRange* GetSettingRange(_ADL_SETTING_ID id) override;
  bool SetPowerLimit(int32_t temperatureLimit, int32_t powerLimit) override;
  bool ResetPowerLimit() override;
  bool SetClocks(int32_t gpuClock, int32_t gpuVoltage, int32_t memoryClock,
                 int32_t memoryVoltage) override;
  bool SetPerformanceDefault() override;
  // Reads the initial settings and fills the setting ranges.
  virtual bool InitOverdrive8();

  const ADLOD8InitSetting& GetInitSettings() const { return InitSettings; }
  // Into InitSettings: zero-filled with 29 features when the library gives nothing.
  void ReadInitSettings();
  // The current values; all 0 (with 29 features) when the library gives nothing. Returns how
  // many leading entries the library delivered (0 when the read failed).
  int32_t ReadCurrentSettings(ADLOD8CurrentSetting& current) const;
  // The card listed the feature in its initial settings. A capability bit whose feature the
  // list lacks counts as unsupported: its limits and default would be zeros, not the card's.
  bool HasFeature(int32_t feature) const { return feature >= 0 && feature < InitSettings.Count; }

  static constexpr int32_t kFanCurvePoints = 5;

 private:
  // The power percentage requested at value (reset 1: back to its default); no entry when
  // the adapter cannot set it.
  bool SendPowerLimit(int32_t value, int32_t reset);
  // Sends the request with the current values it was made from; true when the library took it.
  bool Send(ADLOD8SetSetting& request, ADLOD8CurrentSetting& current) const;
  // A capability bit (any of bits) that the card claims and whose features it listed.
  bool Capable(int32_t bits, std::initializer_list<int32_t> features) const;
  // Entries first to last at their current values: only those the card listed and whose
  // current value was read (`read` leading entries), never a zero that stands for nothing.
  void RequestCurrent(ADLOD8SetSetting& request, const ADLOD8CurrentSetting& current, int32_t read,
                      int32_t first, int32_t last, int32_t reset) const;
  int32_t DefaultOf(int32_t feature) const { return InitSettings.Features[feature].DefaultValue; }

  ADLOD8InitSetting InitSettings{};
};

}  // namespace brumel
