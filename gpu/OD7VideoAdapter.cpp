#include "gpu/OD7VideoAdapter.h"

namespace brumel {

TOD7VideoAdapter::TOD7VideoAdapter(int32_t adapterIndex) : IVideoAdapter(adapterIndex) { Start(); }

TOD7VideoAdapter::TOD7VideoAdapter(TADL* adl, int32_t adapterIndex)
    : IVideoAdapter(adl, adapterIndex) {
  Start();
}

void TOD7VideoAdapter::Start() {
  OverdriveVersion = 7;
  InitOverdrive();
}

TOD7VideoAdapter::~TOD7VideoAdapter() { FreeOverdrive(); }

bool TOD7VideoAdapter::InitOverdrive() {
  // No setting can be tuned yet: the ranges say so and keep their unset values.
  for (auto& [id, range] : SettingRanges) range->Supported = 0;
  return true;
}

bool TOD7VideoAdapter::FreeOverdrive() { return true; }
bool TOD7VideoAdapter::UpdateSensors() { return false; }
bool TOD7VideoAdapter::SetFanSpeed(int32_t) { return false; }
bool TOD7VideoAdapter::SetFanCurve(const TCfgFanPoint*, int32_t) { return false; }
bool TOD7VideoAdapter::SetFanAuto() { return SetFanSpeed(-1); }
int32_t TOD7VideoAdapter::GetFanMode() { return 0; }

ADL_ODRange* TOD7VideoAdapter::GetSettingRange(_ADL_SETTING_ID id) {
  if (static_cast<uint32_t>(id) >= static_cast<uint32_t>(kSettingCount)) return nullptr;
  return SettingRanges[id].get();
}

bool TOD7VideoAdapter::SetPowerLimit(int32_t, int32_t) { return false; }
bool TOD7VideoAdapter::ResetPowerLimit() { return false; }
bool TOD7VideoAdapter::SetClocks(int32_t, int32_t, int32_t, int32_t) { return false; }
bool TOD7VideoAdapter::SetPerformanceOC() { return false; }
bool TOD7VideoAdapter::SetPerformanceDefault() { return false; }
bool TOD7VideoAdapter::SetPerformanceSilent() { return false; }

}  // namespace brumel
