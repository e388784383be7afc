// Sound through the PulseAudio client libraries (PipeWire serves the same protocol), loaded at
// run time from the system: the meter records the default output's monitor and follows its mute
// state through the asynchronous client (libpulse), the playback decodes the file with libmpg123
// and writes it to a playback stream (libpulse-simple). Nothing here waits for the sound server
// without a bound. The entry points are declared here from the libraries' public documentation.
#include "platform/Audio.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/DynLib.h"
#include "platform/Files.h"
#include "platform/Time.h"

namespace plat {

namespace {

// ---- libpulse-simple ---------------------------------------------------------------------

struct PaSimple;  // opaque connection

constexpr int kPaStreamPlayback = 1;
constexpr int kPaSampleS16le = 3;
constexpr int kPaSampleFloat32le = 5;
constexpr uint32_t kPaDefault = 0xFFFFFFFFu;  // "(uint32_t) -1": the server's choice

struct PaSampleSpec {
  int format;
  uint32_t rate;
  uint8_t channels;
};

struct PaBufferAttr {
  uint32_t maxlength;
  uint32_t tlength;
  uint32_t prebuf;
  uint32_t minreq;
  uint32_t fragsize;
};

using PaSimpleNewFn = PaSimple* (*)(const char* server, const char* name, int direction,
                                    const char* device, const char* streamName,
                                    const PaSampleSpec* sampleFormat, const void* channelMap,
                                    const PaBufferAttr* attr, int* error);
using PaSimpleWriteFn = int (*)(PaSimple* s, const void* data, size_t bytes, int* error);
using PaSimpleDrainFn = int (*)(PaSimple* s, int* error);
using PaSimpleFreeFn = void (*)(PaSimple* s);

struct PulseSimpleApi {
  PaSimpleNewFn open = nullptr;
  PaSimpleWriteFn write = nullptr;
  PaSimpleDrainFn drain = nullptr;
  PaSimpleFreeFn free = nullptr;
  bool Complete() const { return open && write && drain && free; }
};

// Loaded once and kept for the process: threads of the meter and the playback may still use it.
const PulseSimpleApi* PulseSimple() {
  static const PulseSimpleApi* api = []() -> const PulseSimpleApi* {
    LibHandle lib = LoadSystemLibrary("libpulse-simple.so.0");
    if (!lib) return nullptr;
    auto* a = new PulseSimpleApi;
    a->open = LookupEntryAs<PaSimpleNewFn>(lib, "pa_simple_new");
    a->write = LookupEntryAs<PaSimpleWriteFn>(lib, "pa_simple_write");
    a->drain = LookupEntryAs<PaSimpleDrainFn>(lib, "pa_simple_drain");
    a->free = LookupEntryAs<PaSimpleFreeFn>(lib, "pa_simple_free");
    if (!a->Complete()) {
      delete a;
      return nullptr;
    }
    return a;
  }();
  return api;
}

constexpr const char* kClientName = "BrumelISP";

// ---- libmpg123 ---------------------------------------------------------------------------

struct Mpg123Handle;  // opaque decoder

constexpr int kMpg123Ok = 0;
constexpr int kMpg123NewFormat = -11;
constexpr int kMpg123EncSigned16 = 0xD0;

using Mpg123InitFn = int (*)();
using Mpg123NewFn = Mpg123Handle* (*)(const char* decoder, int* error);
using Mpg123OpenFn = int (*)(Mpg123Handle* h, const char* path);
using Mpg123GetFormatFn = int (*)(Mpg123Handle* h, long* rate, int* channels, int* encoding);
using Mpg123FormatNoneFn = int (*)(Mpg123Handle* h);
using Mpg123FormatFn = int (*)(Mpg123Handle* h, long rate, int channels, int encodings);
using Mpg123ReadFn = int (*)(Mpg123Handle* h, void* out, size_t size, size_t* done);
using Mpg123CloseFn = int (*)(Mpg123Handle* h);
using Mpg123DeleteFn = void (*)(Mpg123Handle* h);

struct Mpg123Api {
  Mpg123InitFn init = nullptr;
  Mpg123NewFn create = nullptr;
  Mpg123OpenFn open = nullptr;
  Mpg123GetFormatFn getFormat = nullptr;
  Mpg123FormatNoneFn formatNone = nullptr;
  Mpg123FormatFn format = nullptr;
  Mpg123ReadFn read = nullptr;
  Mpg123CloseFn close = nullptr;
  Mpg123DeleteFn destroy = nullptr;
  bool Complete() const {
    return init && create && open && getFormat && formatNone && format && read && close && destroy;
  }
};

const Mpg123Api* Mpg123() {
  static const Mpg123Api* api = []() -> const Mpg123Api* {
    LibHandle lib = LoadSystemLibrary("libmpg123.so.0");
    if (!lib) return nullptr;
    auto* a = new Mpg123Api;
    a->init = LookupEntryAs<Mpg123InitFn>(lib, "mpg123_init");
    a->create = LookupEntryAs<Mpg123NewFn>(lib, "mpg123_new");
    a->open = LookupEntryAs<Mpg123OpenFn>(lib, "mpg123_open");
    a->getFormat = LookupEntryAs<Mpg123GetFormatFn>(lib, "mpg123_getformat");
    a->formatNone = LookupEntryAs<Mpg123FormatNoneFn>(lib, "mpg123_format_none");
    a->format = LookupEntryAs<Mpg123FormatFn>(lib, "mpg123_format");
    a->read = LookupEntryAs<Mpg123ReadFn>(lib, "mpg123_read");
    a->close = LookupEntryAs<Mpg123CloseFn>(lib, "mpg123_close");
    a->destroy = LookupEntryAs<Mpg123DeleteFn>(lib, "mpg123_delete");
    if (!a->Complete() || a->init() != kMpg123Ok) {
      delete a;
      return nullptr;
    }
    return a;
  }();
  return api;
}

// ---- libpulse: the asynchronous client, for the meter and the mute state ------------------

struct PaThreadedMainloop;  // opaque
struct PaMainloopApi;
struct PaContext;
struct PaStream;
struct PaOperation;

constexpr int kPaContextNoAutospawn = 1;
enum PaContextState { kPaContextReady = 4, kPaContextFailed = 5, kPaContextTerminated = 6 };
enum PaStreamState { kPaStreamReady = 2, kPaStreamFailed = 3, kPaStreamTerminated = 4 };
constexpr uint32_t kPaStreamAdjustLatency = 0x2000;
constexpr int kPaOperationRunning = 0;

// The leading fields of the server's sink description, as the library lays them out (natural
// layout of a 64-bit build), up to the mute flag, the only field read. The record itself is the
// library's; it is longer.
struct PaChannelMap {
  uint8_t channels;
  int map[32];
};
struct PaCvolume {
  uint8_t channels;
  uint32_t values[32];
};
struct PaSinkInfoHead {
  const char* name;
  uint32_t index;
  const char* description;
  PaSampleSpec sampleSpec;
  PaChannelMap channelMap;
  uint32_t ownerModule;
  PaCvolume volume;
  int mute;
};
static_assert(sizeof(void*) == 8, "the sink description is laid out for a 64-bit build");
static_assert(sizeof(PaSampleSpec) == 12 && sizeof(PaChannelMap) == 132 &&
              sizeof(PaCvolume) == 132);
static_assert(offsetof(PaSinkInfoHead, index) == 8 && offsetof(PaSinkInfoHead, description) == 16 &&
              offsetof(PaSinkInfoHead, sampleSpec) == 24 &&
              offsetof(PaSinkInfoHead, channelMap) == 36 &&
              offsetof(PaSinkInfoHead, ownerModule) == 168 &&
              offsetof(PaSinkInfoHead, volume) == 172 && offsetof(PaSinkInfoHead, mute) == 304);

using PaSinkInfoCb = void (*)(PaContext* c, const PaSinkInfoHead* info, int eol, void* userdata);
using PaStreamRequestCb = void (*)(PaStream* s, size_t nbytes, void* userdata);

struct PulseApi {
  PaThreadedMainloop* (*mainloopNew)() = nullptr;
  void (*mainloopFree)(PaThreadedMainloop*) = nullptr;
  int (*mainloopStart)(PaThreadedMainloop*) = nullptr;
  void (*mainloopStop)(PaThreadedMainloop*) = nullptr;
  void (*mainloopLock)(PaThreadedMainloop*) = nullptr;
  void (*mainloopUnlock)(PaThreadedMainloop*) = nullptr;
  PaMainloopApi* (*mainloopGetApi)(PaThreadedMainloop*) = nullptr;
  PaContext* (*contextNew)(PaMainloopApi*, const char* name) = nullptr;
  int (*contextConnect)(PaContext*, const char* server, int flags, const void* spawnApi) = nullptr;
  int (*contextGetState)(const PaContext*) = nullptr;
  void (*contextDisconnect)(PaContext*) = nullptr;
  void (*contextUnref)(PaContext*) = nullptr;
  PaOperation* (*getSinkInfoByName)(PaContext*, const char* name, PaSinkInfoCb cb,
                                    void* userdata) = nullptr;
  int (*operationGetState)(const PaOperation*) = nullptr;
  void (*operationUnref)(PaOperation*) = nullptr;
  PaStream* (*streamNew)(PaContext*, const char* name, const PaSampleSpec* ss,
                         const void* map) = nullptr;
  int (*streamConnectRecord)(PaStream*, const char* dev, const PaBufferAttr* attr,
                             uint32_t flags) = nullptr;
  void (*streamSetReadCallback)(PaStream*, PaStreamRequestCb cb, void* userdata) = nullptr;
  int (*streamPeek)(PaStream*, const void** data, size_t* nbytes) = nullptr;
  int (*streamDrop)(PaStream*) = nullptr;
  int (*streamGetState)(const PaStream*) = nullptr;
  int (*streamDisconnect)(PaStream*) = nullptr;
  void (*streamUnref)(PaStream*) = nullptr;

  bool Complete() const {
    return mainloopNew && mainloopFree && mainloopStart && mainloopStop && mainloopLock &&
           mainloopUnlock && mainloopGetApi && contextNew && contextConnect && contextGetState &&
           contextDisconnect && contextUnref && getSinkInfoByName && operationGetState &&
           operationUnref && streamNew && streamConnectRecord && streamSetReadCallback &&
           streamPeek && streamDrop && streamGetState && streamDisconnect && streamUnref;
  }
};

template <typename Fn>
void Resolve(LibHandle lib, Fn& fn, const char* name) {
  fn = LookupEntryAs<Fn>(lib, name);
}

const PulseApi* Pulse() {
  static const PulseApi* api = []() -> const PulseApi* {
    LibHandle lib = LoadSystemLibrary("libpulse.so.0");
    if (!lib) return nullptr;
    auto* a = new PulseApi;
    Resolve(lib, a->mainloopNew, "pa_threaded_mainloop_new");
    Resolve(lib, a->mainloopFree, "pa_threaded_mainloop_free");
    Resolve(lib, a->mainloopStart, "pa_threaded_mainloop_start");
    Resolve(lib, a->mainloopStop, "pa_threaded_mainloop_stop");
    Resolve(lib, a->mainloopLock, "pa_threaded_mainloop_lock");
    Resolve(lib, a->mainloopUnlock, "pa_threaded_mainloop_unlock");
    Resolve(lib, a->mainloopGetApi, "pa_threaded_mainloop_get_api");
    Resolve(lib, a->contextNew, "pa_context_new");
    Resolve(lib, a->contextConnect, "pa_context_connect");
    Resolve(lib, a->contextGetState, "pa_context_get_state");
    Resolve(lib, a->contextDisconnect, "pa_context_disconnect");
    Resolve(lib, a->contextUnref, "pa_context_unref");
    Resolve(lib, a->getSinkInfoByName, "pa_context_get_sink_info_by_name");
    Resolve(lib, a->operationGetState, "pa_operation_get_state");
    Resolve(lib, a->operationUnref, "pa_operation_unref");
    Resolve(lib, a->streamNew, "pa_stream_new");
    Resolve(lib, a->streamConnectRecord, "pa_stream_connect_record");
    Resolve(lib, a->streamSetReadCallback, "pa_stream_set_read_callback");
    Resolve(lib, a->streamPeek, "pa_stream_peek");
    Resolve(lib, a->streamDrop, "pa_stream_drop");
    Resolve(lib, a->streamGetState, "pa_stream_get_state");
    Resolve(lib, a->streamDisconnect, "pa_stream_disconnect");
    Resolve(lib, a->streamUnref, "pa_stream_unref");
    if (!a->Complete()) {
      delete a;
      return nullptr;
    }
    return a;
  }();
  return api;
}

// ---- meter -------------------------------------------------------------------------------

// The monitor of the default output is recorded as 32-bit float samples (full scale 1.0) in
// fragments of about 10 ms; the client library's own thread hands each fragment to a callback
// that keeps its peak, so a look at the meter never waits for the server. The mute state of the
// default output is asked of the server in the background: each look gives the latest answer and
// asks again. Every wait for the server at the start is bounded; stopping never waits for it.
constexpr uint32_t kMeterRate = 48000;
constexpr uint8_t kMeterChannels = 2;
constexpr size_t kMeterFragmentBytes = kMeterRate / 100 * kMeterChannels * sizeof(float);
constexpr unsigned kServerWaitMs = 2000;  // for the connection and the first answers
constexpr const char* kDefaultSink = "@DEFAULT_SINK@";
constexpr const char* kDefaultMonitor = "@DEFAULT_MONITOR@";

class MonitorMeter : public AudioMeter {
 public:
  explicit MonitorMeter(const PulseApi& pa) : pa_(pa) {}
  ~MonitorMeter() override { Close(); }

  // Connects, starts the recording and learns the mute state; false when any of it fails or
  // takes longer than kServerWaitMs.
  bool Open() {
    loop_ = pa_.mainloopNew();
    if (!loop_) return false;
    Locked([&] {
      context_ = pa_.contextNew(pa_.mainloopGetApi(loop_), kClientName);
      if (context_ && pa_.contextConnect(context_, nullptr, kPaContextNoAutospawn, nullptr) < 0) {
        pa_.contextUnref(context_);
        context_ = nullptr;
      }
    });
    if (!context_ || pa_.mainloopStart(loop_) < 0) return false;
    running_ = true;
    if (!WaitFor([&] { return ContextState(); })) return false;

    Locked([&] {
      const PaSampleSpec format{kPaSampleFloat32le, kMeterRate, kMeterChannels};
      stream_ = pa_.streamNew(context_, "peak meter", &format, nullptr);
      if (!stream_) return;
      pa_.streamSetReadCallback(stream_, &MonitorMeter::OnData, this);
      const PaBufferAttr attr{kPaDefault, kPaDefault, kPaDefault, kPaDefault,
                              static_cast<uint32_t>(kMeterFragmentBytes)};
      pa_.streamConnectRecord(stream_, kDefaultMonitor, &attr, kPaStreamAdjustLatency);
    });
    if (!stream_ || !WaitFor([&] { return StreamState(); })) return false;

    AskMuteState();
    return WaitFor([&] { return answered_.load() ? 1 : 0; });
  }

  bool IsMuted() override {
    AskMuteState();
    return muted_.load();
  }
  float PeakValue() override { return peak_.load(); }

 private:
  template <typename Fn>
  void Locked(Fn fn) {
    pa_.mainloopLock(loop_);
    fn();
    pa_.mainloopUnlock(loop_);
  }

  // 1 ready, -1 failed, 0 not yet.
  int ContextState() {
    int state = 0;
    Locked([&] { state = pa_.contextGetState(context_); });
    if (state == kPaContextReady) return 1;
    return state == kPaContextFailed || state == kPaContextTerminated ? -1 : 0;
  }
  int StreamState() {
    int state = 0;
    Locked([&] { state = pa_.streamGetState(stream_); });
    if (state == kPaStreamReady) return 1;
    return state == kPaStreamFailed || state == kPaStreamTerminated ? -1 : 0;
  }

  // Polls check (1 done, -1 failed, 0 not yet) until it is done or kServerWaitMs pass.
  template <typename Check>
  bool WaitFor(Check check) {
    const uint64_t deadline = MonotonicMs() + kServerWaitMs;
    for (;;) {
      const int state = check();
      if (state != 0) return state > 0;
      if (MonotonicMs() >= deadline) return false;
      SleepMs(2);
    }
  }

  // Asks for the default output's description unless a question is still open. Never waits.
  void AskMuteState() {
    Locked([&] {
      if (query_ && pa_.operationGetState(query_) == kPaOperationRunning) return;
      if (query_) pa_.operationUnref(query_);
      query_ = pa_.getSinkInfoByName(context_, kDefaultSink, &MonitorMeter::OnSinkInfo, this);
    });
  }

  static void OnSinkInfo(PaContext*, const PaSinkInfoHead* info, int eol, void* self) {
    auto* meter = static_cast<MonitorMeter*>(self);
    if (eol == 0 && info) meter->muted_ = info->mute != 0;
    if (eol != 0) meter->answered_ = true;  // the end of the answer (or an error)
  }

  static void OnData(PaStream* stream, size_t, void* self) {
    auto* meter = static_cast<MonitorMeter*>(self);
    const PulseApi& pa = meter->pa_;
    float peak = -1.0f;
    for (;;) {
      const void* data = nullptr;
      size_t bytes = 0;
      if (pa.streamPeek(stream, &data, &bytes) < 0 || bytes == 0) break;
      // A hole (no data) is dropped like data.
      const auto* samples = static_cast<const float*>(data);
      for (size_t i = 0; data && i < bytes / sizeof(float); ++i) {
        const float magnitude = std::fabs(samples[i]);
        if (magnitude > peak) peak = magnitude;  // NaN never wins
      }
      if (peak < 0.0f) peak = 0.0f;
      pa.streamDrop(stream);
    }
    if (peak >= 0.0f) meter->peak_ = peak > 1.0f ? 1.0f : peak;
  }

  void Close() {
    if (!loop_) return;
    if (running_) {
      Locked([&] {
        if (query_) pa_.operationUnref(query_);
        query_ = nullptr;
        if (stream_) {
          pa_.streamSetReadCallback(stream_, nullptr, nullptr);
          pa_.streamDisconnect(stream_);
          pa_.streamUnref(stream_);
          stream_ = nullptr;
        }
        if (context_) {
          pa_.contextDisconnect(context_);
          pa_.contextUnref(context_);
          context_ = nullptr;
        }
      });
      pa_.mainloopStop(loop_);  // ends the library's thread; it waits for nothing else
    } else {
      if (stream_) pa_.streamUnref(stream_);
      if (context_) pa_.contextUnref(context_);
    }
    pa_.mainloopFree(loop_);
    loop_ = nullptr;
  }

  const PulseApi& pa_;
  PaThreadedMainloop* loop_ = nullptr;
  PaContext* context_ = nullptr;
  PaStream* stream_ = nullptr;
  PaOperation* query_ = nullptr;
  bool running_ = false;
  std::atomic<bool> muted_{false};
  std::atomic<bool> answered_{false};
  std::atomic<float> peak_{0.0f};
};

// ---- playback ----------------------------------------------------------------------------

// How long a stop waits for the feeder: a write takes at most one 10 ms block.
constexpr unsigned kStopWaitMs = 30;

class Player {
 public:
  void Start(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    if (feeder_.joinable()) return;  // one playback at a time
    stop_ = false;
    finished_ = false;
    feeder_ = std::thread([this, path] {
      Feed(path);
      finished_ = true;
    });
  }

  // A feeder held up by a sound server that stopped answering is not waited for beyond
  // kStopWaitMs: it is left to end with the process.
  void Stop() {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
    if (!feeder_.joinable()) return;
    const uint64_t deadline = MonotonicMs() + kStopWaitMs;
    while (!finished_ && MonotonicMs() < deadline) SleepMs(1);
    if (finished_) {
      feeder_.join();
    } else {
      feeder_.detach();
    }
  }

 private:
  void Feed(const std::string& path) {
    const Mpg123Api* mpg = Mpg123();
    const PulseSimpleApi* pa = PulseSimple();
    if (!mpg || !pa) return;
    int error = 0;
    Mpg123Handle* decoder = mpg->create(nullptr, &error);
    if (!decoder) return;
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg->open(decoder, path.c_str()) == kMpg123Ok &&
        mpg->getFormat(decoder, &rate, &channels, &encoding) == kMpg123Ok && rate > 0 &&
        (channels == 1 || channels == 2)) {
      // Keep the stream's rate and channels, as 16-bit signed samples.
      mpg->formatNone(decoder);
      mpg->format(decoder, rate, channels, kMpg123EncSigned16);
      PlayDecoded(*mpg, *pa, decoder, rate, channels);
      mpg->close(decoder);
    }
    mpg->destroy(decoder);
  }

  void PlayDecoded(const Mpg123Api& mpg, const PulseSimpleApi& pa, Mpg123Handle* decoder, long rate,
                   int channels) {
    const PaSampleSpec sampleFormat{kPaSampleS16le, static_cast<uint32_t>(rate),
                                    static_cast<uint8_t>(channels)};
    // A short server buffer (about 200 ms), so a stop is not held up by a long write.
    const uint32_t bytesPerSecond =
        static_cast<uint32_t>(rate) * 2u * static_cast<uint32_t>(channels);
    const PaBufferAttr attr{kPaDefault, bytesPerSecond / 5, kPaDefault, kPaDefault, kPaDefault};
    int error = 0;
    PaSimple* out = pa.open(nullptr, kClientName, kPaStreamPlayback, nullptr, "music",
                            &sampleFormat, nullptr, &attr, &error);
    if (!out) return;
    std::vector<unsigned char> buffer(bytesPerSecond / 100);  // 10 ms per write
    bool ended = false;
    while (!stop_) {
      size_t done = 0;
      const int rc = mpg.read(decoder, buffer.data(), buffer.size(), &done);
      done = std::min(done, buffer.size());  // never more than the buffer holds
      if (done > 0 && pa.write(out, buffer.data(), done, &error) < 0) break;
      if (rc != kMpg123Ok && rc != kMpg123NewFormat) {
        ended = true;  // end of file or an undecodable stream
        break;
      }
    }
    if (ended && !stop_) pa.drain(out, &error);
    pa.free(out);
  }

  std::mutex lock_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{true};
  std::thread feeder_;
};

// Never destroyed: a feeder left running may still look at it while the process ends.
Player& ThePlayer() {
  static Player* player = new Player;
  return *player;
}

}  // namespace

void StartAudioPlayback(const std::string& path) {
  // A regular file only: the decoder would wait on a FIFO, or read a device without end.
  RegularFile file;
  if (file.Open(path) != RegularFile::OpenResult::Opened) return;
  file.Close();
  ThePlayer().Start(path);
}

void StopAudioPlayback() { ThePlayer().Stop(); }

std::unique_ptr<AudioMeter> OpenOutputMeter() {
  const PulseApi* pa = Pulse();
  if (!pa) return nullptr;
  auto meter = std::make_unique<MonitorMeter>(*pa);
  if (!meter->Open()) return nullptr;
  return meter;
}

}  // namespace plat
