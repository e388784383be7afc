#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "BuildVersion.h"
#include "common/TestSupport.h"
#include "platform/VersionResource.h"
#include "support/FileVersion.h"
#include "unit/support/ElfImage.h"

namespace brumel {
namespace {

struct Parts {
  uint16_t major, minor, release, build;
  bool operator==(const Parts&) const = default;
};

Parts PartsOf(const TFileVersion& v) {
  return {v.FileVersionMajor(), v.FileVersionMinor(), v.FileVersionRelease(), v.FileVersionBuild()};
}

std::ostream& operator<<(std::ostream& os, const Parts& p) {
  return os << p.major << '.' << p.minor << '.' << p.release << '.' << p.build;
}

const Parts kNone{0, 0, 0, 0};
const Parts kProject{BRUMEL_VERSION_MAJOR, BRUMEL_VERSION_MINOR, BRUMEL_VERSION_RELEASE,
                     BRUMEL_VERSION_BUILD};

std::vector<uint8_t> Record(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
  const plat::VersionRecord r = plat::MakeVersionRecord(a, b, c, d);
  return std::vector<uint8_t>(r.begin(), r.end());
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(FileVersion, RecordsGiveTheirVersionOrNothing) {
  std::vector<uint8_t> wrongSignature = Record(1, 0, 3, 0);
  wrongSignature[0] ^= 0x01;
  std::vector<uint8_t> twoPairs = Record(2, 5, 7, 11);
  twoPairs.insert(twoPairs.end(), {0x07, 0x04, 0xE4, 0x04, 0xAA, 0xBB});  // + 2 stray bytes
  std::vector<uint8_t> noTranslation = Record(1, 0, 3, 0);
  noTranslation.resize(plat::kFixedInfoSize);
  std::vector<uint8_t> shortFixed = Record(1, 0, 3, 0);
  shortFixed.resize(40);

  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    Parts parts;
    uint32_t translations;
  } cases[] = {
      {"version 1.0.3.0", Record(1, 0, 3, 0), {1, 0, 3, 0}, 1},
      {"all parts used", Record(0xFFFF, 1, 0x8000, 0x1234), {0xFFFF, 1, 0x8000, 0x1234}, 1},
      {"two translations", twoPairs, {2, 5, 7, 11}, 2},
      {"wrong signature", wrongSignature, kNone, 0},
      {"no translation table", noTranslation, kNone, 0},
      {"fixed information cut short", shortFixed, kNone, 0},
      {"nothing", {}, kNone, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    plat::VersionData data;
    plat::SplitVersionRecord(c.bytes, data);
    TFileVersion v(std::move(data));
    EXPECT_EQ(PartsOf(v), c.parts);
    EXPECT_EQ(v.Valid, c.translations > 0);
    EXPECT_EQ(v.TranslationCount, c.translations);
    EXPECT_EQ(v.TranslationTable != nullptr, c.translations > 0);
    if (!v.Valid) {
      EXPECT_TRUE(v.Data.empty());
      EXPECT_EQ(v.FixedInfo.dwSignature, 0u);
    }
  }
}

TEST(FileVersion, TranslationTableAndReset) {
  plat::VersionData data;
  plat::SplitVersionRecord(Record(1, 0, 3, 0), data);
  TFileVersion v(std::move(data));
  ASSERT_TRUE(v.Valid);
  EXPECT_EQ(v.FixedInfo.dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(v.FixedInfo.dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(v.FixedInfo.dwFileVersionLS, 0x00030000u);
  ASSERT_EQ(v.TranslationCount, 1u);
  EXPECT_EQ(v.TranslationTable, v.Data.data() + plat::kFixedInfoSize);
  EXPECT_EQ(v.Translation(0).Language, 0x0409);
  EXPECT_EQ(v.Translation(0).CodePage, 1200);
  EXPECT_EQ(v.Translation(1).Language, 0);  // beyond the table

  v.Reset();
  EXPECT_FALSE(v.Valid);
  EXPECT_TRUE(v.Data.empty());
  EXPECT_EQ(v.TranslationTable, nullptr);
  EXPECT_EQ(v.TranslationCount, 0u);
  EXPECT_EQ(PartsOf(v), kNone);
  v.Reset();  // twice is harmless, and so is the destructor after it
}

TEST(FileVersion, TheExecutablesCarryTheProjectVersion) {
  const std::string self = GetExeFileName();
  ASSERT_FALSE(self.empty());
  TFileVersion v(self.c_str());
  EXPECT_EQ(PartsOf(v), kProject) << self;
  ASSERT_GE(v.TranslationCount, 1u);
  EXPECT_EQ(v.Translation(0).Language, 0x0409);
  EXPECT_EQ(v.Translation(0).CodePage, 1200);

#ifdef BRUMEL_TOOL_EXE
  const std::string tool = BRUMEL_TOOL_EXE;
  if (std::filesystem::exists(tool)) {
    TFileVersion t(tool.c_str());
    EXPECT_EQ(PartsOf(t), kProject) << tool;
  }
#endif
}

TEST(FileVersion, FilesWithoutVersionGiveZero) {
  test::TempFolder dir;
  const std::string text = dir.WriteBytes("notes.txt", {'h', 'e', 'l', 'l', 'o', '\n'});
  const std::string empty = dir.WriteBytes("empty.bin", {});
  const std::string folder = dir.Folder();
  const std::string missing = folder + "/missing.exe";
  const char* paths[] = {nullptr, "", text.c_str(), empty.c_str(), folder.c_str(), missing.c_str()};
  for (const char* path : paths) {
    SCOPED_TRACE(path ? path : "(null)");
    TFileVersion v(path);
    EXPECT_FALSE(v.Valid);
    EXPECT_EQ(PartsOf(v), kNone);
    EXPECT_TRUE(v.Data.empty());
  }
}

// A truncated copy of a real executable: never a crash, and never a version other than the
// real one.
TEST(FileVersion, TruncatedExecutablesAreSafe) {
  const std::vector<uint8_t> whole = ReadAll(GetExeFileName());
  ASSERT_GT(whole.size(), 4096u);
  test::TempFolder dir;
  const size_t cuts[] = {
      0, 3, 16, 63, 64, 200, 4096, whole.size() / 2, whole.size() - 200, whole.size() - 1};
  for (size_t cut : cuts) {
    SCOPED_TRACE(cut);
    const std::string path =
        dir.WriteBytes("cut" + std::to_string(cut) + ".exe",
                       std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(cut)));
    TFileVersion v(path.c_str());
    const Parts p = PartsOf(v);
    EXPECT_TRUE(p == kNone || p == kProject) << p;
  }
}

// Files in the ELF layout the Linux build reads its version from.
TEST(FileVersion, ElfFilesGiveTheirRecord) {
  if (!plat::kVersionRecordInElfSection) GTEST_SKIP() << "version kept in Windows resources";
  std::vector<uint8_t> wrongSignature = Record(1, 0, 3, 0);
  wrongSignature[3] = 0;
  std::vector<uint8_t> noTranslation = Record(1, 0, 3, 0);
  noTranslation.resize(plat::kFixedInfoSize);
  const std::vector<uint8_t> filler(100, 0x90);
  struct Case {
    const char* what;
    std::vector<test::ElfSectionSpec> sections;
    Parts parts;
  } cases[] = {
      {"record 1.0.3.0",
       {{".text", filler}, {".brumel_version", Record(1, 0, 3, 0)}},
       {1, 0, 3, 0}},
      {"no record", {{".text", filler}}, kNone},
      {"wrong signature", {{".brumel_version", wrongSignature}}, kNone},
      {"no translation", {{".brumel_version", noTranslation}}, kNone},
      {"empty record", {{".brumel_version", {}}}, kNone},
  };
  test::TempFolder dir;
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const test::ElfImage img = test::BuildElf(c.sections);
    const std::string path = dir.WriteBytes("elf" + std::to_string(n++), img.bytes);
    TFileVersion v(path.c_str());
    EXPECT_EQ(PartsOf(v), c.parts);
  }

  // Cut anywhere: only the whole file has a version.
  const test::ElfImage img =
      test::BuildElf({{".text", filler}, {".brumel_version", Record(1, 0, 3, 0)}});
  for (size_t cut = 0; cut < img.bytes.size(); cut += 7) {
    const std::vector<uint8_t> head(img.bytes.begin(), img.bytes.begin() + static_cast<long>(cut));
    const std::string path = dir.WriteBytes("cut.elf", head);
    TFileVersion v(path.c_str());
    EXPECT_EQ(PartsOf(v), kNone) << cut;
  }
}

}  // namespace
}  // namespace brumel
