#include "led/Music.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>

#include "isp/RunOptions.h"
#include "led/LedReports.h"
#include "platform/Console.h"
#include "platform/Time.h"
#include "platform/ToolFiles.h"

namespace brumel {

std::atomic<bool> MusicRunning{false};

namespace {

constexpr unsigned kPassSleepMs = 10;

MeterFactory g_meterFactory;

}  // namespace

void SetMeterFactory(MeterFactory factory) { g_meterFactory = std::move(factory); }

// music.mp3 is taken from the tool's folder (an installed tool's configuration folders), never
// from the current one.
void StartMusicPlayback() {
  const std::string path = plat::OptionalFilePath("music.mp3");
  if (!path.empty()) plat::StartAudioPlayback(path);
}

void StopMusicPlayback() { plat::StopAudioPlayback(); }

uint8_t MusicLevel(float peak) {
  if (!(peak > 0.0f)) return 0;  // silence, negative or NaN
  if (peak >= 1.0f) return 100;
  return static_cast<uint8_t>(peak * 100.0f);  // fraction cut off: 0.999 gives 99
}

uint32_t MusicThread(void*) {
  std::unique_ptr<plat::AudioMeter> meter =
      g_meterFactory ? g_meterFactory() : plat::OpenOutputMeter();
  if (!meter) return 1;

  // The music form carries the colour and parameter of "/MODE" in bytes 5 to 8; they were set
  // before this thread started and do not change.
  const RunOptionsRecord& o = RunOptions();
  const LightingMode look{kMusicMode, o.Red, o.Green, o.Blue, o.Param};
  while (MusicRunning.load()) {
    if (!meter->IsMuted()) {
      const uint8_t level = MusicLevel(meter->PeakValue());
      std::printf("Main_Volume: %d\n", level);
      plat::ConsoleFlush();
      SendLedReport(LightingModeReport(ModeForm::kMusic, look, 0, level));
    }
    plat::SleepMs(kPassSleepMs);
  }
  meter.reset();  // ends the meter (and COM for this thread) before the last line
  std::printf("Music Thread Exit\n");
  plat::ConsoleFlush();
  return 0;
}

void RunMusicMode() {
  StartMusicPlayback();
  MusicRunning = true;
  std::thread music([] { MusicThread(nullptr); });
  plat::ConsolePause();
  MusicRunning = false;
  music.join();
  StopMusicPlayback();
}

}  // namespace brumel
