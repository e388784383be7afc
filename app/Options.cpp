#include "app/Options.h"

#include <cstdio>

#include "config/NumberText.h"
#include "isp/RunOptions.h"
#include "isp/UpdateIni.h"
#include "platform/Files.h"
#include "platform/ToolFiles.h"
#include "support/Console.h"

namespace brumel {

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::vector<std::string> SplitModeFields(std::string_view value) {
  std::vector<std::string> fields;
  if (value.empty()) return fields;
  std::string field;
  bool inQuotes = false;
  bool pending = false;  // a field has begun (possibly empty, after a ":")
  for (char c : value) {
    if (c == '"') {
      inQuotes = !inQuotes;
      pending = true;
    } else if (!inQuotes && c == ':') {
      fields.push_back(field);
      field.clear();
      pending = true;
    } else if (!inQuotes && (c == ' ' || c == '\t')) {
      if (!field.empty()) {
        fields.push_back(field);
        field.clear();
        pending = false;
      }
    } else {
      field += c;
      pending = true;
    }
  }
  if (pending || !field.empty()) fields.push_back(field);
  return fields;
}

namespace {

// File names keep their case where the file system tells case apart.
std::string FileNameValue(const char* arg) {
  return plat::kFileNamesCaseSensitive ? std::string(arg) : UpperCase(arg);
}

uint8_t ModeField(const std::string& field, uint8_t def) {
  return static_cast<uint8_t>(ReadNumberOr("0x" + field, def) & 0xFF);
}

void ReadModeFields(RunOptionsRecord& o, const char* value) {
  std::vector<std::string> fields = SplitModeFields(value);
  if (fields.empty()) {
    o.HasMode = false;
    o.ArgumentError = true;
    return;
  }
  o.Mode = ModeField(fields[0], 0x1E);
  if (fields.size() >= 4) {
    o.Red = ModeField(fields[1], 0xFF);
    o.Green = ModeField(fields[2], 0x00);
    o.Blue = ModeField(fields[3], 0x00);
  }
  if (fields.size() >= 5) o.Param = ModeField(fields[4], 0x50);
  if (fields.size() >= 6) o.AllZones = ModeField(fields[5], 0x00);
  o.HasMode = true;
  o.ArgumentError = false;
}

std::string HexValue(const char* arg) {
  std::string value = UpperCase(arg);
  if (value.rfind("0X", 0) != 0) value = "0x" + value;
  return value;
}

}  // namespace

bool ParseArguments(int argc, char** argv) {
  RunOptionsRecord& o = RunOptions();
  o.ArgumentError = false;
  for (int i = 1; i < argc; ++i) {
    const std::string token = UpperCase(argv[i]);
    const bool hasNext = i + 1 < argc;
    const char* next = hasNext ? argv[i + 1] : nullptr;

    if (token == "/UA" || token == "/UD" || token == "/UL") {
      if (!hasNext || o.EraseRequested) {
        o.ArgumentError = true;
        continue;
      }
      const std::string file = FileNameValue(next);
      if (!plat::FileExists(file)) {
        o.ArgumentError = true;
      } else if (token == "/UA") {
        o.HasApromFile = true;
        o.ApromFile = file;
      } else if (token == "/UD") {
        o.HasDataFile = true;
        o.DataFile = file;
      } else {
        o.HasLdromFile = true;
        o.LdromFile = file;
      }
    } else if (token == "/UC") {
      if (i + 2 >= argc || o.EraseRequested) {
        o.ArgumentError = true;
        continue;
      }
      const int32_t cfg0 = ReadNumberOr(HexValue(argv[i + 1]), 0);
      const int32_t cfg1 = ReadNumberOr(HexValue(argv[i + 2]), -1);
      if (cfg0 != 0 && cfg1 != -1) {
        o.Config0 = cfg0;
        o.Config1 = cfg1;
        o.HasConfigWords = true;
      } else {
        o.ArgumentError = true;
      }
    } else if (token == "/I") {
      if (!hasNext) {
        o.ArgumentError = true;
        continue;
      }
      const int32_t n = ReadNumberOr(next, -1);
      if (n < 0 || n > 3) {
        o.ArgumentError = true;
      } else {
        o.InterfaceNumber = n;
        o.HasInterface = true;
      }
    } else if (token == "/BS") {
      if (!hasNext) {
        o.ArgumentError = true;
        continue;
      }
      const int32_t n = ReadNumberOr(next, -1);
      if (n == -1 || n > 2) o.ArgumentError = true;
    } else if (token == "/E") {
      if (!hasNext) {
        o.ArgumentError = true;
        continue;
      }
      const std::string target = UpperCase(next);
      if (target == "ALL" || target == "APROM" || target == "DATA") {
        o.EraseTarget = target;
        o.EraseRequested = true;
      } else {
        o.ArgumentError = true;
      }
    } else if (token == "/INFO") {
      // The information display follows from the interface number.
    } else if (token == "/AUTO") {
      // Beside the executable (ExeDir), or in the configuration folders of an installed tool.
      o.UpdateDescription = GetUpdateDescription(plat::OptionalFilePath("UpdateFW.ini"));
      o.AutoMode = o.UpdateDescription && o.UpdateDescription->HasFile();
    } else if (token == "/ID") {
      if (!hasNext || o.EraseRequested) {
        o.ArgumentError = true;
        continue;
      }
      const int32_t id = ReadNumberOr(HexValue(next), -1);
      if (id == -1) {
        o.ArgumentError = true;
      } else {
        o.DeviceId = id;
        o.HasDeviceId = true;
      }
    } else if (token == "/CMD") {
      if (!hasNext || o.EraseRequested) {
        o.ArgumentError = true;
        continue;
      }
      // Every remaining argument is a value; one that does not read as a number is an error.
      bool allNumbers = true;
      for (int k = i + 1; k < argc; ++k) allNumbers = allNumbers && ReadNumber(argv[k]).has_value();
      if (allNumbers) {
        o.HasCommandBytes = true;
      } else {
        o.ArgumentError = true;
      }
    } else if (token == "/MODE") {
      o.Mode = 0x1E;
      o.Red = 0xFF;
      o.Green = 0x00;
      o.Blue = 0x00;
      o.Param = 0x50;
      o.AllZones = 0x00;
      if (!hasNext || o.EraseRequested) continue;
      ReadModeFields(o, next);
    } else if (token == "/TEST:COLOR") {
      o.WantColorTest = true;
      o.ArgumentError = false;
    } else if (token == "/TEST:BUTTON") {
      o.WantButtonTest = true;
      o.ArgumentError = false;
    }
  }

  if (o.ArgumentError) {
    TConsole::SetTextAttr(12);
    std::printf("*** Arguments Fail ***\n");
    TConsole::SetTextAttr(7);
    return false;
  }
  return o.EraseRequested || o.HasApromFile || o.HasDataFile || o.HasConfigWords ||
         o.HasInterface || o.AutoMode || o.HasCommandBytes;
}

void PrintUsage() {
  struct Line {
    int attr;
    const char* text;
  };
  static const Line kUsage[] = {
      {15, "Usage:\n"},
      {7, "  BrumelISP.exe <command> [options]\n"},
      {7, "\n"},
      {15, "Commands\n"},
      {15, "------------------\n"},
      {7, "   /UA <file>                Update APROM with specific file (.bin)\n"},
      {7, "   /UL <file>                Update LDROM with specific file (.bin)\n"},
      {7, "   /UD <file>                Update data flash with specific file (.bin)\n"},
      {7, "   /UC <cfg0> <cfg1>         Update Config\n"},
      {7, "   /BS <opt>                 Reboot\n"},
      {7, "                             (Default 0 - Reset, 1 - LDROM, 2 - APROM)\n"},
      {7, "   /E  <all | aprom | data>  Erase APROM and data flash\n"},
      {7, "   /I  <interface>           Interface\n"},
      {7,
       "                             (Default 0 - USB, 1 - I2C, 2 - ADL_I2C_OEM, 3 - "
       "ADL_I2C_OEM3)\n"},
      {7, "   /ID                       Specify an USB Device ID\n"},
      {7, "   /INFO                     Display information\n"},
      {7, "   /?                        Usage help\n"},
      {7, "\n"},
      {15, "Example\n"},
      {15, "------------------\n"},
      {7, "Update APROM through USB\n"},
      {7, "  BrumelISP.exe /UA APROM.bin\n\n"},
      {7, "Update APROM through ADL_I2C\n"},
      {7, "  BrumelISP.exe /UA APROM.bin /I 2\n\n"},
      {7, "Update APROM and data flash\n"},
      {7, "  BrumelISP.exe /UA APROM.bin /UD DATA.bin\n\n"},
      {7, "Update config\n"},
      {7, "  BrumelISP.exe /UC FFFFFF7F 000FFFFF\n\n"},
      {7, "Erase all\n"},
      {7, "  BrumelISP.exe /E\n"},
  };
  for (const Line& line : kUsage) {
    TConsole::SetTextAttr(line.attr);
    std::printf("%s", line.text);
  }
  TConsole::SetTextAttr(7);
}

}  // namespace brumel
