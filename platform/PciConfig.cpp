#include "platform/PciConfig.h"

#include <cctype>
#include <vector>

namespace plat {

namespace {

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool StartsWithNoCase(const std::string& text, size_t at, const char* prefix) {
  for (size_t i = 0; prefix[i]; ++i) {
    if (at + i >= text.size() || Upper(text[at + i]) != prefix[i]) return false;
  }
  return true;
}

// Exactly digits hexadecimal digits, nothing more.
bool ParseHex(const std::string& text, size_t digits, uint32_t& value) {
  if (text.size() != digits) return false;
  value = 0;
  for (char c : text) {
    const char u = Upper(c);
    uint32_t d;
    if (u >= '0' && u <= '9') {
      d = static_cast<uint32_t>(u - '0');
    } else if (u >= 'A' && u <= 'F') {
      d = static_cast<uint32_t>(u - 'A' + 10);
    } else {
      return false;
    }
    value = (value << 4) | d;
  }
  return true;
}

std::vector<std::string> Split(const std::string& text, const char* separators) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : text) {
    bool separator = false;
    for (const char* s = separators; *s; ++s) separator = separator || c == *s;
    // A zero byte separates the entries of a multi-string list.
    if (separator || c == '\0') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  parts.push_back(part);
  return parts;
}

}  // namespace

bool ParsePciHardwareIds(const std::string& ids, PciHardwareIds& out) {
  out = PciHardwareIds{};
  bool haveIds = false;
  for (const std::string& id : Split(ids, "\r\n")) {
    if (!StartsWithNoCase(id, 0, "PCI\\")) continue;
    bool haveVendor = false, haveDevice = false, haveSubsystem = false;
    uint32_t vendor = 0, device = 0, subsystem = 0;
    for (const std::string& field : Split(id.substr(4), "&")) {
      if (StartsWithNoCase(field, 0, "VEN_")) {
        haveVendor = ParseHex(field.substr(4), 4, vendor);
      } else if (StartsWithNoCase(field, 0, "DEV_")) {
        haveDevice = ParseHex(field.substr(4), 4, device);
      } else if (StartsWithNoCase(field, 0, "SUBSYS_")) {
        haveSubsystem = ParseHex(field.substr(7), 8, subsystem);
      }
    }
    if (!haveVendor || !haveDevice) continue;
    if (!haveIds) {
      out.Vendor = static_cast<uint16_t>(vendor);
      out.Device = static_cast<uint16_t>(device);
      haveIds = true;
    }
    // Every id of one list describes the same function; take the subsystem where it appears.
    if (haveSubsystem && !out.HasSubsystem && vendor == out.Vendor && device == out.Device) {
      out.HasSubsystem = true;
      out.Subsystem = subsystem;
    }
  }
  if (!haveIds) out = PciHardwareIds{};
  return haveIds;
}

bool ParsePciLocation(const std::string& text, uint8_t& bus, uint8_t& device, uint8_t& function) {
  // The last three numbers: "PCI bus 3, device 0, function 0", its translations, a slot name
  // before it ("PCI Slot 2 (PCI bus 3, device 0, function 0)"), and the indirect form
  // "@System32\drivers\pci.sys,#65536;PCI bus %1, device %2, function %3;(3,0,0)".
  std::vector<uint32_t> numbers;
  for (size_t i = 0; i < text.size();) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
      ++i;
      continue;
    }
    uint32_t n = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
      if (n <= 0xFFFF) n = n * 10 + static_cast<uint32_t>(text[i] - '0');
    }
    numbers.push_back(n);
  }
  if (numbers.size() < 3) return false;
  const uint32_t b = numbers[numbers.size() - 3];
  const uint32_t d = numbers[numbers.size() - 2];
  const uint32_t f = numbers[numbers.size() - 1];
  if (b > 255 || d > 31 || f > 7) return false;
  bus = static_cast<uint8_t>(b);
  device = static_cast<uint8_t>(d);
  function = static_cast<uint8_t>(f);
  return true;
}

}  // namespace plat
