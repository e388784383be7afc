// The display library's side of the tool: the records it fills or reads and the entry points
// the tool resolves from it, with the argument lists the tool passes (the library context
// first). Records without a pointer are fixed byte layouts; the I2C request holds the caller's
// data pointer and so has the library's natural layout for the process's pointer size. Every
// size and every offset the tool relies on is checked below.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "platform/DynLib.h"

namespace brumel {

// The vendor declares its entry points without a calling convention, so they take the C
// default (cdecl), and only the allocation callback it is handed as standard-call. In a 32-bit
// process a mismatch leaves the stack shifted after every call.
#define BRUMEL_ADL_API PLAT_CDECL
#define BRUMEL_ADL_CALLBACK PLAT_STDCALL

// Opaque context of the library, made by ADL2_Main_Control_Create.
using AdlContextHandle = void*;
// The allocation callback the library uses for the blocks it hands to the caller.
using AdlMallocCallback = void*(BRUMEL_ADL_CALLBACK*)(int size);

// Results: 0 is plain success and 1 to 4 are successes too (with a warning, without or with a
// mode change, with a restart needed); errors are negative.
inline constexpr int kAdlOk = 0;
inline constexpr int kAdlOkRestart = 4;
constexpr bool AdlSucceeded(int result) { return result >= kAdlOk && result <= kAdlOkRestart; }
// ADL2_Overdrive5_ThermalDevices_Enum past the last thermal controller.
inline constexpr int kAdlNoMoreThermalControllers = -100;

// ---- Adapter information (one record per logical adapter) --------------------------------

inline constexpr size_t kAdlTextBytes = 256;

// The fields at the record's end that the vendor's Windows library has and its Linux library
// lacks.
struct AdapterInfoWindowsTail {
  uint8_t Reserved3[776];
};
struct AdapterInfoNoTail {};

// 1572 bytes from the Windows library, 796 from the Linux one.
struct AdapterInfo {
  uint8_t Reserved0[8];
  char UDID[kAdlTextBytes];  // 8-bit text; not always terminated
  int32_t BusNumber;
  int32_t DeviceNumber;
  int32_t FunctionNumber;
  uint8_t Reserved1[4];
  char AdapterName[kAdlTextBytes];  // 8-bit text; not always terminated
  uint8_t Reserved2[260];
  [[no_unique_address]] std::conditional_t<plat::kWindowsLibraries, AdapterInfoWindowsTail,
                                           AdapterInfoNoTail>
      WindowsTail;
};
static_assert(sizeof(AdapterInfo) == (plat::kWindowsLibraries ? 1572 : 796));
static_assert(offsetof(AdapterInfo, UDID) == 8);
static_assert(offsetof(AdapterInfo, BusNumber) == 264);
static_assert(offsetof(AdapterInfo, DeviceNumber) == 268);
static_assert(offsetof(AdapterInfo, FunctionNumber) == 272);
static_assert(offsetof(AdapterInfo, AdapterName) == 280);

// Memory and video BIOS information: fetched for each adapter, not read by the tool.
struct ADLMemoryInfo {
  alignas(8) uint8_t Bytes[272];
};
static_assert(sizeof(ADLMemoryInfo) == 272);

struct ADLBiosInfo {
  char Texts[3][kAdlTextBytes];
};
static_assert(sizeof(ADLBiosInfo) == 768);

// ---- I2C request -------------------------------------------------------------------------

inline constexpr int32_t kAdlI2cActionRead = 1;
inline constexpr int32_t kAdlI2cActionWrite = 2;
inline constexpr int32_t kAdlI2cSpeedKHz = 400;

// Seven 32-bit fields, then the data pointer at its natural alignment: 32 bytes in a 32-bit
// process, 40 in a 64-bit one. Size holds sizeof(ADLI2C).
struct ADLI2C {
  int32_t Size;
  int32_t Line;      // bus line of the library's numbering (1: first OEM line, 4: third)
  int32_t Address;   // device address in the library's form (7-bit address shifted left)
  int32_t Offset;    // register byte sent before the data
  int32_t Action;    // kAdlI2cActionRead or kAdlI2cActionWrite
  int32_t Speed;     // kHz
  int32_t DataSize;  // data bytes to read or write
  char* Data;
};
static_assert(offsetof(ADLI2C, Size) == 0);
static_assert(offsetof(ADLI2C, Line) == 4);
static_assert(offsetof(ADLI2C, Address) == 8);
static_assert(offsetof(ADLI2C, Offset) == 12);
static_assert(offsetof(ADLI2C, Action) == 16);
static_assert(offsetof(ADLI2C, Speed) == 20);
static_assert(offsetof(ADLI2C, DataSize) == 24);
static_assert(offsetof(ADLI2C, Data) == (sizeof(void*) == 8 ? 32 : 28));
static_assert(sizeof(ADLI2C) == (sizeof(void*) == 8 ? 40 : 32));

// ---- Overdrive-N -------------------------------------------------------------------------

// One tunable parameter: mode, minimum, maximum, step, default.
struct ADLODNParameterRange {
  int32_t Mode;
  int32_t Min;
  int32_t Max;
  int32_t Step;
  int32_t Default;
};
static_assert(sizeof(ADLODNParameterRange) == 20);

// Clocks in units of 10 kHz.
struct ADLODNCapabilitiesX2 {
  int32_t MaximumNumberOfPerformanceLevels;
  uint8_t Reserved[4];
  ADLODNParameterRange EngineClock;
  ADLODNParameterRange MemoryClock;
  ADLODNParameterRange Vddc;
  ADLODNParameterRange Power;
  ADLODNParameterRange PowerTuneTemperature;
  ADLODNParameterRange FanTemperature;
  ADLODNParameterRange FanSpeed;
  ADLODNParameterRange MinimumPerformanceClock;
  ADLODNParameterRange ThrottleNotification;
  ADLODNParameterRange AutoSystemClock;
};
static_assert(sizeof(ADLODNCapabilitiesX2) == 208);
static_assert(offsetof(ADLODNCapabilitiesX2, EngineClock) == 8);
static_assert(offsetof(ADLODNCapabilitiesX2, AutoSystemClock) == 188);

// Performance-level table: this head, then NumberOfPerformanceLevels levels.
inline constexpr int32_t kAdlLevelsCurrent = 0;
inline constexpr int32_t kAdlLevelsDefault = 1;
inline constexpr int32_t kAdlLevelsManual = 3;

struct ADLODNPerformanceLevelX2 {
  int32_t Clock;  // 10 kHz units
  int32_t Vddc;   // mV
  int32_t Enabled;
  int32_t Control;
};
static_assert(sizeof(ADLODNPerformanceLevelX2) == 16);

struct ADLODNPerformanceLevelsX2 {
  int32_t Size;  // bytes of head and levels
  int32_t Mode;
  int32_t NumberOfPerformanceLevels;
};
static_assert(sizeof(ADLODNPerformanceLevelsX2) == 12);

// Bytes of a table sized for levels levels (at least one): (levels - 1) x 16 + 28.
constexpr size_t AdlPerformanceLevelsBytes(int32_t levels) {
  return sizeof(ADLODNPerformanceLevelsX2) +
         sizeof(ADLODNPerformanceLevelX2) * static_cast<size_t>(levels < 1 ? 1 : levels);
}
static_assert(AdlPerformanceLevelsBytes(1) == 28 && AdlPerformanceLevelsBytes(8) == 7 * 16 + 28);

struct ADLODNFanControl {
  int32_t Mode;
  int32_t FanControlMode;
  int32_t CurrentFanSpeedMode;
  int32_t CurrentFanSpeed;
  int32_t TargetFanSpeed;
  int32_t TargetTemperature;
  int32_t MinPerformanceClock;
  int32_t MinFanLimit;
};
static_assert(sizeof(ADLODNFanControl) == 32);

struct ADLODNPowerLimitSetting {
  int32_t Mode;
  int32_t TDPLimit;  // percent
  int32_t MaxOperatingTemperature;
};
static_assert(sizeof(ADLODNPowerLimitSetting) == 12);

struct ADLODNPerformanceStatus {
  int32_t CoreClock;    // 10 kHz units
  int32_t MemoryClock;  // 10 kHz units
  int32_t Reserved0[4];
  int32_t GPUActivityPercent;
  int32_t Reserved1[11];
};
static_assert(sizeof(ADLODNPerformanceStatus) == 72);
static_assert(offsetof(ADLODNPerformanceStatus, GPUActivityPercent) == 24);

// ---- Overdrive 5 -------------------------------------------------------------------------

inline constexpr int32_t kAdlThermalDomainGpu = 1;

struct ADLThermalControllerInfo {
  int32_t Size;
  int32_t ThermalDomain;
  int32_t DomainIndex;
  int32_t Flags;
};
static_assert(sizeof(ADLThermalControllerInfo) == 16);

// The unit a fan speed value is asked for and given in: the library needs one of the two.
inline constexpr int32_t kAdlFanSpeedTypePercent = 1;
inline constexpr int32_t kAdlFanSpeedTypeRpm = 2;
inline constexpr int32_t kAdlFanSpeedFlagUserDefined = 1;

struct ADLFanSpeedValue {
  int32_t Size;
  int32_t SpeedType;
  int32_t FanSpeed;
  int32_t Flags;
};
static_assert(sizeof(ADLFanSpeedValue) == 16);

// ---- Overdrive 8 -------------------------------------------------------------------------

// The feature table the tool knows: ids 0 to 28.
inline constexpr int kAdlOd8Features = 29;
// The record forms take fixed records whose table has as many entries as the library was built
// with, and their length has grown with the library (29, 31, 35, 52, 77 so far): the library
// writes and reads its own length whatever the caller's is. The tool's records leave room for
// that many, with headroom, all zero past what the tool knows; it reads only its own entries.
inline constexpr int kAdlOd8LargestKnownTable = 77;
inline constexpr int kAdlOd8TableRoom = 256;
static_assert(kAdlOd8TableRoom >= 2 * kAdlOd8LargestKnownTable);

struct ADLOD8SingleInitSetting {
  int32_t FeatureID;
  int32_t MinValue;
  int32_t MaxValue;
  int32_t DefaultValue;
};
static_assert(sizeof(ADLOD8SingleInitSetting) == 16);

// 472 bytes as far as the tool's 29 features go.
struct ADLOD8InitSetting {
  int32_t Count;
  int32_t OverdriveCapabilities;
  ADLOD8SingleInitSetting Features[kAdlOd8TableRoom];
};
static_assert(offsetof(ADLOD8InitSetting, Features) == 8);
static_assert(offsetof(ADLOD8InitSetting, Features) + 16 * kAdlOd8Features == 472);
static_assert(sizeof(ADLOD8InitSetting) == 8 + 16 * kAdlOd8TableRoom);

// 120 bytes as far as the tool's 29 features go.
struct ADLOD8CurrentSetting {
  int32_t Count;
  int32_t Values[kAdlOd8TableRoom];
};
static_assert(offsetof(ADLOD8CurrentSetting, Values) + 4 * kAdlOd8Features == 120);
static_assert(sizeof(ADLOD8CurrentSetting) == 4 + 4 * kAdlOd8TableRoom);

struct ADLOD8SingleSetSetting {
  int32_t Value;
  int32_t Requested;  // 1: apply this entry
  int32_t Reset;      // 1: return it to its default
};
static_assert(sizeof(ADLOD8SingleSetSetting) == 12);

// 352 bytes as far as the tool's 29 features go; entries past them are never requested.
struct ADLOD8SetSetting {
  int32_t Count;
  ADLOD8SingleSetSetting Entries[kAdlOd8TableRoom];
};
static_assert(offsetof(ADLOD8SetSetting, Entries) + 12 * kAdlOd8Features == 352);
static_assert(sizeof(ADLOD8SetSetting) == 4 + 12 * kAdlOd8TableRoom);

inline constexpr int kAdlPmLogSensors = 256;

struct ADLSingleSensorData {
  int32_t Supported;
  int32_t Value;
};

struct ADLPMLogDataOutput {
  int32_t Size;
  ADLSingleSensorData Sensors[kAdlPmLogSensors];
};
static_assert(sizeof(ADLPMLogDataOutput) == 2052);
static_assert(offsetof(ADLPMLogDataOutput, Sensors) == 4);

// ---- Entry points ------------------------------------------------------------------------

// Every entry point the loader resolves, in resolution order.
#define BRUMEL_ADL_ENTRY_POINTS(X)                  \
  X(ADL_Main_Control_Create)                        \
  X(ADL_Main_Control_Destroy)                       \
  X(ADL2_Main_ControlX2_Create)                     \
  X(ADL2_Main_Control_Create)                       \
  X(ADL2_Main_Control_Refresh)                      \
  X(ADL2_Main_Control_Destroy)                      \
  X(ADL2_Main_Control_GetProcAddress)               \
  X(ADL2_Graphics_Versions_Get)                     \
  X(ADL2_Graphics_VersionsX2_Get)                   \
  X(ADL2_Graphics_Platform_Get)                     \
  X(ADL2_Overdrive_Caps)                            \
  X(ADL2_Adapter_Active_Get)                        \
  X(ADL2_Adapter_Aspects_Get)                       \
  X(ADL2_Adapter_NumberOfAdapters_Get)              \
  X(ADL2_Flush_Driver_Data)                         \
  X(ADL2_Adapter_AdapterInfo_Get)                   \
  X(ADL2_Adapter_AdapterInfoX2_Get)                 \
  X(ADL2_Adapter_ASICFamilyType_Get)                \
  X(ADL2_Adapter_Speed_Caps)                        \
  X(ADL2_Adapter_Speed_Get)                         \
  X(ADL2_Adapter_Speed_Set)                         \
  X(ADL2_Adapter_Accessibility_Get)                 \
  X(ADL2_Adapter_VideoBiosInfo_Get)                 \
  X(ADL2_Adapter_ID_Get)                            \
  X(ADL2_AdapterX2_Caps)                            \
  X(ADL2_Adapter_VariBright_Caps)                   \
  X(ADL2_Adapter_VariBrightEnable_Set)              \
  X(ADL2_Adapter_VariBrightLevel_Get)               \
  X(ADL2_Adapter_VariBrightLevel_Set)               \
  X(ADL2_Adapter_DriverSettings_Get)                \
  X(ADL2_Adapter_DriverSettings_Set)                \
  X(ADL2_Adapter_TRNG_Get)                          \
  X(ADL2_Adapter_DeviceID_Get)                      \
  X(ADL2_Adapter_VRAMUsage_Get)                     \
  X(ADL2_Adapter_AdapterInfoX4_Get)                 \
  X(ADL2_Adapter_AdapterInfoX3_Get)                 \
  X(ADL2_Adapter_MemoryInfo_Get)                    \
  X(ADL2_Overdrive5_CurrentActivity_Get)            \
  X(ADL2_Overdrive5_ThermalDevices_Enum)            \
  X(ADL2_Overdrive5_Temperature_Get)                \
  X(ADL2_Overdrive5_FanSpeedInfo_Get)               \
  X(ADL2_Overdrive5_FanSpeed_Get)                   \
  X(ADL2_Overdrive5_FanSpeed_Set)                   \
  X(ADL2_Overdrive5_FanSpeedToDefault_Set)          \
  X(ADL2_Overdrive5_ODParameters_Get)               \
  X(ADL2_Overdrive5_ODPerformanceLevels_Get)        \
  X(ADL2_Overdrive5_ODPerformanceLevels_Set)        \
  X(ADL2_Overdrive5_PowerControl_Caps)              \
  X(ADL2_Overdrive5_PowerControlInfo_Get)           \
  X(ADL2_Overdrive5_PowerControl_Get)               \
  X(ADL2_Overdrive5_PowerControl_Set)               \
  X(ADL2_Overdrive5_PowerControlAbsValue_Caps)      \
  X(ADL2_Overdrive5_PowerControlAbsValue_Get)       \
  X(ADL2_Overdrive5_PowerControlAbsValue_Set)       \
  X(ADL2_Overdrive6_Capabilities_Get)               \
  X(ADL2_Overdrive6_StateInfo_Get)                  \
  X(ADL2_Overdrive6_State_Set)                      \
  X(ADL2_Overdrive6_State_Reset)                    \
  X(ADL2_Overdrive6_CurrentStatus_Get)              \
  X(ADL2_Overdrive6_ThermalController_Caps)         \
  X(ADL2_Overdrive6_Temperature_Get)                \
  X(ADL2_Overdrive6_FanSpeed_Get)                   \
  X(ADL2_Overdrive6_FanSpeed_Set)                   \
  X(ADL2_Overdrive6_FanSpeed_Reset)                 \
  X(ADL2_Overdrive6_PowerControl_Caps)              \
  X(ADL2_Overdrive6_PowerControlInfo_Get)           \
  X(ADL2_Overdrive6_PowerControl_Get)               \
  X(ADL2_Overdrive6_PowerControl_Set)               \
  X(ADL2_Overdrive6_VoltageControlInfo_Get)         \
  X(ADL2_Overdrive6_VoltageControl_Get)             \
  X(ADL2_Overdrive6_VoltageControl_Set)             \
  X(ADL2_Overdrive6_CapabilitiesEx_Get)             \
  X(ADL2_Overdrive6_StateEx_Get)                    \
  X(ADL2_Overdrive6_StateEx_Set)                    \
  X(ADL2_Overdrive6_ThermalLimitUnlock_Set)         \
  X(ADL2_Overdrive6_ThermalLimitUnlock_Get)         \
  X(ADL2_Overdrive6_AdvancedFan_Caps)               \
  X(ADL2_Overdrive6_TargetTemperatureRangeInfo_Get) \
  X(ADL2_Overdrive6_TargetTemperatureData_Get)      \
  X(ADL2_Overdrive6_TargetTemperatureData_Set)      \
  X(ADL2_Overdrive6_FanPWMLimitRangeInfo_Get)       \
  X(ADL2_Overdrive6_FanPWMLimitData_Get)            \
  X(ADL2_Overdrive6_FanPWMLimitData_Set)            \
  X(ADL2_Overdrive6_CurrentPower_Get)               \
  X(ADL2_Overdrive6_TemperatureEx_Get)              \
  X(ADL2_Overdrive6_ControlI2C)                     \
  X(ADL2_OverdriveN_CapabilitiesX2_Get)             \
  X(ADL2_OverdriveN_SystemClocks_Get)               \
  X(ADL2_OverdriveN_SystemClocks_Set)               \
  X(ADL2_OverdriveN_SystemClocksX2_Get)             \
  X(ADL2_OverdriveN_SystemClocksX2_Set)             \
  X(ADL2_OverdriveN_MemoryClocksX2_Get)             \
  X(ADL2_OverdriveN_MemoryClocksX2_Set)             \
  X(ADL2_OverdriveN_MemoryClocks_Get)               \
  X(ADL2_OverdriveN_MemoryClocks_Set)               \
  X(ADL2_OverdriveN_FanControl_Get)                 \
  X(ADL2_OverdriveN_FanControl_Set)                 \
  X(ADL2_OverdriveN_PowerLimit_Get)                 \
  X(ADL2_OverdriveN_PowerLimit_Set)                 \
  X(ADL2_OverdriveN_Temperature_Get)                \
  X(ADL2_OverdriveN_PerformanceStatus_Get)          \
  X(ADL2_OverdriveN_Test_Set)                       \
  X(ADL2_OverdriveN_CountOfEvents_Get)              \
  X(ADL2_CustomFan_Caps)                            \
  X(ADL2_CustomFan_Get)                             \
  X(ADL2_CustomFan_Set)                             \
  X(ADL2_OverdriveN_MemoryTimingLevel_Get)          \
  X(ADL2_OverdriveN_MemoryTimingLevel_Set)          \
  X(ADL2_OverdriveN_ZeroRPMFan_Get)                 \
  X(ADL2_OverdriveN_ZeroRPMFan_Set)                 \
  X(ADL2_OverdriveN_SettingsExt_Get)                \
  X(ADL2_OverdriveN_SettingsExt_Set)                \
  X(ADL2_Overdrive8_Init_Setting_Get)               \
  X(ADL2_Overdrive8_Current_Setting_Get)            \
  X(ADL2_Overdrive8_Setting_Set)                    \
  X(ADL2_New_QueryPMLogData_Get)                    \
  X(ADL2_Overdrive8_Init_SettingX2_Get)             \
  X(ADL2_Overdrive8_Current_SettingX2_Get)          \
  X(ADL2_Display_WriteAndReadI2CRev_Get)            \
  X(ADL_Display_WriteAndReadI2CRev_Get)             \
  X(ADL2_Display_WriteAndReadI2C)                   \
  X(ADL_Display_WriteAndReadI2C)

// One slot of the entry-point table per name, in resolution order.
enum class AdlEntry : int {
#define BRUMEL_ADL_ENUM(name) name,
  BRUMEL_ADL_ENTRY_POINTS(BRUMEL_ADL_ENUM)
#undef BRUMEL_ADL_ENUM
      Count
};
inline constexpr size_t kAdlEntryCount = static_cast<size_t>(AdlEntry::Count);
static_assert(kAdlEntryCount == 122);

// The name of a slot ("ADL2_Overdrive_Caps"); null outside the table.
const char* AdlEntryName(AdlEntry entry);

// The type of the entry points the tool calls; the others stay untyped (void*).
template <AdlEntry E>
struct AdlEntryType {
  using type = void*;
};

#define BRUMEL_ADL_ENTRY_TYPE(name, ...)            \
  template <>                                       \
  struct AdlEntryType<AdlEntry::name> {             \
    using type = int(BRUMEL_ADL_API*)(__VA_ARGS__); \
  };

BRUMEL_ADL_ENTRY_TYPE(ADL2_Main_Control_Create, AdlMallocCallback callback, int enumConnected,
                      AdlContextHandle* context)
BRUMEL_ADL_ENTRY_TYPE(ADL2_Main_Control_Destroy, AdlContextHandle context)
BRUMEL_ADL_ENTRY_TYPE(ADL2_Adapter_NumberOfAdapters_Get, AdlContextHandle context, int* count)
BRUMEL_ADL_ENTRY_TYPE(ADL2_Adapter_AdapterInfo_Get, AdlContextHandle context, AdapterInfo* table,
                      int bytes)
BRUMEL_ADL_ENTRY_TYPE(ADL2_Adapter_Active_Get, AdlContextHandle context, int adapterIndex,
                      int* active)
BRUMEL_ADL_ENTRY_TYPE(ADL2_Overdrive_Caps, AdlContextHandle context, int adapterIndex,
                      int* supported, int* enabled, int* version)
BRUMEL_ADL_ENTRY_TYPE(ADL2_Adapter_MemoryInfo_Get, AdlContextHandle context, int adapterIndex,
                      ADLMemoryInfo* info)
BRUMEL_ADL_ENTRY_TYPE(ADL2_Adapter_VideoBiosInfo_Get, AdlContextHandle context, int adapterIndex,
                      ADLBiosInfo* info)
BRUMEL_ADL_ENTRY_TYPE(ADL2_Display_WriteAndReadI2C, AdlContextHandle context, int adapterIndex,
                      ADLI2C* request)
BRUMEL_ADL_ENTRY_TYPE(ADL2_OverdriveN_CapabilitiesX2_Get, AdlContextHandle context,
                      int adapterIndex, ADLODNCapabilitiesX2* capabilities)
BRUMEL_ADL_ENTRY_TYPE(ADL2_OverdriveN_PerformanceStatus_Get, AdlContextHandle context,
                      int adapterIndex, ADLODNPerformanceStatus* status)
BRUMEL_ADL_ENTRY_TYPE(ADL2_OverdriveN_SystemClocksX2_Get, AdlContextHandle context,
                      int adapterIndex, ADLODNPerformanceLevelsX2* levels)
BRUMEL_ADL_ENTRY_TYPE(ADL2_OverdriveN_SystemClocksX2_Set, AdlContextHandle context,
                      int adapterIndex, ADLODNPerformanceLevelsX2* levels)
BRUMEL_ADL_ENTRY_TYPE(ADL2_OverdriveN_MemoryClocksX2_Get, AdlContextHandle context,
                      int adapterIndex, ADLODNPerformanceLevelsX2* levels)
BRUMEL_ADL_ENTRY_TYPE(ADL2_OverdriveN_MemoryClocksX2_Set, AdlContextHandle context,
                      int adapterIndex, ADLODNPerformanceLevelsX2* levels)
BRUMEL_ADL_ENTRY_TYPE(ADL2_OverdriveN_FanControl_Get, AdlContextHandle context, int adapterIndex,
                      ADLODNFanControl* fanControl)
BRUMEL_ADL_ENTRY_TYPE(ADL2_OverdriveN_FanControl_Set, AdlContextHandle context, int adapterIndex,
                      ADLODNFanControl* fanControl)
BRUMEL_ADL_ENTRY_TYPE(ADL2_OverdriveN_PowerLimit_Get, AdlContextHandle context, int adapterIndex,
                      ADLODNPowerLimitSetting* powerLimit)
BRUMEL_ADL_ENTRY_TYPE(ADL2_OverdriveN_PowerLimit_Set, AdlContextHandle context, int adapterIndex,
                      ADLODNPowerLimitSetting* powerLimit)
BRUMEL_ADL_ENTRY_TYPE(ADL2_OverdriveN_Temperature_Get, AdlContextHandle context, int adapterIndex,
                      int temperatureType, int* milliDegrees)
BRUMEL_ADL_ENTRY_TYPE(ADL2_Overdrive5_ThermalDevices_Enum, AdlContextHandle context,
                      int adapterIndex, int thermalControllerIndex, ADLThermalControllerInfo* info)
BRUMEL_ADL_ENTRY_TYPE(ADL2_Overdrive5_FanSpeed_Get, AdlContextHandle context, int adapterIndex,
                      int thermalControllerIndex, ADLFanSpeedValue* value)
BRUMEL_ADL_ENTRY_TYPE(ADL2_Overdrive5_FanSpeed_Set, AdlContextHandle context, int adapterIndex,
                      int thermalControllerIndex, ADLFanSpeedValue* value)
BRUMEL_ADL_ENTRY_TYPE(ADL2_Overdrive5_FanSpeedToDefault_Set, AdlContextHandle context,
                      int adapterIndex, int thermalControllerIndex)
BRUMEL_ADL_ENTRY_TYPE(ADL2_Adapter_VRAMUsage_Get, AdlContextHandle context, int adapterIndex,
                      int* usage)
BRUMEL_ADL_ENTRY_TYPE(ADL2_Overdrive8_Init_SettingX2_Get, AdlContextHandle context,
                      int adapterIndex, int* capabilities, int* count,
                      ADLOD8SingleInitSetting** list)
BRUMEL_ADL_ENTRY_TYPE(ADL2_Overdrive8_Current_SettingX2_Get, AdlContextHandle context,
                      int adapterIndex, int* count, int** list)
BRUMEL_ADL_ENTRY_TYPE(ADL2_Overdrive8_Init_Setting_Get, AdlContextHandle context, int adapterIndex,
                      ADLOD8InitSetting* settings)
BRUMEL_ADL_ENTRY_TYPE(ADL2_Overdrive8_Current_Setting_Get, AdlContextHandle context,
                      int adapterIndex, ADLOD8CurrentSetting* settings)
BRUMEL_ADL_ENTRY_TYPE(ADL2_Overdrive8_Setting_Set, AdlContextHandle context, int adapterIndex,
                      ADLOD8SetSetting* request, ADLOD8CurrentSetting* current)
BRUMEL_ADL_ENTRY_TYPE(ADL2_New_QueryPMLogData_Get, AdlContextHandle context, int adapterIndex,
                      ADLPMLogDataOutput* log)

#undef BRUMEL_ADL_ENTRY_TYPE

}  // namespace brumel
