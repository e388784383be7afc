#include "platform/DynLib.h"

#include "platform/Files.h"
#include "platform/ToolFiles.h"

namespace plat {

// A full path names that one file to the system's loader on both systems. An installed tool's
// folder is the system's (/usr/bin): nothing is loaded from there.
LibHandle LoadLibraryBesideExecutable(const char* name) {
  const std::string folder = ExecutableDir();
  if (!name || folder.empty() || InstalledLayout()) return nullptr;
  return LoadLibraryBySearch((folder + name).c_str());
}

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
