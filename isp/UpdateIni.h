// The update description file: which firmware parts an automatic run updates, and the
// expected file, checksum, version and date of each image. Read once, never written.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "config/IniFile.h"

namespace brumel {

// Section "Check" of the file.
struct TUpdateCheck {
  bool Enable = false;
  int32_t LD_CKSUM = 0;
  int32_t LD_VER = 0;
  int32_t LD_DATE = 0;
  std::string LD_FILE;
  int32_t AP_CKSUM = 0;
  int32_t AP_VER = 0;
  int32_t AP_DATE = 0;
  std::string AP_FILE;
  int32_t DATA_CKSUM = 0;
  std::string DATA_FILE;
  int32_t ISP_CKSUM = 0;
  int32_t ISP_VER = 0;
  int32_t ISP_DATE = 0;
  std::string ISP_FILE;
};

class TUpdateIni {
 public:
  // Reads the whole description when the file exists; a missing file, or one that is not a
  // regular file of a sane size, leaves every value empty and HasFile false.
  explicit TUpdateIni(std::string fileName);
  virtual ~TUpdateIni();
  TUpdateIni(const TUpdateIni&) = delete;
  TUpdateIni& operator=(const TUpdateIni&) = delete;

  // True when the file existed, and could be read, when the object was made.
  bool HasFile() const { return Exists; }
  const std::string& GetFileName() const { return FileName; }
  bool GetUpdateAP() const { return UpdateAP; }
  bool GetUpdateData() const { return UpdateData; }
  bool GetUpdateLD() const { return UpdateLD; }
  const TUpdateCheck& GetCheck() const { return Check; }

 private:
  void ReadDescription();

  bool Exists = false;
  std::string FileName;
  std::unique_ptr<TIniFile> IniFile;
  bool UpdateAP = false;
  bool UpdateData = false;
  bool UpdateLD = false;
  TUpdateCheck Check;
};

// The process-wide update description: created with path on the first call; later calls
// return the same object and ignore their argument.
TUpdateIni* GetUpdateDescription(const std::string& path);
// Destroys the process-wide update description, if any; the next Get creates a new one.
void ReleaseUpdateDescription();

}  // namespace brumel
