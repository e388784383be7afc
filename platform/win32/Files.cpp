#include <windows.h>
// <windows.h> maps ReplaceFile onto ReplaceFileA; the name here is the portable one.
#undef ReplaceFile

#include "platform/Files.h"

namespace plat {

std::string ExecutablePath() {
  char buf[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  return std::string(buf, n);
}

std::string ExecutableDir() {
  std::string path = ExecutablePath();
  size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return ".\\";
  return path.substr(0, slash + 1);
}

bool FileExists(const std::string& path) {
  DWORD attr = GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(const std::string& path) {
  DWORD attr = GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool ReplaceFile(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace plat
