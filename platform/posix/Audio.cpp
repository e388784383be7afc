// Sound through the PulseAudio client libraries (PipeWire serves the same protocol), loaded at
// run time: the meter records the default output's monitor, the playback decodes the file with
// libmpg123 and writes it to a playback stream. The entry points are declared here from the
// libraries' public documentation.
#include "platform/Audio.h"

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/DynLib.h"
#include "platform/Files.h"

namespace plat {

namespace {

// ---- libpulse-simple ---------------------------------------------------------------------

struct PaSimple;  // opaque connection

constexpr int kPaStreamPlayback = 1;
constexpr int kPaStreamRecord = 2;
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
using PaSimpleReadFn = int (*)(PaSimple* s, void* data, size_t bytes, int* error);
using PaSimpleWriteFn = int (*)(PaSimple* s, const void* data, size_t bytes, int* error);
using PaSimpleDrainFn = int (*)(PaSimple* s, int* error);
using PaSimpleFreeFn = void (*)(PaSimple* s);

struct PulseSimpleApi {
  PaSimpleNewFn open = nullptr;
  PaSimpleReadFn read = nullptr;
  PaSimpleWriteFn write = nullptr;
  PaSimpleDrainFn drain = nullptr;
  PaSimpleFreeFn free = nullptr;
  bool Complete() const { return open && read && write && drain && free; }
};

// Loaded once and kept for the process: threads of the meter and the playback may still use it.
const PulseSimpleApi* PulseSimple() {
  static const PulseSimpleApi* api = []() -> const PulseSimpleApi* {
    LibHandle lib = LoadSystemLibrary("libpulse-simple.so.0");
    if (!lib) return nullptr;
    auto* a = new PulseSimpleApi;
    a->open = LookupEntryAs<PaSimpleNewFn>(lib, "pa_simple_new");
    a->read = LookupEntryAs<PaSimpleReadFn>(lib, "pa_simple_read");
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

// ---- meter -------------------------------------------------------------------------------

// The monitor is read in 10 ms blocks of 32-bit float samples (full scale 1.0) on a thread of
// its own, so the meter always has the peak of the latest block and no backlog builds up in the
// server while the caller sleeps between looks.
constexpr uint32_t kMeterRate = 48000;
constexpr uint8_t kMeterChannels = 2;
constexpr size_t kMeterBlockFrames = kMeterRate / 100;
constexpr size_t kMeterBlockSamples = kMeterBlockFrames * kMeterChannels;

class MonitorMeter : public AudioMeter {
 public:
  MonitorMeter(const PulseSimpleApi* api, PaSimple* stream) : api_(api), stream_(stream) {
    reader_ = std::thread([this] { Capture(); });
  }
  ~MonitorMeter() override {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    api_->free(stream_);
  }

  // The monitor's mute state would need the server's introspection interface; the meter
  // treats the output as not muted.
  bool IsMuted() override { return false; }
  float PeakValue() override { return peak_.load(); }

 private:
  void Capture() {
    std::vector<float> block(kMeterBlockSamples);
    while (!stop_) {
      int error = 0;
      if (api_->read(stream_, block.data(), block.size() * sizeof(float), &error) < 0) {
        peak_ = 0.0f;  // the server went away: silence from now on
        return;
      }
      float peak = 0.0f;
      for (float sample : block) {
        const float magnitude = std::fabs(sample);
        if (magnitude > peak) peak = magnitude;  // NaN never wins
      }
      peak_ = peak > 1.0f ? 1.0f : peak;
    }
  }

  const PulseSimpleApi* api_;
  PaSimple* stream_;
  std::atomic<bool> stop_{false};
  std::atomic<float> peak_{0.0f};
  std::thread reader_;
};

// ---- playback ----------------------------------------------------------------------------

class Player {
 public:
  ~Player() { Stop(); }

  void Start(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    if (feeder_.joinable()) return;  // one playback at a time
    stop_ = false;
    feeder_ = std::thread([this, path] { Feed(path); });
  }

  void Stop() {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
    if (feeder_.joinable()) feeder_.join();
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
    std::vector<unsigned char> buffer(bytesPerSecond / 20);  // 50 ms per write
    bool ended = false;
    while (!stop_) {
      size_t done = 0;
      const int rc = mpg.read(decoder, buffer.data(), buffer.size(), &done);
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
  std::thread feeder_;
};

Player& ThePlayer() {
  static Player player;  // stopped at process exit if nobody stopped it before
  return player;
}

}  // namespace

void StartAudioPlayback(const std::string& path) {
  if (!FileExists(path)) return;
  ThePlayer().Start(path);
}

void StopAudioPlayback() { ThePlayer().Stop(); }

std::unique_ptr<AudioMeter> OpenOutputMeter() {
  const PulseSimpleApi* pa = PulseSimple();
  if (!pa) return nullptr;
  const PaSampleSpec sampleFormat{kPaSampleFloat32le, kMeterRate, kMeterChannels};
  const PaBufferAttr attr{kPaDefault, kPaDefault, kPaDefault, kPaDefault,
                          static_cast<uint32_t>(kMeterBlockSamples * sizeof(float))};
  int error = 0;
  PaSimple* stream = pa->open(nullptr, kClientName, kPaStreamRecord, "@DEFAULT_MONITOR@",
                              "peak meter", &sampleFormat, nullptr, &attr, &error);
  if (!stream) return nullptr;
  return std::make_unique<MonitorMeter>(pa, stream);
}

}  // namespace plat
