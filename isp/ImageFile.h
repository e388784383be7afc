// Firmware image files: a binary file read whole, with its 16-bit byte-sum checksum.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace brumel {

struct fileinfo {
  std::string Path;           // file name as given to the loader
  uint32_t Size = 0;          // file length in bytes
  uint16_t Checksum = 0;      // sum of all data bytes modulo 65536
  std::vector<uint8_t> Data;  // the file's contents, Size bytes
};

// True when name is an existing folder.
bool IsFolder(const std::string& name);

// Reads the file into record. A folder prints "THis is a folder\n"; a folder or a file that
// cannot be opened (or whose length cannot be taken) gives false and leaves the record as it
// was. Only regular files are opened: a FIFO, a device or a link to one counts as a file that
// cannot be opened. A file that yields fewer bytes than its length gives false with the record
// filled (the missing bytes stay 0). Never reads more than the length taken at the start.
bool LoadImageFile(const std::string& name, fileinfo& record);

}  // namespace brumel
