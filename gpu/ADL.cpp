#include "gpu/ADL.h"

#include <cstdlib>
#include <cstring>
#include <iterator>

#include "gpu/KernelI2cLibrary.h"
#include "support/DebugConsole.h"

namespace brumel {

namespace {

constexpr uint16_t kGreen = 10;
constexpr uint16_t kRed = 12;

const char* const kEntryNames[] = {
#define BRUMEL_ADL_NAME(name) #name,
    BRUMEL_ADL_ENTRY_POINTS(BRUMEL_ADL_NAME)
#undef BRUMEL_ADL_NAME
};
static_assert(std::size(kEntryNames) == kAdlEntryCount);

// The library's own API of the first generation: resolved, never reported.
bool IsFirstGenerationContextEntry(AdlEntry entry) {
  return entry == AdlEntry::ADL_Main_Control_Create || entry == AdlEntry::ADL_Main_Control_Destroy;
}

void LogToDebugConsole(const std::string& label, const std::string& value, uint16_t colour) {
  DebugLog(GetDebugConsole(false), label, value, colour);
}

}  // namespace

const char* AdlEntryName(AdlEntry entry) {
  const auto i = static_cast<size_t>(entry);
  return i < kAdlEntryCount ? kEntryNames[i] : nullptr;
}

std::string TADL::LibraryFileName(size_t which) {
  return plat::LibraryFileName(which == 0 ? "atiadlxx" : "atiadlxy");
}

// ---- library source ----------------------------------------------------------------------

plat::LibHandle TAdlLibrarySource::LoadBesideExecutable(const char* name) {
  return plat::LoadLibraryBesideExecutable(name);
}

plat::LibHandle TAdlLibrarySource::LoadBySearch(const char* name) {
  return plat::LoadLibraryBySearch(name);
}

void* TAdlLibrarySource::Lookup(plat::LibHandle library, const char* name) {
  return plat::LookupEntry(library, name);
}

plat::LibHandle TAdlLibrarySource::LoadBuiltIn() { return nullptr; }

void TAdlLibrarySource::Free(plat::LibHandle library) { plat::FreeRuntimeLibrary(library); }

std::string TAdlLibrarySource::I2cLineReason(plat::LibHandle, int, int) { return {}; }

TSystemAdlSource::TSystemAdlSource(KernelFactory kernel, ReasonSink sink)
    : Kernel(kernel ? std::move(kernel) : KernelFactory(plat::OpenKernelI2c)),
      Sink(std::move(sink)) {}

TSystemAdlSource::~TSystemAdlSource() = default;

plat::LibHandle TSystemAdlSource::LoadBuiltIn() {
  std::unique_ptr<plat::KernelI2c> kernel = Kernel();
  if (!kernel) return nullptr;
  BuiltIn = std::make_unique<TKernelI2cLibrary>(std::move(kernel), Sink);
  return BuiltIn.get();
}

void* TSystemAdlSource::Lookup(plat::LibHandle library, const char* name) {
  if (BuiltIn && library == BuiltIn.get()) return BuiltIn->Lookup(name);
  return TAdlLibrarySource::Lookup(library, name);
}

void TSystemAdlSource::Free(plat::LibHandle library) {
  if (BuiltIn && library == BuiltIn.get()) {
    BuiltIn.reset();
    return;
  }
  TAdlLibrarySource::Free(library);
}

std::string TSystemAdlSource::I2cLineReason(plat::LibHandle library, int adapterIndex, int line) {
  if (BuiltIn && library == BuiltIn.get()) return BuiltIn->LineReason(adapterIndex, line);
  return {};
}

// ---- loader ------------------------------------------------------------------------------

TADL::TADL() : TADL(std::make_unique<TSystemAdlSource>(), LogToDebugConsole) {}

TADL::TADL(std::unique_ptr<TAdlLibrarySource> source, AdlLogSink log)
    : Source(std::move(source)), LogSink(std::move(log)) {
  if (!Source) Source = std::make_unique<TAdlLibrarySource>();
  LibraryLoaded = LoadDisplayLibrary();
  if (LibraryLoaded) FunctionsLoaded = AdlLoadFunction();
  if (FunctionsLoaded) ContextCreated = AdlInitialize();
}

TADL::~TADL() {
  // A context that was made is destroyed, whether or not the adapter table came with it.
  if (MainControlVersion == 2) {
    AdlMemoryFree(reinterpret_cast<void**>(&AdapterTable));
    if (auto destroy = Entry<AdlEntry::ADL2_Main_Control_Destroy>()) {
      if (destroy(ADLContext) == kAdlOk) ContextCreated = false;
    }
  }
  if (LibraryHandle) Source->Free(LibraryHandle);
  LibraryHandle = nullptr;
  ExportedFunctions.clear();
}

void* TADL::EntryAddress(AdlEntry entry) const {
  const auto i = static_cast<size_t>(entry);
  return i < kAdlEntryCount ? Entries[i] : nullptr;
}

std::string TADL::I2cLineReason(int adapterIndex, int line) const {
  return LibraryHandle ? Source->I2cLineReason(LibraryHandle, adapterIndex, line) : std::string();
}

void TADL::Log(const std::string& label, const std::string& value, uint16_t colour) const {
  if (LogSink) LogSink(label, value, colour);
}

bool TADL::LoadDisplayLibrary() {
  // A library beside the executable takes precedence and is loaded without a word.
  for (size_t i = 0; i < kLibraryNames; ++i) {
    LibraryHandle = Source->LoadBesideExecutable(LibraryFileName(i).c_str());
    if (LibraryHandle) return true;
  }
  // The labels go with the two names, whatever the bitness of this process.
  static const char* const kLabels[kLibraryNames] = {"Load Library (x64)", "Load Library (x32)"};
  for (size_t i = 0; i < kLibraryNames; ++i) {
    const std::string name = LibraryFileName(i);
    LibraryHandle = Source->LoadBySearch(name.c_str());
    if (LibraryHandle) {
      Log(kLabels[i], name, kGreen);
      return true;
    }
  }
  // No library file: the tool's own library where the system offers what it needs.
  LibraryHandle = Source->LoadBuiltIn();
  if (LibraryHandle) {
    Log("Load Library (built-in)", "graphics cards and I2C buses of the kernel", kGreen);
    return true;
  }
  return false;
}

bool TADL::AdlLoadFunction() {
  if (!LibraryHandle) return false;
  for (size_t i = 0; i < kAdlEntryCount; ++i) {
    Entries[i] = Source->Lookup(LibraryHandle, kEntryNames[i]);
    if (!IsFirstGenerationContextEntry(static_cast<AdlEntry>(i)))
      ExportedFunctions[kEntryNames[i]] = Entries[i];
  }
  bool overdrive8 = true;
  bool i2c = true;
  for (const auto& [name, address] : ExportedFunctions) {
    if (address) continue;
    Log(name, "Fail", kRed);
    if (name.find("Overdrive8") != std::string::npos ||
        name.find("QueryPMLogData") != std::string::npos)
      overdrive8 = false;
    if (name.find("I2C") != std::string::npos) i2c = false;
  }
  if (overdrive8) Log("AdlLoadFunction", "OD8 APIs ... Support", kGreen);
  if (i2c) Log("AdlLoadFunction", "I2C APIs ... Support", kGreen);
  // Missing entry points do not fail the step: every user of a slot copes with null.
  return true;
}

bool TADL::AdlInitialize() {
  auto create = Entry<AdlEntry::ADL2_Main_Control_Create>();
  if (!FunctionsLoaded || !create) return false;
  if (create(AdlMemoryAlloc, 1, &ADLContext) != kAdlOk) return false;
  MainControlVersion = 2;

  if (auto count = Entry<AdlEntry::ADL2_Adapter_NumberOfAdapters_Get>()) {
    int n = -1;
    count(ADLContext, &n);
    NumberOfAdapters = n;
  }
  if (NumberOfAdapters < 1) return false;
  Log("AdlInitialize", "Number of Adapters = " + std::to_string(NumberOfAdapters), kGreen);

  // Without the table there is nothing to enumerate. The count sizes the table: one far above
  // any machine's logical adapters is refused before anything is allocated.
  auto info = Entry<AdlEntry::ADL2_Adapter_AdapterInfo_Get>();
  if (!info || NumberOfAdapters > kMaxAdapters) return false;
  const int bytes = NumberOfAdapters * static_cast<int>(kAdapterInfoBytes);
  AdlMemoryFree(reinterpret_cast<void**>(&AdapterTable));
  AdapterTable = static_cast<AdapterInfo*>(AdlMemoryAlloc(bytes));
  if (!AdapterTable) return false;
  std::memset(AdapterTable, 0, static_cast<size_t>(bytes));
  return info(ADLContext, AdapterTable, bytes) == kAdlOk;
}

// ---- process-wide ------------------------------------------------------------------------

TADL** GetADL() {
  static TADL* instance = new TADL();
  return &instance;
}

void* PLAT_LIBCALL AdlMemoryAlloc(int size) {
  if (size < 0) return nullptr;
  return std::malloc(size > 0 ? static_cast<size_t>(size) : 1);
}

void AdlMemoryFree(void** block) {
  if (!block) return;
  std::free(*block);
  *block = nullptr;
}

}  // namespace brumel
