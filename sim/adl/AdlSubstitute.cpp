// Substitute for the display library (libatiadlxx.so on Linux, atiadlxx.dll on Windows): the
// graphics cards of the scenario named by BRUMEL_SIM_SCENARIO, each with the simulated LED
// controller on its I2C lines. An I2C write of d + 5 bytes to the controller (the register
// byte first) is one ISP request of the controller model; an I2C read of r + 4 bytes from
// register 0 returns the start of its reply. Every call is logged to BRUMEL_SIM_LOG.
//
// The records are read and written byte by byte at the library's offsets, independently of the
// tool's own declarations, so a layout mistake on either side shows. State is per process.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/DynLib.h"
#include "sim/model/ControllerModel.h"
#include "sim/model/Scenario.h"
#include "sim/model/SimLog.h"

namespace {

using brumel::sim::CardPlan;
using brumel::sim::ControllerModel;
using brumel::sim::HexBytes;
using brumel::sim::kPacketBytes;
using brumel::sim::Packet;
using brumel::sim::Scenario;
using Clock = std::chrono::steady_clock;

// Adapter information record.
constexpr size_t kInfoBytes = 1572;
constexpr size_t kInfoUdid = 8;
constexpr size_t kInfoBus = 264;
constexpr size_t kInfoDevice = 268;
constexpr size_t kInfoFunction = 272;
constexpr size_t kInfoName = 280;
constexpr size_t kTextBytes = 256;
constexpr size_t kMemoryInfoBytes = 272;
constexpr size_t kBiosInfoBytes = 768;

// I2C request: size, line, address, offset, action, speed, data size (32-bit each), then the
// data pointer at its natural alignment.
constexpr size_t kI2cDataPointer = sizeof(void*) == 8 ? 32 : 28;
constexpr size_t kI2cRequestBytes = kI2cDataPointer + sizeof(void*);
constexpr int32_t kI2cRead = 1;
constexpr int32_t kI2cWrite = 2;
constexpr int32_t kMaxI2cData = 256;

// Result codes of this library.
constexpr int kOk = 0;
constexpr int kError = -1;           // also: no device answers on the bus
constexpr int kNotInitialised = -2;  // unknown context
constexpr int kBadParameter = -3;
constexpr int kBadSize = -4;
constexpr int kBadAdapter = -5;
constexpr int kNotSupported = -8;
constexpr int kNullPointer = -9;

// A read waiting for a slow reply gives up after this long.
constexpr int kReplyWaitCapMs = 10000;

using AllocCallback = void*(PLAT_LIBCALL*)(int);

struct Card {
  Card(const CardPlan& s, const Scenario& scenario) : plan(s), model(scenario) {}
  CardPlan plan;
  ControllerModel model;
  bool gone = false;
  bool hasReply = false;  // the reply to the last write, until the next write
  Packet reply{};
  Clock::time_point due{};
};

struct Display {
  std::mutex lock;
  Scenario scenario;
  std::vector<std::unique_ptr<Card>> cards;
  std::set<const void*> contexts;
  AllocCallback alloc = nullptr;
};

std::mutex g_displayCreation;
Display* g_display = nullptr;

Display& GetDisplay() {
  std::lock_guard<std::mutex> hold(g_displayCreation);
  if (!g_display) g_display = new Display;
  return *g_display;
}

// Frees the state when the library is unloaded or the process ends, unless a context is still
// alive: its owner could still call in, so the state is then left alone.
struct DisplayRelease {
  ~DisplayRelease() {
    std::lock_guard<std::mutex> hold(g_displayCreation);
    if (g_display && g_display->contexts.empty()) {
      delete g_display;
      g_display = nullptr;
    }
  }
} g_displayRelease;

struct ContextTag {
  uint32_t magic = 0x41444C32;
};

void Put32(uint8_t* at, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

int32_t Get32(const uint8_t* at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(at[i]) << (8 * i);
  return static_cast<int32_t>(v);
}

// A text field: the text, then a terminator when there is room for one.
void PutText(uint8_t* at, const std::string& text) {
  const size_t n = std::min(text.size(), kTextBytes);
  std::memcpy(at, text.data(), n);
  if (n < kTextBytes) at[n] = 0;
}

std::string Hex2(int32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(v) & 0xFFFFFFFFu);
  return text;
}

// One call: its entry point and arguments, logged with its result when it returns.
class Call {
 public:
  explicit Call(const char* entryPoint) : text_(entryPoint) {}
  Call& Add(const std::string& key, const std::string& value) {
    text_ += " " + key + "=" + value;
    return *this;
  }
  Call& Add(const std::string& key, long long value) { return Add(key, std::to_string(value)); }
  int Return(int result, const std::string& detail = std::string()) {
    std::string line = text_ + " result=" + std::to_string(result);
    if (!detail.empty()) line += " | " + detail;
    brumel::sim::LogLine(line);
    return result;
  }

 private:
  std::string text_;
};

// The result the scenario forces for an entry point, if any.
std::optional<int> Forced(const Display& d, const char* entryPoint) {
  const auto it = d.scenario.display.results.find(entryPoint);
  if (it == d.scenario.display.results.end()) return std::nullopt;
  return it->second;
}

bool KnownContext(const Display& d, const void* context) { return d.contexts.count(context) != 0; }

int AdapterCount(const Display& d) {
  return static_cast<int>(d.scenario.display.adapterCards.size());
}

Card* CardOf(Display& d, int adapterIndex) {
  if (adapterIndex < 0 || adapterIndex >= AdapterCount(d)) return nullptr;
  const unsigned card = d.scenario.display.adapterCards[static_cast<size_t>(adapterIndex)];
  return card < d.cards.size() ? d.cards[card].get() : nullptr;
}

// The checks every call on an adapter makes, in order: the result to return at once, or
// nothing when the call may go on.
std::optional<int> Refuse(Display& d, const char* entryPoint, const void* context,
                          int adapterIndex) {
  if (const auto forced = Forced(d, entryPoint)) return forced;
  if (!KnownContext(d, context)) return kNotInitialised;
  if (!CardOf(d, adapterIndex)) return kBadAdapter;
  return std::nullopt;
}

// (Re)builds the cards from the scenario; false with a notice when it cannot be read.
bool LoadScenario(Display& d) {
  const char* path = std::getenv(brumel::sim::kScenarioVariable);
  Scenario scenario;
  if (path && *path) {
    std::string error;
    if (!brumel::sim::LoadScenarioFile(path, scenario, error)) {
      brumel::sim::ShowNotice(std::string("scenario ") + path + ": " + error +
                              "; the display library reports no adapters");
      return false;
    }
  }
  d.scenario = std::move(scenario);
  d.cards.clear();
  for (const CardPlan& p : d.scenario.display.cards)
    d.cards.push_back(std::make_unique<Card>(p, d.scenario));
  return true;
}

// Entry points of the tuning interfaces: not described by the scenario yet.
int Unsupported(const char* entryPoint, void* context, int adapterIndex) {
  Display& d = GetDisplay();
  std::lock_guard<std::mutex> hold(d.lock);
  Call call(entryPoint);
  call.Add("adapter", adapterIndex);
  if (const auto stop = Refuse(d, entryPoint, context, adapterIndex)) return call.Return(*stop);
  return call.Return(kNotSupported, "not described by the scenario");
}

int I2cTransfer(Display& d, std::unique_lock<std::mutex>& hold, int adapterIndex,
                uint8_t* request) {
  Call call("ADL2_Display_WriteAndReadI2C");
  call.Add("adapter", adapterIndex);
  if (!request) return call.Return(kNullPointer, "no request");
  const int32_t size = Get32(request);
  const int32_t line = Get32(request + 4);
  const int32_t address = Get32(request + 8);
  const int32_t offset = Get32(request + 12);
  const int32_t action = Get32(request + 16);
  const int32_t speed = Get32(request + 20);
  const int32_t dataSize = Get32(request + 24);
  uint8_t* data = nullptr;
  std::memcpy(&data, request + kI2cDataPointer, sizeof data);
  call.Add("line", line)
      .Add("address", Hex2(address))
      .Add("offset", Hex2(offset))
      .Add("action", action == kI2cRead    ? std::string("read")
                     : action == kI2cWrite ? std::string("write")
                                           : std::to_string(action))
      .Add("size", dataSize)
      .Add("speed", speed);

  if (const auto forced = Forced(d, "ADL2_Display_WriteAndReadI2C"))
    return call.Return(*forced, "forced by scenario");
  if (size != static_cast<int32_t>(kI2cRequestBytes)) {
    return call.Return(kBadSize, "request size field " + std::to_string(size) + ", expected " +
                                     std::to_string(kI2cRequestBytes));
  }
  Card* card = CardOf(d, adapterIndex);
  if (!card) return call.Return(kBadAdapter);
  if (action != kI2cRead && action != kI2cWrite) return call.Return(kBadParameter, "action");
  if (dataSize < 0 || dataSize > kMaxI2cData) return call.Return(kBadParameter, "data size");
  if (dataSize > 0 && !data) return call.Return(kNullPointer, "no data buffer");
  const auto& lines = card->plan.i2cLines;
  if (std::find(lines.begin(), lines.end(), line) == lines.end() ||
      address != card->plan.i2cAddress)
    return call.Return(kError, "no device answers");
  if (card->gone) return call.Return(kError, "device unplugged");

  if (action == kI2cWrite) {
    // The register byte and the data are one ISP request of the controller (h = 2).
    uint8_t packet[kPacketBytes + 1] = {static_cast<uint8_t>(offset)};
    const size_t n = std::min<size_t>(static_cast<size_t>(dataSize), kPacketBytes);
    if (n) std::memcpy(packet + 1, data, n);
    const std::string bytes = HexBytes(data, static_cast<size_t>(dataSize));
    brumel::sim::Outcome out = card->model.Receive(packet, std::min(n + 1, kPacketBytes), 2);
    card->hasReply = false;
    if (!out.received) {
      card->gone = true;
      brumel::sim::ShowNotice("controller on " + card->plan.name + " unplugged");
      return call.Return(kError, bytes + " | device unplugged");
    }
    if (!out.notice.empty()) brumel::sim::ShowNotice(out.notice);
    if (out.reply) {
      card->hasReply = true;
      card->reply = out.bytes;
      card->due = Clock::now() + std::chrono::milliseconds(out.delayMs);
    }
    return call.Return(kOk, bytes + " | " + out.meaning);
  }

  // A read returns the reply from the register offset on; a slow reply holds the bus until it
  // is ready (capped).
  if (!card->hasReply) return call.Return(kError, "nothing to read");
  const auto cap = Clock::now() + std::chrono::milliseconds(kReplyWaitCapMs);
  const auto due = std::min(card->due, cap);
  if (Clock::now() < due) {
    hold.unlock();
    std::this_thread::sleep_until(due);
    hold.lock();
    if (!card->hasReply) return call.Return(kError, "reply withdrawn while waiting");
  }
  for (int32_t i = 0; i < dataSize; ++i) {
    const size_t at = static_cast<size_t>(offset) + static_cast<size_t>(i);
    data[i] = at < kPacketBytes ? card->reply[at] : 0;
  }
  return call.Return(kOk, HexBytes(data, static_cast<size_t>(dataSize)));
}

}  // namespace

extern "C" {

int PLAT_LIBCALL ADL2_Main_Control_Create(AllocCallback callback, int enumConnected,
                                          void** context) {
  Display& d = GetDisplay();
  std::lock_guard<std::mutex> hold(d.lock);
  Call call("ADL2_Main_Control_Create");
  call.Add("connected", enumConnected);
  // The scenario is read again for a fresh start (no context alive).
  if (d.contexts.empty() && !LoadScenario(d)) {
    d.scenario = Scenario{};
    d.scenario.display.cards.clear();
    d.scenario.display.adapterCards.clear();
    d.cards.clear();
    return call.Return(kError, "scenario unusable");
  }
  if (const auto forced = Forced(d, "ADL2_Main_Control_Create"))
    return call.Return(*forced, "forced by scenario");
  if (!context || !callback) return call.Return(kNullPointer);
  auto* tag = new ContextTag;
  d.contexts.insert(tag);
  d.alloc = callback;
  *context = tag;
  return call.Return(kOk);
}

int PLAT_LIBCALL ADL2_Main_Control_Destroy(void* context) {
  Display& d = GetDisplay();
  std::lock_guard<std::mutex> hold(d.lock);
  Call call("ADL2_Main_Control_Destroy");
  if (const auto forced = Forced(d, "ADL2_Main_Control_Destroy"))
    return call.Return(*forced, "forced by scenario");
  if (!KnownContext(d, context)) return call.Return(kNotInitialised);
  d.contexts.erase(context);
  delete static_cast<ContextTag*>(context);
  return call.Return(kOk);
}

int PLAT_LIBCALL ADL2_Adapter_NumberOfAdapters_Get(void* context, int* count) {
  Display& d = GetDisplay();
  std::lock_guard<std::mutex> hold(d.lock);
  Call call("ADL2_Adapter_NumberOfAdapters_Get");
  if (const auto forced = Forced(d, "ADL2_Adapter_NumberOfAdapters_Get"))
    return call.Return(*forced, "forced by scenario");
  if (!KnownContext(d, context)) return call.Return(kNotInitialised);
  if (!count) return call.Return(kNullPointer);
  *count = AdapterCount(d);
  return call.Return(kOk, "count " + std::to_string(*count));
}

int PLAT_LIBCALL ADL2_Adapter_AdapterInfo_Get(void* context, void* table, int bytes) {
  Display& d = GetDisplay();
  std::lock_guard<std::mutex> hold(d.lock);
  Call call("ADL2_Adapter_AdapterInfo_Get");
  call.Add("bytes", bytes);
  if (const auto forced = Forced(d, "ADL2_Adapter_AdapterInfo_Get"))
    return call.Return(*forced, "forced by scenario");
  if (!KnownContext(d, context)) return call.Return(kNotInitialised);
  if (!table) return call.Return(kNullPointer);
  const int count = AdapterCount(d);
  if (bytes < 0 || static_cast<size_t>(bytes) < kInfoBytes * static_cast<size_t>(count))
    return call.Return(kBadSize, "room for fewer than " + std::to_string(count) + " records");
  for (int i = 0; i < count; ++i) {
    const CardPlan& plan = CardOf(d, i)->plan;
    uint8_t* record = static_cast<uint8_t*>(table) + kInfoBytes * static_cast<size_t>(i);
    PutText(record + kInfoUdid, plan.udid);
    Put32(record + kInfoBus, static_cast<int32_t>(plan.bus));
    Put32(record + kInfoDevice, static_cast<int32_t>(plan.device));
    Put32(record + kInfoFunction, static_cast<int32_t>(plan.function));
    PutText(record + kInfoName, plan.name);
  }
  return call.Return(kOk, std::to_string(count) + " records");
}

int PLAT_LIBCALL ADL2_Adapter_Active_Get(void* context, int adapterIndex, int* active) {
  Display& d = GetDisplay();
  std::lock_guard<std::mutex> hold(d.lock);
  Call call("ADL2_Adapter_Active_Get");
  call.Add("adapter", adapterIndex);
  if (const auto stop = Refuse(d, "ADL2_Adapter_Active_Get", context, adapterIndex))
    return call.Return(*stop);
  if (!active) return call.Return(kNullPointer);
  *active = 1;
  return call.Return(kOk, "active 1");
}

int PLAT_LIBCALL ADL2_Overdrive_Caps(void* context, int adapterIndex, int* supported, int* enabled,
                                     int* version) {
  Display& d = GetDisplay();
  std::lock_guard<std::mutex> hold(d.lock);
  Call call("ADL2_Overdrive_Caps");
  call.Add("adapter", adapterIndex);
  if (const auto stop = Refuse(d, "ADL2_Overdrive_Caps", context, adapterIndex))
    return call.Return(*stop);
  if (!supported || !enabled || !version) return call.Return(kNullPointer);
  *supported = 1;
  *enabled = 1;
  *version = CardOf(d, adapterIndex)->plan.overdrive;
  return call.Return(kOk, "supported 1 enabled 1 version " + std::to_string(*version));
}

int PLAT_LIBCALL ADL2_Adapter_MemoryInfo_Get(void* context, int adapterIndex, void* info) {
  Display& d = GetDisplay();
  std::lock_guard<std::mutex> hold(d.lock);
  Call call("ADL2_Adapter_MemoryInfo_Get");
  call.Add("adapter", adapterIndex);
  if (const auto stop = Refuse(d, "ADL2_Adapter_MemoryInfo_Get", context, adapterIndex))
    return call.Return(*stop);
  if (!info) return call.Return(kNullPointer);
  std::memset(info, 0, kMemoryInfoBytes);
  return call.Return(kOk);
}

int PLAT_LIBCALL ADL2_Adapter_VideoBiosInfo_Get(void* context, int adapterIndex, void* info) {
  Display& d = GetDisplay();
  std::lock_guard<std::mutex> hold(d.lock);
  Call call("ADL2_Adapter_VideoBiosInfo_Get");
  call.Add("adapter", adapterIndex);
  if (const auto stop = Refuse(d, "ADL2_Adapter_VideoBiosInfo_Get", context, adapterIndex))
    return call.Return(*stop);
  if (!info) return call.Return(kNullPointer);
  auto* bytes = static_cast<uint8_t*>(info);
  std::memset(bytes, 0, kBiosInfoBytes);
  PutText(bytes, "113-BENCH-SIM-001");
  PutText(bytes + kTextBytes, "001.001.000.001");
  PutText(bytes + 2 * kTextBytes, "2021/03/02");
  return call.Return(kOk);
}

int PLAT_LIBCALL ADL2_Display_WriteAndReadI2C(void* context, int adapterIndex, void* request) {
  Display& d = GetDisplay();
  std::unique_lock<std::mutex> hold(d.lock);
  if (!KnownContext(d, context) && !Forced(d, "ADL2_Display_WriteAndReadI2C")) {
    return Call("ADL2_Display_WriteAndReadI2C")
        .Add("adapter", adapterIndex)
        .Return(kNotInitialised);
  }
  return I2cTransfer(d, hold, adapterIndex, static_cast<uint8_t*>(request));
}

#define BRUMEL_SIM_UNSUPPORTED(name, ...)                               \
  int PLAT_LIBCALL name(void* context, int adapterIndex, __VA_ARGS__) { \
    return Unsupported(#name, context, adapterIndex);                   \
  }

BRUMEL_SIM_UNSUPPORTED(ADL2_OverdriveN_CapabilitiesX2_Get, void*)
BRUMEL_SIM_UNSUPPORTED(ADL2_OverdriveN_PerformanceStatus_Get, void*)
BRUMEL_SIM_UNSUPPORTED(ADL2_OverdriveN_SystemClocksX2_Get, void*)
BRUMEL_SIM_UNSUPPORTED(ADL2_OverdriveN_SystemClocksX2_Set, void*)
BRUMEL_SIM_UNSUPPORTED(ADL2_OverdriveN_MemoryClocksX2_Get, void*)
BRUMEL_SIM_UNSUPPORTED(ADL2_OverdriveN_MemoryClocksX2_Set, void*)
BRUMEL_SIM_UNSUPPORTED(ADL2_OverdriveN_FanControl_Get, void*)
BRUMEL_SIM_UNSUPPORTED(ADL2_OverdriveN_FanControl_Set, void*)
BRUMEL_SIM_UNSUPPORTED(ADL2_OverdriveN_PowerLimit_Get, void*)
BRUMEL_SIM_UNSUPPORTED(ADL2_OverdriveN_PowerLimit_Set, void*)
BRUMEL_SIM_UNSUPPORTED(ADL2_OverdriveN_Temperature_Get, int, int*)
BRUMEL_SIM_UNSUPPORTED(ADL2_Overdrive5_ThermalDevices_Enum, int, void*)
BRUMEL_SIM_UNSUPPORTED(ADL2_Overdrive5_FanSpeed_Get, int, void*)
BRUMEL_SIM_UNSUPPORTED(ADL2_Overdrive5_FanSpeed_Set, int, void*)
BRUMEL_SIM_UNSUPPORTED(ADL2_Overdrive5_FanSpeedToDefault_Set, int)
BRUMEL_SIM_UNSUPPORTED(ADL2_Adapter_VRAMUsage_Get, int*)
BRUMEL_SIM_UNSUPPORTED(ADL2_Overdrive8_Init_SettingX2_Get, int*, int*, void**)
BRUMEL_SIM_UNSUPPORTED(ADL2_Overdrive8_Current_SettingX2_Get, int*, int**)
BRUMEL_SIM_UNSUPPORTED(ADL2_Overdrive8_Init_Setting_Get, void*)
BRUMEL_SIM_UNSUPPORTED(ADL2_Overdrive8_Current_Setting_Get, void*)
BRUMEL_SIM_UNSUPPORTED(ADL2_Overdrive8_Setting_Set, void*, void*)
BRUMEL_SIM_UNSUPPORTED(ADL2_New_QueryPMLogData_Get, void*)

#undef BRUMEL_SIM_UNSUPPORTED

}  // extern "C"
