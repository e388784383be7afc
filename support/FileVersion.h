// The fixed version record of an executable file, and the path of the running executable.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/VersionResource.h"

namespace brumel {

// The fixed file information record (VS_FIXEDFILEINFO): 13 dwords.
struct FixedFileInfo {
  uint32_t dwSignature = 0;
  uint32_t dwStrucVersion = 0;
  uint32_t dwFileVersionMS = 0;
  uint32_t dwFileVersionLS = 0;
  uint32_t dwProductVersionMS = 0;
  uint32_t dwProductVersionLS = 0;
  uint32_t dwFileFlagsMask = 0;
  uint32_t dwFileFlags = 0;
  uint32_t dwFileOS = 0;
  uint32_t dwFileType = 0;
  uint32_t dwFileSubtype = 0;
  uint32_t dwFileDateMS = 0;
  uint32_t dwFileDateLS = 0;
};

struct LanguageAndCodePage {
  uint16_t Language = 0;
  uint16_t CodePage = 0;
};

class TFileVersion {
 public:
  // Reads the version of the file at path at once; a null path gives an invalid object.
  explicit TFileVersion(const char* path);
  // Takes version information already read.
  explicit TFileVersion(plat::VersionData data);
  virtual ~TFileVersion();

  TFileVersion(const TFileVersion&) = delete;
  TFileVersion& operator=(const TFileVersion&) = delete;

  void Reset();
  bool ReadFixedInfo(const char* path);
  bool ReadTranslation();

  // The four parts of the file version; each 0 when the object is not valid.
  uint16_t FileVersionMajor() const;
  uint16_t FileVersionMinor() const;
  uint16_t FileVersionRelease() const;
  uint16_t FileVersionBuild() const;

  // Pair i of the translation table; zeros beyond it.
  LanguageAndCodePage Translation(uint32_t i) const;

  bool Valid = false;
  std::vector<uint8_t> Data;
  FixedFileInfo FixedInfo;
  // Points into Data at the first language and code-page pair, or null.
  const uint8_t* TranslationTable = nullptr;
  uint32_t TranslationCount = 0;

 private:
  bool TakeFixedInfo(plat::VersionData data);

  size_t translationOffset_ = 0;
  size_t translationLength_ = 0;
  bool hasTranslation_ = false;
};

// Full path of the running executable; empty when the system cannot tell.
std::string GetExeFileName();

}  // namespace brumel
