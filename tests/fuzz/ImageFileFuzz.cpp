// Firmware image loading, from any bytes written to a file: the record holds exactly the file.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "FuzzSupport.h"
#include "isp/ImageFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::QuietStdout();
  const std::string path = fuzz::WriteScratchFile("image.bin", data, size);
  brumel::fileinfo record;
  if (!brumel::LoadImageFile(path, record)) std::abort();
  uint16_t sum = 0;
  for (size_t i = 0; i < size; ++i) sum = static_cast<uint16_t>(sum + data[i]);
  if (record.Size != size || record.Checksum != sum || record.Data.size() != size) std::abort();
  if (size && std::memcmp(record.Data.data(), data, size) != 0) std::abort();
  return 0;
}
