#include "sim/model/Scenario.h"

#include <cctype>
#include <charconv>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "sim/model/Ini.h"

namespace brumel::sim {

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

// The scenario as read so far; devices are put together once every key is read.
struct Draft {
  Scenario s;
  DeviceSpec first;
  std::optional<uint16_t> vendorId2, productId2;
  uint32_t count = 1;
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
};

}  // namespace

bool ParseScenario(std::string_view text, Scenario& out, std::string& error) {
  IniText ini;
  if (!ParseIni(text, ini, error)) return false;
  for (const std::string& section : ini.sections) {
    bool known = false;
    for (const KeyRule& rule : kRules) known = known || SameName(section, rule.section);
    if (!known) {
      error = "unknown section [" + section + "]";
      return false;
    }
  }
  Draft d;
  std::vector<bool> seen(std::size(kRules), false);
  for (const IniEntry& e : ini.entries) {
    size_t r = 0;
    while (r < std::size(kRules) &&
           !(SameName(e.section, kRules[r].section) && SameName(e.key, kRules[r].key)))
      ++r;
    const std::string where = "line " + std::to_string(e.line) + ": ";
    if (r == std::size(kRules)) {
      error = where + "unknown key \"" + e.key + "\" in section [" + e.section + "]";
      return false;
    }
    if (seen[r]) {
      error = where + "key \"" + e.key + "\" given twice";
      return false;
    }
    seen[r] = true;
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
