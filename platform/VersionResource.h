// The version information of an executable file: on Windows its VERSIONINFO resource, on other
// systems the same fixed record (plus a translation table) kept in an ELF section.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace plat {

struct VersionData {
  // The file's whole version information.
  std::vector<uint8_t> Bytes;
  // Where the fixed file information (block "\\") lies inside Bytes.
  bool HasFixedInfo = false;
  size_t FixedInfoOffset = 0;
  size_t FixedInfoLength = 0;
  // Where the translation table (block "\\VarFileInfo\\Translation") lies inside Bytes.
  bool HasTranslation = false;
  size_t TranslationOffset = 0;
  size_t TranslationLength = 0;
};

// Reads the version information of the file at path. False when path is null, the file cannot
// be read or has none. Never reads beyond the file, whatever it holds.
bool ReadVersionData(const char* path, VersionData& data);

// --- The record kept in an ELF section ---------------------------------------------------------
// Layout: the 13 little-endian dwords of the fixed file information (52 bytes), then the
// translation table: pairs of little-endian 16-bit language and code page.

#define BRUMEL_VERSION_SECTION ".brumel_version"
inline constexpr const char* kVersionSectionName = BRUMEL_VERSION_SECTION;
inline constexpr size_t kFixedInfoSize = 52;
inline constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
// A record larger than this is not believed.
inline constexpr size_t kVersionSectionMax = 64 * 1024;

#ifdef _WIN32
// Windows keeps the version in the executable's resources.
inline constexpr bool kVersionRecordInElfSection = false;
#else
inline constexpr bool kVersionRecordInElfSection = true;
#endif

using VersionRecord = std::array<uint8_t, kFixedInfoSize + 4>;

// The record for file and product version major.minor.release.build, with one translation
// (language 0x409, code page 1200), as the Windows resource of the tool carries it.
constexpr VersionRecord MakeVersionRecord(uint16_t major, uint16_t minor, uint16_t release,
                                          uint16_t build) {
  const uint32_t high = (uint32_t{major} << 16) | minor;
  const uint32_t low = (uint32_t{release} << 16) | build;
  // clang-format off
  const uint32_t dwords[13] = {
      kFixedInfoSignature,
      0x00010000,  // structure version 1.0
      high, low,   // file version
      high, low,   // product version
      0x3F,        // flags mask
      0,           // flags
      0x40004,     // OS: NT, 32-bit Windows API
      1,           // type: application
      0,           // subtype
      0, 0,        // date
  };
  // clang-format on
  VersionRecord record{};
  for (size_t i = 0; i < 13; ++i) {
    for (size_t b = 0; b < 4; ++b) {
      record[i * 4 + b] = static_cast<uint8_t>(dwords[i] >> (8 * b));
    }
  }
  record[52] = 0x09;  // language 0x0409
  record[53] = 0x04;
  record[54] = 0xB0;  // code page 1200
  record[55] = 0x04;
  return record;
}

// Splits record bytes taken from an ELF section into its blocks (moves bytes into data).
void SplitVersionRecord(std::vector<uint8_t> bytes, VersionData& data);

}  // namespace plat
