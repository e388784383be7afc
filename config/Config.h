// The tool's configuration file: a few preferences and, for every graphics adapter ever
// seen, a section of per-adapter settings named after the adapter's bus number and UDID.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "config/AdapterRegInfo.h"
#include "config/IniFile.h"

namespace brumel {

struct TCfgPreferences {
  int32_t Autorun = 0;
  int32_t Minimize = 0;
  int32_t AutoApply = 0;
  std::string ActiveAdapter;
};

struct TCfgFanPoint {
  int32_t FanSpeed = -1;
  int32_t FanTemp = -1;
};

struct TCfgLimits {
  int32_t PowerLimit = -1;
  int32_t TempLimit = -1;
};

inline constexpr int kFanProfiles = 3;
inline constexpr int kFanPoints = 5;
// [profile][point]
using TCfgFanCurves = std::array<std::array<TCfgFanPoint, kFanPoints>, kFanProfiles>;

// Settings of one adapter; -1 means not set.
struct TCfgAdapterSetting {
  int32_t Bus = -1;
  std::string UDID;
  std::string AdapterName;
  int32_t TweakerMode = 1;
  int32_t UserGpuClock = -1;
  int32_t UserGpuVoltage = -1;
  int32_t UserMemClock = -1;
  int32_t UserMemVoltage = -1;
  int32_t FanMode = -1;
  TCfgFanCurves FanCurves{};
  std::array<TCfgLimits, kFanProfiles> Limits{};
};

// Position in the adapter list -> adapter section name.
using TCfgAdapterUDID = std::map<int32_t, std::string>;
// Adapter section name (compared exactly) -> settings owned by the configuration.
using TCfgAdapterSettings = std::map<std::string, std::unique_ptr<TCfgAdapterSetting>>;

// Section name of an adapter: bus number in signed decimal, "_", UDID.
std::string AdapterSectionName(int32_t bus, const std::string& udid);

class TConfig {
 public:
  // Binds the configuration to fileName; a missing file gets the default preferences.
  // An empty name keeps everything in memory. Throws EIniFileError when a write fails.
  explicit TConfig(std::string fileName);
  ~TConfig();
  TConfig(const TConfig&) = delete;
  TConfig& operator=(const TConfig&) = delete;

  // Registers the adapters of this run under "Adapters" and loads or creates their sections.
  // False only when no list is given. Throws EIniFileError when a write fails.
  bool UpdateAdapters(const TAdapterRegInfos* adapterList);
  bool HasAdapterSetting(const std::string& sectionName) const;
  // The stored settings, or null; a miss adds nothing. The record lives as long as the
  // configuration.
  TCfgAdapterSetting* FindAdapterSetting(const std::string& sectionName);
  // Stores the values under their section name and writes the whole section. Null does
  // nothing. Throws EIniFileError when a write fails.
  void SaveAdapterSetting(const TCfgAdapterSetting* setting);

  bool FileExisted() const { return Exists; }
  const std::string& GetFileName() const { return FileName; }
  const TCfgPreferences& GetPreferences() const { return Preferences; }
  const TCfgAdapterUDID& GetAdapterUDIDs() const { return AdapterUDIDs; }
  const TCfgAdapterSettings& GetAdapterSettings() const { return AdapterSettings; }
  const TCfgFanCurves& GetDefaultFanCurves() const { return DefaultFanCurves; }

 private:
  void ResetPreferences();
  void LoadPreferences();
  void SavePreferences();
  void LoadAdapterSetting(const std::string& sectionName, TCfgAdapterSetting& setting) const;

  bool Exists = false;
  std::string FileName;
  std::unique_ptr<TIniFile> IniFile;
  TCfgFanCurves DefaultFanCurves{};
  TCfgPreferences Preferences;
  TCfgAdapterUDID AdapterUDIDs;
  TCfgAdapterSettings AdapterSettings;
};

// The process-wide configuration: created with fileName on the first call, which start-up
// makes; later calls ignore the argument. Never destroyed.
TConfig* GetConfig(const std::string& fileName);

}  // namespace brumel
