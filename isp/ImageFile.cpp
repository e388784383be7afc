#include "isp/ImageFile.h"

#include <cstdio>
#include <new>

#include "platform/Files.h"

namespace brumel {

bool IsFolder(const std::string& name) { return plat::IsFolder(name); }

bool LoadImageFile(const std::string& name, fileinfo& record) {
  if (IsFolder(name)) {
    std::printf("THis is a folder\n");
    return false;
  }
  // Only a regular file is read: a FIFO, a device or a link to one is a file that cannot be
  // opened.
  plat::RegularFile file;
  if (file.Open(name) != plat::RegularFile::OpenResult::Opened) return false;
  // A length the record cannot hold is refused like a file that cannot be read.
  if (file.Size() > 0xFFFFFFFFull) return false;
  const uint32_t size = static_cast<uint32_t>(file.Size());

  std::vector<uint8_t> data;
  try {
    data.assign(size, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }

  // One bounded loop: at most `size` bytes, whatever the file does meanwhile.
  size_t got = 0;
  while (got < size) {
    const size_t n = file.Read(data.data() + got, size - got);
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
