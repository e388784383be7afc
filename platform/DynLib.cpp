#include "platform/DynLib.h"

namespace plat {

LibHandle LoadRuntimeLibrary(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (LibHandle lib = LoadLibraryBesideExecutable(name)) return lib;
  }
  for (const char* name : names) {
    if (LibHandle lib = LoadLibraryBySearch(name)) return lib;
  }
  return nullptr;
}

}  // namespace plat
