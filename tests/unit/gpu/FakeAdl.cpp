#include "FakeAdl.h"

#include <cstring>
#include <type_traits>

namespace brumel::test {

namespace {

FakeAdl* g_current = nullptr;
int g_context = 0;  // its address is the context handle

template <AdlEntry E, typename Fn>
void* Typed(Fn fn) {
  static_assert(std::is_same_v<Fn, typename AdlEntryType<E>::type>,
                "the fake's entry point must have the tool's signature");
  return reinterpret_cast<void*>(fn);
}

bool Known(AdlContextHandle context) { return context == &g_context; }

int PLAT_LIBCALL Create(AdlMallocCallback callback, int, AdlContextHandle* context) {
  FakeAdl* f = FakeAdl::Current();
  if (f->createResult != 0) return f->createResult;
  if (!callback || !context) return -9;
  *context = &g_context;
  return 0;
}

int PLAT_LIBCALL Destroy(AdlContextHandle context) {
  if (!Known(context)) return -2;
  ++FakeAdl::Current()->destroys;
  return 0;
}

int PLAT_LIBCALL Count(AdlContextHandle context, int* count) {
  FakeAdl* f = FakeAdl::Current();
  if (!Known(context) || !count) return -1;
  *count = f->reportedCount.value_or(static_cast<int>(f->adapters.size()));
  return 0;
}

int PLAT_LIBCALL Info(AdlContextHandle context, AdapterInfo* table, int bytes) {
  FakeAdl* f = FakeAdl::Current();
  ++f->infoCalls;
  if (!Known(context) || !table) return -1;
  if (f->infoResult != 0) return f->infoResult;
  if (static_cast<size_t>(bytes) < f->adapters.size() * sizeof(AdapterInfo)) return -4;
  for (size_t i = 0; i < f->adapters.size(); ++i) {
    const FakeAdapter& a = f->adapters[i];
    AdapterInfo& r = table[i];
    std::memcpy(r.UDID, a.udid.data(), std::min(a.udid.size(), sizeof r.UDID));
    std::memcpy(r.AdapterName, a.name.data(), std::min(a.name.size(), sizeof r.AdapterName));
    r.BusNumber = a.bus;
    r.DeviceNumber = a.device;
    r.FunctionNumber = a.function;
  }
  return 0;
}

int PLAT_LIBCALL Active(AdlContextHandle, int, int* active) {
  if (active) *active = 1;
  return 0;
}

int PLAT_LIBCALL Caps(AdlContextHandle context, int index, int* supported, int* enabled,
                      int* version) {
  FakeAdl* f = FakeAdl::Current();
  if (!Known(context) || index < 0 || static_cast<size_t>(index) >= f->adapters.size()) return -5;
  const FakeAdapter& a = f->adapters[static_cast<size_t>(index)];
  *supported = 1;
  *enabled = 1;
  *version = a.overdrive;
  return a.capsResult;
}

int PLAT_LIBCALL MemoryInfo(AdlContextHandle, int, ADLMemoryInfo* info) {
  std::memset(info, 0x11, sizeof *info);
  return 0;
}

int PLAT_LIBCALL BiosInfo(AdlContextHandle, int, ADLBiosInfo* info) {
  std::memset(info, 0, sizeof *info);
  return 0;
}

int PLAT_LIBCALL I2c(AdlContextHandle context, int index, ADLI2C* request) {
  if (!Known(context)) return -2;
  return FakeAdl::Current()->Transfer(index, request);
}

// Stands in for the entry points no test calls.
int PLAT_LIBCALL NeverCalled() { return -1; }

const std::map<std::string, void*>& Implemented() {
  static const std::map<std::string, void*> table = {
      {"ADL2_Main_Control_Create", Typed<AdlEntry::ADL2_Main_Control_Create>(&Create)},
      {"ADL2_Main_Control_Destroy", Typed<AdlEntry::ADL2_Main_Control_Destroy>(&Destroy)},
      {"ADL2_Adapter_NumberOfAdapters_Get",
       Typed<AdlEntry::ADL2_Adapter_NumberOfAdapters_Get>(&Count)},
      {"ADL2_Adapter_AdapterInfo_Get", Typed<AdlEntry::ADL2_Adapter_AdapterInfo_Get>(&Info)},
      {"ADL2_Adapter_Active_Get", Typed<AdlEntry::ADL2_Adapter_Active_Get>(&Active)},
      {"ADL2_Overdrive_Caps", Typed<AdlEntry::ADL2_Overdrive_Caps>(&Caps)},
      {"ADL2_Adapter_MemoryInfo_Get", Typed<AdlEntry::ADL2_Adapter_MemoryInfo_Get>(&MemoryInfo)},
      {"ADL2_Adapter_VideoBiosInfo_Get",
       Typed<AdlEntry::ADL2_Adapter_VideoBiosInfo_Get>(&BiosInfo)},
      {"ADL2_Display_WriteAndReadI2C", Typed<AdlEntry::ADL2_Display_WriteAndReadI2C>(&I2c)},
  };
  return table;
}

class Source : public TAdlLibrarySource {
 public:
  explicit Source(FakeAdl& fake) : fake_(fake) {}
  plat::LibHandle LoadBesideExecutable(const char* name) override {
    fake_.loads.push_back(std::string("beside ") + name);
    return fake_.besideExecutable.count(name) ? &fake_ : nullptr;
  }
  plat::LibHandle LoadBySearch(const char* name) override {
    fake_.loads.push_back(std::string("search ") + name);
    return fake_.bySearch.count(name) ? &fake_ : nullptr;
  }
  void* Lookup(plat::LibHandle library, const char* name) override {
    if (library != &fake_ || fake_.missing.count(name)) return nullptr;
    const auto it = Implemented().find(name);
    return it != Implemented().end() ? it->second : reinterpret_cast<void*>(&NeverCalled);
  }
  void Free(plat::LibHandle library) override {
    if (library == &fake_) ++fake_.frees;
  }

 private:
  FakeAdl& fake_;
};

void Put16(std::vector<uint8_t>& p, size_t at, uint32_t v) {
  p[at] = static_cast<uint8_t>(v);
  p[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& p, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) p[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

FakeAdl::FakeAdl() { g_current = this; }

FakeAdl::~FakeAdl() {
  if (g_current == this) g_current = nullptr;
}

FakeAdl* FakeAdl::Current() { return g_current; }

std::unique_ptr<TADL> FakeAdl::Load() {
  return std::make_unique<TADL>(
      std::make_unique<Source>(*this),
      [this](const std::string& label, const std::string& value, uint16_t colour) {
        logLines.push_back({label, value, colour});
      });
}

std::unique_ptr<TADL> FakeAdl::LoadBeside() {
  besideExecutable.insert(TADL::LibraryFileName(0));
  return Load();
}

int FakeAdl::Transfer(int adapter, ADLI2C* request) {
  I2cRequest seen;
  seen.adapter = adapter;
  seen.size = request->Size;
  seen.line = request->Line;
  seen.address = request->Address;
  seen.offset = request->Offset;
  seen.action = request->Action;
  seen.speed = request->Speed;
  seen.dataSize = request->DataSize;
  const auto* data = reinterpret_cast<const uint8_t*>(request->Data);
  if (request->Action == kAdlI2cActionWrite && data)
    seen.written.assign(data, data + request->DataSize);
  i2c.push_back(seen);
  if (i2cResult != 0) return i2cResult;

  if (request->Action == kAdlI2cActionWrite) {
    // The register byte and the data are one ISP request with the number at bytes 2-3.
    std::vector<uint8_t> packet(64, 0);
    packet[0] = static_cast<uint8_t>(request->Offset);
    for (size_t i = 0; i < seen.written.size() && i + 1 < packet.size(); ++i)
      packet[i + 1] = seen.written[i];
    uint32_t sum = 0;
    for (uint8_t b : packet) sum += b;
    reply_.assign(64, 0);
    Put16(reply_, 0, sum);
    Put16(reply_, 2, (packet[2] | (packet[3] << 8)) + 1u);
    const uint8_t command = packet[0];
    if (command == 0xA2 || command == 0xA5) {
      Put32(reply_, 4, words.first);
      Put32(reply_, 8, words.second);
    } else if (replies.count(command)) {
      Put32(reply_, 4, replies[command]);
    }
    return 0;
  }
  if (reply_.empty()) return -1;
  auto* out = reinterpret_cast<uint8_t*>(request->Data);
  for (int32_t i = 0; i < request->DataSize; ++i) {
    const size_t at = static_cast<size_t>(request->Offset + i);
    out[i] = at < reply_.size() ? reply_[at] : 0;
  }
  return 0;
}

}  // namespace brumel::test
