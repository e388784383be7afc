#include "config/Config.h"

#include "platform/Files.h"

namespace brumel {

namespace {

const char kPreferences[] = "Preferences";
const char kAdapters[] = "Adapters";

std::string FanSpeedKey(int k, int p) {
  return "FanSpeed" + std::to_string(k) + "_" + std::to_string(p);
}
std::string FanTempKey(int k, int p) {
  return "FanTemp" + std::to_string(k) + "_" + std::to_string(p);
}
std::string PowerLimitKey(int k) { return "PowerLimit" + std::to_string(k); }
std::string TempLimitKey(int k) { return "TempLimit" + std::to_string(k); }

}  // namespace

std::string AdapterSectionName(int32_t bus, const std::string& udid) {
  return std::to_string(bus) + "_" + udid;
}

TConfig::TConfig(std::string fileName) : FileName(std::move(fileName)) {
  // Profile 0 stays unset; profile 1 is flat; profile 2 rises with the temperature.
  for (int p = 0; p < kFanPoints; ++p) DefaultFanCurves[1][p] = {20, 50};
  DefaultFanCurves[2] = {{{0, 50}, {20, 50}, {30, 70}, {60, 85}, {100, 90}}};

  Exists = !FileName.empty() && plat::FileExists(FileName);
  IniFile = std::make_unique<TIniFile>(FileName);
  if (!Exists) {
    ResetPreferences();
    Exists = true;
  }
  LoadPreferences();
}

TConfig::~TConfig() { IniFile->UpdateFile(); }

void TConfig::ResetPreferences() {
  Preferences = TCfgPreferences{};
  SavePreferences();
}

void TConfig::SavePreferences() {
  IniFile->WriteValues(kPreferences, {{"Autorun", std::to_string(Preferences.Autorun)},
                                      {"Minimize", std::to_string(Preferences.Minimize)},
                                      {"AutoApply", std::to_string(Preferences.AutoApply)},
                                      {"ActiveAdapter", Preferences.ActiveAdapter}});
  IniFile->UpdateFile();
}

void TConfig::LoadPreferences() {
  Preferences.Autorun = IniFile->ReadInteger(kPreferences, "Autorun", 0);
  Preferences.Minimize = IniFile->ReadInteger(kPreferences, "Minimize", 0);
  Preferences.AutoApply = IniFile->ReadInteger(kPreferences, "AutoApply", 0);
  Preferences.ActiveAdapter = IniFile->ReadString(kPreferences, "ActiveAdapter", "");
}

bool TConfig::UpdateAdapters(const TAdapterRegInfos* adapterList) {
  if (!adapterList) return false;

  // The list describes this run's adapters only.
  AdapterUDIDs.clear();
  IniFile->EraseSection(kAdapters);
  TIniValues list;
  for (size_t i = 0; i < adapterList->size(); ++i) {
    const TAdapterRegInfo* info = (*adapterList)[i].get();
    if (!info) continue;
    std::string name = AdapterSectionName(info->Bus, info->UDID);
    list.emplace_back(std::to_string(i), name);
    AdapterUDIDs[static_cast<int32_t>(i)] = std::move(name);
  }
  IniFile->WriteValues(kAdapters, list);
  IniFile->UpdateFile();

  for (const auto& [j, name] : AdapterUDIDs) {
    // Records handed out earlier stay valid: an existing entry is refilled, not replaced.
    std::unique_ptr<TCfgAdapterSetting>& slot = AdapterSettings[name];
    if (!slot) slot = std::make_unique<TCfgAdapterSetting>();
    if (IniFile->SectionExists(name)) {
      LoadAdapterSetting(name, *slot);
    } else {
      const TAdapterRegInfo& info = *(*adapterList)[static_cast<size_t>(j)];
      TCfgAdapterSetting fresh;
      fresh.Bus = info.Bus;
      fresh.UDID = info.UDID;
      fresh.AdapterName = info.AdapterName;
      fresh.FanCurves = DefaultFanCurves;
      *slot = std::move(fresh);
      SaveAdapterSetting(slot.get());
    }
  }
  return true;
}

void TConfig::LoadAdapterSetting(const std::string& name, TCfgAdapterSetting& s) const {
  const TIniFile& ini = *IniFile;
  s.Bus = ini.ReadInteger(name, "Bus", -1);
  s.UDID = ini.ReadString(name, "UDID", "");
  s.AdapterName = ini.ReadString(name, "AdapterName", "");
  s.TweakerMode = ini.ReadInteger(name, "TweakerMode", 1);
  s.UserGpuClock = ini.ReadInteger(name, "UserGpuClock", -1);
  s.UserGpuVoltage = ini.ReadInteger(name, "UserGpuVoltage", -1);
  s.UserMemClock = ini.ReadInteger(name, "UserMemClock", -1);
  s.UserMemVoltage = ini.ReadInteger(name, "UserMemVoltage", -1);
  s.FanMode = ini.ReadInteger(name, "FanMode", -1);
  for (int k = 0; k < kFanProfiles; ++k) {
    for (int p = 0; p < kFanPoints; ++p) {
      s.FanCurves[k][p].FanSpeed = ini.ReadInteger(name, FanSpeedKey(k, p), -1);
      s.FanCurves[k][p].FanTemp = ini.ReadInteger(name, FanTempKey(k, p), -1);
    }
    s.Limits[k].PowerLimit = ini.ReadInteger(name, PowerLimitKey(k), -1);
    s.Limits[k].TempLimit = ini.ReadInteger(name, TempLimitKey(k), -1);
  }
}

bool TConfig::HasAdapterSetting(const std::string& sectionName) const {
  return AdapterSettings.count(sectionName) != 0;
}

TCfgAdapterSetting* TConfig::FindAdapterSetting(const std::string& sectionName) {
  auto it = AdapterSettings.find(sectionName);
  return it == AdapterSettings.end() ? nullptr : it->second.get();
}

void TConfig::SaveAdapterSetting(const TCfgAdapterSetting* setting) {
  if (!setting) return;
  const std::string name = AdapterSectionName(setting->Bus, setting->UDID);
  std::unique_ptr<TCfgAdapterSetting>& slot = AdapterSettings[name];
  if (!slot) slot = std::make_unique<TCfgAdapterSetting>();
  if (slot.get() != setting) *slot = *setting;
  const TCfgAdapterSetting& s = *slot;

  // The whole section in one write, keys in their fixed order.
  auto number = [](int32_t v) { return std::to_string(v); };
  TIniValues values = {
      {"Bus", number(s.Bus)},
      {"UDID", s.UDID},
      {"AdapterName", s.AdapterName},
      {"TweakerMode", number(s.TweakerMode)},
      {"UserGpuClock", number(s.UserGpuClock)},
      {"UserGpuVoltage", number(s.UserGpuVoltage)},
      {"UserMemClock", number(s.UserMemClock)},
      {"UserMemVoltage", number(s.UserMemVoltage)},
      {"FanMode", number(s.FanMode)},
  };
  for (int k = 0; k < kFanProfiles; ++k) {
    for (int p = 0; p < kFanPoints; ++p) {
      values.emplace_back(FanSpeedKey(k, p), number(s.FanCurves[k][p].FanSpeed));
      values.emplace_back(FanTempKey(k, p), number(s.FanCurves[k][p].FanTemp));
    }
    values.emplace_back(PowerLimitKey(k), number(s.Limits[k].PowerLimit));
    values.emplace_back(TempLimitKey(k), number(s.Limits[k].TempLimit));
  }
  TIniFile& ini = *IniFile;
  ini.WriteValues(name, values);
  ini.UpdateFile();
}

TConfig* GetConfig(const std::string& fileName) {
  static TConfig* instance = nullptr;
  if (!instance) instance = new TConfig(fileName);
  return instance;
}

}  // namespace brumel
