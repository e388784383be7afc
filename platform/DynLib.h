// Libraries loaded at run time. Every entry point is looked up by name; callers test it
// for null before calling it.
#pragma once
#include <initializer_list>

namespace plat {

using LibHandle = void*;

// Tries each name beside the executable first, then each through the system's search.
// Returns null when none loads.
LibHandle LoadRuntimeLibrary(std::initializer_list<const char*> names);
// A library of the operating system, never one from beside the executable or the current
// folder (the tool runs elevated): on Windows from the system folder only, on Linux through
// the system's search. Null when it does not load.
LibHandle LoadSystemLibrary(const char* name);
// The entry point, or null when the library is null or lacks it.
void* LookupEntry(LibHandle lib, const char* name);
void FreeRuntimeLibrary(LibHandle lib);

// Typed lookup: auto fn = LookupEntryAs<int (*)(int)>(lib, "name");
template <typename Fn>
Fn LookupEntryAs(LibHandle lib, const char* name) {
  return reinterpret_cast<Fn>(LookupEntry(lib, name));
}

}  // namespace plat
