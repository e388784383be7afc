#include "gpu/VideoAdapter.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>
#include <vector>

#include "support/ReadWrite.h"

namespace brumel {

namespace {

const char* const kHwmLabels[kHwmCount] = {
    "GPU Core Clock",
    "GPU Memory Clock",
    "GPU Temperature",
    "Fan Speed(%)",
    "Fan Speed(RPM)",
    "GPU Load",
    "Memory Controller Load",
    "GPU only Power Draw",
    "VDDC Power Draw",
    "VDDCI Power Draw",
    "VRM Efficiency",
    "Memory Usage",
    "Memory Usage (Dedicated)",
    "Memory Usage (Dynamic)",
    "VDDC",
    "CPU Usage",
    "CPU Frequency",
    "Temperature Limit",
    "TDP Limit",
};

constexpr uint16_t kPciIdOffset = 0x00;
constexpr uint16_t kPciSubsystemOffset = 0x2C;

// A text field of the library's records: at most its 256 bytes, so a field without a
// terminator does not run into the next one.
std::string FieldText(const char (&field)[kAdlTextBytes]) {
  const void* end = std::memchr(field, '\0', kAdlTextBytes);
  const size_t n = end ? static_cast<size_t>(static_cast<const char*>(end) - field) : kAdlTextBytes;
  return std::string(field, n);
}

}  // namespace

const char* HwmLabel(_ADL_HWM_ID id) { return id >= 0 && id < kHwmCount ? kHwmLabels[id] : ""; }

int32_t TruncToInt32OrUnset(double value) {
  // The comparisons are false for NaN.
  if (!(value > -2147483649.0 && value < 2147483648.0)) return -1;
  return static_cast<int32_t>(value);
}

// The clock and preset arithmetic gives the same numbers in every build only when each
// operation is rounded to its type, as SSE arithmetic does. The x87 unit keeps intermediates at
// extended precision: 1900 x 1.02f is then 1937.99996 and truncates to 1937, not 1938. The
// 32-bit build therefore computes with SSE2 (cmake/mingw-w64-i686.cmake).
static_assert(FLT_EVAL_METHOD == 0, "floating-point intermediates must be rounded to their type");

int32_t ScaleSingle(int32_t value, float factor) {
  const float product = static_cast<float>(value) * factor;
  return TruncToInt32OrUnset(static_cast<double>(product));
}

// ---- TBaseVideoAdapter -------------------------------------------------------------------

TBaseVideoAdapter::TBaseVideoAdapter(TADL* adl, int32_t adapterIndex)
    : Adl(adl), AdapterIndex(adapterIndex), Config(GetConfig(std::string())) {
  if (adapterIndex < 0 || !adl || !adl->IsReady() || adapterIndex >= adl->GetNumberOfAdapters() ||
      !adl->GetAdapterTable())
    return;
  Info = adl->GetAdapterTable() + adapterIndex;
  BusNumber = static_cast<uint8_t>(Info->BusNumber);
  DeviceNumber = static_cast<uint8_t>(Info->DeviceNumber);
  FunctionNumber = static_cast<uint8_t>(Info->FunctionNumber);
  // Fetched for completeness; nothing reads them.
  if (auto memory = adl->Entry<AdlEntry::ADL2_Adapter_MemoryInfo_Get>())
    memory(adl->GetContext(), adapterIndex, &MemoryInfo);
  if (auto bios = adl->Entry<AdlEntry::ADL2_Adapter_VideoBiosInfo_Get>())
    bios(adl->GetContext(), adapterIndex, &BiosInfo);
  Valid = true;

  TReadWrite* pci = GetReadWrite();
  if (pci) {
    PciId = pci->ReadPciConfig(BusNumber, DeviceNumber, kPciIdOffset, FunctionNumber);
    SubsystemId = pci->ReadPciConfig(BusNumber, DeviceNumber, kPciSubsystemOffset, FunctionNumber);
  }
}

TBaseVideoAdapter::~TBaseVideoAdapter() = default;

std::string TBaseVideoAdapter::GetAdapterName() const {
  return Valid && Info ? FieldText(Info->AdapterName) : std::string();
}

std::string TBaseVideoAdapter::GetUDID() const {
  return Valid && Info ? FieldText(Info->UDID) : std::string();
}

std::string TBaseVideoAdapter::GetUniqueName() const {
  return std::to_string(GetBusNumber()) + "_" + GetUDID();
}

// ---- IVideoAdapter -----------------------------------------------------------------------

IVideoAdapter::IVideoAdapter(TADL* adl, int32_t adapterIndex)
    : TBaseVideoAdapter(adl, adapterIndex) {
  MakeTables();
}

IVideoAdapter::~IVideoAdapter() = default;

void IVideoAdapter::MakeTables() {
  for (int32_t id = 0; id < kHwmCount; ++id)
    Sensors[static_cast<_ADL_HWM_ID>(id)] = std::make_unique<_ADL_HwmValue>();
  for (int32_t id = 0; id < kSettingCount; ++id) {
    auto range = std::make_unique<ADL_ODRange>();
    std::memset(range.get(), 0xFF, sizeof(ADL_ODRange));
    SettingRanges[static_cast<_ADL_SETTING_ID>(id)] = std::move(range);
  }
}

bool IVideoAdapter::StoreSensor(_ADL_HWM_ID id, double value) {
  auto it = Sensors.find(id);
  if (it == Sensors.end()) return false;
  it->second->Value = value;
  it->second->Name = HwmLabel(id);
  it->second->HasValue = 1;
  return true;
}

bool IVideoAdapter::WidenRange(ADL_ODRange* range) {
  if (!range) return false;
  if (range->Max < range->Default) range->Max = range->Default;
  if (range->Min > range->Default) range->Min = range->Default;
  return true;
}

// ---- presets ----------------------------------------------------------------------------

namespace {

constexpr uint16_t kPresetColour = 10;

template <size_t N>
bool InGroup(const uint32_t (&group)[N], uint32_t subsystem) {
  return std::find(std::begin(group), std::end(group), subsystem) != std::end(group);
}

// The value in the general float format ("1.04" for the single nearest 1.04).
std::string FactorText(float factor) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(factor));
  return text;
}

// A clock in MHz as 10 kHz units.
int32_t TenKilohertz(int32_t megahertz) {
  return TruncToInt32OrUnset(static_cast<double>(megahertz) * 100.0);
}

}  // namespace

bool IVideoAdapter::PresetFactors(float* ocGpu, float* ocMemory, float* ocPower, float* silentGpu,
                                  float* silentMemory, float* silentPower) const {
  if (!ocGpu || !ocMemory || !ocPower || !silentGpu || !silentMemory || !silentPower) return false;
  *ocGpu = 1.04f;
  *ocMemory = 1.004f;
  *ocPower = 50.0f;
  *silentGpu = 0.96f;
  *silentMemory = 0.996f;
  *silentPower = -15.0f;
  if (InGroup(kPresetGroupA, SubsystemId)) {
    *ocGpu = 1.02f;
    *ocMemory = 1.02f;
    *ocPower = 15.0f;
    *silentGpu = 0.98f;
    *silentMemory = 0.98f;
    *silentPower = -15.0f;
  } else if (InGroup(kPresetGroupB, SubsystemId)) {
    *ocGpu = 1.02f;
    *ocMemory = 1.004f;
    *ocPower = 20.0f;
    *silentGpu = 0.98f;
    *silentMemory = 1.0f;
    *silentPower = -20.0f;
  } else if (InGroup(kPresetGroupC, SubsystemId)) {
    *ocGpu = 1.02f;
    *silentGpu = 0.98f;
  }
  return true;
}

bool IVideoAdapter::SetFanAuto() { return SetFanSpeed(-1); }

bool IVideoAdapter::SetPerformanceOC() { return ApplyPreset(true); }

bool IVideoAdapter::SetPerformanceSilent() { return ApplyPreset(false); }

bool IVideoAdapter::ApplyPreset(bool overclock) {
  if (!Valid) return false;
  const char* label = overclock ? "SetPerformanceOC" : "SetPerformanceSilent";
  float ocGpu = 0, ocMemory = 0, ocPower = 0, silentGpu = 0, silentMemory = 0, silentPower = 0;
  PresetFactors(&ocGpu, &ocMemory, &ocPower, &silentGpu, &silentMemory, &silentPower);
  const float gpuFactor = overclock ? ocGpu : silentGpu;
  const float memoryFactor = overclock ? ocMemory : silentMemory;
  Log(label, "GpuClock=" + FactorText(gpuFactor) + ", MemClock=" + FactorText(memoryFactor),
      kPresetColour);

  // Each reading refreshes the current values first.
  const auto read = [this](_ADL_SETTING_ID id, double ADL_ODRange::*field) {
    const ADL_ODRange* range = GetSettingRange(id);
    return range ? TruncToInt32OrUnset(range->*field) : -1;
  };
  int32_t gpuClock = read(kSettingGpuClock, &ADL_ODRange::Default);
  const int32_t gpuVoltage = read(kSettingGpuVoltage, &ADL_ODRange::Default);
  int32_t memoryClock = read(kSettingMemoryClock, &ADL_ODRange::Default);
  const int32_t memoryVoltage = read(kSettingMemoryVoltage, &ADL_ODRange::Default);
  const int32_t temperature = read(kSettingTemperatureLimit, &ADL_ODRange::Default);
  const int32_t powerMax = read(kSettingPowerLimit, &ADL_ODRange::Max);
  const int32_t powerMin = read(kSettingPowerLimit, &ADL_ODRange::Min);

  if (static_cast<float>(powerMax) < ocPower) ocPower = static_cast<float>(powerMax);
  if (static_cast<float>(powerMin) > silentPower) silentPower = static_cast<float>(powerMin);
  SetPowerLimit(temperature,
                TruncToInt32OrUnset(static_cast<double>(overclock ? ocPower : silentPower)));

  gpuClock = ScaleSingle(gpuClock, gpuFactor);
  memoryClock = ScaleSingle(memoryClock, memoryFactor);
  Log(label, "GpuClock=" + std::to_string(gpuClock) + ", MemClock=" + std::to_string(memoryClock),
      kPresetColour);
  SetClocks(TenKilohertz(gpuClock), gpuVoltage, TenKilohertz(memoryClock), memoryVoltage);
  return true;
}

void IVideoAdapter::Log(const std::string& label, const std::string& value, uint16_t colour) const {
  if (Adl) Adl->Log(label, value, colour);
}

bool IVideoAdapter::I2CTransfer(uint8_t address, uint8_t offset, uint8_t* buffer, int32_t size,
                                int32_t line, int32_t action) {
  if (!Valid || !Adl) return false;
  auto transfer = Adl->Entry<AdlEntry::ADL2_Display_WriteAndReadI2C>();
  if (!transfer) return false;
  // The library would write or read size bytes at buffer.
  if (size < 0 || (size > 0 && !buffer)) return false;
  ADLI2C request;
  std::memset(&request, 0, sizeof request);
  request.Size = static_cast<int32_t>(sizeof(ADLI2C));
  request.Line = line;
  request.Address = address;
  request.Offset = offset;
  request.Action = action;
  request.Speed = kAdlI2cSpeedKHz;
  request.DataSize = size;
  request.Data = reinterpret_cast<char*>(buffer);
  return AdlSucceeded(Adl->Checked("ADL2_Display_WriteAndReadI2C", AdapterIndex,
                                   transfer(Adl->GetContext(), AdapterIndex, &request)));
}

bool IVideoAdapter::I2CReadLine(uint8_t address, uint8_t offset, uint8_t* buffer, int32_t size,
                                int32_t line) {
  return I2CTransfer(address, offset, buffer, size, line, kAdlI2cActionRead);
}

bool IVideoAdapter::I2CRead(uint8_t address, uint8_t offset, uint8_t* buffer, int32_t size) {
  return I2CTransfer(address, offset, buffer, size, kDefaultI2cLine, kAdlI2cActionRead);
}

bool IVideoAdapter::I2CWriteLine(uint8_t address, uint8_t offset, uint8_t* buffer, int32_t size,
                                 int32_t line) {
  return I2CTransfer(address, offset, buffer, size, line, kAdlI2cActionWrite);
}

bool IVideoAdapter::I2CWrite(uint8_t address, uint8_t offset, uint8_t* buffer, int32_t size) {
  return I2CTransfer(address, offset, buffer, size, kDefaultI2cLine, kAdlI2cActionWrite);
}

bool IVideoAdapter::I2CReadBlock(uint8_t address, uint8_t offset, uint8_t* buffer, int32_t length) {
  if (!buffer || length < 1 || length == INT32_MAX) return false;
  std::vector<uint8_t> bytes;
  try {
    bytes.assign(static_cast<size_t>(length) + 1, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!I2CRead(address, offset, bytes.data(), length + 1)) return false;
  // The first byte is the device's count; the data follow it.
  std::memcpy(buffer, bytes.data() + 1, static_cast<size_t>(length));
  return true;
}

bool IVideoAdapter::I2CWriteBlock(uint8_t address, uint8_t offset, const uint8_t* buffer,
                                  int32_t length) {
  // The count travels in one byte.
  if (!buffer || length < 1 || length > kMaxBlockWrite) return false;
  uint8_t bytes[kMaxBlockWrite + 1];
  bytes[0] = static_cast<uint8_t>(length);
  std::memcpy(bytes + 1, buffer, static_cast<size_t>(length));
  return I2CWrite(address, offset, bytes, length + 1);
}

}  // namespace brumel
