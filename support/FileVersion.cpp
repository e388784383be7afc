#include "support/FileVersion.h"

#include "platform/Files.h"

namespace brumel {

namespace {

uint32_t Dword(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

}  // namespace

TFileVersion::TFileVersion(const char* path) {
  Reset();
  if (!path) return;
  if (!ReadFixedInfo(path) || !ReadTranslation()) Reset();
}

TFileVersion::TFileVersion(plat::VersionData data) {
  Reset();
  if (!TakeFixedInfo(std::move(data)) || !ReadTranslation()) Reset();
}

TFileVersion::~TFileVersion() { Reset(); }

void TFileVersion::Reset() {
  Valid = false;
  TranslationTable = nullptr;
  TranslationCount = 0;
  FixedInfo = FixedFileInfo{};
  std::vector<uint8_t>().swap(Data);
  translationOffset_ = 0;
  translationLength_ = 0;
  hasTranslation_ = false;
}

bool TFileVersion::ReadFixedInfo(const char* path) {
  plat::VersionData data;
  if (!plat::ReadVersionData(path, data)) return false;
  return TakeFixedInfo(std::move(data));
}

bool TFileVersion::TakeFixedInfo(plat::VersionData data) {
  Data = std::move(data.Bytes);
  hasTranslation_ = data.HasTranslation && data.TranslationOffset <= Data.size() &&
                    data.TranslationLength <= Data.size() - data.TranslationOffset;
  translationOffset_ = hasTranslation_ ? data.TranslationOffset : 0;
  translationLength_ = hasTranslation_ ? data.TranslationLength : 0;

  if (data.HasFixedInfo && data.FixedInfoLength >= plat::kFixedInfoSize &&
      data.FixedInfoOffset <= Data.size() &&
      plat::kFixedInfoSize <= Data.size() - data.FixedInfoOffset) {
    const uint8_t* p = Data.data() + data.FixedInfoOffset;
    uint32_t d[13];
    for (size_t i = 0; i < 13; ++i) d[i] = Dword(p + 4 * i);
    FixedInfo = FixedFileInfo{d[0], d[1], d[2], d[3],  d[4],  d[5], d[6],
                              d[7], d[8], d[9], d[10], d[11], d[12]};
    Valid = FixedInfo.dwSignature == plat::kFixedInfoSignature;
  }
  return Valid;
}

bool TFileVersion::ReadTranslation() {
  if (!Valid) return false;
  if (hasTranslation_) {
    TranslationTable = Data.data() + translationOffset_;
    TranslationCount = static_cast<uint32_t>(translationLength_ / 4);
  }
  return TranslationTable != nullptr;
}

uint16_t TFileVersion::FileVersionMajor() const {
  return Valid ? static_cast<uint16_t>(FixedInfo.dwFileVersionMS >> 16) : 0;
}

uint16_t TFileVersion::FileVersionMinor() const {
  return Valid ? static_cast<uint16_t>(FixedInfo.dwFileVersionMS & 0xFFFF) : 0;
}

uint16_t TFileVersion::FileVersionRelease() const {
  return Valid ? static_cast<uint16_t>(FixedInfo.dwFileVersionLS >> 16) : 0;
}

uint16_t TFileVersion::FileVersionBuild() const {
  return Valid ? static_cast<uint16_t>(FixedInfo.dwFileVersionLS & 0xFFFF) : 0;
}

LanguageAndCodePage TFileVersion::Translation(uint32_t i) const {
  if (!TranslationTable || i >= TranslationCount) return {};
  const uint8_t* p = TranslationTable + 4 * static_cast<size_t>(i);
  return {static_cast<uint16_t>(p[0] | (p[1] << 8)), static_cast<uint16_t>(p[2] | (p[3] << 8))};
}

std::string GetExeFileName() { return plat::ExecutablePath(); }

}  // namespace brumel
