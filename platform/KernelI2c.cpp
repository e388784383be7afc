#include "platform/KernelI2c.h"

#include <string_view>

namespace plat {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Exactly `digits` hexadecimal digits at `at`.
bool HexAt(std::string_view text, size_t at, size_t digits, uint32_t& value) {
  if (at + digits > text.size()) return false;
  value = 0;
  for (size_t i = 0; i < digits; ++i) {
    const int d = HexDigit(text[at + i]);
    if (d < 0) return false;
    value = (value << 4) | static_cast<uint32_t>(d);
  }
  return true;
}

bool Is(std::string_view text, size_t at, std::string_view what) {
  return at + what.size() <= text.size() && text.substr(at, what.size()) == what;
}

// The name part of a database line: surrounding blanks removed, control bytes made visible.
std::string NameFrom(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  std::string name(text);
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return name;
}

}  // namespace

// The database lists vendors ("vvvv  name"), under each its devices ("\tdddd  name") and under
// each device its subsystems ("\t\tssss dddd  name"); comments start with '#'; the classes
// ("C cc  name") follow the vendors.
std::string PciDatabaseName(const std::string& database, uint16_t vendor, uint16_t device,
                            uint16_t subsystemVendor, uint16_t subsystem) {
  bool inVendor = false;
  bool inDevice = false;
  std::string deviceName;
  size_t pos = 0;
  while (pos < database.size()) {
    size_t end = database.find('\n', pos);
    if (end == std::string::npos) end = database.size();
    std::string_view line(database.data() + pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    uint32_t a = 0, b = 0;
    if (line[0] != '\t') {
      // The next vendor (or the classes) ends the vendor's devices.
      if (inVendor) break;
      inVendor = HexAt(line, 0, 4, a) && Is(line, 4, "  ") && a == vendor;
      continue;
    }
    if (!inVendor) continue;
    if (line.size() < 2 || line[1] != '\t') {
      if (inDevice) break;  // the next device: the subsystem is not listed
      if (HexAt(line, 1, 4, a) && Is(line, 5, "  ") && a == device) {
        inDevice = true;
        deviceName = NameFrom(line.substr(7));
      }
      continue;
    }
    if (inDevice && HexAt(line, 2, 4, a) && Is(line, 6, " ") && HexAt(line, 7, 4, b) &&
        Is(line, 11, "  ") && a == subsystemVendor && b == subsystem) {
      const std::string name = NameFrom(line.substr(13));
      if (!name.empty()) return name;
    }
  }
  return deviceName;
}

bool ParsePciAddress(const std::string& text, PciDisplayFunction& out) {
  // dddd:bb:dd.f
  uint32_t domain = 0, bus = 0, device = 0, function = 0;
  if (text.size() != 12 || !HexAt(text, 0, 4, domain) || text[4] != ':' ||
      !HexAt(text, 5, 2, bus) || text[7] != ':' || !HexAt(text, 8, 2, device) || text[10] != '.' ||
      !HexAt(text, 11, 1, function) || device > 31 || function > 7)
    return false;
  out.Address = text;
  out.Domain = static_cast<uint16_t>(domain);
  out.Bus = static_cast<uint8_t>(bus);
  out.Device = static_cast<uint8_t>(device);
  out.Function = static_cast<uint8_t>(function);
  return true;
}

}  // namespace plat
