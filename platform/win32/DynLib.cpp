#include "platform/DynLib.h"

#include <windows.h>

#include "platform/win32/WideText.h"

namespace plat {

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD flags);

}  // namespace

// Windows 8 on, and Windows 7 with its loader update, have SetDefaultDllDirectories; without it
// the system keeps its own order (LoadSystemLibrary then names System32 itself).
void RestrictLibrarySearch() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto set = LookupEntryAs<SetDefaultDllDirectoriesFn>(kernel, "SetDefaultDllDirectories");
  if (set) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

std::string LibraryFileName(const std::string& base) { return base + ".dll"; }

// Names and paths (UTF-8) go to the loader in UTF-16: a library beside an executable in a folder
// of any name is found, and only that one.
LibHandle LoadLibraryBySearch(const char* name) {
  if (!name) return nullptr;
  const std::wstring wide = Wide(name);
  if (wide.empty()) return nullptr;
  return reinterpret_cast<LibHandle>(LoadLibraryExW(wide.c_str(), nullptr, 0));
}

LibHandle LoadSystemLibrary(const char* name) {
  if (!name) return nullptr;
  const std::wstring wide = Wide(name);
  if (wide.empty()) return nullptr;
  HMODULE lib = LoadLibraryExW(wide.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // A system without the search flags (before Windows 8, Windows 7 without its loader update)
  // refuses the flag itself: the library is then named by its full path in the system folder.
  if (!lib && GetLastError() == ERROR_INVALID_PARAMETER) {
    wchar_t folder[MAX_PATH];
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n > 0 && n < MAX_PATH)
      lib = LoadLibraryExW((std::wstring(folder, n) + L"\\" + wide).c_str(), nullptr, 0);
  }
  return reinterpret_cast<LibHandle>(lib);
}

std::string LibraryLoadError() { return "error " + std::to_string(GetLastError()); }

void* LookupEntry(LibHandle lib, const char* name) {
  if (!lib || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name));
}

void FreeRuntimeLibrary(LibHandle lib) {
  if (lib) FreeLibrary(static_cast<HMODULE>(lib));
}

}  // namespace plat
