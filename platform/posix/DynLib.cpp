#include "platform/DynLib.h"

#include <dlfcn.h>

#include "platform/Files.h"

namespace plat {

// The dynamic loader never looks in the current folder by itself.
void RestrictLibrarySearch() {}

std::string LibraryFileName(const std::string& base) { return "lib" + base + ".so"; }

LibHandle LoadLibraryBesideExecutable(const char* name) {
  if (!name) return nullptr;
  const std::string exe = ExecutablePath();
  if (exe.empty()) return nullptr;
  const size_t slash = exe.rfind('/');
  const std::string dir = slash == std::string::npos ? exe : exe.substr(0, slash);
  return dlopen((dir + "/" + name).c_str(), RTLD_NOW | RTLD_LOCAL);
}

LibHandle LoadLibraryBySearch(const char* name) {
  if (!name) return nullptr;
  return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

LibHandle LoadSystemLibrary(const char* name) {
  if (!name) return nullptr;
  return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void* LookupEntry(LibHandle lib, const char* name) {
  if (!lib || !name) return nullptr;
  return dlsym(lib, name);
}

void FreeRuntimeLibrary(LibHandle lib) {
  if (lib) dlclose(lib);
}

}  // namespace plat
