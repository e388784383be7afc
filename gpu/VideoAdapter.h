// One AMD graphics adapter as the tool sees it: its display-library adapter index, PCI
// location and identity, UDID and name, a table of sensor readings and a table of tunable
// settings with their ranges, and the I2C transfers on its bus lines. The concrete class of an
// adapter talks to the library's tuning interface of its generation.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "config/Config.h"
#include "gpu/ADL.h"
#include "gpu/AdlInterface.h"

namespace brumel {

// Sensor readings an adapter keeps.
enum _ADL_HWM_ID : int32_t {
  kHwmGpuCoreClock = 0,
  kHwmGpuMemoryClock = 1,
  kHwmGpuTemperature = 2,
  kHwmFanSpeedPercent = 3,
  kHwmFanSpeedRpm = 4,
  kHwmGpuLoad = 5,
  kHwmMemoryControllerLoad = 6,
  kHwmGpuOnlyPowerDraw = 7,
  kHwmVddcPowerDraw = 8,
  kHwmVddciPowerDraw = 9,
  kHwmVrmEfficiency = 10,
  kHwmMemoryUsage = 11,
  kHwmMemoryUsageDedicated = 12,
  kHwmMemoryUsageDynamic = 13,
  kHwmVddc = 14,
  kHwmCpuUsage = 15,
  kHwmCpuFrequency = 16,
  kHwmTemperatureLimit = 17,
  kHwmTdpLimit = 18,
};
inline constexpr int32_t kHwmCount = 19;

// The label a sensor's reading is stored under ("GPU Core Clock", ...); "" outside the ids.
const char* HwmLabel(_ADL_HWM_ID id);

// Tunable settings an adapter keeps a range for.
enum _ADL_SETTING_ID : int32_t {
  kSettingGpuClock = 0,          // MHz
  kSettingMemoryClock = 1,       // MHz
  kSettingGpuVoltage = 2,        // mV
  kSettingMemoryVoltage = 3,     // mV
  kSettingFanSpeed = 4,          // percent
  kSettingFanTemperature = 5,    // degrees
  kSettingPowerLimit = 6,        // percent
  kSettingTemperatureLimit = 7,  // degrees
};
inline constexpr int32_t kSettingCount = 8;

struct _ADL_HwmValue {
  double Value = -1.0;
  std::string Name;  // the id's label once a value was stored
  uint8_t HasValue = 0;
};

// Every byte is 0xFF until the adapter reports the setting: Supported -1, the doubles NaN.
struct ADL_ODRange {
  int32_t Supported;  // 1 once the adapter reports the setting, 0 when it cannot tune it
  double Default;
  double Current;
  double Max;
  double Min;
};

using ADL_HwmValues = std::map<_ADL_HWM_ID, std::unique_ptr<_ADL_HwmValue>>;
using TODSettingValues = std::map<_ADL_SETTING_ID, std::unique_ptr<ADL_ODRange>>;

class TBaseVideoAdapter {
 public:
  // The adapter of library adapter index adapterIndex in the given display library (null:
  // none); the tool passes the process-wide one.
  TBaseVideoAdapter(TADL* adl, int32_t adapterIndex);
  virtual ~TBaseVideoAdapter();
  TBaseVideoAdapter(const TBaseVideoAdapter&) = delete;
  TBaseVideoAdapter& operator=(const TBaseVideoAdapter&) = delete;

  bool IsValid() const { return Valid; }
  int32_t GetAdapterIndex() const { return AdapterIndex; }
  // The record's texts, read up to their 256 bytes; empty when not valid.
  std::string GetAdapterName() const;
  std::string GetUDID() const;
  int32_t GetBusNumber() const { return BusNumber; }
  int32_t GetDeviceNumber() const { return DeviceNumber; }
  int32_t GetFunctionNumber() const { return FunctionNumber; }
  uint32_t GetPciId() const { return PciId; }
  uint32_t GetSubsystemId() const { return SubsystemId; }
  // Bus number in decimal, "_", UDID: the adapter's section name in the configuration file.
  std::string GetUniqueName() const;
  TADL* GetDisplayLibrary() const { return Adl; }

 protected:
  TADL* Adl = nullptr;  // the display library the adapter was found in
  bool Valid = false;
  int32_t AdapterIndex = -1;
  uint8_t FunctionNumber = 255;
  uint8_t DeviceNumber = 255;
  uint8_t BusNumber = 255;
  uint32_t PciId = 0xFFFFFFFFu;        // vendor id low, device id high
  uint32_t SubsystemId = 0xFFFFFFFFu;  // subsystem vendor id low, subsystem id high
  const AdapterInfo* Info = nullptr;   // in the library's adapter table; not owned
  ADLMemoryInfo MemoryInfo{};
  ADLBiosInfo BiosInfo{};
  TConfig* Config = nullptr;  // held, not used further
};

class IVideoAdapter : public TBaseVideoAdapter {
 public:
  IVideoAdapter(TADL* adl, int32_t adapterIndex);
  ~IVideoAdapter() override;

  // Tuning, implemented by the class of the adapter's generation.
  virtual bool InitOverdrive() = 0;
  virtual bool FreeOverdrive() = 0;
  virtual bool UpdateSensors() = 0;
  // percent; -1 returns the fan to automatic control.
  virtual bool SetFanSpeed(int32_t percent) = 0;
  // points: count (fan speed, temperature) pairs; callers pass five.
  virtual bool SetFanCurve(const TCfgFanPoint* points, int32_t count) = 0;
  // The fan back to automatic control: SetFanSpeed(-1).
  virtual bool SetFanAuto();
  virtual int32_t GetFanMode() = 0;
  // Refreshes the Current values and returns the range of the id; null for an id of 8 or more.
  virtual ADL_ODRange* GetSettingRange(_ADL_SETTING_ID id) = 0;
  virtual bool SetPowerLimit(int32_t temperatureLimit, int32_t powerLimit) = 0;
  virtual bool ResetPowerLimit() = 0;
  // Clocks in 10 kHz units, voltages in mV.
  virtual bool SetClocks(int32_t gpuClock, int32_t gpuVoltage, int32_t memoryClock,
                         int32_t memoryVoltage) = 0;
  // The two presets: ApplyPreset over the generation's own operations.
  virtual bool SetPerformanceOC();
  virtual bool SetPerformanceDefault() = 0;
  virtual bool SetPerformanceSilent();

  // I2C transfers through the display library; true when the library call returned 0. The
  // Line forms name the bus line, the others use line 4. address is in the library's form
  // (the 7-bit address shifted left by one); offset is the register byte sent first.
  virtual bool I2CReadLine(uint8_t address, uint8_t offset, uint8_t* buffer, int32_t size,
                           int32_t line);
  virtual bool I2CRead(uint8_t address, uint8_t offset, uint8_t* buffer, int32_t size);
  virtual bool I2CWriteLine(uint8_t address, uint8_t offset, uint8_t* buffer, int32_t size,
                            int32_t line);
  virtual bool I2CWrite(uint8_t address, uint8_t offset, uint8_t* buffer, int32_t size);
  // Count-prefixed transfers on line 4: the device's count byte comes first on the wire.
  // Fail for a null buffer, a length below 1 or (for the write) above 255.
  virtual bool I2CReadBlock(uint8_t address, uint8_t offset, uint8_t* buffer, int32_t length);
  virtual bool I2CWriteBlock(uint8_t address, uint8_t offset, const uint8_t* buffer,
                             int32_t length);

  int32_t GetOverdriveVersion() const { return OverdriveVersion; }
  const ADL_HwmValues& GetSensors() const { return Sensors; }

  // Stores a reading under the id's label; false for an id outside the table.
  bool StoreSensor(_ADL_HWM_ID id, double value);
  // Widens the range so that it holds its default; false only for a null range.
  static bool WidenRange(ADL_ODRange* range);

  // The factors of the two presets for this card: the default row, or the row of the card's
  // group (by SubsystemId). Powers are percent. False only when an output is missing.
  bool PresetFactors(float* ocGpu, float* ocMemory, float* ocPower, float* silentGpu,
                     float* silentMemory, float* silentPower) const;

  static constexpr int32_t kDefaultI2cLine = 4;
  static constexpr int32_t kMaxBlockWrite = 255;

 protected:
  int32_t OverdriveVersion = 0;
  ADL_HwmValues Sensors;
  TODSettingValues SettingRanges;

 protected:
  // The steps both presets share, over the class's own GetSettingRange, SetPowerLimit and
  // SetClocks; overclock or quiet. False only when the adapter is not valid.
  bool ApplyPreset(bool overclock);
  // One diagnostic line through the display library's log (the debug console).
  void Log(const std::string& label, const std::string& value, uint16_t colour) const;

 private:
  bool I2CTransfer(uint8_t address, uint8_t offset, uint8_t* buffer, int32_t size, int32_t line,
                   int32_t action);
  void MakeTables();
};

// A double of the library as a 32-bit integer (truncated toward zero); NaN and values outside
// the 32-bit range give -1, the "not set" value of the configuration file.
int32_t TruncToInt32OrUnset(double value);

// trunc(value x factor), the product in single precision; -1 as above.
int32_t ScaleSingle(int32_t value, float factor);

// The library's clocks are in 10 kHz units: times this gives MHz.
inline constexpr double kPerTenKilohertz = 0.01;

// Cards whose presets differ from the default row, by their PCI subsystem value (subsystem
// vendor id low, subsystem id high): two and three cards of the maker's own, and one
// reference card, whose row changes the clock factors only.
inline constexpr uint32_t kPresetGroupA[] = {0x04371DA2u, 0x04381DA2u};
inline constexpr uint32_t kPresetGroupB[] = {0x23141682u, 0x23151682u, 0x23161682u};
inline constexpr uint32_t kPresetGroupC[] = {0x0E3A1002u};

}  // namespace brumel
