#include "platform/VersionResource.h"

#include <windows.h>

namespace plat {

namespace {

// Looks up a block; records where it lies when the answer points inside the buffer.
bool Locate(std::vector<uint8_t>& bytes, const char* block, size_t& offset, size_t& length) {
  void* value = nullptr;
  UINT size = 0;
  if (!VerQueryValueA(bytes.data(), block, &value, &size) || !value) return false;
  const auto* begin = bytes.data();
  const auto* at = static_cast<const uint8_t*>(value);
  if (at < begin || at > begin + bytes.size()) return false;
  const size_t start = static_cast<size_t>(at - begin);
  if (size > bytes.size() - start) return false;
  offset = start;
  length = size;
  return true;
}

}  // namespace

bool ReadVersionData(const char* path, VersionData& data) {
  data = VersionData{};
  if (!path || !*path) return false;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  if (size == 0) return false;
  data.Bytes.assign(size, 0);
  if (!GetFileVersionInfoA(path, 0, size, data.Bytes.data())) {
    data = VersionData{};
    return false;
  }
  data.HasFixedInfo = Locate(data.Bytes, "\\", data.FixedInfoOffset, data.FixedInfoLength);
  data.HasTranslation = Locate(data.Bytes, "\\VarFileInfo\\Translation", data.TranslationOffset,
                               data.TranslationLength);
  return true;
}

}  // namespace plat
