// Adapters of tuning generation 8 (the display library's Overdrive-8 interface). The tuning
// operations are not wired to the library yet: every setting reads as unsupported and every
// tuning operation fails, while the I2C transfers of the base class work.
#pragma once
#include "gpu/VideoAdapter.h"

namespace brumel {

class TOD8VideoAdapter : public IVideoAdapter {
 public:
  explicit TOD8VideoAdapter(int32_t adapterIndex);
  TOD8VideoAdapter(TADL* adl, int32_t adapterIndex);
  ~TOD8VideoAdapter() override;

  bool InitOverdrive() override;
  bool FreeOverdrive() override;
  bool UpdateSensors() override;
  bool SetFanSpeed(int32_t percent) override;
  bool SetFanCurve(const TCfgFanPoint* points, int32_t count) override;
  bool SetFanAuto() override;
  int32_t GetFanMode() override;
  ADL_ODRange* GetSettingRange(_ADL_SETTING_ID id) override;
  bool SetPowerLimit(int32_t temperatureLimit, int32_t powerLimit) override;
  bool ResetPowerLimit() override;
  bool SetClocks(int32_t gpuClock, int32_t gpuVoltage, int32_t memoryClock,
                 int32_t memoryVoltage) override;
  bool SetPerformanceOC() override;
  bool SetPerformanceDefault() override;
  bool SetPerformanceSilent() override;
  // Reads the initial settings and fills the setting ranges.
  virtual bool InitOverdrive8();

 private:
  void Start();
};

}  // namespace brumel
