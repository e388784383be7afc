#include "gpu/VideoAdapterBuilder.h"

#include <set>
#include <string>

#include "gpu/OD7VideoAdapter.h"
#include "gpu/OD8VideoAdapter.h"
#include "support/DebugConsole.h"

namespace brumel {

namespace {

constexpr uint16_t kRed = kLogBad;

// Identity of the physical adapter behind a library entry: its PCI location.
uint32_t LocationKey(const AdapterInfo& info) {
  return 0xFF000000u | (static_cast<uint32_t>(info.BusNumber) << 16) |
         (static_cast<uint32_t>(info.DeviceNumber) << 8) |
         static_cast<uint32_t>(info.FunctionNumber);
}

// The Default of a setting as a value of the configuration file.
int32_t DefaultOf(IVideoAdapter& adapter, _ADL_SETTING_ID id) {
  const ADL_ODRange* range = adapter.GetSettingRange(id);
  return range ? TruncToInt32OrUnset(range->Default) : -1;
}

// "1, 2 and 3" of a set of numbers.
std::string NumberList(const std::set<int>& numbers) {
  std::string text;
  size_t i = 0;
  for (int v : numbers) {
    if (i > 0) text += i + 1 == numbers.size() ? " and " : ", ";
    text += std::to_string(v);
    ++i;
  }
  return text;
}

std::string NoOverdriveReason(const std::string& file, int32_t listed,
                              const std::set<int>& generations, const std::set<int>& results) {
  std::string text =
      "The display library " + file +
      " reports no adapter with overdrive support (generation 7 or 8): " + std::to_string(listed) +
      (listed == 1 ? " adapter" : " adapters") + " listed";
  if (!generations.empty()) {
    text += (generations.size() == 1 ? ", generation " : ", generations ") +
            NumberList(generations) + " reported";
  }
  if (!results.empty()) text += ", ADL2_Overdrive_Caps answered " + NumberList(results);
  return text;
}

}  // namespace

TVideoAdapterBuilder::TVideoAdapterBuilder()
    : TVideoAdapterBuilder(*GetADL(), GetConfig(std::string())) {}

TVideoAdapterBuilder::TVideoAdapterBuilder(TADL* adl, TConfig* config) : Config(config), Adl(adl) {
  Enumerate(adl);
}

TVideoAdapterBuilder::~TVideoAdapterBuilder() {
  UniqueAdapters.clear();
  AllAdapters.clear();
}

void TVideoAdapterBuilder::Enumerate(TADL* adl) {
  if (!adl) {
    Reason = "The display library could not be set up";
    return;
  }
  if (!adl->IsReady()) {
    Reason = adl->NotReadyReason();
    return;
  }
  auto caps = adl->Entry<AdlEntry::ADL2_Overdrive_Caps>();
  if (!caps) {
    Reason = "The display library " + adl->GetLibraryFile() +
             " lacks the entry point ADL2_Overdrive_Caps";
    return;
  }
  auto active = adl->Entry<AdlEntry::ADL2_Adapter_Active_Get>();
  const AdapterInfo* table = adl->GetAdapterTable();

  TAdapterRegInfos registrations;
  uint32_t lastKey = 0xFFFFFFFFu;
  bool haveLast = false;
  // What the adapters that were not kept said, for the reason when none is.
  std::set<int> otherGenerations;
  std::set<int> capsResults;
  for (int32_t i = 0; i < adl->GetNumberOfAdapters(); ++i) {
    if (active) {
      int isActive = 0;
      active(adl->GetContext(), i, &isActive);
    }
    int supported = 0;
    int enabled = 0;
    int version = 0;
    const int capsResult = adl->Checked("ADL2_Overdrive_Caps", i,
                                        caps(adl->GetContext(), i, &supported, &enabled, &version));
    if (!AdlSucceeded(capsResult)) {
      capsResults.insert(capsResult);
      continue;
    }
    const uint32_t key = LocationKey(table[i]);

    std::unique_ptr<IVideoAdapter> adapter;
    if (version == 7) {
      adapter = std::make_unique<TOD7VideoAdapter>(adl, i);
    } else if (version == 8) {
      adapter = std::make_unique<TOD8VideoAdapter>(adl, i);
    } else {
      otherGenerations.insert(version);
      continue;
    }
    IVideoAdapter* object = adapter.get();
    AllAdapters.push_back(std::move(adapter));

    // The library lists the logical adapters of one card one after another: only the last
    // kept adapter is compared.
    if (haveLast && key == lastKey) continue;
    UniqueAdapters.push_back(object);
    lastKey = key;
    haveLast = true;

    auto info = std::make_unique<TAdapterRegInfo>();
    info->Bus = object->GetBusNumber();
    info->UDID = object->GetUDID();
    info->AdapterName = object->GetAdapterName();
    registrations.push_back(std::move(info));
  }
  if (!UniqueAdapters.empty()) {
    ActiveIndex = 0;
    Ready = true;
  } else {
    Reason = NoOverdriveReason(adl->GetLibraryFile(), adl->GetNumberOfAdapters(), otherGenerations,
                               capsResults);
  }
  if (!registrations.empty()) RecordAdapters(registrations);
}

void TVideoAdapterBuilder::RecordAdapters(const TAdapterRegInfos& registrations) {
  if (!Config) return;
  Config->UpdateAdapters(&registrations);
  for (size_t j = 0; j < registrations.size(); ++j) {
    const TAdapterRegInfo& info = *registrations[j];
    TCfgAdapterSetting* setting =
        Config->FindAdapterSetting(AdapterSectionName(info.Bus, info.UDID));
    if (!setting) continue;
    if (setting->UserGpuClock == -1 && j < UniqueAdapters.size()) {
      // A section not yet filled in takes the adapter's own defaults.
      IVideoAdapter& adapter = *UniqueAdapters[j];
      if (Adl) Adl->Log("Adapter[" + std::to_string(j) + "]", adapter.GetUniqueName(), kRed);
      setting->UserGpuClock = DefaultOf(adapter, kSettingGpuClock);
      setting->UserGpuVoltage = DefaultOf(adapter, kSettingGpuVoltage);
      setting->UserMemClock = DefaultOf(adapter, kSettingMemoryClock);
      setting->UserMemVoltage = DefaultOf(adapter, kSettingMemoryVoltage);
      setting->FanMode = 0;
      const int32_t powerLimit = DefaultOf(adapter, kSettingPowerLimit);
      const int32_t temperatureLimit = DefaultOf(adapter, kSettingTemperatureLimit);
      for (TCfgLimits& limits : setting->Limits) {
        limits.PowerLimit = powerLimit;
        limits.TempLimit = temperatureLimit;
      }
    }
    Config->SaveAdapterSetting(setting);
  }
}

bool TVideoAdapterBuilder::SetActiveAdapter(int32_t position) {
  if (position < 0 || static_cast<size_t>(position) >= UniqueAdapters.size()) return false;
  ActiveIndex = position;
  return true;
}

IVideoAdapter* TVideoAdapterBuilder::GetActiveAdapter() const {
  if (ActiveIndex < 0 || static_cast<size_t>(ActiveIndex) >= UniqueAdapters.size()) return nullptr;
  return UniqueAdapters[static_cast<size_t>(ActiveIndex)];
}

TVideoAdapterBuilder** GetVideoAdapterBuilder() {
  // Made once: a construction that raised the configuration file's error is not repeated.
  static TVideoAdapterBuilder* instance = nullptr;
  static bool made = false;
  if (!made) {
    made = true;
    instance = new TVideoAdapterBuilder();
  }
  return &instance;
}

}  // namespace brumel
