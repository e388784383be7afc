#include "sim/model/Scenario.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>

#include "sim/model/Ini.h"

namespace brumel::sim {

const char* const kDisplayEntryPoints[] = {
    "ADL2_Main_Control_Create",
    "ADL2_Main_Control_Destroy",
    "ADL2_Adapter_NumberOfAdapters_Get",
    "ADL2_Adapter_AdapterInfo_Get",
    "ADL2_Adapter_Active_Get",
    "ADL2_Overdrive_Caps",
    "ADL2_Adapter_MemoryInfo_Get",
    "ADL2_Adapter_VideoBiosInfo_Get",
    "ADL2_Display_WriteAndReadI2C",
    "ADL2_OverdriveN_CapabilitiesX2_Get",
    "ADL2_OverdriveN_PerformanceStatus_Get",
    "ADL2_OverdriveN_SystemClocksX2_Get",
    "ADL2_OverdriveN_SystemClocksX2_Set",
    "ADL2_OverdriveN_MemoryClocksX2_Get",
    "ADL2_OverdriveN_MemoryClocksX2_Set",
    "ADL2_OverdriveN_FanControl_Get",
    "ADL2_OverdriveN_FanControl_Set",
    "ADL2_OverdriveN_PowerLimit_Get",
    "ADL2_OverdriveN_PowerLimit_Set",
    "ADL2_OverdriveN_Temperature_Get",
    "ADL2_Overdrive5_ThermalDevices_Enum",
    "ADL2_Overdrive5_FanSpeed_Get",
    "ADL2_Overdrive5_FanSpeed_Set",
    "ADL2_Overdrive5_FanSpeedToDefault_Set",
    "ADL2_Adapter_VRAMUsage_Get",
    "ADL2_Overdrive8_Init_SettingX2_Get",
    "ADL2_Overdrive8_Current_SettingX2_Get",
    "ADL2_Overdrive8_Init_Setting_Get",
    "ADL2_Overdrive8_Current_Setting_Get",
    "ADL2_Overdrive8_Setting_Set",
    "ADL2_New_QueryPMLogData_Get",
};
const size_t kDisplayEntryPointCount = std::size(kDisplayEntryPoints);

CardPlan DefaultCard(unsigned n) {
  CardPlan card;
  card.bus = 2 + n;
  card.udid = "PCI_VEN_1002&DEV_73BF&SUBSYS_0E3A1002&REV_C1_4&BENCH&0&0" + std::to_string(n);
  card.name = n == 1 ? "Bench Radeon Graphics" : "Bench Radeon Graphics " + std::to_string(n);
  return card;
}

const char* const kOdnRangeNames[kOdnRanges] = {
    "EngineClock",          "MemoryClock",    "Vddc",     "Power",
    "PowerTuneTemperature", "FanTemperature", "FanSpeed", "MinimumPerformanceClock",
    "ThrottleNotification", "AutoSystemClock"};

const char* const kFanControlNames[kFanControlFields] = {
    "Mode",           "FanControlMode",    "CurrentFanSpeedMode", "CurrentFanSpeed",
    "TargetFanSpeed", "TargetTemperature", "MinPerformanceClock", "MinFanLimit"};

TuningPlan DefaultTuning() {
  TuningPlan t;
  // Overdrive-N: clocks in 10 kHz units.
  t.ranges[kOdnEngineClock] = {1, 50000, 250000, 100, 180000};
  t.ranges[kOdnMemoryClock] = {1, 50000, 120000, 100, 100000};
  t.ranges[kOdnVddc] = {1, 750, 1200, 5, 1150};
  t.ranges[kOdnPower] = {1, 50, 150, 1, 100};
  t.ranges[kOdnPowerTuneTemperature] = {1, 60, 110, 1, 90};
  t.ranges[kOdnFanTemperature] = {1, 25, 110, 1, 85};
  t.ranges[kOdnFanSpeed] = {1, 500, 3200, 1, 1200};
  t.ranges[kOdnMinimumPerformanceClock] = {1, 50000, 250000, 100, 50000};
  t.ranges[kOdnThrottleNotification] = {1, 1, 100, 1, 50};
  t.ranges[kOdnAutoSystemClock] = {1, 0, 1, 1, 1};
  t.gpuDefault = {{30000, 750},  {80000, 800},   {120000, 850},  {150000, 900},
                  {160000, 950}, {170000, 1050}, {175000, 1100}, {180000, 1150}};
  t.memoryDefault = {{10000, 750}, {50000, 800}, {100000, 850}};
  // Overdrive-8: minimum, maximum, default of each feature; the current values are the
  // defaults.
  const int32_t od8[kOd8Features][3] = {
      {800, 2150, 1905}, {800, 2150, 800},  {800, 2150, 800},  {700, 1200, 750}, {800, 2150, 1350},
      {700, 1200, 850},  {800, 2150, 1905}, {700, 1200, 1050}, {625, 1075, 875}, {-50, 50, 0},
      {500, 2500, 800},  {500, 2500, 2000}, {25, 105, 95},     {25, 110, 110},   {0, 100, 0},
      {0, 100, 0},       {0, 100, 0},       {0, 100, 0},       {0, 100, 0},      {25, 100, 45},
      {0, 100, 20},      {25, 100, 55},     {0, 100, 30},      {25, 100, 65},    {0, 100, 45},
      {25, 100, 80},     {0, 100, 60},      {25, 100, 95},     {0, 100, 80}};
  for (int k = 0; k < kOd8Features; ++k) t.od8[k] = {od8[k][0], od8[k][1], od8[k][2], od8[k][2]};
  // Graphics and memory clock, edge temperature, fan, graphics activity, hot spot.
  t.pmLog = {{1, 1850}, {2, 875}, {8, 55}, {14, 1100}, {19, 40}, {27, 68}};
  return t;
}

namespace {

// Hexadecimal with an optional "0x" prefix, at most `maxValue`.
bool ReadHex(std::string_view text, uint32_t maxValue, uint32_t& out) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  if (text.empty() || text.size() > 8) return false;
  uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (ec != std::errc{} || end != text.data() + text.size() || value > maxValue) return false;
  out = value;
  return true;
}

// Plain decimal digits, at most `maxValue`.
bool ReadDecimal(std::string_view text, uint32_t maxValue, uint32_t& out) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (ec != std::errc{} || end != text.data() + text.size() || value > maxValue) return false;
  out = value;
  return true;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// "3:04, 5:01" -> {3: 0x04, 5: 0x01}.
bool ReadButtonScript(std::string_view text, std::map<uint32_t, uint8_t>& out, std::string& why) {
  out.clear();
  std::string items(text);
  for (char& c : items) {
    if (c == ',') c = ' ';
  }
  std::istringstream words(items);
  std::string word;
  while (words >> word) {
    const size_t colon = word.find(':');
    uint32_t n = 0;
    uint32_t bits = 0;
    if (colon == std::string::npos ||
        !ReadDecimal(std::string_view(word).substr(0, colon), 0xFFFFFFFF, n) || n == 0 ||
        !ReadHex(std::string_view(word).substr(colon + 1), 0xFF, bits)) {
      why = "\"" + word +
            "\" is not N:BITS (N counts read-buttons reports from 1, BITS is hex 00-FF)";
      return false;
    }
    if (!out.emplace(n, static_cast<uint8_t>(bits)).second) {
      why = "read-buttons report " + std::to_string(n) + " is scripted twice";
      return false;
    }
  }
  return true;
}

bool ReadFaultKind(std::string_view text, FaultKind& out) {
  const std::string v = Lower(text);
  if (v == "none")
    out = FaultKind::kNone;
  else if (v == "noreply")
    out = FaultKind::kNoReply;
  else if (v == "badchecksum")
    out = FaultKind::kBadChecksum;
  else if (v == "badnumber")
    out = FaultKind::kBadNumber;
  else if (v == "garbage")
    out = FaultKind::kGarbage;
  else
    return false;
  return true;
}

bool ReadFaultTarget(std::string_view text, FaultPlan& plan) {
  const std::string v = Lower(text);
  if (v == "all")
    plan.target = FaultTarget::kAll;
  else if (v == "isp")
    plan.target = FaultTarget::kIsp;
  else if (v == "led")
    plan.target = FaultTarget::kLed;
  else {
    uint32_t code = 0;
    if (!ReadHex(text, 0xFF, code)) return false;
    plan.target = FaultTarget::kCommand;
    plan.command = static_cast<uint8_t>(code);
  }
  return true;
}

// Optional minus sign, then decimal digits, within [minValue, maxValue].
bool ReadSigned(std::string_view text, int32_t minValue, int32_t maxValue, int32_t& out) {
  if (text.empty()) return false;
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (ec != std::errc{} || end != text.data() + text.size() || value < minValue || value > maxValue)
    return false;
  out = value;
  return true;
}

// "1, 2 1": numbers separated by commas or blanks.
std::vector<std::string> ListItems(std::string_view text) {
  std::string items(text);
  for (char& c : items) {
    if (c == ',') c = ' ';
  }
  std::istringstream words(items);
  std::vector<std::string> out;
  std::string word;
  while (words >> word) out.push_back(word);
  return out;
}

// The scenario as read so far; devices and cards are put together once every key is read.
struct Draft {
  Scenario s;
  DeviceSpec first;
  std::optional<uint16_t> vendorId2, productId2;
  uint32_t count = 1;
  // Display library.
  uint32_t cardCount = 1;
  std::vector<CardPlan> cards;  // kMaxCards, with their defaults
  std::optional<std::vector<unsigned>> order;
  bool logicalEntriesGiven = false;
  int card = 0;  // position of the card whose section is being read
  CardPlan& Card() { return cards[static_cast<size_t>(card)]; }
};

struct KeyRule {
  const char* section;
  const char* key;
  // Applies the value; false with `why` set when it does not read.
  bool (*apply)(std::string_view value, Draft& d, std::string& why);
};

template <uint32_t Identity::*Field>
bool IdentityWord(std::string_view v, Draft& d, std::string& why) {
  if (ReadHex(v, 0xFFFFFFFF, d.s.identity.*Field)) return true;
  why = "expected a hexadecimal 32-bit value";
  return false;
}

template <uint32_t FaultPlan::*Field, uint32_t Min>
bool FaultCount(std::string_view v, Draft& d, std::string& why) {
  uint32_t n = 0;
  if (ReadDecimal(v, 0xFFFFFFFF, n) && n >= Min) {
    d.s.fault.*Field = n;
    return true;
  }
  why = Min ? "expected a decimal number from 1" : "expected a decimal number";
  return false;
}

bool ReadId(std::string_view v, uint16_t& out, std::string& why) {
  uint32_t id = 0;
  if (!ReadHex(v, 0xFFFF, id)) {
    why = "expected a hexadecimal 16-bit id";
    return false;
  }
  out = static_cast<uint16_t>(id);
  return true;
}

bool ReadOneOrTwo(std::string_view v, uint32_t& out, std::string& why) {
  if (ReadDecimal(v, 2, out) && out != 0) return true;
  why = "expected 1 or 2";
  return false;
}

// Rules of the [Card1] to [Card4] sections name this section.
constexpr const char* kCardSection = "Card#";

template <uint32_t CardPlan::*Field, uint32_t Max>
bool CardNumber(std::string_view v, Draft& d, std::string& why) {
  if (ReadDecimal(v, Max, d.Card().*Field)) return true;
  why = "expected a decimal number 0 to " + std::to_string(Max);
  return false;
}

template <std::string CardPlan::*Field, size_t Min>
bool CardText(std::string_view v, Draft& d, std::string& why) {
  if (v.size() >= Min && v.size() <= 256) {
    d.Card().*Field = std::string(v);
    return true;
  }
  why = Min ? "expected 1 to 256 characters" : "expected at most 256 characters";
  return false;
}

// Sections of a card's tuning values.
constexpr const char* kOverdriveNSection = "Card#.OverdriveN";
constexpr const char* kLevelsSection = "Card#.Levels";
constexpr const char* kThermalSection = "Card#.Thermal";
constexpr const char* kFanSection = "Card#.Fan";
constexpr const char* kPowerSection = "Card#.Power";
constexpr const char* kStatusSection = "Card#.Status";
constexpr const char* kOverdrive8Section = "Card#.Overdrive8";
constexpr const char* kPmLogSection = "Card#.PMLog";
// Sections whose keys are not fixed names: Overdrive-8 features, results per entry point.
constexpr const char* kCardResultsSection = "Card#.Results";

// Signed decimal numbers separated by commas or blanks: between minCount and maxCount of them.
bool ReadSignedList(std::string_view text, size_t minCount, size_t maxCount,
                    std::vector<int32_t>& out, std::string& why) {
  out.clear();
  for (const std::string& item : ListItems(text)) {
    int32_t v = 0;
    if (!ReadSigned(item, INT32_MIN, INT32_MAX, v)) {
      why = "\"" + item + "\" is not a decimal number";
      return false;
    }
    out.push_back(v);
  }
  if (out.size() < minCount || out.size() > maxCount) {
    why = minCount == maxCount ? "expected " + std::to_string(minCount) + " numbers"
                               : "expected " + std::to_string(minCount) + " to " +
                                     std::to_string(maxCount) + " numbers";
    return false;
  }
  return true;
}

template <int32_t TuningPlan::*Field>
bool TuningNumber(std::string_view v, Draft& d, std::string& why) {
  if (ReadSigned(v, INT32_MIN, INT32_MAX, d.Card().tuning.*Field)) return true;
  why = "expected a decimal number";
  return false;
}

template <int Range>
bool OdnRangeValues(std::string_view v, Draft& d, std::string& why) {
  std::vector<int32_t> n;
  if (!ReadSignedList(v, 5, 5, n, why)) {
    why += " (mode, minimum, maximum, step, default)";
    return false;
  }
  d.Card().tuning.ranges[Range] = {n[0], n[1], n[2], n[3], n[4]};
  return true;
}

// "30000:750, 80000:800:1:0": clock:voltage[:enabled[:control]] per level, at most 32.
template <std::vector<OdnLevel> TuningPlan::*Table>
bool LevelTable(std::string_view v, Draft& d, std::string& why) {
  std::vector<OdnLevel> levels;
  for (std::string item : ListItems(v)) {
    for (char& c : item) {
      if (c == ':') c = ' ';
    }
    std::vector<int32_t> n;
    if (!ReadSignedList(item, 2, 4, n, why)) {
      why = "a level is clock:voltage[:enabled[:control]]";
      return false;
    }
    levels.push_back({n[0], n[1], n.size() > 2 ? n[2] : 1, n.size() > 3 ? n[3] : 0});
  }
  if (levels.empty() || levels.size() > 32) {
    why = "expected 1 to 32 levels";
    return false;
  }
  d.Card().tuning.*Table = std::move(levels);
  return true;
}

template <std::vector<int32_t> TuningPlan::*List>
bool ControllerList(std::string_view v, Draft& d, std::string& why) {
  std::vector<int32_t> n;
  if (Lower(v) != "none" && !ReadSignedList(v, 1, 16, n, why)) return false;
  d.Card().tuning.*List = std::move(n);
  return true;
}

template <int Field>
bool FanControlField(std::string_view v, Draft& d, std::string& why) {
  if (ReadSigned(v, INT32_MIN, INT32_MAX, d.Card().tuning.fanControl[Field])) return true;
  why = "expected a decimal number";
  return false;
}

const KeyRule kRules[] = {
    {"Device", "VendorId",
     [](std::string_view v, Draft& d, std::string& why) {
       return ReadId(v, d.first.vendorId, why);
     }},
    {"Device", "ProductId",
     [](std::string_view v, Draft& d, std::string& why) {
       return ReadId(v, d.first.productId, why);
     }},
    {"Device", "VendorId2",
     [](std::string_view v, Draft& d, std::string& why) {
       return ReadId(v, d.vendorId2.emplace(), why);
     }},
    {"Device", "ProductId2",
     [](std::string_view v, Draft& d, std::string& why) {
       return ReadId(v, d.productId2.emplace(), why);
     }},
    {"Device", "Count",
     [](std::string_view v, Draft& d, std::string& why) { return ReadOneOrTwo(v, d.count, why); }},
    {"Device", "UsageEntries",
     [](std::string_view v, Draft& d, std::string& why) {
       uint32_t n = 0;
       if (!ReadOneOrTwo(v, n, why)) return false;
       d.s.usageEntries = n;
       return true;
     }},
    {"Device", "OpenError",
     [](std::string_view v, Draft& d, std::string& why) {
       const std::string name = Lower(v);
       if (name == "eacces") {
         d.s.openError = EACCES;
       } else if (name == "ebusy") {
         d.s.openError = EBUSY;
       } else if (name == "enoent") {
         d.s.openError = ENOENT;
       } else {
         uint32_t n = 0;
         if (!ReadDecimal(v, 4095, n) || n == 0) {
           why = "expected EACCES, EBUSY, ENOENT or an errno number from 1 to 4095";
           return false;
         }
         d.s.openError = static_cast<int>(n);
       }
       return true;
     }},
    {"Identity", "Version", IdentityWord<&Identity::version>},
    {"Identity", "Release", IdentityWord<&Identity::release>},
    {"Identity", "Hardware", IdentityWord<&Identity::hardware>},
    {"Identity", "Feature", IdentityWord<&Identity::feature>},
    {"Identity", "DeviceId", IdentityWord<&Identity::deviceId>},
    {"Identity", "FlashMode", IdentityWord<&Identity::flashMode>},
    {"Identity", "Config0", IdentityWord<&Identity::config0>},
    {"Identity", "Config1", IdentityWord<&Identity::config1>},
    {"Identity", "LdromWord", IdentityWord<&Identity::ldromWord>},
    {"Identity", "ApromWord", IdentityWord<&Identity::apromWord>},
    {"Buttons", "Script",
     [](std::string_view v, Draft& d, std::string& why) {
       return ReadButtonScript(v, d.s.buttons, why);
     }},
    {"Fault", "Kind",
     [](std::string_view v, Draft& d, std::string& why) {
       if (ReadFaultKind(v, d.s.fault.kind)) return true;
       why = "expected none, noreply, badchecksum, badnumber or garbage";
       return false;
     }},
    {"Fault", "ApplyTo",
     [](std::string_view v, Draft& d, std::string& why) {
       if (ReadFaultTarget(v, d.s.fault)) return true;
       why = "expected all, isp, led or a hexadecimal command byte";
       return false;
     }},
    {"Fault", "From", FaultCount<&FaultPlan::from, 1>},
    {"Fault", "Count", FaultCount<&FaultPlan::count, 0>},
    {"Fault", "DelayMs", FaultCount<&FaultPlan::delayMs, 0>},
    {"Fault", "UnplugAfter", FaultCount<&FaultPlan::unplugAfter, 0>},
    {"Display", "Cards",
     [](std::string_view v, Draft& d, std::string& why) {
       if (ReadDecimal(v, kMaxCards, d.cardCount)) return true;
       why = "expected 0 to " + std::to_string(kMaxCards);
       return false;
     }},
    {"Display", "Order",
     [](std::string_view v, Draft& d, std::string& why) {
       std::vector<unsigned> order;
       for (const std::string& item : ListItems(v)) {
         uint32_t n = 0;
         if (!ReadDecimal(item, kMaxCards, n) || n == 0) {
           why = "\"" + item + "\" is not a card number 1 to " + std::to_string(kMaxCards);
           return false;
         }
         order.push_back(n - 1);
       }
       if (order.empty() || order.size() > kMaxCards * kMaxLogicalEntries) {
         why = "expected 1 to " + std::to_string(kMaxCards * kMaxLogicalEntries) + " card numbers";
         return false;
       }
       d.order = std::move(order);
       return true;
     }},
    {kCardSection, "Bus", CardNumber<&CardPlan::bus, 255>},
    {kCardSection, "Device", CardNumber<&CardPlan::device, 31>},
    {kCardSection, "Function", CardNumber<&CardPlan::function, 7>},
    {kCardSection, "UDID", CardText<&CardPlan::udid, 1>},
    {kCardSection, "Name", CardText<&CardPlan::name, 0>},
    {kCardSection, "Overdrive",
     [](std::string_view v, Draft& d, std::string& why) {
       if (ReadSigned(v, -99, 99, d.Card().overdrive)) return true;
       why = "expected a tuning generation -99 to 99 (7 and 8 are the tool's)";
       return false;
     }},
    {kCardSection, "LogicalEntries",
     [](std::string_view v, Draft& d, std::string& why) {
       uint32_t n = 0;
       if (!ReadDecimal(v, kMaxLogicalEntries, n) || n == 0) {
         why = "expected 1 to " + std::to_string(kMaxLogicalEntries);
         return false;
       }
       d.Card().logicalEntries = n;
       d.logicalEntriesGiven = true;
       return true;
     }},
    {kCardSection, "I2cLines",
     [](std::string_view v, Draft& d, std::string& why) {
       std::vector<int32_t> lines;
       if (Lower(v) != "none") {
         for (const std::string& item : ListItems(v)) {
           int32_t line = 0;
           if (!ReadSigned(item, 0, 15, line)) {
             why = "\"" + item + "\" is not a line 0 to 15 (or give none)";
             return false;
           }
           lines.push_back(line);
         }
         if (lines.empty()) {
           why = "expected line numbers or none";
           return false;
         }
       }
       d.Card().i2cLines = std::move(lines);
       return true;
     }},
    {kCardSection, "I2cAddress",
     [](std::string_view v, Draft& d, std::string& why) {
       uint32_t address = 0;
       if (!ReadHex(v, 0xFE, address)) {
         why = "expected a hexadecimal address 00 to FE";
         return false;
       }
       d.Card().i2cAddress = static_cast<uint8_t>(address);
       return true;
     }},
    {kOverdriveNSection, "MaxLevels", TuningNumber<&TuningPlan::maxLevels>},
    {kOverdriveNSection, "EngineClock", OdnRangeValues<kOdnEngineClock>},
    {kOverdriveNSection, "MemoryClock", OdnRangeValues<kOdnMemoryClock>},
    {kOverdriveNSection, "Vddc", OdnRangeValues<kOdnVddc>},
    {kOverdriveNSection, "Power", OdnRangeValues<kOdnPower>},
    {kOverdriveNSection, "PowerTuneTemperature", OdnRangeValues<kOdnPowerTuneTemperature>},
    {kOverdriveNSection, "FanTemperature", OdnRangeValues<kOdnFanTemperature>},
    {kOverdriveNSection, "FanSpeed", OdnRangeValues<kOdnFanSpeed>},
    {kOverdriveNSection, "MinimumPerformanceClock", OdnRangeValues<kOdnMinimumPerformanceClock>},
    {kOverdriveNSection, "ThrottleNotification", OdnRangeValues<kOdnThrottleNotification>},
    {kOverdriveNSection, "AutoSystemClock", OdnRangeValues<kOdnAutoSystemClock>},
    {kLevelsSection, "GpuDefault", LevelTable<&TuningPlan::gpuDefault>},
    {kLevelsSection, "GpuCurrent", LevelTable<&TuningPlan::gpuCurrent>},
    {kLevelsSection, "MemoryDefault", LevelTable<&TuningPlan::memoryDefault>},
    {kLevelsSection, "MemoryCurrent", LevelTable<&TuningPlan::memoryCurrent>},
    {kThermalSection, "Domains", ControllerList<&TuningPlan::thermalDomains>},
    {kThermalSection, "FanSpeed", ControllerList<&TuningPlan::fanSpeeds>},
    {kThermalSection, "FanPercent", ControllerList<&TuningPlan::fanPercents>},
    {kThermalSection, "FanFlags", ControllerList<&TuningPlan::fanFlags>},
    {kFanSection, "Mode", FanControlField<0>},
    {kFanSection, "FanControlMode", FanControlField<1>},
    {kFanSection, "CurrentFanSpeedMode", FanControlField<2>},
    {kFanSection, "CurrentFanSpeed", FanControlField<3>},
    {kFanSection, "TargetFanSpeed", FanControlField<4>},
    {kFanSection, "TargetTemperature", FanControlField<5>},
    {kFanSection, "MinPerformanceClock", FanControlField<6>},
    {kFanSection, "MinFanLimit", FanControlField<7>},
    {kPowerSection, "Mode", TuningNumber<&TuningPlan::powerMode>},
    {kPowerSection, "TDPLimit", TuningNumber<&TuningPlan::tdpLimit>},
    {kPowerSection, "MaxOperatingTemperature", TuningNumber<&TuningPlan::maxOperatingTemperature>},
    {kStatusSection, "CoreClock", TuningNumber<&TuningPlan::coreClock>},
    {kStatusSection, "MemoryClock", TuningNumber<&TuningPlan::memoryClock>},
    {kStatusSection, "GPUActivity", TuningNumber<&TuningPlan::gpuActivity>},
    {kStatusSection, "Temperature", TuningNumber<&TuningPlan::temperature>},
    {kStatusSection, "VRAMUsage", TuningNumber<&TuningPlan::vramUsage>},
    {kOverdrive8Section, "Capabilities",
     [](std::string_view v, Draft& d, std::string& why) {
       uint32_t bits = 0;
       if (!ReadHex(v, 0xFFFFFFFF, bits)) {
         why = "expected hexadecimal capability bits";
         return false;
       }
       d.Card().tuning.od8Capabilities = static_cast<int32_t>(bits);
       return true;
     }},
    {kOverdrive8Section, "Count", TuningNumber<&TuningPlan::od8Count>},
    {kOverdrive8Section, "Table",
     [](std::string_view v, Draft& d, std::string& why) {
       uint32_t n = 0;
       if (!ReadDecimal(v, kOd8MaxTable, n) || n < static_cast<uint32_t>(kOd8Features)) {
         why = "expected a table length of 29 to 256 entries";
         return false;
       }
       d.Card().tuning.od8Table = static_cast<int32_t>(n);
       return true;
     }},
    {kPmLogSection, "Sensors",
     [](std::string_view v, Draft& d, std::string& why) {
       std::map<int, int32_t> log;
       for (const std::string& item : ListItems(v)) {
         const size_t colon = item.find(':');
         uint32_t index = 0;
         int32_t value = 0;
         if (colon == std::string::npos ||
             !ReadDecimal(std::string_view(item).substr(0, colon), 255, index) ||
             !ReadSigned(std::string_view(item).substr(colon + 1), INT32_MIN, INT32_MAX, value) ||
             !log.emplace(static_cast<int>(index), value).second) {
           why = "\"" + item + "\" is not INDEX:VALUE (INDEX 0 to 255, each once)";
           return false;
         }
       }
       d.Card().tuning.pmLog = std::move(log);
       return true;
     }},
};

// "Feature12=25, 105, 95[, 90]" of [CardN.Overdrive8]: minimum, maximum, default and the
// current value (default: the default).
bool ReadOd8Feature(const IniEntry& e, Draft& d, std::string& why) {
  const std::string key = Lower(e.key);
  uint32_t k = 0;
  if (key.rfind("feature", 0) != 0 || !ReadDecimal(std::string_view(key).substr(7), 28, k)) {
    why = "unknown key \"" + e.key + "\" in section [" + e.section + "]";
    return false;
  }
  std::vector<int32_t> n;
  if (!ReadSignedList(e.value, 3, 4, n, why)) {
    why = e.key + "=" + e.value + ": expected minimum, maximum, default[, current]";
    return false;
  }
  d.Card().tuning.od8[k] = {n[0], n[1], n[2], n.size() > 3 ? n[3] : n[2]};
  return true;
}

// "ADL2_Overdrive5_FanSpeed_Get=-1 adapter=2 from=3 count=1" of [CardN.Results].
bool ReadResultRule(const IniEntry& e, const char* entryPoint, Draft& d, std::string& why) {
  const std::vector<std::string> words = ListItems(e.value);
  ResultRule rule;
  rule.entryPoint = entryPoint;
  if (words.empty() || !ReadSigned(words[0], INT32_MIN, INT32_MAX, rule.result)) {
    why = "expected a decimal result code, then adapter=N, from=N, count=N as wanted";
    return false;
  }
  std::set<std::string> given;
  for (size_t i = 1; i < words.size(); ++i) {
    const size_t eq = words[i].find('=');
    const std::string name = Lower(words[i].substr(0, eq == std::string::npos ? 0 : eq));
    const std::string_view value =
        eq == std::string::npos ? std::string_view() : std::string_view(words[i]).substr(eq + 1);
    uint32_t n = 0;
    const bool read = ReadDecimal(value, 0xFFFF, n);
    if (!given.insert(name).second || !read || (name == "from" && n == 0) ||
        (name != "adapter" && name != "from" && name != "count")) {
      why = "\"" + words[i] + "\": expected adapter=N, from=N (from 1) or count=N, each once";
      return false;
    }
    if (name == "adapter") rule.adapter = static_cast<int32_t>(n);
    if (name == "from") rule.from = n;
    if (name == "count") rule.count = n;
  }
  d.Card().tuning.results.push_back(std::move(rule));
  return true;
}

// "Card1" to "Card4" -> 0 to 3, and "Card1.Topic" to "Card4.Topic" likewise with the topic
// ("" without one); -1 for any other name.
int CardOfSection(std::string_view section, std::string_view* topic = nullptr) {
  if (section.size() < 5 || !SameName(section.substr(0, 4), "Card")) return -1;
  const char digit = section[4];
  if (digit < '1' || digit > static_cast<char>('0' + kMaxCards)) return -1;
  std::string_view rest = section.substr(5);
  if (!rest.empty() && (rest.size() < 2 || rest[0] != '.')) return -1;
  if (topic) *topic = rest.empty() ? rest : rest.substr(1);
  return digit - '1';
}

// Whether a section of the file is the one a rule names ("Card#" and "Card#.Topic" stand for
// the sections of every card).
bool SectionMatches(std::string_view section, const char* ruleSection) {
  const std::string_view rule(ruleSection);
  if (rule.rfind(kCardSection, 0) == 0) {
    std::string_view topic;
    if (CardOfSection(section, &topic) < 0) return false;
    const std::string_view ruleTopic = rule.size() > 5 ? rule.substr(6) : std::string_view();
    return SameName(topic, ruleTopic);
  }
  return SameName(section, ruleSection);
}

// The display library's entry point of that name (any case), or null.
const char* DisplayEntryPoint(std::string_view name) {
  const char* const* found =
      std::find_if(kDisplayEntryPoints, kDisplayEntryPoints + kDisplayEntryPointCount,
                   [&](const char* known) { return SameName(known, name); });
  return found == kDisplayEntryPoints + kDisplayEntryPointCount ? nullptr : *found;
}

const char kResultsSection[] = "Results";

}  // namespace

bool ParseScenario(std::string_view text, Scenario& out, std::string& error) {
  IniText ini;
  if (!ParseIni(text, ini, error)) return false;
  for (const std::string& section : ini.sections) {
    bool known = SameName(section, kResultsSection) || SectionMatches(section, kCardResultsSection);
    for (const KeyRule& rule : kRules) known = known || SectionMatches(section, rule.section);
    if (!known) {
      error = "unknown section [" + section + "]";
      return false;
    }
  }
  Draft d;
  for (unsigned n = 1; n <= kMaxCards; ++n) d.cards.push_back(DefaultCard(n));
  unsigned highestCard = 0;  // 1-based number of the highest card section named
  for (const std::string& section : ini.sections) {
    const int card = CardOfSection(section);
    if (card >= 0) highestCard = std::max(highestCard, static_cast<unsigned>(card) + 1);
  }
  // Each rule once per card section (and once elsewhere); keys of no fixed name once per
  // section.
  std::set<std::pair<size_t, int>> seen;
  std::set<std::string> seenCardKeys;
  for (const IniEntry& e : ini.entries) {
    const std::string where = "line " + std::to_string(e.line) + ": ";
    const bool cardResults = SectionMatches(e.section, kCardResultsSection);
    if (SameName(e.section, kResultsSection) || cardResults) {
      const char* const name = DisplayEntryPoint(e.key);
      if (!name) {
        error = where + "\"" + e.key + "\" is not an entry point of the display library";
        return false;
      }
      if (!seenCardKeys.insert(Lower(e.section) + "/" + Lower(e.key)).second) {
        error = where + "key \"" + e.key + "\" given twice";
        return false;
      }
      if (cardResults) {
        d.card = CardOfSection(e.section);
        std::string why;
        if (!ReadResultRule(e, name, d, why)) {
          error = where + e.key + "=" + e.value + ": " + why;
          return false;
        }
        continue;
      }
      int32_t code = 0;
      if (!ReadSigned(e.value, INT32_MIN, INT32_MAX, code)) {
        error = where + e.key + "=" + e.value + ": expected a decimal result code";
        return false;
      }
      if (!d.s.display.results.emplace(name, code).second) {
        error = where + "key \"" + e.key + "\" given twice";
        return false;
      }
      continue;
    }
    if (SectionMatches(e.section, kOverdrive8Section) && Lower(e.key).rfind("feature", 0) == 0) {
      if (!seenCardKeys.insert(Lower(e.section) + "/" + Lower(e.key)).second) {
        error = where + "key \"" + e.key + "\" given twice";
        return false;
      }
      d.card = CardOfSection(e.section);
      std::string why;
      if (!ReadOd8Feature(e, d, why)) {
        error = where + why;
        return false;
      }
      continue;
    }
    size_t r = 0;
    while (r < std::size(kRules) &&
           !(SectionMatches(e.section, kRules[r].section) && SameName(e.key, kRules[r].key)))
      ++r;
    if (r == std::size(kRules)) {
      error = where + "unknown key \"" + e.key + "\" in section [" + e.section + "]";
      return false;
    }
    const int card = CardOfSection(e.section);
    if (!seen.emplace(r, card).second) {
      error = where + "key \"" + e.key + "\" given twice";
      return false;
    }
    d.card = card < 0 ? 0 : card;
    std::string why;
    if (!kRules[r].apply(e.value, d, why)) {
      error = where + e.key + "=" + e.value + ": " + why;
      return false;
    }
  }
  if ((d.vendorId2 || d.productId2) && d.count != 2) {
    error = "VendorId2 and ProductId2 need Count=2 in [Device]";
    return false;
  }
  d.s.devices = {d.first};
  if (d.count == 2) {
    d.s.devices.push_back(DeviceSpec{d.vendorId2.value_or(d.first.vendorId),
                                     d.productId2.value_or(d.first.productId)});
  }

  if (highestCard > d.cardCount) {
    error = "[Card" + std::to_string(highestCard) + "] needs Cards=" + std::to_string(highestCard) +
            " or more in [Display]";
    return false;
  }
  DisplayPlan& display = d.s.display;
  display.cards.assign(d.cards.begin(), d.cards.begin() + d.cardCount);
  display.adapterCards.clear();
  if (d.order) {
    if (d.logicalEntriesGiven) {
      error = "give either Order in [Display] or LogicalEntries in the card sections";
      return false;
    }
    for (unsigned card : *d.order) {
      if (card >= d.cardCount) {
        error = "Order names card " + std::to_string(card + 1) +
                " but Cards=" + std::to_string(d.cardCount);
        return false;
      }
    }
    display.adapterCards = *d.order;
  } else {
    for (unsigned card = 0; card < d.cardCount; ++card) {
      display.adapterCards.insert(display.adapterCards.end(), display.cards[card].logicalEntries,
                                  card);
    }
  }
  // A result rule for one adapter names one of its own card's.
  for (unsigned card = 0; card < display.cards.size(); ++card) {
    for (const ResultRule& rule : display.cards[card].tuning.results) {
      if (rule.adapter < 0) continue;
      const auto index = static_cast<size_t>(rule.adapter);
      if (index >= display.adapterCards.size() || display.adapterCards[index] != card) {
        error = "[Card" + std::to_string(card + 1) + ".Results] " + rule.entryPoint +
                ": adapter " + std::to_string(rule.adapter) + " is not one of the card's";
        return false;
      }
    }
  }
  out = std::move(d.s);
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool LoadScenarioFile(const std::string& path, Scenario& out, std::string& error) {
  std::string text;
  if (!ReadWholeFile(path, text)) {
    error = "cannot read the file";
    return false;
  }
  return ParseScenario(text, out, error);
}

}  // namespace brumel::sim
