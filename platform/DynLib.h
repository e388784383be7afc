// Libraries loaded at run time. Every entry point is looked up by name; callers test it
// for null before calling it.
#pragma once
#include <initializer_list>
#include <string>

// Calling conventions, spelled out for the entry points of a library loaded at run time and for
// the callbacks handed to it, each as that library declares them. They differ only in a 32-bit
// Windows process (cdecl: the caller removes the arguments; stdcall: the callee does); x64 and
// Linux have one convention, and there both are empty.
#ifdef _WIN32
#define PLAT_CDECL __cdecl
#define PLAT_STDCALL __stdcall
#else
#define PLAT_CDECL
#define PLAT_STDCALL
#endif

namespace plat {

// Libraries of this system are built for Windows: records their vendors declare with fields for
// Windows only have those fields here.
#ifdef _WIN32
inline constexpr bool kWindowsLibraries = true;
#else
inline constexpr bool kWindowsLibraries = false;
#endif

using LibHandle = void*;

// Keeps the process's library search to the system's own folder (Windows: the default DLL
// directories become System32 only, so a library planted beside the executable or in the
// current folder is never picked up by name). Called first thing in main; nothing on Linux.
void RestrictLibrarySearch();

// Tries each name beside the executable first, then each through the system's search. Only for
// the display library and the bench's substitute hidapi. When the executable's folder is not
// known, or the tool is installed (ToolFiles.h), the first step is left out (never the current
// folder instead).
// Returns null when none loads.
LibHandle LoadRuntimeLibrary(std::initializer_list<const char*> names);
// The file name of a library of the given base name on this system: "base.dll" on Windows,
// "libbase.so" on Linux.
std::string LibraryFileName(const std::string& base);
// One name from the executable's own folder only (ExecutableDir). Null when the folder is not
// known, when the tool is installed, or when the library is not there.
LibHandle LoadLibraryBesideExecutable(const char* name);
// One name through the system's search order for libraries. Null when it does not load.
LibHandle LoadLibraryBySearch(const char* name);
// A library of the operating system, never one from beside the executable or the current
// folder (the tool runs elevated): on Windows from the system folder only, on Linux through
// the system's search. Null when it does not load.
LibHandle LoadSystemLibrary(const char* name);
// What the system said about the last library that did not load, for a diagnostic line (Linux:
// the dynamic loader's message; Windows: the error code). Read it right after the failure.
std::string LibraryLoadError();
// The entry point, or null when the library is null or lacks it.
void* LookupEntry(LibHandle lib, const char* name);
void FreeRuntimeLibrary(LibHandle lib);

// Typed lookup: auto fn = LookupEntryAs<int (*)(int)>(lib, "name");
template <typename Fn>
Fn LookupEntryAs(LibHandle lib, const char* name) {
  return reinterpret_cast<Fn>(LookupEntry(lib, name));
}

}  // namespace plat
