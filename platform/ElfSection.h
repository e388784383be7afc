// Finding one named section in an ELF file. The parser trusts nothing in the file: every
// offset and size is checked against the file's size before anything is read.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace plat {

// Reads length bytes at offset into buffer; false when they cannot all be read.
using ReadAtFn = std::function<bool(uint64_t offset, void* buffer, size_t length)>;

// Looks for the first section called name in an ELF file (32 or 64-bit, either byte order) of
// fileSize bytes, read through readAt. On success its contents (at most maxLength bytes, else
// failure) are in contents. False when the file is not ELF, is damaged, or lacks the section.
bool ReadElfSection(const ReadAtFn& readAt, uint64_t fileSize, const char* name, size_t maxLength,
                    std::vector<uint8_t>& contents);

// The same over bytes in memory.
bool ReadElfSectionFromMemory(const uint8_t* file, size_t fileSize, const char* name,
                              size_t maxLength, std::vector<uint8_t>& contents);

}  // namespace plat
