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
