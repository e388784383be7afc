#include "isp/ImageFile.h"

#include <cstdio>
#include <new>

#include "platform/Files.h"

namespace brumel {

namespace {

// Closes the file on every path out.
struct FileCloser {
  std::FILE* f;
  ~FileCloser() {
    if (f) std::fclose(f);
  }
};

}  // namespace

bool IsFolder(const std::string& name) { return plat::IsFolder(name); }

bool LoadImageFile(const std::string& name, fileinfo& record) {
  if (IsFolder(name)) {
    std::printf("THis is a folder\n");
    return false;
  }
  FileCloser file{std::fopen(name.c_str(), "rb")};
  if (!file.f) return false;

  if (std::fseek(file.f, 0, SEEK_END) != 0) return false;
  const long end = std::ftell(file.f);
  // A length the record cannot hold is refused like a file that cannot be read.
  if (end < 0 || static_cast<uint64_t>(end) > 0xFFFFFFFFull) return false;
  if (std::fseek(file.f, 0, SEEK_SET) != 0) return false;
  const uint32_t size = static_cast<uint32_t>(end);

  std::vector<uint8_t> data;
  try {
    data.assign(size, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }

  // One bounded loop: at most `size` bytes, whatever the file does meanwhile.
  size_t got = 0;
  while (got < size) {
    const size_t n = std::fread(data.data() + got, 1, size - got, file.f);
    if (n == 0) break;
    got += n;
  }

  uint16_t sum = 0;
  for (uint8_t b : data) sum = static_cast<uint16_t>(sum + b);

  record.Path = name;
  record.Size = size;
  record.Checksum = sum;
  record.Data = std::move(data);
  return got == size;
}

}  // namespace brumel
