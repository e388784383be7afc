#include "platform/ElfSection.h"

#include <cstring>

namespace plat {

namespace {

constexpr uint8_t kClass32 = 1;
constexpr uint8_t kClass64 = 2;
constexpr uint8_t kDataLittle = 1;
constexpr uint8_t kDataBig = 2;
constexpr uint32_t kSectionNoBits = 8;
constexpr uint16_t kSectionIndexEscape = 0xFFFF;  // SHN_XINDEX
// More section headers than any real executable has; bounds the work on hostile files.
constexpr uint64_t kMaxSections = 1u << 20;
// Longest section name looked for.
constexpr size_t kMaxNameLength = 255;

struct Layout {
  bool is64 = false;
  bool little = true;
};

uint64_t Decode(const uint8_t* p, size_t n, bool little) {
  uint64_t value = 0;
  for (size_t i = 0; i < n; ++i) {
    const size_t shift = little ? i : (n - 1 - i);
    value |= uint64_t{p[i]} << (8 * shift);
  }
  return value;
}

struct SectionHeader {
  uint32_t name = 0;
  uint32_t type = 0;
  uint64_t offset = 0;
  uint64_t size = 0;
  uint32_t link = 0;
};

// True when [offset, offset + length) lies inside a file of fileSize bytes.
bool Inside(uint64_t offset, uint64_t length, uint64_t fileSize) {
  return offset <= fileSize && length <= fileSize - offset;
}

class Parser {
 public:
  Parser(const ReadAtFn& readAt, uint64_t fileSize) : readAt_(readAt), fileSize_(fileSize) {}

  bool Read(uint64_t offset, void* buffer, size_t length) const {
    if (!Inside(offset, length, fileSize_)) return false;
    return readAt_(offset, buffer, length);
  }

  bool Header() {
    uint8_t ident[16];
    if (!Read(0, ident, sizeof(ident))) return false;
    if (ident[0] != 0x7F || ident[1] != 'E' || ident[2] != 'L' || ident[3] != 'F') return false;
    if (ident[4] != kClass32 && ident[4] != kClass64) return false;
    if (ident[5] != kDataLittle && ident[5] != kDataBig) return false;
    layout_.is64 = ident[4] == kClass64;
    layout_.little = ident[5] == kDataLittle;

    uint8_t h[64];
    const size_t headerSize = layout_.is64 ? 64 : 52;
    if (!Read(0, h, headerSize)) return false;
    if (layout_.is64) {
      shoff_ = Decode(h + 0x28, 8, layout_.little);
      shentsize_ = Decode(h + 0x3A, 2, layout_.little);
      shnum_ = Decode(h + 0x3C, 2, layout_.little);
      shstrndx_ = Decode(h + 0x3E, 2, layout_.little);
    } else {
      shoff_ = Decode(h + 0x20, 4, layout_.little);
      shentsize_ = Decode(h + 0x2E, 2, layout_.little);
      shnum_ = Decode(h + 0x30, 2, layout_.little);
      shstrndx_ = Decode(h + 0x32, 2, layout_.little);
    }
    if (shoff_ == 0) return false;
    if (shentsize_ < (layout_.is64 ? 64u : 40u)) return false;

    // Many sections: the real count and name-table index sit in section 0.
    if (shnum_ == 0 || shstrndx_ == kSectionIndexEscape) {
      SectionHeader first;
      if (!Section(0, first)) return false;
      if (shnum_ == 0) shnum_ = first.size;
      if (shstrndx_ == kSectionIndexEscape) shstrndx_ = first.link;
    }
    if (shnum_ == 0 || shnum_ > kMaxSections) return false;
    if (shstrndx_ >= shnum_) return false;
    // All headers must lie inside the file.
    if (shnum_ > (fileSize_ / shentsize_)) return false;
    return Inside(shoff_, shnum_ * shentsize_, fileSize_);
  }

  bool Section(uint64_t index, SectionHeader& s) const {
    if (index > kMaxSections) return false;
    const uint64_t at = shoff_ + index * shentsize_;  // index and shentsize are small
    if (at < shoff_) return false;
    uint8_t h[64];
    const size_t size = layout_.is64 ? 64 : 40;
    if (!Read(at, h, size)) return false;
    s.name = static_cast<uint32_t>(Decode(h, 4, layout_.little));
    s.type = static_cast<uint32_t>(Decode(h + 4, 4, layout_.little));
    if (layout_.is64) {
      s.offset = Decode(h + 24, 8, layout_.little);
      s.size = Decode(h + 32, 8, layout_.little);
      s.link = static_cast<uint32_t>(Decode(h + 40, 4, layout_.little));
    } else {
      s.offset = Decode(h + 16, 4, layout_.little);
      s.size = Decode(h + 20, 4, layout_.little);
      s.link = static_cast<uint32_t>(Decode(h + 24, 4, layout_.little));
    }
    return true;
  }

  bool Find(const char* name, size_t maxLength, std::vector<uint8_t>& contents) {
    SectionHeader names;
    if (!Section(shstrndx_, names)) return false;
    if (names.type == kSectionNoBits || !Inside(names.offset, names.size, fileSize_)) return false;

    const size_t nameLength = strnlen(name, kMaxNameLength + 1);
    if (nameLength == 0 || nameLength > kMaxNameLength) return false;
    char candidate[kMaxNameLength + 1];

    for (uint64_t i = 0; i < shnum_; ++i) {
      SectionHeader s;
      if (!Section(i, s)) return false;
      // The name with its terminator must lie inside the name table.
      if (s.name >= names.size || nameLength + 1 > names.size - s.name) continue;
      if (!Read(names.offset + s.name, candidate, nameLength + 1)) return false;
      if (candidate[nameLength] != '\0' || std::memcmp(candidate, name, nameLength) != 0) continue;

      if (s.type == kSectionNoBits) return false;
      if (s.size > maxLength || !Inside(s.offset, s.size, fileSize_)) return false;
      std::vector<uint8_t> bytes(static_cast<size_t>(s.size));
      if (!bytes.empty() && !Read(s.offset, bytes.data(), bytes.size())) return false;
      contents = std::move(bytes);
      return true;
    }
    return false;
  }

 private:
  const ReadAtFn& readAt_;
  uint64_t fileSize_;
  Layout layout_;
  uint64_t shoff_ = 0;
  uint64_t shentsize_ = 0;
  uint64_t shnum_ = 0;
  uint64_t shstrndx_ = 0;
};

}  // namespace

bool ReadElfSection(const ReadAtFn& readAt, uint64_t fileSize, const char* name, size_t maxLength,
                    std::vector<uint8_t>& contents) {
  if (!readAt || !name) return false;
  Parser parser(readAt, fileSize);
  return parser.Header() && parser.Find(name, maxLength, contents);
}

bool ReadElfSectionFromMemory(const uint8_t* file, size_t fileSize, const char* name,
                              size_t maxLength, std::vector<uint8_t>& contents) {
  if (!file && fileSize != 0) return false;
  ReadAtFn readAt = [file, fileSize](uint64_t offset, void* buffer, size_t length) {
    if (offset > fileSize || length > fileSize - offset) return false;
    if (length) std::memcpy(buffer, file + offset, length);
    return true;
  };
  return ReadElfSection(readAt, fileSize, name, maxLength, contents);
}

}  // namespace plat
