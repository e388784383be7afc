#include "platform/VersionResource.h"

#include <windows.h>

#include "platform/DynLib.h"
#include "platform/win32/WideText.h"

namespace plat {

namespace {

constexpr DWORD kMostVersionBytes = 1u << 20;

// The version functions of version.dll, declared from the system's documentation. The library
// is loaded at run time from the system folder: linked, the loader would take a copy planted
// beside the executable before main runs.
// The wide forms: the file's name in any language, and version data whose texts stay UTF-16.
using GetFileVersionInfoSizeWFn = DWORD(WINAPI*)(LPCWSTR file, LPDWORD handle);
using GetFileVersionInfoWFn = BOOL(WINAPI*)(LPCWSTR file, DWORD handle, DWORD length, LPVOID data);
using VerQueryValueWFn = BOOL(WINAPI*)(LPCVOID block, LPCWSTR subBlock, LPVOID* value,
                                       PUINT length);

struct VersionApi {
  GetFileVersionInfoSizeWFn infoSize = nullptr;
  GetFileVersionInfoWFn info = nullptr;
  VerQueryValueWFn query = nullptr;
};

// Loaded once and kept for the process.
const VersionApi& Api() {
  static const VersionApi api = [] {
    VersionApi a;
    LibHandle lib = LoadSystemLibrary("version.dll");
    a.infoSize = LookupEntryAs<GetFileVersionInfoSizeWFn>(lib, "GetFileVersionInfoSizeW");
    a.info = LookupEntryAs<GetFileVersionInfoWFn>(lib, "GetFileVersionInfoW");
    a.query = LookupEntryAs<VerQueryValueWFn>(lib, "VerQueryValueW");
    return a;
  }();
  return api;
}

// Looks up a block; records where it lies when the answer points inside the buffer.
bool Locate(std::vector<uint8_t>& bytes, const wchar_t* block, size_t& offset, size_t& length) {
  void* value = nullptr;
  UINT size = 0;
  if (!Api().query || !Api().query(bytes.data(), block, &value, &size) || !value) return false;
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
  const VersionApi& api = Api();
  if (!api.infoSize || !api.info || !api.query) return false;
  std::wstring file;
  if (!ToWide(path, file)) return false;
  DWORD ignored = 0;
  // Version information is a few kilobytes; a size beyond any resource's is not taken.
  const DWORD size = api.infoSize(file.c_str(), &ignored);
  if (size == 0 || size > kMostVersionBytes) return false;
  data.Bytes.assign(size, 0);
  if (!api.info(file.c_str(), 0, size, data.Bytes.data())) {
    data = VersionData{};
    return false;
  }
  data.HasFixedInfo = Locate(data.Bytes, L"\\", data.FixedInfoOffset, data.FixedInfoLength);
  data.HasTranslation = Locate(data.Bytes, L"\\VarFileInfo\\Translation", data.TranslationOffset,
                               data.TranslationLength);
  return true;
}

}  // namespace plat
