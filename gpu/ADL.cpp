#include "gpu/ADL.h"

#include <cstdlib>
#include <cstring>
#include <iterator>

#include "gpu/KernelI2cLibrary.h"
#include "support/DebugConsole.h"

namespace brumel {

namespace {

constexpr uint16_t kGreen = kLogGood;
constexpr uint16_t kRed = kLogBad;

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
  ToolLog(label, value, colour);
}

// "atiadlxx.dll nor atiadlxy.dll" and the like: the names the loader looks for.
std::string BothNames() { return TADL::LibraryFileName(0) + " nor " + TADL::LibraryFileName(1); }

std::string NotFound() {
  return "The display library was not found: neither " + BothNames() +
         " is beside the executable or found by the system's search";
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

std::string TAdlLibrarySource::LoadError() { return plat::LibraryLoadError(); }

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
  if (IsReady()) NotReady.clear();
}

TADL::~TADL() {
  // A context that was made is destroyed, whether or not the adapter table came with it.
  if (MainControlVersion == 2) {
    AdlMemoryFree(reinterpret_cast<void**>(&AdapterTable));
    if (auto destroy = Entry<AdlEntry::ADL2_Main_Control_Destroy>()) {
      if (AdlSucceeded(destroy(ADLContext))) ContextCreated = false;
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

int TADL::Checked(const char* entry, int32_t adapterIndex, int result) const {
  if (!AdlSucceeded(result)) {
    std::string value = "result " + std::to_string(result);
    if (adapterIndex >= 0) value = "adapter " + std::to_string(adapterIndex) + ": " + value;
    Log(entry ? entry : "", value, kRed);
  }
  return result;
}

bool TADL::Lacks(const char* entry) {
  NotReady = "The display library " + LibraryFile + " lacks the entry point " + entry;
  return false;
}

bool TADL::LoadDisplayLibrary() {
  // A library beside the executable takes precedence and is loaded without a word.
  for (size_t i = 0; i < kLibraryNames; ++i) {
    LibraryHandle = Source->LoadBesideExecutable(LibraryFileName(i).c_str());
    if (LibraryHandle) {
      LibraryFile = LibraryFileName(i);
      return true;
    }
  }
  // The labels go with the two names, whatever the bitness of this process.
  static const char* const kLabels[kLibraryNames] = {"Load Library (x64)", "Load Library (x32)"};
  for (size_t i = 0; i < kLibraryNames; ++i) {
    const std::string name = LibraryFileName(i);
    LibraryHandle = Source->LoadBySearch(name.c_str());
    if (LibraryHandle) {
      Log(kLabels[i], name, kGreen);
      LibraryFile = name;
      return true;
    }
  }
  // No library file: the tool's own library where the system offers what it needs.
  LibraryHandle = Source->LoadBuiltIn();
  if (LibraryHandle) {
    Log("Load Library (built-in)", "graphics cards and I2C buses of the kernel", kGreen);
    LibraryFile = "of the tool's own (the kernel's amdgpu cards and I2C buses)";
    BuiltIn = true;
    return true;
  }
  Log("Load Library", "not found: " + BothNames() + " (" + Source->LoadError() + ")", kRed);
  NotReady = NotFound();
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
  if (!FunctionsLoaded) return false;
  if (!create) return Lacks("ADL2_Main_Control_Create");
  const int created =
      Checked("ADL2_Main_Control_Create", -1, create(AdlMemoryAlloc, 1, &ADLContext));
  if (!AdlSucceeded(created)) {
    NotReady = "The display library " + LibraryFile +
               " did not start: ADL2_Main_Control_Create answered " + std::to_string(created);
    return false;
  }
  MainControlVersion = 2;

  auto count = Entry<AdlEntry::ADL2_Adapter_NumberOfAdapters_Get>();
  if (count) {
    int n = -1;
    Checked("ADL2_Adapter_NumberOfAdapters_Get", -1, count(ADLContext, &n));
    NumberOfAdapters = n;
  }
  if (NumberOfAdapters < 1) {
    if (!count) return Lacks("ADL2_Adapter_NumberOfAdapters_Get");
    NotReady = BuiltIn ? NotFound() + ", and the kernel shows no AMD graphics card bound to amdgpu"
                       : "The display library " + LibraryFile + " reports no adapter";
    return false;
  }
  Log("AdlInitialize", "Number of Adapters = " + std::to_string(NumberOfAdapters), kGreen);

  // Without the table there is nothing to enumerate. The count sizes the table: one far above
  // any machine's logical adapters is refused before anything is allocated.
  auto info = Entry<AdlEntry::ADL2_Adapter_AdapterInfo_Get>();
  if (!info) return Lacks("ADL2_Adapter_AdapterInfo_Get");
  if (NumberOfAdapters > kMaxAdapters) {
    NotReady = "The display library " + LibraryFile + " reports " +
               std::to_string(NumberOfAdapters) + " adapters, more than the " +
               std::to_string(kMaxAdapters) + " a machine can have";
    return false;
  }
  const int bytes = NumberOfAdapters * static_cast<int>(kAdapterInfoBytes);
  AdlMemoryFree(reinterpret_cast<void**>(&AdapterTable));
  AdapterTable = static_cast<AdapterInfo*>(AdlMemoryAlloc(bytes));
  if (!AdapterTable) {
    NotReady = "No memory for the display library's adapter table";
    return false;
  }
  std::memset(AdapterTable, 0, static_cast<size_t>(bytes));
  const int filled =
      Checked("ADL2_Adapter_AdapterInfo_Get", -1, info(ADLContext, AdapterTable, bytes));
  if (!AdlSucceeded(filled)) {
    NotReady = "The display library " + LibraryFile +
               " did not hand out its adapter table: ADL2_Adapter_AdapterInfo_Get answered " +
               std::to_string(filled);
    return false;
  }
  return true;
}

// ---- process-wide ------------------------------------------------------------------------

TADL** GetADL() {
  static TADL* instance = new TADL();
  return &instance;
}

void* BRUMEL_ADL_CALLBACK AdlMemoryAlloc(int size) {
  if (size < 0) return nullptr;
  return std::malloc(size > 0 ? static_cast<size_t>(size) : 1);
}

void AdlMemoryFree(void** block) {
  if (!block) return;
  std::free(*block);
  *block = nullptr;
}

}  // namespace brumel
