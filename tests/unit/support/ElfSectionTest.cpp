#include <gtest/gtest.h>

#include <random>

#include "platform/ElfSection.h"
#include "unit/support/ElfImage.h"

namespace brumel {
namespace {

using test::BuildElf;
using test::ElfImage;

const std::vector<uint8_t> kPayload = {1, 2, 3, 4, 5, 6, 7};

ElfImage Sample(bool is64 = true, bool little = true) {
  return BuildElf({{".text", std::vector<uint8_t>(40, 0x90)},
                   {".bss", std::vector<uint8_t>(16), 8},
                   {".brumel_version", kPayload}},
                  is64, little);
}

bool Find(const std::vector<uint8_t>& file, const char* name, std::vector<uint8_t>& out,
          size_t max = 4096) {
  return plat::ReadElfSectionFromMemory(file.data(), file.size(), name, max, out);
}

void Put(std::vector<uint8_t>& b, size_t at, uint64_t v, size_t n) {
  for (size_t i = 0; i < n; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(ElfSection, FindsTheNamedSectionInEveryLayout) {
  for (bool is64 : {true, false}) {
    for (bool little : {true, false}) {
      SCOPED_TRACE(std::string(is64 ? "64" : "32") + (little ? " little" : " big"));
      const ElfImage img = Sample(is64, little);
      std::vector<uint8_t> out;
      ASSERT_TRUE(Find(img.bytes, ".brumel_version", out));
      EXPECT_EQ(out, kPayload);
      EXPECT_TRUE(Find(img.bytes, ".text", out));
      EXPECT_EQ(out.size(), 40u);
      EXPECT_FALSE(Find(img.bytes, ".brumel", out));             // a prefix is not the name
      EXPECT_FALSE(Find(img.bytes, ".brumel_version_x", out));   // nor a longer one
      EXPECT_FALSE(Find(img.bytes, ".bss", out));                // no bytes in the file
      EXPECT_FALSE(Find(img.bytes, ".brumel_version", out, 6));  // larger than allowed
    }
  }
}

TEST(ElfSection, RejectsDamagedHeaders) {
  const ElfImage img = Sample();
  const size_t sh = img.sectionHeaders;
  const size_t versionHeader = sh + 4 * img.sectionHeaderSize;
  struct Damage {
    const char* what;
    size_t at;
    uint64_t value;
    size_t width;
    size_t at2 = 0;  // a second field to set, when width2 is not 0
    uint64_t value2 = 0;
    size_t width2 = 0;
  } cases[] = {
      {"not ELF", 1, 'X', 1},
      {"unknown class", 4, 7, 1},
      {"unknown byte order", 5, 0, 1},
      {"no section headers", img.shoffField, 0, 8},
      {"section headers beyond the end", img.shoffField, img.bytes.size() - 8, 8},
      {"section header offset wraps", img.shoffField, ~uint64_t{0} - 16, 8},
      {"header entries too small", img.shentsizeField, 16, 2},
      {"more headers than the file holds", img.shnumField, 0xFFFE, 2},
      {"escaped count, section 0 claims too many", sh + 32, uint64_t{1} << 40, 8, img.shnumField, 0,
       2},
      {"name table index out of range", img.shstrndxField, 9, 2},
      {"name table beyond the end", sh + img.sectionHeaderSize + 24, img.bytes.size(), 8},
      {"name table size wraps", sh + img.sectionHeaderSize + 32, ~uint64_t{0}, 8},
      {"section contents beyond the end", versionHeader + 24, img.bytes.size() - 3, 8},
      {"section size wraps", versionHeader + 32, ~uint64_t{0} - 2, 8},
      {"section name offset beyond the name table", versionHeader, 0xFFFFFFF0u, 4},
  };
  for (const Damage& d : cases) {
    SCOPED_TRACE(d.what);
    std::vector<uint8_t> file = img.bytes;
    Put(file, d.at, d.value, d.width);
    if (d.width2) Put(file, d.at2, d.value2, d.width2);
    std::vector<uint8_t> out = {42};
    EXPECT_FALSE(Find(file, ".brumel_version", out));
    EXPECT_EQ(out, std::vector<uint8_t>{42});  // untouched on failure
  }
}

TEST(ElfSection, EscapedSectionCountAndNameIndexAreFollowed) {
  ElfImage img = Sample();
  std::vector<uint8_t>& b = img.bytes;
  const size_t sh = img.sectionHeaders;
  Put(b, img.shnumField, 0, 2);
  Put(b, img.shstrndxField, 0xFFFF, 2);
  Put(b, sh + 32, 5, 8);  // section 0 size: the count
  Put(b, sh + 40, 1, 4);  // section 0 link: the name table
  std::vector<uint8_t> out;
  ASSERT_TRUE(Find(b, ".brumel_version", out));
  EXPECT_EQ(out, kPayload);
}

// Every truncation and many random corruptions: no read outside the file (the sanitizer build
// checks), and a found section is always within bounds.
TEST(ElfSection, TruncatedAndCorruptedFilesAreSafe) {
  const ElfImage img = Sample();
  for (size_t n = 0; n < img.bytes.size(); ++n) {
    std::vector<uint8_t> cut(img.bytes.begin(), img.bytes.begin() + static_cast<long>(n));
    std::vector<uint8_t> out;
    EXPECT_FALSE(Find(cut, ".brumel_version", out)) << n;
  }
  std::mt19937 rng(20210302);
  for (int round = 0; round < 4000; ++round) {
    std::vector<uint8_t> file = img.bytes;
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) file[rng() % file.size()] = static_cast<uint8_t>(rng());
    std::vector<uint8_t> out;
    if (Find(file, ".brumel_version", out, 4096)) {
      EXPECT_LE(out.size(), file.size());
    }
  }
}

}  // namespace
}  // namespace brumel
