#include "gpu/KernelI2cLibrary.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace brumel {

namespace {

constexpr int kAdlFailed = -1;
constexpr uint16_t kAmdVendorId = 0x1002;
constexpr char kAmdDriver[] = "amdgpu";
// The tuning generation the adapter enumerator keeps an adapter of; this library offers none of
// that generation's entry points, so its adapters report every setting as unsupported.
constexpr int kReportedGeneration = 7;

std::vector<TKernelI2cLibrary*>& LiveLibraries() {
  static std::vector<TKernelI2cLibrary*> live;
  return live;
}

TKernelI2cLibrary* LibraryOf(AdlContextHandle context) {
  const auto& live = LiveLibraries();
  auto it = std::find(live.begin(), live.end(), static_cast<TKernelI2cLibrary*>(context));
  return it == live.end() ? nullptr : *it;
}

void ToStandardError(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

void CopyText(char (&field)[kAdlTextBytes], const std::string& text) {
  std::memset(field, 0, sizeof field);
  std::memcpy(field, text.data(), std::min(text.size(), sizeof field - 1));
}

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

// ---- entry points ----------------------------------------------------------------------------

int MainControlCreate(AdlMallocCallback, int, AdlContextHandle* context) {
  TKernelI2cLibrary* library = TKernelI2cLibrary::Latest();
  return library ? library->CreateContext(context) : kAdlFailed;
}

int MainControlDestroy(AdlContextHandle context) { return LibraryOf(context) ? kAdlOk : kAdlFailed; }

int NumberOfAdaptersGet(AdlContextHandle context, int* count) {
  TKernelI2cLibrary* library = LibraryOf(context);
  return library ? library->NumberOfAdapters(count) : kAdlFailed;
}

int AdapterInfoGet(AdlContextHandle context, AdapterInfo* table, int bytes) {
  TKernelI2cLibrary* library = LibraryOf(context);
  return library ? library->AdapterInfos(table, bytes) : kAdlFailed;
}

int OverdriveCaps(AdlContextHandle context, int adapterIndex, int* supported, int* enabled,
                  int* version) {
  TKernelI2cLibrary* library = LibraryOf(context);
  return library ? library->OverdriveCaps(adapterIndex, supported, enabled, version) : kAdlFailed;
}

int DisplayWriteAndReadI2C(AdlContextHandle context, int adapterIndex, ADLI2C* request) {
  TKernelI2cLibrary* library = LibraryOf(context);
  return library ? library->WriteAndReadI2C(adapterIndex, request) : kAdlFailed;
}

// The address of an entry point, checked against the type the tool calls it by.
template <AdlEntry E>
void* Exported(typename AdlEntryType<E>::type function) {
  return reinterpret_cast<void*>(function);
}

struct Export {
  AdlEntry Entry;
  void* Address;
};

const Export* Exports(size_t& count) {
  static const Export kExports[] = {
      {AdlEntry::ADL2_Main_Control_Create,
       Exported<AdlEntry::ADL2_Main_Control_Create>(&MainControlCreate)},
      {AdlEntry::ADL2_Main_Control_Destroy,
       Exported<AdlEntry::ADL2_Main_Control_Destroy>(&MainControlDestroy)},
      {AdlEntry::ADL2_Adapter_NumberOfAdapters_Get,
       Exported<AdlEntry::ADL2_Adapter_NumberOfAdapters_Get>(&NumberOfAdaptersGet)},
      {AdlEntry::ADL2_Adapter_AdapterInfo_Get,
       Exported<AdlEntry::ADL2_Adapter_AdapterInfo_Get>(&AdapterInfoGet)},
      {AdlEntry::ADL2_Overdrive_Caps, Exported<AdlEntry::ADL2_Overdrive_Caps>(&OverdriveCaps)},
      {AdlEntry::ADL2_Display_WriteAndReadI2C,
       Exported<AdlEntry::ADL2_Display_WriteAndReadI2C>(&DisplayWriteAndReadI2C)},
  };
  count = std::size(kExports);
  return kExports;
}

}  // namespace

// ---- bus choice and the request's mapping ----------------------------------------------------

int ChooseOemBus(const std::vector<plat::I2cAdapterEntry>& buses, const std::string& card) {
  if (card.empty()) return -1;
  for (const char* name : kOemBusNames) {
    int chosen = -1;
    for (const plat::I2cAdapterEntry& bus : buses) {
      if (bus.Card == card && bus.Name == name && bus.Number >= 0 &&
          (chosen < 0 || bus.Number < chosen))
        chosen = bus.Number;
    }
    if (chosen >= 0) return chosen;
  }
  return -1;
}

// The display library's transfer at an offset, as we understand it: a write is one message
// that carries the offset byte and then the data; a read writes the offset byte and reads the
// data after a repeated start, both in one transaction. The address goes from the library's form
// (the 7-bit address shifted left) to the kernel's 7-bit form. The library's speed cannot be
// set: the bus runs at the speed its driver chose. This mapping is unproven on a real card.
size_t MapI2cRequest(const ADLI2C& request, std::vector<uint8_t>& scratch,
                     plat::I2cMessage (&messages)[2]) {
  if (request.Address < 0 || request.Address > 0xFF || (request.Address >> 1) != kControllerAddress7)
    return 0;
  if (request.Offset < 0 || request.Offset > 0xFF) return 0;
  const int32_t size = request.DataSize;
  const uint16_t address = kControllerAddress7;
  if (request.Action == kAdlI2cActionWrite) {
    if (size < 0 || size > kMaxKernelI2cData || (size > 0 && !request.Data)) return 0;
    scratch.assign(static_cast<size_t>(size) + 1, 0);
    scratch[0] = static_cast<uint8_t>(request.Offset);
    if (size > 0) std::memcpy(scratch.data() + 1, request.Data, static_cast<size_t>(size));
    messages[0] = {address, false, scratch.data(), static_cast<uint16_t>(scratch.size())};
    return 1;
  }
  if (request.Action == kAdlI2cActionRead) {
    if (size < 1 || size > kMaxKernelI2cData || !request.Data) return 0;
    scratch.assign(1, static_cast<uint8_t>(request.Offset));
    messages[0] = {address, false, scratch.data(), 1};
    messages[1] = {address, true, reinterpret_cast<uint8_t*>(request.Data),
                   static_cast<uint16_t>(size)};
    return 2;
  }
  return 0;
}

// ---- library -------------------------------------------------------------------------------

TKernelI2cLibrary::TKernelI2cLibrary(std::unique_ptr<plat::KernelI2c> kernel, ReasonSink sink)
    : Kernel(std::move(kernel)), Sink(sink ? std::move(sink) : ReasonSink(ToStandardError)) {
  LiveLibraries().push_back(this);
  if (!Kernel) return;
  const std::vector<plat::I2cAdapterEntry> buses = Kernel->Adapters();
  for (const plat::PciDisplayFunction& pci : Kernel->DisplayFunctions()) {
    if (pci.VendorId != kAmdVendorId || pci.Driver != kAmdDriver) continue;
    Card card;
    card.Pci = pci;
    card.Name = Kernel->DatabaseName(pci);
    if (card.Name.empty())
      card.Name = "Graphics adapter " + Hex(pci.VendorId, 4) + ":" + Hex(pci.DeviceId, 4) + " at " +
                  pci.Address;
    card.Udid = "PCI_VEN_" + Hex(pci.VendorId, 4) + "&DEV_" + Hex(pci.DeviceId, 4) + "&SUBSYS_" +
                Hex(pci.SubsystemId, 4) + Hex(pci.SubsystemVendorId, 4) + "&REV_" +
                Hex(pci.Revision, 2) + "_" + pci.Address;
    for (const plat::I2cAdapterEntry& bus : buses) {
      if (bus.Card == pci.Address) card.Buses.push_back(bus);
    }
    card.OemBus = ChooseOemBus(buses, pci.Address);
    for (const plat::I2cAdapterEntry& bus : card.Buses) {
      if (bus.Number == card.OemBus) card.OemBusName = bus.Name;
    }
    AllCards.push_back(std::move(card));
  }
}

TKernelI2cLibrary::~TKernelI2cLibrary() {
  auto& live = LiveLibraries();
  live.erase(std::remove(live.begin(), live.end(), this), live.end());
}

TKernelI2cLibrary* TKernelI2cLibrary::Latest() {
  const auto& live = LiveLibraries();
  return live.empty() ? nullptr : live.back();
}

void* TKernelI2cLibrary::Lookup(const char* name) const {
  if (!name) return nullptr;
  size_t count = 0;
  const Export* exports = Exports(count);
  for (size_t i = 0; i < count; ++i) {
    if (std::strcmp(AdlEntryName(exports[i].Entry), name) == 0) return exports[i].Address;
  }
  return nullptr;
}

TKernelI2cLibrary::Card* TKernelI2cLibrary::CardAt(int adapterIndex) {
  if (adapterIndex < 0 || static_cast<size_t>(adapterIndex) >= AllCards.size()) return nullptr;
  return &AllCards[static_cast<size_t>(adapterIndex)];
}

int TKernelI2cLibrary::CreateContext(AdlContextHandle* context) {
  if (!context) return kAdlFailed;
  *context = this;
  return kAdlOk;
}

int TKernelI2cLibrary::NumberOfAdapters(int* count) const {
  if (!count) return kAdlFailed;
  *count = static_cast<int>(AllCards.size());
  return kAdlOk;
}

int TKernelI2cLibrary::AdapterInfos(AdapterInfo* table, int bytes) const {
  if (!table || bytes < 0 || static_cast<size_t>(bytes) < AllCards.size() * sizeof(AdapterInfo))
    return kAdlFailed;
  for (size_t i = 0; i < AllCards.size(); ++i) {
    const Card& card = AllCards[i];
    AdapterInfo& info = table[i];
    std::memset(&info, 0, sizeof info);
    CopyText(info.UDID, card.Udid);
    info.BusNumber = card.Pci.Bus;
    info.DeviceNumber = card.Pci.Device;
    info.FunctionNumber = card.Pci.Function;
    CopyText(info.AdapterName, card.Name);
  }
  return kAdlOk;
}

int TKernelI2cLibrary::OverdriveCaps(int adapterIndex, int* supported, int* enabled,
                                     int* version) const {
  if (adapterIndex < 0 || static_cast<size_t>(adapterIndex) >= AllCards.size() || !supported ||
      !enabled || !version)
    return kAdlFailed;
  *supported = 0;
  *enabled = 0;
  *version = kReportedGeneration;
  return kAdlOk;
}

bool TKernelI2cLibrary::Prepare(Card& card) {
  if (!card.Tried && card.OemBus >= 0 && Kernel) {
    card.Tried = true;
    card.Bus = Kernel->OpenBus(card.OemBus, card.Failure, card.Detail, card.Node);
    // The adapter must offer plain I2C messages before the first transfer goes out.
    if (card.Bus) card.PlainI2c = card.Bus->OffersPlainI2c();
  }
  return card.Bus && card.PlainI2c;
}

int TKernelI2cLibrary::WriteAndReadI2C(int adapterIndex, ADLI2C* request) {
  Card* card = CardAt(adapterIndex);
  if (!card || !request || request->Size != static_cast<int32_t>(sizeof(ADLI2C)))
    return kAdlFailed;
  if (request->Line != kAdlI2cLineOem || card->OemBus < 0) {
    SayOnce(adapterIndex, request->Line);
    return kAdlFailed;
  }
  std::vector<uint8_t> scratch;
  plat::I2cMessage messages[2];
  const size_t count = MapI2cRequest(*request, scratch, messages);
  if (count == 0) return kAdlFailed;
  if (!Prepare(*card)) {
    SayOnce(adapterIndex, request->Line);
    return kAdlFailed;
  }
  // Any failure of the transfer itself (no acknowledge, a time-out: EIO) is a refused call.
  return card->Bus->Transfer(messages, count) == 0 ? kAdlOk : kAdlFailed;
}

void TKernelI2cLibrary::SayOnce(int adapterIndex, int line) {
  if (ReasonSaid) return;
  const std::string reason = Reason(adapterIndex, line);
  if (reason.empty()) return;
  ReasonSaid = true;
  Sink(reason);
}

std::string TKernelI2cLibrary::LineReason(int adapterIndex, int line) {
  std::string reason = Reason(adapterIndex, line);
  if (!reason.empty()) ReasonSaid = true;
  return reason;
}

std::string TKernelI2cLibrary::Reason(int adapterIndex, int line) {
  Card* card = CardAt(adapterIndex);
  if (!card) return "There is no graphics adapter " + std::to_string(adapterIndex) + ".";
  if (line != kAdlI2cLineOem) {
    const std::string which =
        line == kAdlI2cLineOem3 ? "Line 4 (/I 3, the display library's third OEM line)"
                                : "Line " + std::to_string(line) + " of the display library";
    return which +
           " has no counterpart under Linux: the amdgpu driver offers a card's OEM line only, "
           "which is /I 2.";
  }
  const std::string cardText = card->Name + " (" + card->Pci.Address + ")";
  if (card->OemBus < 0) {
    std::string buses;
    for (const plat::I2cAdapterEntry& bus : card->Buses) {
      buses += (buses.empty() ? "" : ", ") + std::string("i2c-") + std::to_string(bus.Number) +
               " \"" + bus.Name + "\"";
    }
    const std::string release = Kernel ? Kernel->KernelRelease() : std::string();
    return cardText + " has no OEM I2C bus under Linux " +
           (release.empty() ? std::string("(release unknown)") : release) + "; " +
           (buses.empty() ? std::string("it has no I2C bus") : "its buses: " + buses) +
           ". /I 2 needs \"AMDGPU DM i2c OEM bus\" (Linux 6.15 or later, with the display core, "
           "where the card's video BIOS declares the line), \"AMDGPU i2c bit bus OEM 0x97\" "
           "(Polaris cards), or with amdgpu.dc=0 \"AMDGPU i2c bit bus 0x97\" or \"AMDGPU i2c hw "
           "bus 0x97\".";
  }
  if (Prepare(*card)) return {};
  const std::string bus = card->Node + " (the \"" + card->OemBusName + "\" bus of " + cardText + ")";
  switch (card->Failure) {
    case plat::I2cOpenFailure::None:
      return bus + " does not offer plain I2C transfers.";
    case plat::I2cOpenFailure::Missing:
      if (Kernel && !Kernel->HasBusNodes())
        return "There is no I2C bus node (/dev/i2c-*): the i2c-dev module is not loaded. Load it "
               "with \"modprobe i2c-dev\"; the package loads it at boot "
               "(/usr/lib/modules-load.d/brumelisp.conf).";
      return bus + " does not exist, though other I2C bus nodes do.";
    case plat::I2cOpenFailure::Denied:
      return "Permission denied on " + bus +
             ". The package's udev rule (/usr/lib/udev/rules.d/70-brumelisp.rules) gives a "
             "card's OEM bus to the user at the seat once it is loaded (udevadm trigger "
             "--subsystem-match=i2c-dev, or the next boot); see the README's Linux notes.";
    case plat::I2cOpenFailure::NotANode:
      return bus + " is not the bus's device node (" + card->Detail + "): it was not opened.";
    case plat::I2cOpenFailure::Failed:
      break;
  }
  return bus + " cannot be opened: " + card->Detail + ".";
}

}  // namespace brumel
