#include "platform/DynLib.h"

#include <windows.h>

#include "platform/Files.h"

namespace plat {

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD flags);

}  // namespace

// Windows 8 on, and Windows 7 with its loader update, have SetDefaultDllDirectories; without it
// the system keeps its own order (LoadSystemLibrary still names System32 itself).
void RestrictLibrarySearch() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto set = LookupEntryAs<SetDefaultDllDirectoriesFn>(kernel, "SetDefaultDllDirectories");
  if (set) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

std::string LibraryFileName(const std::string& base) { return base + ".dll"; }

LibHandle LoadLibraryBesideExecutable(const char* name) {
  if (!name) return nullptr;
  const std::string exe = ExecutablePath();
  if (exe.empty()) return nullptr;
  const size_t slash = exe.find_last_of("\\/");
  const std::string dir = slash == std::string::npos ? exe : exe.substr(0, slash);
  return reinterpret_cast<LibHandle>(LoadLibraryA((dir + "\\" + name).c_str()));
}

LibHandle LoadLibraryBySearch(const char* name) {
  if (!name) return nullptr;
  return reinterpret_cast<LibHandle>(LoadLibraryA(name));
}

LibHandle LoadSystemLibrary(const char* name) {
  if (!name) return nullptr;
  return reinterpret_cast<LibHandle>(LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

void* LookupEntry(LibHandle lib, const char* name) {
  if (!lib || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name));
}

void FreeRuntimeLibrary(LibHandle lib) {
  if (lib) FreeLibrary(static_cast<HMODULE>(lib));
}

}  // namespace plat
