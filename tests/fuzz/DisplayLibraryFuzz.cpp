// The display library's records as any library could return them: the loader, the adapter
// enumeration and what it writes into the configuration, and every operation of the adapters of
// both tuning generations, over a stand-in library whose adapter table, capability and level
// records, thermal controllers, Overdrive-8 settings (list and record forms), power-management
// log, counts and result codes come from the fuzz input; entry points can be missing.
//
// The input is read front to back: first whether entry points are missing (a byte of 240 or
// more, then a 32-bit mask), then the library's answers in the order the tool asks, then the
// operations. What the input leaves open is a healthy library's answer, and an input that ends
// before the operations runs each of them once.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "StandInDisplayLibrary.h"
#include "config/Config.h"
#include "gpu/OD7VideoAdapter.h"
#include "gpu/OD8VideoAdapter.h"
#include "gpu/VideoAdapterBuilder.h"

namespace {

using namespace brumel;

void Check(bool ok) {
  if (!ok) std::abort();
}

// What an adapter must always hold, whatever the library said.
void CheckAdapter(IVideoAdapter& adapter) {
  if (auto* od7 = dynamic_cast<TOD7VideoAdapter*>(&adapter)) {
    Check(od7->GetGpuLevelCount() >= 0 && od7->GetGpuLevelCount() <= 32);
    Check(od7->GetMemoryLevelCount() >= 0 && od7->GetMemoryLevelCount() <= 32);
    int32_t last = -1;
    for (const auto& controller : od7->GetThermalControllers()) {
      Check(controller->Index > last && controller->Index <= 254);
      Check(controller->Info.ThermalDomain == kAdlThermalDomainGpu);
      last = controller->Index;
    }
  }
  if (auto* od8 = dynamic_cast<TOD8VideoAdapter*>(&adapter)) {
    const int32_t count = od8->GetInitSettings().Count;
    Check(count >= 0 && count <= kAdlOd8Features);
  }
}

// Every setting id has its range, no other id has one.
void CheckRanges(IVideoAdapter& adapter) {
  for (int32_t id = -1; id <= kSettingCount; ++id) {
    const bool inTable = id >= 0 && id < kSettingCount;
    Check((adapter.GetSettingRange(static_cast<_ADL_SETTING_ID>(id)) != nullptr) == inTable);
  }
}

// A seeded value is the range's default as an integer, "not set" for what is none.
bool Seeded(int32_t seeded, const ADL_ODRange* range) {
  Check(range != nullptr);
  if (std::isnan(range->Default) && seeded != -1) return false;
  return seeded == TruncToInt32OrUnset(range->Default);
}

bool SeededFrom(const TCfgAdapterSetting& setting, IVideoAdapter& adapter) {
  return Seeded(setting.UserGpuClock, adapter.GetSettingRange(kSettingGpuClock)) &&
         Seeded(setting.UserMemVoltage, adapter.GetSettingRange(kSettingMemoryVoltage)) &&
         Seeded(setting.Limits[2].TempLimit, adapter.GetSettingRange(kSettingTemperatureLimit));
}

void Operate(IVideoAdapter& adapter, fuzz::StandInScript& in) {
  // Without operations in the input: each of them once, with plain arguments.
  const bool everyOne = in.Empty();
  const auto value = [&](int32_t plain) { return in.Value(plain); };
  for (int op = 0; op < (everyOne ? 15 : 12) && (everyOne || !in.Empty()); ++op) {
    switch (everyOne ? op : in.Byte() % 15) {
      case 0:
        adapter.UpdateSensors();
        break;
      case 1:
        adapter.SetFanSpeed(value(50));
        break;
      case 2: {
        TCfgFanPoint points[8];
        for (int k = 0; k < 8; ++k) points[k] = {value(20 + 10 * k), value(40 + 10 * k)};
        const int32_t count = value(5);
        adapter.SetFanCurve(in.Byte() < 240 ? points : nullptr, std::clamp(count, -1, 8));
        break;
      }
      case 3:
        adapter.SetFanAuto();
        break;
      case 4:
        adapter.GetFanMode();
        break;
      case 5:
        adapter.GetSettingRange(static_cast<_ADL_SETTING_ID>(value(9)));
        break;
      case 6: {
        const int32_t temperature = value(90);
        adapter.SetPowerLimit(temperature, value(10));
        break;
      }
      case 7:
        adapter.ResetPowerLimit();
        break;
      case 8: {
        const int32_t gpu = value(190000);
        const int32_t gpuVoltage = value(1100);
        const int32_t memory = value(105000);
        adapter.SetClocks(gpu, gpuVoltage, memory, value(900));
        break;
      }
      case 9:
        adapter.SetPerformanceOC();
        break;
      case 10:
        adapter.SetPerformanceSilent();
        break;
      case 11:
        adapter.SetPerformanceDefault();
        break;
      case 12:
        adapter.InitOverdrive();
        break;
      case 13:
        adapter.FreeOverdrive();
        break;
      default:
        adapter.SetFanSpeed(value(-1));
        break;
    }
    CheckAdapter(adapter);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::QuietStdout();
  fuzz::StandInScript in(data, size);
  // Most inputs have every entry point; some lack a few.
  const uint32_t missing = in.Byte() >= 240 ? in.Word() : 0;
  fuzz::UseStandInScript(&in, missing);
  {
    auto adl = fuzz::LoadStandInDisplayLibrary();
    TConfig config("");
    TVideoAdapterBuilder builder(adl.get(), &config);
    const VideoAdapters& adapters = *builder.GetAdapters();
    Check(builder.IsReady() == !adapters.empty());
    Check(adapters.size() <= builder.GetAdapterObjectCount());
    // Every section is new here: it holds the defaults of an adapter of its name (a later
    // adapter of the same name fills it again while its user clock is still not set).
    std::map<std::string, bool> seeded;
    for (IVideoAdapter* adapter : adapters) {
      CheckAdapter(*adapter);
      CheckRanges(*adapter);
      const TCfgAdapterSetting* setting = config.FindAdapterSetting(adapter->GetUniqueName());
      Check(setting != nullptr);
      seeded[adapter->GetUniqueName()] |= SeededFrom(*setting, *adapter);
    }
    for (const auto& [name, ok] : seeded) Check(ok);
    for (IVideoAdapter* adapter : adapters) Operate(*adapter, in);
  }
  fuzz::UseStandInScript(nullptr, 0);
  return 0;
}
