// The one record of parsed options and run state. The command line fills it once; the
// connection step and the lighting modes read it, which is why it lives below app/.
#pragma once
#include <cstdint>
#include <string>

namespace plat {
class InstanceLock;
}

namespace brumel {

class TUpdateIni;

struct RunOptionsRecord {
  std::string CommandLine;  // process command line, upper-cased
  std::string ExeDir;       // folder of the executable, ending in the path separator
  std::string ConfigPath;   // ExeDir + separator + "BrumelISP.ini"
  bool EraseRequested = false;
  bool HasApromFile = false;
  bool HasLdromFile = false;
  bool HasDataFile = false;
  bool HasConfigWords = false;
  bool HasInterface = false;
  int32_t InterfaceNumber = 0;  // 0 USB, 1 I2C, 2 ADL_I2C_OEM, 3 ADL_I2C_OEM3
  std::string ApromFile;
  std::string LdromFile;
  std::string DataFile;
  std::string EraseTarget;  // "ALL", "APROM" or "DATA"
  bool ArgumentError = false;
  TUpdateIni* UpdateDescription = nullptr;
  bool AutoMode = false;
  bool HasDeviceId = false;
  bool HasCommandBytes = false;
  bool HasMode = false;
  bool WantColorTest = false;
  bool WantButtonTest = false;
  plat::InstanceLock* InstanceMutex = nullptr;
  int32_t Config0 = 0;
  int32_t Config1 = 0;
  int32_t DeviceId = 0;
  uint8_t Mode = 0;
  uint8_t Red = 0;
  uint8_t Green = 0;
  uint8_t Blue = 0;
  uint8_t Param = 0;
  uint8_t AllZones = 0;
};

// The process-wide record.
RunOptionsRecord& RunOptions();

}  // namespace brumel
