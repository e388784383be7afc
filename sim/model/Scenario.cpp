#include "sim/model/Scenario.h"

#include <algorithm>
#include <cctype>
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
};

// "Card1" to "Card4" -> 0 to 3; -1 for any other name.
int CardOfSection(std::string_view section) {
  if (section.size() != 5 || !SameName(section.substr(0, 4), "Card")) return -1;
  const char digit = section[4];
  if (digit < '1' || digit > static_cast<char>('0' + kMaxCards)) return -1;
  return digit - '1';
}

bool SectionMatches(std::string_view section, const char* ruleSection) {
  if (std::string_view(ruleSection) == kCardSection) return CardOfSection(section) >= 0;
  return SameName(section, ruleSection);
}

const char kResultsSection[] = "Results";

}  // namespace

bool ParseScenario(std::string_view text, Scenario& out, std::string& error) {
  IniText ini;
  if (!ParseIni(text, ini, error)) return false;
  for (const std::string& section : ini.sections) {
    bool known = SameName(section, kResultsSection);
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
  // Each rule once per card section (and once elsewhere).
  std::set<std::pair<size_t, int>> seen;
  for (const IniEntry& e : ini.entries) {
    const std::string where = "line " + std::to_string(e.line) + ": ";
    if (SameName(e.section, kResultsSection)) {
      const char* const* name =
          std::find_if(kDisplayEntryPoints, kDisplayEntryPoints + kDisplayEntryPointCount,
                       [&](const char* known) { return SameName(known, e.key); });
      if (name == kDisplayEntryPoints + kDisplayEntryPointCount) {
        error = where + "\"" + e.key + "\" is not an entry point of the display library";
        return false;
      }
      int32_t code = 0;
      if (!ReadSigned(e.value, INT32_MIN, INT32_MAX, code)) {
        error = where + e.key + "=" + e.value + ": expected a decimal result code";
        return false;
      }
      if (!d.s.display.results.emplace(*name, code).second) {
        error = where + "key \"" + e.key + "\" given twice";
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
