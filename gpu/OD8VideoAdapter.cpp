#include "gpu/OD8VideoAdapter.h"

namespace brumel {

TOD8VideoAdapter::TOD8VideoAdapter(int32_t adapterIndex) : IVideoAdapter(adapterIndex) { Start(); }

TOD8VideoAdapter::TOD8VideoAdapter(TADL* adl, int32_t adapterIndex)
    : IVideoAdapter(adl, adapterIndex) {
  Start();
}

void TOD8VideoAdapter::Start() {
  OverdriveVersion = 8;
  InitOverdrive();
}

TOD8VideoAdapter::~TOD8VideoAdapter() { FreeOverdrive(); }

bool TOD8VideoAdapter::InitOverdrive() {
  InitOverdrive8();
  return true;
}

bool TOD8VideoAdapter::InitOverdrive8() {
  // No setting can be tuned yet: the ranges say so and keep their unset values.
  for (auto& [id, range] : SettingRanges) range->Supported = 0;
  return true;
}

bool TOD8VideoAdapter::FreeOverdrive() { return true; }
bool TOD8VideoAdapter::UpdateSensors() { return false; }
bool TOD8VideoAdapter::SetFanSpeed(int32_t) { return false; }
bool TOD8VideoAdapter::SetFanCurve(const TCfgFanPoint*, int32_t) { return false; }
bool TOD8VideoAdapter::SetFanAuto() { return SetFanSpeed(-1); }
int32_t TOD8VideoAdapter::GetFanMode() { return 0; }

ADL_ODRange* TOD8VideoAdapter::GetSettingRange(_ADL_SETTING_ID id) {
  if (static_cast<uint32_t>(id) >= static_cast<uint32_t>(kSettingCount)) return nullptr;
  return SettingRanges[id].get();
}

bool TOD8VideoAdapter::SetPowerLimit(int32_t, int32_t) { return false; }
bool TOD8VideoAdapter::ResetPowerLimit() { return false; }
bool TOD8VideoAdapter::SetClocks(int32_t, int32_t, int32_t, int32_t) { return false; }
bool TOD8VideoAdapter::SetPerformanceOC() { return false; }
bool TOD8VideoAdapter::SetPerformanceDefault() { return false; }
bool TOD8VideoAdapter::SetPerformanceSilent() { return false; }

}  // namespace brumel
