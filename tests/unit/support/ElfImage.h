// Builds small ELF files in memory for the version-record tests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace brumel::test {

struct ElfSectionSpec {
  std::string name;
  std::vector<uint8_t> contents;
  uint32_t type = 1;  // program bits
};

struct ElfImage {
  std::vector<uint8_t> bytes;
  // Offsets of fields a test may want to damage.
  size_t shoffField = 0;
  size_t shentsizeField = 0;
  size_t shnumField = 0;
  size_t shstrndxField = 0;
  size_t sectionHeaders = 0;  // offset of section header 0
  size_t sectionHeaderSize = 0;
};

// Sections: [0] null, [1] ".shstrtab", then the given ones. Headers at the end of the file.
inline ElfImage BuildElf(const std::vector<ElfSectionSpec>& sections, bool is64 = true,
                         bool little = true) {
  ElfImage img;
  std::vector<uint8_t>& b = img.bytes;
  const size_t headerSize = is64 ? 64 : 52;
  const size_t shSize = is64 ? 64 : 40;
  b.assign(headerSize, 0);
  b[0] = 0x7F;
  b[1] = 'E';
  b[2] = 'L';
  b[3] = 'F';
  b[4] = is64 ? 2 : 1;
  b[5] = little ? 1 : 2;
  b[6] = 1;

  auto put = [&](size_t at, uint64_t v, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      const size_t shift = little ? i : (n - 1 - i);
      b[at + i] = static_cast<uint8_t>(v >> (8 * shift));
    }
  };

  // Name table.
  std::string names(1, '\0');
  std::vector<uint32_t> nameOffsets;
  nameOffsets.push_back(static_cast<uint32_t>(names.size()));
  names += ".shstrtab";
  names += '\0';
  for (const auto& s : sections) {
    nameOffsets.push_back(static_cast<uint32_t>(names.size()));
    names += s.name;
    names += '\0';
  }
  struct Placed {
    uint64_t offset, size;
    uint32_t type, name;
  };
  std::vector<Placed> placed;
  placed.push_back({0, 0, 0, 0});
  placed.push_back({b.size(), names.size(), 3, nameOffsets[0]});
  b.insert(b.end(), names.begin(), names.end());
  for (size_t i = 0; i < sections.size(); ++i) {
    while (b.size() % 8) b.push_back(0);
    placed.push_back({b.size(), sections[i].contents.size(), sections[i].type, nameOffsets[i + 1]});
    if (sections[i].type != 8) {
      b.insert(b.end(), sections[i].contents.begin(), sections[i].contents.end());
    }
  }
  while (b.size() % 8) b.push_back(0);

  img.sectionHeaders = b.size();
  img.sectionHeaderSize = shSize;
  for (const Placed& p : placed) {
    const size_t at = b.size();
    b.resize(at + shSize, 0);
    put(at, p.name, 4);
    put(at + 4, p.type, 4);
    if (is64) {
      put(at + 24, p.offset, 8);
      put(at + 32, p.size, 8);
    } else {
      put(at + 16, p.offset, 4);
      put(at + 20, p.size, 4);
    }
  }

  img.shoffField = is64 ? 0x28 : 0x20;
  img.shentsizeField = is64 ? 0x3A : 0x2E;
  img.shnumField = is64 ? 0x3C : 0x30;
  img.shstrndxField = is64 ? 0x3E : 0x32;
  put(img.shoffField, img.sectionHeaders, is64 ? 8 : 4);
  put(img.shentsizeField, shSize, 2);
  put(img.shnumField, placed.size(), 2);
  put(img.shstrndxField, 1, 2);
  return img;
}

}  // namespace brumel::test
