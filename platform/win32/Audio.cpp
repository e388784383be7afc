#include <windows.h>

#include "platform/win32/WideText.h"
// windows.h first.
#include <endpointvolume.h>
#include <mmdeviceapi.h>
#include <objbase.h>

#include <string>

#include "platform/Audio.h"
#include "platform/DynLib.h"

// The headers of this tool chain only forward-declare the meter interface.
struct IAudioMeterInformation : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPeakValue(float* peak) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMeteringChannelCount(UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetChannelsPeakValues(UINT32 count, float* peaks) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryHardwareSupport(DWORD* mask) = 0;
};

namespace plat {

namespace {

// Class and interface ids as Windows documents them; kept here so no import library is needed.
const CLSID kClsidMMDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
const IID kIidIMMDeviceEnumerator = {
    0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
const IID kIidIAudioEndpointVolume = {
    0x5CDF2C82, 0x841E, 0x4546, {0x97, 0x22, 0x0C, 0xF7, 0x40, 0x78, 0x22, 0x9A}};
const IID kIidIAudioMeterInformation = {
    0xC02216F6, 0x8C67, 0x4B5B, {0x9D, 0x00, 0xD0, 0x08, 0xE7, 0x3E, 0x00, 0x64}};

using MciSendStringFn = DWORD(WINAPI*)(LPCWSTR command, LPWSTR ret, UINT retLength, HWND callback);

template <typename T>
void ReleaseCom(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

class CoreAudioMeter : public AudioMeter {
 public:
  CoreAudioMeter(IMMDeviceEnumerator* enumerator, IMMDevice* device, IAudioEndpointVolume* volume,
                 IAudioMeterInformation* meter)
      : enumerator_(enumerator), device_(device), volume_(volume), meter_(meter) {}
  ~CoreAudioMeter() override {
    ReleaseCom(meter_);
    ReleaseCom(volume_);
    ReleaseCom(device_);
    ReleaseCom(enumerator_);
    CoUninitialize();
  }

  bool IsMuted() override {
    BOOL muted = FALSE;
    return SUCCEEDED(volume_->GetMute(&muted)) && muted;
  }

  float PeakValue() override {
    float peak = 0.0f;
    return SUCCEEDED(meter_->GetPeakValue(&peak)) ? peak : 0.0f;
  }

 private:
  IMMDeviceEnumerator* enumerator_;
  IMMDevice* device_;
  IAudioEndpointVolume* volume_;
  IAudioMeterInformation* meter_;
};

}  // namespace

void StartAudioPlayback(const std::string& path) {
  // Winmm is a system library, taken from the system folder only; it stays loaded, the
  // playback runs on its own.
  LibHandle winmm = LoadSystemLibrary("Winmm.dll");
  if (!winmm) return;
  auto send = LookupEntryAs<MciSendStringFn>(winmm, "mciSendStringW");
  std::wstring file;
  if (!send || !ToWide(path, file) || file.empty()) return;
  const std::wstring command = L"play \"" + file + L"\"";
  send(command.c_str(), nullptr, 0, nullptr);
}

void StopAudioPlayback() {}  // the MCI playback ends with the process

std::unique_ptr<AudioMeter> OpenOutputMeter() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return nullptr;
  IMMDeviceEnumerator* enumerator = nullptr;
  IMMDevice* device = nullptr;
  IAudioEndpointVolume* volume = nullptr;
  IAudioMeterInformation* meter = nullptr;
  HRESULT hr = CoCreateInstance(kClsidMMDeviceEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                                kIidIMMDeviceEnumerator, reinterpret_cast<void**>(&enumerator));
  if (SUCCEEDED(hr)) hr = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device);
  if (SUCCEEDED(hr)) {
    hr = device->Activate(kIidIAudioEndpointVolume, CLSCTX_ALL, nullptr,
                          reinterpret_cast<void**>(&volume));
  }
  if (SUCCEEDED(hr)) {
    hr = device->Activate(kIidIAudioMeterInformation, CLSCTX_ALL, nullptr,
                          reinterpret_cast<void**>(&meter));
  }
  if (FAILED(hr) || !enumerator || !device || !volume || !meter) {
    ReleaseCom(meter);
    ReleaseCom(volume);
    ReleaseCom(device);
    ReleaseCom(enumerator);
    CoUninitialize();
    return nullptr;
  }
  return std::make_unique<CoreAudioMeter>(enumerator, device, volume, meter);
}

}  // namespace plat
