#include "platform/DynLib.h"

#include <windows.h>

namespace plat {

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD flags);

}  // namespace

// Windows 8 on, and Windows 7 with its loader update, have SetDefaultDllDirectories; without it
// the system keeps its own order (LoadSystemLibrary then names System32 itself).
void RestrictLibrarySearch() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto set = LookupEntryAs<SetDefaultDllDirectoriesFn>(kernel, "SetDefaultDllDirectories");
  if (set) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

std::string LibraryFileName(const std::string& base) { return base + ".dll"; }

LibHandle LoadLibraryBySearch(const char* name) {
  if (!name) return nullptr;
  return reinterpret_cast<LibHandle>(LoadLibraryA(name));
}

LibHandle LoadSystemLibrary(const char* name) {
  if (!name) return nullptr;
  HMODULE lib = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // A system without the search flags (before Windows 8, Windows 7 without its loader update)
  // refuses the flag itself: the library is then named by its full path in the system folder.
  if (!lib && GetLastError() == ERROR_INVALID_PARAMETER) {
    char folder[MAX_PATH];
    const UINT n = GetSystemDirectoryA(folder, MAX_PATH);
    if (n > 0 && n < MAX_PATH) lib = LoadLibraryA((std::string(folder, n) + "\\" + name).c_str());
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
