#include "platform/DriverFiles.h"

#include <windows.h>

#include "platform/win32/WideText.h"

namespace plat {

namespace {

// Folder paths of at most MAX_PATH characters, in UTF-8.
std::string Folder(UINT (*query)(LPWSTR, UINT)) {
  wchar_t buffer[MAX_PATH] = {};
  const UINT n = query(buffer, MAX_PATH);
  std::string folder;
  if (n == 0 || n >= MAX_PATH || !ToUtf8(buffer, n, folder)) return {};
  return folder;
}

UINT SystemFolderQuery(LPWSTR buffer, UINT size) { return GetSystemDirectoryW(buffer, size); }
// The system's own Windows folder, also where a terminal-server session has a private one.
UINT WindowsFolderQuery(LPWSTR buffer, UINT size) {
  return GetSystemWindowsDirectoryW(buffer, size);
}

class WindowsDriverFiles final : public DriverFiles {
 public:
  std::string SystemFolder() override { return Folder(SystemFolderQuery); }
  std::string WindowsFolder() override { return Folder(WindowsFolderQuery); }

  FileProbe Probe(const std::string& path) override {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileProbe::Missing
                                                                            : FileProbe::Unreadable;
    }
    CloseHandle(file);
    return FileProbe::Present;
  }

  FileWrite Write(const std::string& path, const uint8_t* data, size_t size) override {
    if ((!data && size != 0) || size > MAXDWORD) return FileWrite::NotOpened;
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FileWrite::NotOpened;
    DWORD written = 0;
    bool complete =
        WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) != 0 && written == size;
    if (!CloseHandle(file)) complete = false;
    return complete ? FileWrite::Written : FileWrite::Incomplete;
  }

  bool Remove(const std::string& path) override {
    const std::wstring name = Wide(path);
    return !name.empty() && DeleteFileW(name.c_str()) != 0;
  }
};

}  // namespace

DriverFiles& SystemDriverFiles() {
  static WindowsDriverFiles instance;
  return instance;
}

}  // namespace plat
