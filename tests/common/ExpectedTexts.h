// What the tool prints and writes, as several test layers (channel, whole runs on the bench)
// expect it from the simulated controller and graphics card.
#pragma once
#include <string>
#include <vector>

namespace brumel::test {

// The chip lines of the information display for the simulator's default controller.
inline constexpr char kSimulatedChipLines[] =
    "FW Version ............. 0x00010203\n"
    "FW Release ............. 0x00000007\n"
    "FW Feature ............. 0x00000001\n"
    "HW Version ............. 0x00000002\n"
    "Device ID .............. 0x00235100\n"
    "Flash Mode ............. APROM (0x20)\n"
    "Config0 : Config1 ...... 0xFFFFFF7F : 0x0001F000\n"
    "ROM Data ............... LDROM[ OK ] APROM[ OK ]\n";

// The chip lines when every query fails: values 0, configuration words all ones, no ROM line.
inline constexpr char kFailedChipLines[] =
    "FW Version ............. 0x00000000\n"
    "FW Release ............. 0x00000000\n"
    "FW Feature ............. 0x00000000\n"
    "HW Version ............. 0x00000000\n"
    "Device ID .............. 0x00000000\n"
    "Flash Mode ............. Unknown (0x00)\n"
    "Config0 : Config1 ...... 0xFFFFFFFF : 0xFFFFFFFF\n";

// kSimulatedChipLines with the line of `label` showing `value` after its dotted leader instead;
// an empty value leaves the line out (a query that failed where its line is only printed on
// success).
inline std::string SimulatedChipLinesWith(const std::string& label, const std::string& value) {
  std::string lines = kSimulatedChipLines;
  const size_t start = lines.find(label + " ..");
  if (start == std::string::npos) return lines;
  const size_t end = lines.find('\n', start) + 1;
  if (value.empty()) return lines.erase(start, end - start);
  const size_t at = lines.find(". ", start) + 2;
  return lines.replace(at, end - 1 - at, value);
}

// The controller gone after the sync and the version and release queries: the later queries
// fail at once.
inline constexpr char kChipGoneAfterRelease[] =
    "FW Version ............. 0x00010203\n"
    "FW Release ............. 0x00000007\n"
    "FW Feature ............. 0x00000000\n"
    "HW Version ............. 0x00000000\n"
    "Device ID .............. 0x00000000\n"
    "Flash Mode ............. Unknown (0x00)\n"
    "Config0 : Config1 ...... 0xFFFFFFFF : 0xFFFFFFFF\n";

// The whole information display of a run over a GPU I2C line (interfaceName: "ADL_I2C_OEM" or
// "ADL_I2C_OEM3") of the card of that name, with the given chip lines.
inline std::string CardDisplay(const std::string& card, const std::string& interfaceName,
                               const std::string& chip) {
  return "Adapter: " + card + "\n" + "Adapter                           [ " + card + " ]\n\n" +
         "[ Configuration ]\nProgram Interface ...... " + interfaceName + "\n" +
         "Adapter ................ " + card + "\n\n[ Chip - Current]\n" + chip + "\n";
}

// The same for the bench's simulated card.
inline std::string BenchCardDisplay(const std::string& interfaceName, const std::string& chip) {
  return CardDisplay("Bench Radeon Graphics", interfaceName, chip);
}

// The lines the tool adds after a failure (each printed in attribute 12).
inline constexpr char kNeedsDeviceIdLine[] =
    "The USB link needs the device id: add /ID with the controller's vendor and product id, "
    "e.g. /ID 0416A316\n";
inline constexpr char kNoControllerForColour[] =
    "No controller answers: the colour test cannot run\n";
inline constexpr char kNoControllerForButtons[] =
    "No controller answers: the button test cannot run\n";
// After a display whose queries all went unanswered, on a GPU I2C link (or USB).
inline std::string NoAnswerLine(const std::string& interfaceName) {
  return "No controller answered on " + interfaceName + ": no chip value above was read\n";
}
// After "Can't find adapter" when the display library is nowhere: its two file names. On Linux
// the tool then looks at the kernel's graphics cards itself, and says it found none.
inline std::string NoDisplayLibraryLine(const std::string& first, const std::string& second,
                                        bool kernelCardsLooked) {
  return "The display library was not found: neither " + first + " nor " + second +
         " is beside the executable or found by the system's search" +
         (kernelCardsLooked ? ", and the kernel shows no AMD graphics card bound to amdgpu" : "") +
         "\n";
}

// The 45 keys of an adapter section of BrumelISP.ini, in the order the tool writes them.
inline std::vector<std::string> AdapterSectionKeys() {
  std::vector<std::string> keys = {"Bus",          "UDID",           "AdapterName",
                                   "TweakerMode",  "UserGpuClock",   "UserGpuVoltage",
                                   "UserMemClock", "UserMemVoltage", "FanMode"};
  for (int k = 0; k < 3; ++k) {
    for (int p = 0; p < 5; ++p) {
      keys.push_back("FanSpeed" + std::to_string(k) + "_" + std::to_string(p));
      keys.push_back("FanTemp" + std::to_string(k) + "_" + std::to_string(p));
    }
    keys.push_back("PowerLimit" + std::to_string(k));
    keys.push_back("TempLimit" + std::to_string(k));
  }
  return keys;
}

}  // namespace brumel::test
