// Lighting mode 6: the LEDs follow the sound the computer plays. The tool starts playing
// music.mp3 from its folder, and MusicThread sends the peak level of the default output device
// to the controller every 10 ms until MusicRunning is cleared.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Audio.h"

namespace brumel {

// Run flag of MusicThread: set before the thread starts, cleared to stop it. The thread looks
// at it once per pass.
extern std::atomic<bool> MusicRunning;

// Starts playing music.mp3 from the tool's folder; reports nothing (no file, library or device
// just means no sound).
void StartMusicPlayback();
// Ends the playback where the tool feeds it itself; harmless otherwise.
void StopMusicPlayback();

// The thread procedure; `arg` is not used. 0 after a normal stop, 1 when the audio interfaces
// are not available (then nothing is sent or printed).
uint32_t MusicThread(void* arg);

// Level of a peak value: peak x 100 with the fraction cut off, 0 to 100. Values outside 0..1
// (and NaN) are held to that range.
uint8_t MusicLevel(float peak);

// The whole music mode of a run: playback, the thread, "PAUSE" for the operator's key, then the
// thread is stopped and waited for (so "Music Thread Exit" appears and the channel is idle
// before the run ends), and the playback is stopped.
void RunMusicMode();

// Test seam: where MusicThread gets its meter from. Empty: the platform's default output meter.
using MeterFactory = std::function<std::unique_ptr<plat::AudioMeter>()>;
void SetMeterFactory(MeterFactory factory);

}  // namespace brumel
