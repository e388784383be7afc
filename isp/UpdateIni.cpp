#include "isp/UpdateIni.h"

#include "platform/Files.h"

namespace brumel {

namespace {

std::unique_ptr<TUpdateIni>& Instance() {
  static std::unique_ptr<TUpdateIni> instance;
  return instance;
}

}  // namespace

TUpdateIni::TUpdateIni(std::string fileName) : FileName(std::move(fileName)) {
  Exists = !FileName.empty() && plat::FileExists(FileName);
  IniFile = std::make_unique<TIniFile>(FileName);
  if (!Exists) return;
  try {
    ReadDescription();
  } catch (const EIniFileError&) {
    // Not a regular file, or too large to be a description: there is no usable file.
    Exists = false;
    UpdateAP = UpdateData = UpdateLD = false;
    Check = TUpdateCheck{};
  }
}

void TUpdateIni::ReadDescription() {
  const TIniFile& ini = *IniFile;
  UpdateAP = ini.ReadBool("Config", "UpdateAP", false);
  UpdateData = ini.ReadBool("Config", "UpdateData", false);
  UpdateLD = ini.ReadBool("Config", "UpdateLD", false);

  const char kCheck[] = "Check";
  Check.Enable = ini.ReadBool(kCheck, "Enable", false);
  Check.LD_CKSUM = ini.ReadInteger(kCheck, "LD_CKSUM", 0);
  Check.LD_VER = ini.ReadInteger(kCheck, "LD_VER", 0);
  Check.LD_DATE = ini.ReadInteger(kCheck, "LD_DATE", 0);
  Check.LD_FILE = ini.ReadString(kCheck, "LD_FILE", "");
  Check.AP_CKSUM = ini.ReadInteger(kCheck, "AP_CKSUM", 0);
  Check.AP_VER = ini.ReadInteger(kCheck, "AP_VER", 0);
  Check.AP_DATE = ini.ReadInteger(kCheck, "AP_DATE", 0);
  Check.AP_FILE = ini.ReadString(kCheck, "AP_FILE", "");
  Check.DATA_CKSUM = ini.ReadInteger(kCheck, "DATA_CKSUM", 0);
  Check.DATA_FILE = ini.ReadString(kCheck, "DATA_FILE", "");
  Check.ISP_CKSUM = ini.ReadInteger(kCheck, "ISP_CKSUM", 0);
  Check.ISP_VER = ini.ReadInteger(kCheck, "ISP_VER", 0);
  Check.ISP_DATE = ini.ReadInteger(kCheck, "ISP_DATE", 0);
  Check.ISP_FILE = ini.ReadString(kCheck, "ISP_FILE", "");
}

TUpdateIni::~TUpdateIni() = default;

TUpdateIni* GetUpdateDescription(const std::string& path) {
  std::unique_ptr<TUpdateIni>& instance = Instance();
  if (!instance) instance = std::make_unique<TUpdateIni>(path);
  return instance.get();
}

void ReleaseUpdateDescription() { Instance().reset(); }

}  // namespace brumel
