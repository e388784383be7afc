// Substitute for the display library (libatiadlxx.so on Linux, atiadlxx.dll on Windows): the
// graphics cards of the scenario named by BRUMEL_SIM_SCENARIO, each with the simulated LED
// controller on its I2C lines. An I2C write of d + 5 bytes to the controller (the register
// byte first) is one ISP request of the controller model; an I2C read of r + 4 bytes from
// register 0 returns the start of its reply. Each card also has the tuning values of the
// scenario (Overdrive-N, thermal controllers, Overdrive-8, power-management log), which the set
// calls change. Every call is logged to BRUMEL_SIM_LOG, a set call with its whole record.
//
// The records are read and written byte by byte at the library's offsets, independently of the
// tool's own declarations, so a layout mistake on either side shows. State is per process.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim/model/ControllerModel.h"
#include "sim/model/Scenario.h"
#include "sim/model/SimLog.h"

namespace {

using brumel::sim::CardPlan;
using brumel::sim::ControllerModel;
using brumel::sim::HexBytes;
using brumel::sim::kOd8Features;
using brumel::sim::kPacketBytes;
using brumel::sim::OdnLevel;
using brumel::sim::Packet;
using brumel::sim::Scenario;
using brumel::sim::TuningPlan;
using Clock = std::chrono::steady_clock;

// Adapter information record: 1572 bytes on Windows; the Linux library's lacks the fields of
// its Windows tail and is 796 bytes (the build names the size for its system).
constexpr size_t kInfoBytes = BRUMEL_SIM_ADAPTER_INFO_BYTES;
static_assert(kInfoBytes == 1572 || kInfoBytes == 796);
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

// Overdrive-N records: capabilities (maximum levels, then ten ranges of five values from 8);
// performance levels (size, mode, number of levels, then 16 bytes per level); fan control
// (eight values); power limit (mode, TDP limit, maximum operating temperature); performance
// status (core and memory clock at 0 and 4, activity at 24).
constexpr size_t kCapabilitiesBytes = 208;
constexpr size_t kCapabilitiesRanges = 8;
constexpr size_t kRangeBytes = 20;
constexpr size_t kLevelsHead = 12;
constexpr size_t kLevelBytes = 16;
constexpr int32_t kMaxLevels = 256;
constexpr int32_t kLevelsCurrent = 0;
constexpr int32_t kLevelsDefault = 1;
constexpr int32_t kLevelsManual = 3;
constexpr size_t kPowerLimitBytes = 12;
constexpr size_t kStatusBytes = 72;
constexpr size_t kStatusActivity = 24;
// Overdrive 5: thermal controller (size, domain, domain index, flags), fan speed value (size,
// speed type, fan speed, flags).
constexpr int32_t kThermalBytes = 16;
constexpr int32_t kFanSpeedBytes = 16;
constexpr int32_t kFanSpeedPercent = 1;
constexpr int32_t kFanSpeedRpm = 2;
constexpr int kNoMoreControllers = -100;
// Overdrive 8: initial settings (count, capabilities, then one entry of feature id, minimum,
// maximum, default per table entry); current settings (count, one value per entry); set request
// (count, then value, requested, reset per entry); the table has 29 entries unless the scenario
// gives the card a longer one. Power-management log: size, then 256 entries of supported, value.
constexpr size_t kPmLogSensors = 256;
constexpr int32_t kPmLogBytes = 4 + 8 * kPmLogSensors;
constexpr int32_t kTemperatureGpu = 1;

// A read waiting for a slow reply gives up after this long.
constexpr int kReplyWaitCapMs = 10000;

// The library's declarations, as its vendor publishes them: the entry points carry no calling
// convention (so they are cdecl, whose names a 32-bit Windows build exports undecorated), and
// only the allocation callback the caller hands in is standard-call. The build names that
// convention for this system in BRUMEL_SIM_STDCALL (empty where there is only one convention);
// it links the library so that a standard-call export cannot pass for a cdecl one.
#ifndef BRUMEL_SIM_STDCALL
#error "the build defines BRUMEL_SIM_STDCALL"
#endif
using AllocCallback = void*(BRUMEL_SIM_STDCALL*)(int);

struct Card {
  Card(const CardPlan& s, const Scenario& scenario) : plan(s), model(scenario), now(s.tuning) {
    // The current tables start as the defaults unless the scenario gives them.
    if (now.gpuCurrent.empty()) now.gpuCurrent = now.gpuDefault;
    if (now.memoryCurrent.empty()) now.memoryCurrent = now.memoryDefault;
  }
  CardPlan plan;
  ControllerModel model;
  TuningPlan now;  // the tuning values as the set calls left them
  // Calls of each entry point on each library adapter index, for the card's result rules.
  std::map<std::pair<std::string, int>, uint32_t> calls;
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
  // A success the call returns in place of 0 (a warning or a mode change).
  void SucceedWith(int code) { success_ = code; }
  int Return(int result, const std::string& detail = std::string()) {
    if (result == kOk && success_ != kOk) result = success_;
    std::string line = text_ + " result=" + std::to_string(result);
    if (!detail.empty()) line += " | " + detail;
    brumel::sim::LogLine(line);
    return result;
  }

 private:
  std::string text_;
  int success_ = kOk;
};

// Results 1 to 4 are successes of the library: a call forced to one of them is carried out
// and returns that code where it would return 0.
bool IsSuccessCode(int result) { return result >= 1 && result <= 4; }

// A forced result: the one to return at once, or nothing when it is a success code (then
// handed to the call) or there is none.
std::optional<int> StopWith(std::optional<int> forced, Call* call) {
  if (forced && IsSuccessCode(*forced)) {
    if (call) call->SucceedWith(*forced);
    return std::nullopt;
  }
  return forced;
}

// The result the scenario forces for an entry point, if any (see StopWith).
std::optional<int> Forced(const Display& d, const char* entryPoint, Call* call = nullptr) {
  const auto it = d.scenario.display.results.find(entryPoint);
  if (it == d.scenario.display.results.end()) return std::nullopt;
  return StopWith(it->second, call);
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

// The result a rule of the card forces for this call of the entry point on that adapter; the
// call is counted.
std::optional<int> CardForced(Card& card, const char* entryPoint, int adapterIndex,
                              std::string* why, Call* call) {
  const uint32_t n = ++card.calls[{entryPoint, adapterIndex}];
  for (const brumel::sim::ResultRule& rule : card.plan.tuning.results) {
    if (rule.entryPoint != entryPoint || (rule.adapter >= 0 && rule.adapter != adapterIndex) ||
        n < rule.from || (rule.count != 0 && n - rule.from >= rule.count))
      continue;
    if (why) *why = "forced by scenario (call " + std::to_string(n) + ")";
    return StopWith(rule.result, call);
  }
  return std::nullopt;
}

// The checks every call on an adapter makes, in order: the result to return at once (and why,
// when there is more to say than the code), or nothing when the call may go on.
std::optional<int> Refuse(Display& d, const char* entryPoint, const void* context, int adapterIndex,
                          std::string* why, Call* call) {
  if (const auto forced = Forced(d, entryPoint, call)) {
    if (why) *why = "forced by scenario";
    return forced;
  }
  if (!KnownContext(d, context)) return kNotInitialised;
  Card* card = CardOf(d, adapterIndex);
  if (!card) return kBadAdapter;
  return CardForced(*card, entryPoint, adapterIndex, why, call);
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

  if (const auto forced = Forced(d, "ADL2_Display_WriteAndReadI2C", &call))
    return call.Return(*forced, "forced by scenario");
  if (size != static_cast<int32_t>(kI2cRequestBytes)) {
    return call.Return(kBadSize, "request size field " + std::to_string(size) + ", expected " +
                                     std::to_string(kI2cRequestBytes));
  }
  Card* card = CardOf(d, adapterIndex);
  if (!card) return call.Return(kBadAdapter);
  std::string why;
  if (const auto forced =
          CardForced(*card, "ADL2_Display_WriteAndReadI2C", adapterIndex, &why, &call))
    return call.Return(*forced, why);
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

// ---- tuning interfaces -----------------------------------------------------------------

// A call about one adapter: the display locked, the call's log line started, and the card once
// the common checks (context, adapter index, forced results) passed.
class AdapterCall {
 public:
  AdapterCall(const char* entryPoint, void* context, int adapterIndex)
      : d_(GetDisplay()), hold_(d_.lock), call_(entryPoint) {
    call_.Add("adapter", adapterIndex);
    std::string why;
    if (const auto stop = Refuse(d_, entryPoint, context, adapterIndex, &why, &call_)) {
      stop_ = *stop;
      why_ = why;
    } else {
      card_ = CardOf(d_, adapterIndex);
    }
  }
  // The result to return at once (logged), or nothing when the call goes on.
  std::optional<int> Stopped() {
    if (!stop_) return std::nullopt;
    return call_.Return(*stop_, why_);
  }
  Call& call() { return call_; }
  Card& card() { return *card_; }
  TuningPlan& now() { return card_->now; }
  Display& display() { return d_; }
  int Return(int result, const std::string& detail = std::string()) {
    return call_.Return(result, detail);
  }

 private:
  Display& d_;
  std::lock_guard<std::mutex> hold_;
  Call call_;
  Card* card_ = nullptr;
  std::optional<int> stop_;
  std::string why_;
};

std::string LevelText(const uint8_t* at) {
  return std::to_string(Get32(at)) + "/" + std::to_string(Get32(at + 4)) + "/" +
         std::to_string(Get32(at + 8)) + "/" + std::to_string(Get32(at + 12));
}

// The size field of a levels record must be that of its number of levels.
std::optional<int> CheckLevels(AdapterCall& t, const uint8_t* r, int32_t& count) {
  const int32_t size = Get32(r);
  count = Get32(r + 8);
  t.call().Add("size", size).Add("mode", Get32(r + 4)).Add("levels", count);
  const int64_t expected = static_cast<int64_t>(kLevelsHead) + int64_t{kLevelBytes} * count;
  if (count < 1 || count > kMaxLevels || size != expected) {
    return t.Return(kBadSize, "size field " + std::to_string(size) + " does not hold " +
                                  std::to_string(count) + " levels");
  }
  return std::nullopt;
}

int LevelsGet(const char* entryPoint, bool gpu, void* context, int adapterIndex, void* record) {
  AdapterCall t(entryPoint, context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (!record) return t.Return(kNullPointer);
  auto* r = static_cast<uint8_t*>(record);
  int32_t count = 0;
  if (const auto bad = CheckLevels(t, r, count)) return *bad;
  const int32_t mode = Get32(r + 4);
  if (mode != kLevelsCurrent && mode != kLevelsDefault) return t.Return(kBadParameter, "mode");
  const std::vector<OdnLevel>& table = mode == kLevelsCurrent
                                           ? (gpu ? t.now().gpuCurrent : t.now().memoryCurrent)
                                           : (gpu ? t.now().gpuDefault : t.now().memoryDefault);
  const int32_t n = std::min(count, static_cast<int32_t>(table.size()));
  std::string levels;
  for (int32_t k = 0; k < n; ++k) {
    uint8_t* at = r + kLevelsHead + kLevelBytes * static_cast<size_t>(k);
    const OdnLevel& level = table[static_cast<size_t>(k)];
    Put32(at, level.clock);
    Put32(at + 4, level.voltage);
    Put32(at + 8, level.enabled);
    Put32(at + 12, level.control);
    if (k) levels += ' ';
    levels += LevelText(at);
  }
  Put32(r + 8, n);
  return t.Return(kOk, levels);
}

int LevelsSet(const char* entryPoint, bool gpu, void* context, int adapterIndex, void* record) {
  AdapterCall t(entryPoint, context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (!record) return t.Return(kNullPointer);
  const auto* r = static_cast<const uint8_t*>(record);
  int32_t count = 0;
  if (const auto bad = CheckLevels(t, r, count)) return *bad;
  std::vector<OdnLevel> levels;
  std::string text;
  for (int32_t k = 0; k < count; ++k) {
    const uint8_t* at = r + kLevelsHead + kLevelBytes * static_cast<size_t>(k);
    levels.push_back({Get32(at), Get32(at + 4), Get32(at + 8), Get32(at + 12)});
    if (k) text += ' ';
    text += LevelText(at);
  }
  const int32_t mode = Get32(r + 4);
  if (mode != kLevelsDefault && mode != kLevelsManual)
    return t.Return(kBadParameter, text + " | mode");
  (gpu ? t.now().gpuCurrent : t.now().memoryCurrent) = std::move(levels);
  return t.Return(kOk, text);
}

std::string FanControlText(const uint8_t* r) {
  std::string text;
  for (int f = 0; f < brumel::sim::kFanControlFields; ++f) {
    if (f) text += ' ';
    text += std::string(brumel::sim::kFanControlNames[f]) + "=" + std::to_string(Get32(r + 4 * f));
  }
  return text;
}

std::string PowerLimitText(const uint8_t* r) {
  return "Mode=" + std::to_string(Get32(r)) + " TDPLimit=" + std::to_string(Get32(r + 4)) +
         " MaxOperatingTemperature=" + std::to_string(Get32(r + 8));
}

// A thermal controller the card has; refused (logged) otherwise.
std::optional<int> CheckController(AdapterCall& t, int controller) {
  t.call().Add("controller", controller);
  if (controller < 0 || static_cast<size_t>(controller) >= t.now().thermalDomains.size())
    return t.Return(kBadParameter, "no thermal controller " + std::to_string(controller));
  return std::nullopt;
}

// The size field must be 16, and the speed type one the library knows: a value is read and
// written in the unit the caller names.
std::optional<int> CheckFanSpeedValue(AdapterCall& t, const uint8_t* r) {
  const int32_t size = Get32(r);
  if (size != kFanSpeedBytes) {
    return t.Return(kBadSize, "size field " + std::to_string(size) + ", expected " +
                                  std::to_string(kFanSpeedBytes));
  }
  const int32_t type = Get32(r + 4);
  if (type != kFanSpeedPercent && type != kFanSpeedRpm) {
    return t.Return(kBadParameter,
                    "speed type " + std::to_string(type) + ", expected 1 (percent) or 2 (RPM)");
  }
  return std::nullopt;
}

// The card's values of the speed type of a fan speed value record.
std::vector<int32_t>& FanValues(TuningPlan& plan, const uint8_t* r) {
  return Get32(r + 4) == kFanSpeedPercent ? plan.fanPercents : plan.fanSpeeds;
}

// The value of a per-controller list: missing entries repeat the last one given.
int32_t PerController(const std::vector<int32_t>& values, int controller) {
  if (values.empty()) return 0;
  return values[std::min(static_cast<size_t>(controller), values.size() - 1)];
}

// The value a controller reports or was set to.
int32_t& ControllerValue(std::vector<int32_t>& values, size_t controllers, int controller) {
  if (values.size() < controllers) {
    const int32_t last = values.empty() ? 0 : values.back();
    values.resize(controllers, last);
  }
  return values[static_cast<size_t>(controller)];
}

// Hands out a block made through the caller's allocation callback.
void* HandOut(Display& d, size_t bytes) {
  if (!d.alloc || bytes > static_cast<size_t>(INT32_MAX)) return nullptr;
  return d.alloc(static_cast<int>(bytes));
}

std::optional<int> CheckOd8Count(AdapterCall& t, int32_t count, const char* what) {
  if (count != kOd8Features) {
    return t.Return(kBadSize, std::string(what) + " " + std::to_string(count) + ", expected " +
                                  std::to_string(kOd8Features));
  }
  return std::nullopt;
}

// ", table of N entries" for a card whose table is not the 29 entries of the features.
std::string TableText(AdapterCall& t) {
  if (t.now().od8Table == kOd8Features) return {};
  return ", table of " + std::to_string(t.now().od8Table) + " entries";
}

void PutOd8Feature(uint8_t* at, const TuningPlan& plan, int k) {
  const bool known = k >= 0 && k < kOd8Features;
  Put32(at, k);
  Put32(at + 4, known ? plan.od8[k].min : 0);
  Put32(at + 8, known ? plan.od8[k].max : 0);
  Put32(at + 12, known ? plan.od8[k].def : 0);
}

}  // namespace

extern "C" {

int ADL2_Main_Control_Create(AllocCallback callback, int enumConnected, void** context) {
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
  if (const auto forced = Forced(d, "ADL2_Main_Control_Create", &call))
    return call.Return(*forced, "forced by scenario");
  if (!context || !callback) return call.Return(kNullPointer);
  auto* tag = new ContextTag;
  d.contexts.insert(tag);
  d.alloc = callback;
  *context = tag;
  return call.Return(kOk);
}

int ADL2_Main_Control_Destroy(void* context) {
  Display& d = GetDisplay();
  std::lock_guard<std::mutex> hold(d.lock);
  Call call("ADL2_Main_Control_Destroy");
  if (const auto forced = Forced(d, "ADL2_Main_Control_Destroy", &call))
    return call.Return(*forced, "forced by scenario");
  if (!KnownContext(d, context)) return call.Return(kNotInitialised);
  d.contexts.erase(context);
  delete static_cast<ContextTag*>(context);
  return call.Return(kOk);
}

int ADL2_Adapter_NumberOfAdapters_Get(void* context, int* count) {
  Display& d = GetDisplay();
  std::lock_guard<std::mutex> hold(d.lock);
  Call call("ADL2_Adapter_NumberOfAdapters_Get");
  if (const auto forced = Forced(d, "ADL2_Adapter_NumberOfAdapters_Get", &call))
    return call.Return(*forced, "forced by scenario");
  if (!KnownContext(d, context)) return call.Return(kNotInitialised);
  if (!count) return call.Return(kNullPointer);
  *count = AdapterCount(d);
  return call.Return(kOk, "count " + std::to_string(*count));
}

int ADL2_Adapter_AdapterInfo_Get(void* context, void* table, int bytes) {
  Display& d = GetDisplay();
  std::lock_guard<std::mutex> hold(d.lock);
  Call call("ADL2_Adapter_AdapterInfo_Get");
  call.Add("bytes", bytes);
  if (const auto forced = Forced(d, "ADL2_Adapter_AdapterInfo_Get", &call))
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

int ADL2_Adapter_Active_Get(void* context, int adapterIndex, int* active) {
  AdapterCall t("ADL2_Adapter_Active_Get", context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (!active) return t.Return(kNullPointer);
  *active = 1;
  return t.Return(kOk, "active 1");
}

int ADL2_Overdrive_Caps(void* context, int adapterIndex, int* supported, int* enabled,
                        int* version) {
  AdapterCall t("ADL2_Overdrive_Caps", context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (!supported || !enabled || !version) return t.Return(kNullPointer);
  *supported = 1;
  *enabled = 1;
  *version = t.card().plan.overdrive;
  return t.Return(kOk, "supported 1 enabled 1 version " + std::to_string(*version));
}

int ADL2_Adapter_MemoryInfo_Get(void* context, int adapterIndex, void* info) {
  AdapterCall t("ADL2_Adapter_MemoryInfo_Get", context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (!info) return t.Return(kNullPointer);
  std::memset(info, 0, kMemoryInfoBytes);
  return t.Return(kOk);
}

int ADL2_Adapter_VideoBiosInfo_Get(void* context, int adapterIndex, void* info) {
  AdapterCall t("ADL2_Adapter_VideoBiosInfo_Get", context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (!info) return t.Return(kNullPointer);
  auto* bytes = static_cast<uint8_t*>(info);
  std::memset(bytes, 0, kBiosInfoBytes);
  PutText(bytes, "113-BENCH-SIM-001");
  PutText(bytes + kTextBytes, "001.001.000.001");
  PutText(bytes + 2 * kTextBytes, "2021/03/02");
  return t.Return(kOk);
}

int ADL2_Display_WriteAndReadI2C(void* context, int adapterIndex, void* request) {
  Display& d = GetDisplay();
  std::unique_lock<std::mutex> hold(d.lock);
  if (!KnownContext(d, context) && !Forced(d, "ADL2_Display_WriteAndReadI2C")) {
    return Call("ADL2_Display_WriteAndReadI2C")
        .Add("adapter", adapterIndex)
        .Return(kNotInitialised);
  }
  return I2cTransfer(d, hold, adapterIndex, static_cast<uint8_t*>(request));
}

int ADL2_OverdriveN_CapabilitiesX2_Get(void* context, int adapterIndex, void* record) {
  AdapterCall t("ADL2_OverdriveN_CapabilitiesX2_Get", context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (!record) return t.Return(kNullPointer);
  auto* r = static_cast<uint8_t*>(record);
  std::memset(r, 0, kCapabilitiesBytes);
  Put32(r, t.now().maxLevels);
  for (int i = 0; i < brumel::sim::kOdnRanges; ++i) {
    uint8_t* at = r + kCapabilitiesRanges + kRangeBytes * static_cast<size_t>(i);
    const brumel::sim::OdnRange& range = t.now().ranges[i];
    Put32(at, range.mode);
    Put32(at + 4, range.min);
    Put32(at + 8, range.max);
    Put32(at + 12, range.step);
    Put32(at + 16, range.def);
  }
  return t.Return(kOk, "levels " + std::to_string(t.now().maxLevels));
}

int ADL2_OverdriveN_SystemClocksX2_Get(void* context, int adapterIndex, void* r) {
  return LevelsGet("ADL2_OverdriveN_SystemClocksX2_Get", true, context, adapterIndex, r);
}
int ADL2_OverdriveN_SystemClocksX2_Set(void* context, int adapterIndex, void* r) {
  return LevelsSet("ADL2_OverdriveN_SystemClocksX2_Set", true, context, adapterIndex, r);
}
int ADL2_OverdriveN_MemoryClocksX2_Get(void* context, int adapterIndex, void* r) {
  return LevelsGet("ADL2_OverdriveN_MemoryClocksX2_Get", false, context, adapterIndex, r);
}
int ADL2_OverdriveN_MemoryClocksX2_Set(void* context, int adapterIndex, void* r) {
  return LevelsSet("ADL2_OverdriveN_MemoryClocksX2_Set", false, context, adapterIndex, r);
}

int ADL2_OverdriveN_FanControl_Get(void* context, int adapterIndex, void* record) {
  AdapterCall t("ADL2_OverdriveN_FanControl_Get", context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (!record) return t.Return(kNullPointer);
  auto* r = static_cast<uint8_t*>(record);
  for (int f = 0; f < brumel::sim::kFanControlFields; ++f) Put32(r + 4 * f, t.now().fanControl[f]);
  return t.Return(kOk, FanControlText(r));
}

int ADL2_OverdriveN_FanControl_Set(void* context, int adapterIndex, void* record) {
  AdapterCall t("ADL2_OverdriveN_FanControl_Set", context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (!record) return t.Return(kNullPointer);
  const auto* r = static_cast<const uint8_t*>(record);
  for (int f = 0; f < brumel::sim::kFanControlFields; ++f) t.now().fanControl[f] = Get32(r + 4 * f);
  return t.Return(kOk, FanControlText(r));
}

int ADL2_OverdriveN_PowerLimit_Get(void* context, int adapterIndex, void* record) {
  AdapterCall t("ADL2_OverdriveN_PowerLimit_Get", context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (!record) return t.Return(kNullPointer);
  auto* r = static_cast<uint8_t*>(record);
  Put32(r, t.now().powerMode);
  Put32(r + 4, t.now().tdpLimit);
  Put32(r + 8, t.now().maxOperatingTemperature);
  return t.Return(kOk, PowerLimitText(r));
}

int ADL2_OverdriveN_PowerLimit_Set(void* context, int adapterIndex, void* record) {
  AdapterCall t("ADL2_OverdriveN_PowerLimit_Set", context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (!record) return t.Return(kNullPointer);
  const auto* r = static_cast<const uint8_t*>(record);
  const std::string text = PowerLimitText(r);
  TuningPlan& now = t.now();
  switch (Get32(r)) {
    case 1:  // back to the defaults
      now.powerMode = 1;
      now.tdpLimit = now.ranges[brumel::sim::kOdnPower].def;
      now.maxOperatingTemperature = now.ranges[brumel::sim::kOdnPowerTuneTemperature].def;
      break;
    case 3:
      now.powerMode = 3;
      now.tdpLimit = Get32(r + 4);
      now.maxOperatingTemperature = Get32(r + 8);
      break;
    default:
      return t.Return(kBadParameter, text + " | mode");
  }
  return t.Return(kOk, text);
}

int ADL2_OverdriveN_Temperature_Get(void* context, int adapterIndex, int type, int* value) {
  AdapterCall t("ADL2_OverdriveN_Temperature_Get", context, adapterIndex);
  t.call().Add("type", type);
  if (const auto stop = t.Stopped()) return *stop;
  if (!value) return t.Return(kNullPointer);
  if (type != kTemperatureGpu) return t.Return(kNotSupported, "temperature type");
  *value = t.now().temperature;
  return t.Return(kOk, std::to_string(*value));
}

int ADL2_OverdriveN_PerformanceStatus_Get(void* context, int adapterIndex, void* record) {
  AdapterCall t("ADL2_OverdriveN_PerformanceStatus_Get", context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (!record) return t.Return(kNullPointer);
  auto* r = static_cast<uint8_t*>(record);
  std::memset(r, 0, kStatusBytes);
  Put32(r, t.now().coreClock);
  Put32(r + 4, t.now().memoryClock);
  Put32(r + kStatusActivity, t.now().gpuActivity);
  return t.Return(kOk, "CoreClock=" + std::to_string(t.now().coreClock) +
                           " MemoryClock=" + std::to_string(t.now().memoryClock) +
                           " GPUActivity=" + std::to_string(t.now().gpuActivity));
}

int ADL2_Overdrive5_ThermalDevices_Enum(void* context, int adapterIndex, int controller,
                                        void* record) {
  AdapterCall t("ADL2_Overdrive5_ThermalDevices_Enum", context, adapterIndex);
  t.call().Add("controller", controller);
  if (const auto stop = t.Stopped()) return *stop;
  if (!record) return t.Return(kNullPointer);
  auto* r = static_cast<uint8_t*>(record);
  const int32_t size = Get32(r);
  if (size != kThermalBytes) {
    return t.Return(kBadSize, "size field " + std::to_string(size) + ", expected " +
                                  std::to_string(kThermalBytes));
  }
  const std::vector<int32_t>& domains = t.now().thermalDomains;
  if (controller < 0 || static_cast<size_t>(controller) >= domains.size())
    return t.Return(kNoMoreControllers, "past the last controller");
  const int32_t domain = domains[static_cast<size_t>(controller)];
  Put32(r + 4, domain);
  Put32(r + 8, controller);
  Put32(r + 12, 0);
  return t.Return(kOk, "domain " + std::to_string(domain));
}

int ADL2_Overdrive5_FanSpeed_Get(void* context, int adapterIndex, int controller, void* record) {
  AdapterCall t("ADL2_Overdrive5_FanSpeed_Get", context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (const auto bad = CheckController(t, controller)) return *bad;
  if (!record) return t.Return(kNullPointer);
  auto* r = static_cast<uint8_t*>(record);
  if (const auto bad = CheckFanSpeedValue(t, r)) return *bad;
  const int32_t speed = PerController(FanValues(t.now(), r), controller);
  const int32_t flags = PerController(t.now().fanFlags, controller);
  Put32(r + 8, speed);
  Put32(r + 12, flags);
  return t.Return(kOk, "SpeedType=" + std::to_string(Get32(r + 4)) + " FanSpeed=" +
                           std::to_string(speed) + " Flags=" + std::to_string(flags));
}

int ADL2_Overdrive5_FanSpeed_Set(void* context, int adapterIndex, int controller, void* record) {
  AdapterCall t("ADL2_Overdrive5_FanSpeed_Set", context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (const auto bad = CheckController(t, controller)) return *bad;
  if (!record) return t.Return(kNullPointer);
  const auto* r = static_cast<const uint8_t*>(record);
  const std::string text =
      "Size=" + std::to_string(Get32(r)) + " SpeedType=" + std::to_string(Get32(r + 4)) +
      " FanSpeed=" + std::to_string(Get32(r + 8)) + " Flags=" + std::to_string(Get32(r + 12));
  if (const auto bad = CheckFanSpeedValue(t, r)) return *bad;
  const size_t controllers = t.now().thermalDomains.size();
  ControllerValue(FanValues(t.now(), r), controllers, controller) = Get32(r + 8);
  ControllerValue(t.now().fanFlags, controllers, controller) = Get32(r + 12);
  return t.Return(kOk, text);
}

int ADL2_Overdrive5_FanSpeedToDefault_Set(void* context, int adapterIndex, int controller) {
  AdapterCall t("ADL2_Overdrive5_FanSpeedToDefault_Set", context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (const auto bad = CheckController(t, controller)) return *bad;
  const size_t controllers = t.now().thermalDomains.size();
  const TuningPlan& plan = t.card().plan.tuning;
  ControllerValue(t.now().fanSpeeds, controllers, controller) =
      PerController(plan.fanSpeeds, controller);
  ControllerValue(t.now().fanPercents, controllers, controller) =
      PerController(plan.fanPercents, controller);
  ControllerValue(t.now().fanFlags, controllers, controller) = 0;
  return t.Return(kOk);
}

int ADL2_Adapter_VRAMUsage_Get(void* context, int adapterIndex, int* usage) {
  AdapterCall t("ADL2_Adapter_VRAMUsage_Get", context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (!usage) return t.Return(kNullPointer);
  *usage = t.now().vramUsage;
  return t.Return(kOk, std::to_string(*usage));
}

int ADL2_Overdrive8_Init_SettingX2_Get(void* context, int adapterIndex, int* capabilities,
                                       int* count, void** list) {
  AdapterCall t("ADL2_Overdrive8_Init_SettingX2_Get", context, adapterIndex);
  if (count) t.call().Add("count", *count);
  if (const auto stop = t.Stopped()) return *stop;
  if (!capabilities || !count || !list) return t.Return(kNullPointer);
  if (const auto bad = CheckOd8Count(t, *count, "count")) return *bad;
  if (*list) return t.Return(kBadParameter, "the list pointer is not empty");
  const int32_t n = t.now().od8Count;
  const size_t entries = static_cast<size_t>(std::max(n, 1));
  auto* block = static_cast<uint8_t*>(HandOut(t.display(), 16 * entries));
  if (!block) return t.Return(kError, "no memory from the allocation callback");
  for (size_t k = 0; k < entries; ++k) PutOd8Feature(block + 16 * k, t.now(), static_cast<int>(k));
  *capabilities = t.now().od8Capabilities;
  *count = n;
  *list = block;
  return t.Return(kOk, "capabilities " + Hex2(t.now().od8Capabilities) + ", list of " +
                           std::to_string(entries) + " features handed out, count " +
                           std::to_string(n));
}

int ADL2_Overdrive8_Current_SettingX2_Get(void* context, int adapterIndex, int* count, int** list) {
  AdapterCall t("ADL2_Overdrive8_Current_SettingX2_Get", context, adapterIndex);
  if (count) t.call().Add("count", *count);
  if (const auto stop = t.Stopped()) return *stop;
  if (!count || !list) return t.Return(kNullPointer);
  if (const auto bad = CheckOd8Count(t, *count, "count")) return *bad;
  if (*list) return t.Return(kBadParameter, "the list pointer is not empty");
  const int32_t n = t.now().od8Count;
  const size_t entries = static_cast<size_t>(std::max(n, 1));
  auto* block = static_cast<uint8_t*>(HandOut(t.display(), 4 * entries));
  if (!block) return t.Return(kError, "no memory from the allocation callback");
  for (size_t k = 0; k < entries; ++k)
    Put32(block + 4 * k, k < static_cast<size_t>(kOd8Features) ? t.now().od8[k].current : 0);
  *count = n;
  *list = reinterpret_cast<int*>(block);
  return t.Return(
      kOk, "list of " + std::to_string(entries) + " values handed out, count " + std::to_string(n));
}

// The record forms write and read as many entries as the card's table has (its driver's
// length), whatever room the caller's record has: a caller sized for fewer entries is
// overrun, as by the real library.
int ADL2_Overdrive8_Init_Setting_Get(void* context, int adapterIndex, void* record) {
  AdapterCall t("ADL2_Overdrive8_Init_Setting_Get", context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (!record) return t.Return(kNullPointer);
  auto* r = static_cast<uint8_t*>(record);
  if (const auto bad = CheckOd8Count(t, Get32(r), "count field")) return *bad;
  const size_t table = static_cast<size_t>(t.now().od8Table);
  std::memset(r, 0, 8 + 16 * table);
  Put32(r, t.now().od8Count);
  Put32(r + 4, t.now().od8Capabilities);
  for (size_t k = 0; k < table; ++k) PutOd8Feature(r + 8 + 16 * k, t.now(), static_cast<int>(k));
  return t.Return(kOk, "capabilities " + Hex2(t.now().od8Capabilities) + ", count " +
                           std::to_string(t.now().od8Count) + TableText(t));
}

int ADL2_Overdrive8_Current_Setting_Get(void* context, int adapterIndex, void* record) {
  AdapterCall t("ADL2_Overdrive8_Current_Setting_Get", context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (!record) return t.Return(kNullPointer);
  auto* r = static_cast<uint8_t*>(record);
  if (const auto bad = CheckOd8Count(t, Get32(r), "count field")) return *bad;
  const size_t table = static_cast<size_t>(t.now().od8Table);
  std::memset(r, 0, 4 + 4 * table);
  Put32(r, t.now().od8Count);
  for (int k = 0; k < kOd8Features; ++k) Put32(r + 4 + 4 * k, t.now().od8[k].current);
  return t.Return(kOk, "count " + std::to_string(t.now().od8Count) + TableText(t));
}

int ADL2_Overdrive8_Setting_Set(void* context, int adapterIndex, void* request, void* current) {
  AdapterCall t("ADL2_Overdrive8_Setting_Set", context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (!request || !current) return t.Return(kNullPointer);
  const auto* r = static_cast<const uint8_t*>(request);
  if (const auto bad = CheckOd8Count(t, Get32(r), "count field")) return *bad;
  const int table = t.now().od8Table;
  std::string text;
  std::string refused;
  for (int k = 0; k < table; ++k) {
    const uint8_t* at = r + 4 + 12 * k;
    const int32_t value = Get32(at);
    const int32_t requested = Get32(at + 4);
    const int32_t reset = Get32(at + 8);
    // Past the 29 features: logged only when the entry is not empty.
    if (k >= kOd8Features && value == 0 && requested == 0 && reset == 0) continue;
    if (k) text += ' ';
    text += std::to_string(k) + "=" + std::to_string(value) + "/" + std::to_string(requested) +
            "/" + std::to_string(reset);
    if (!refused.empty()) continue;
    if (k >= kOd8Features) {
      refused = "entry " + std::to_string(k) + " is past the features the caller knows";
      continue;
    }
    const brumel::sim::Od8Feature& f = t.now().od8[k];
    if (requested && !reset && (value < f.min || value > f.max)) {
      refused = "feature " + std::to_string(k) + " value " + std::to_string(value) + " outside " +
                std::to_string(f.min) + " to " + std::to_string(f.max);
    }
  }
  if (!refused.empty()) return t.Return(kBadParameter, text + " | " + refused);
  for (int k = 0; k < kOd8Features; ++k) {
    const uint8_t* at = r + 4 + 12 * k;
    brumel::sim::Od8Feature& f = t.now().od8[k];
    if (Get32(at + 4)) f.current = Get32(at + 8) ? f.def : Get32(at);
  }
  // The [out] record: the current values after the request, in the table's length.
  auto* out = static_cast<uint8_t*>(current);
  std::memset(out, 0, 4 + 4 * static_cast<size_t>(table));
  Put32(out, t.now().od8Count);
  for (int k = 0; k < kOd8Features; ++k) Put32(out + 4 + 4 * k, t.now().od8[k].current);
  return t.Return(kOk, text);
}

int ADL2_New_QueryPMLogData_Get(void* context, int adapterIndex, void* record) {
  AdapterCall t("ADL2_New_QueryPMLogData_Get", context, adapterIndex);
  if (const auto stop = t.Stopped()) return *stop;
  if (!record) return t.Return(kNullPointer);
  auto* r = static_cast<uint8_t*>(record);
  std::memset(r, 0, static_cast<size_t>(kPmLogBytes));
  Put32(r, kPmLogBytes);
  std::string text;
  for (const auto& [sensor, value] : t.now().pmLog) {
    uint8_t* at = r + 4 + 8 * static_cast<size_t>(sensor);
    Put32(at, 1);
    Put32(at + 4, value);
    if (!text.empty()) text += ' ';
    text += std::to_string(sensor) + ":" + std::to_string(value);
  }
  return t.Return(kOk, text);
}

}  // extern "C"
