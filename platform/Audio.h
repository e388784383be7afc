// Sound output of the machine: playing a music file in the background, and the mute state and
// peak level of the default output device.
//
// Windows: the Media Control Interface of Winmm.dll (loaded at run time) plays the file; Core
// Audio through COM gives mute state and peak meter. Linux: libmpg123 decodes the file into the
// sound server and the meter records the default output's monitor, both through the PulseAudio
// client libraries (PipeWire serves them too), all loaded at run time. A missing library, file,
// server or device means no sound and no meter; nothing here prints or throws.
#pragma once
#include <memory>
#include <string>

namespace plat {

// Starts playing the audio file at `path` and returns at once. The playback runs on its own
// until the file ends, StopAudioPlayback is called or the process ends. Nothing is reported.
void StartAudioPlayback(const std::string& path);
// Ends a playback started above (where the tool itself feeds the sound server); waits a moment
// for its feeder to stop, never longer. Harmless when nothing plays.
void StopAudioPlayback();

// The meter of the default output device.
class AudioMeter {
 public:
  virtual ~AudioMeter() = default;
  // True while the device is muted. Never waits for the sound system (Linux: the latest answer
  // of the sound server, which is asked again in the background).
  virtual bool IsMuted() = 0;
  // The peak sample level of the latest metering period, 0.0 to 1.0. Never waits either.
  virtual float PeakValue() = 0;
};

// Opens the meter of the default output device for the calling thread (Windows: initialises
// COM for it, multithreaded apartment, until the meter is destroyed on the same thread). Null
// when the audio interfaces or the device are not available.
std::unique_ptr<AudioMeter> OpenOutputMeter();

}  // namespace plat
