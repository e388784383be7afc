#include "platform/DriverFiles.h"

#include <windows.h>

namespace plat {

namespace {

// Folder paths are narrow texts of at most MAX_PATH characters.
std::string Folder(UINT (*query)(LPSTR, UINT)) {
  char buffer[MAX_PATH] = {};
  const UINT n = query(buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  return std::string(buffer, n);
}

UINT SystemFolderQuery(LPSTR buffer, UINT size) { return GetSystemDirectoryA(buffer, size); }
// The system's own Windows folder, also where a terminal-server session has a private one.
UINT WindowsFolderQuery(LPSTR buffer, UINT size) {
  return GetSystemWindowsDirectoryA(buffer, size);
}

class WindowsDriverFiles final : public DriverFiles {
 public:
  std::string SystemFolder() override { return Folder(SystemFolderQuery); }
  std::string WindowsFolder() override { return Folder(WindowsFolderQuery); }

  FileProbe Probe(const std::string& path) override {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
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
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FileWrite::NotOpened;
    DWORD written = 0;
    bool complete =
        WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) != 0 && written == size;
    if (!CloseHandle(file)) complete = false;
    return complete ? FileWrite::Written : FileWrite::Incomplete;
  }

  bool Remove(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }
};

}  // namespace

DriverFiles& SystemDriverFiles() {
  static WindowsDriverFiles instance;
  return instance;
}

}  // namespace plat
