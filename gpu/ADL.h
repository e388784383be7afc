// The display library loader: loads the library (beside the executable first, then through
// the system's search; an installed tool uses the system's search only), resolves every entry
// point by name, creates the library context and fetches the adapter table once. Everything else
// that talks to graphics adapters calls the library through the entry points and the context of
// one TADL.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "gpu/AdlInterface.h"
#include "platform/DynLib.h"
#include "platform/KernelI2c.h"

namespace brumel {

// Where the display library comes from. The tool uses the operating system's loader and, where
// no library file loads, a library of its own over the kernel's view of the graphics cards
// (TSystemAdlSource); tests put a library of their own in its place.
class TAdlLibrarySource {
 public:
  virtual ~TAdlLibrarySource() = default;
  virtual plat::LibHandle LoadBesideExecutable(const char* name);
  virtual plat::LibHandle LoadBySearch(const char* name);
  // The library tried when no library file loads; null here (a test's source offers nothing it
  // does not add itself).
  virtual plat::LibHandle LoadBuiltIn();
  virtual void* Lookup(plat::LibHandle library, const char* name);
  virtual void Free(plat::LibHandle library);
  // What the system said about the last load that failed (for the diagnostic log).
  virtual std::string LoadError();
  // Why I2C transfers on that line of that adapter fail, where the library can tell; empty
  // here and for a loaded library file.
  virtual std::string I2cLineReason(plat::LibHandle library, int adapterIndex, int line);
};

class TKernelI2cLibrary;

// The running system's source: the library files through the operating system's loader, then
// the tool's own library over the kernel's graphics cards and I2C buses where the system
// offers them (Linux).
class TSystemAdlSource : public TAdlLibrarySource {
 public:
  using KernelFactory = std::function<std::unique_ptr<plat::KernelI2c>()>;
  using ReasonSink = std::function<void(const std::string&)>;

  // The tool's own library takes the kernel's interface from kernel (the running system's
  // when empty) and says a failed line's reason through sink (standard error when empty).
  explicit TSystemAdlSource(KernelFactory kernel = {}, ReasonSink sink = {});
  ~TSystemAdlSource() override;
  plat::LibHandle LoadBuiltIn() override;
  void* Lookup(plat::LibHandle library, const char* name) override;
  void Free(plat::LibHandle library) override;
  std::string I2cLineReason(plat::LibHandle library, int adapterIndex, int line) override;

 private:
  KernelFactory Kernel;
  ReasonSink Sink;
  std::unique_ptr<TKernelI2cLibrary> BuiltIn;
};

// One diagnostic line: label, value, console attribute of the value.
using AdlLogSink =
    std::function<void(const std::string& label, const std::string& value, uint16_t colour)>;

// Entry-point name -> address (null when the library lacks it), in byte order of the names.
using ADL_ExportedFunctions = std::map<std::string, void*>;

class TADL {
 public:
  // The library's two file names on this system ("atiadlxx.dll", "atiadlxy.dll" on Windows,
  // "libatiadlxx.so", "libatiadlxy.so" on Linux), tried in this order beside the executable,
  // then in this order through the system's search.
  static constexpr size_t kLibraryNames = 2;
  static std::string LibraryFileName(size_t which);
  static constexpr size_t kAdapterInfoBytes = sizeof(AdapterInfo);
  // Logical adapters (several per card) the table may hold; a larger count is not taken from a
  // library.
  static constexpr int32_t kMaxAdapters = 1024;

  // Runs the whole start-up with the running system's source; lines go to the debug console.
  TADL();
  TADL(std::unique_ptr<TAdlLibrarySource> source, AdlLogSink log);
  virtual ~TADL();
  TADL(const TADL&) = delete;
  TADL& operator=(const TADL&) = delete;

  // Library loaded, entry points resolved, context created and adapter table fetched.
  bool IsReady() const { return LibraryLoaded && FunctionsLoaded && ContextCreated; }
  int32_t GetNumberOfAdapters() const { return NumberOfAdapters; }
  // Record i describes library adapter index i; null until fetched.
  const AdapterInfo* GetAdapterTable() const { return AdapterTable; }

  // The resolved entry point of a slot, null when the library lacks it (or none is loaded).
  template <AdlEntry E>
  typename AdlEntryType<E>::type Entry() const {
    return reinterpret_cast<typename AdlEntryType<E>::type>(EntryAddress(E));
  }
  void* EntryAddress(AdlEntry entry) const;
  AdlContextHandle GetContext() const { return ADLContext; }
  // Why I2C transfers on that line of that adapter fail, as far as the loaded library can tell
  // (the tool's own library can; a library file cannot); empty otherwise.
  std::string I2cLineReason(int adapterIndex, int line) const;

  bool IsLibraryLoaded() const { return LibraryLoaded; }
  bool AreFunctionsLoaded() const { return FunctionsLoaded; }
  bool IsContextCreated() const { return ContextCreated; }
  int32_t GetMainControlVersion() const { return MainControlVersion; }
  const ADL_ExportedFunctions& GetExportedFunctions() const { return ExportedFunctions; }

  // Writes one diagnostic line (the debug console of the tool, enabled by BRUMEL_DEBUG=1).
  void Log(const std::string& label, const std::string& value, uint16_t colour) const;
  // A library call's result, handed back as it is; one other than 0 is logged with the entry
  // point and the adapter index (negative: the call takes none).
  int Checked(const char* entry, int32_t adapterIndex, int result) const;

  // Why the loader did not become ready, said for the operator: the library not found, an
  // entry point it lacks, or what it answered. Empty once ready.
  const std::string& NotReadyReason() const { return NotReady; }
  // The file name of the library that was loaded; empty when none.
  const std::string& GetLibraryFile() const { return LibraryFile; }

 private:
  bool LoadDisplayLibrary();
  bool AdlLoadFunction();
  bool AdlInitialize();
  // NotReady for a step that found the library without an entry point it needs.
  bool Lacks(const char* entry);

  std::unique_ptr<TAdlLibrarySource> Source;
  AdlLogSink LogSink;
  void* Entries[kAdlEntryCount] = {};
  AdlContextHandle ADLContext = nullptr;

  plat::LibHandle LibraryHandle = nullptr;
  bool LibraryLoaded = false;
  bool FunctionsLoaded = false;
  bool ContextCreated = false;
  ADL_ExportedFunctions ExportedFunctions;
  int32_t MainControlVersion = -1;
  int32_t NumberOfAdapters = -1;
  AdapterInfo* AdapterTable = nullptr;
  std::string LibraryFile;
  // No library file loaded: the tool's own library over the kernel's cards and buses.
  bool BuiltIn = false;
  std::string NotReady;
};

// The process-wide instance slot; the first call creates the instance (which runs the whole
// start-up), later calls return the same slot. Never destroyed.
TADL** GetADL();

// The allocation callback handed to the library: a block of the tool's heap, null for a
// negative size.
void* BRUMEL_ADL_CALLBACK AdlMemoryAlloc(int size);
// Frees a block of AdlMemoryAlloc and nulls the pointer.
void AdlMemoryFree(void** block);

}  // namespace brumel
