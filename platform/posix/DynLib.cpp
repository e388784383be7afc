#include "platform/DynLib.h"

#include <dlfcn.h>

namespace plat {

// The dynamic loader never looks in the current folder by itself.
void RestrictLibrarySearch() {}

std::string LibraryFileName(const std::string& base) { return "lib" + base + ".so"; }

LibHandle LoadLibraryBySearch(const char* name) {
  if (!name) return nullptr;
  return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

LibHandle LoadSystemLibrary(const char* name) {
  if (!name) return nullptr;
  return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

std::string LibraryLoadError() {
  const char* text = dlerror();
  return text ? text : "no message from the dynamic loader";
}

void* LookupEntry(LibHandle lib, const char* name) {
  if (!lib || !name) return nullptr;
  return dlsym(lib, name);
}

void FreeRuntimeLibrary(LibHandle lib) {
  if (lib) dlclose(lib);
}

}  // namespace plat
