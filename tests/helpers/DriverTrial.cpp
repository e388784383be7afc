// The driver loader on the running Windows (run under Wine in a prefix of its own): a dummy
// image is written into the drivers folder (of a 32-bit process under WOW64: SysWOW64's), the service is created, its start fails (no real
// driver), so the failure message shows; then the service and the file are removed again.
// Prints what happened, one line a step; exits 0 when every step went as expected.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/DriverFiles.h"
#include "platform/ErrorBox.h"
#include "platform/ServiceControl.h"
#include "support/LoadDriver.h"

namespace {

using brumel::kDriverServiceName;
using Clock = std::chrono::steady_clock;

// The system's service manager, noting what it answered.
class NotingServices final : public plat::ServiceControl {
 public:
  explicit NotingServices(plat::ServiceControl& system) : system_(system) {}
  bool Created = false;
  uint32_t CreateError = 0;
  std::string ImagePath;
  int Starts = 0, StartsRefused = 0;

  plat::ServiceHandle OpenManager() override { return system_.OpenManager(); }
  plat::ServiceHandle CreateDriverService(plat::ServiceHandle manager, const std::string& name,
                                          const std::string& imagePath, uint32_t& error) override {
    plat::ServiceHandle s = system_.CreateDriverService(manager, name, imagePath, error);
    Created = s != nullptr;
    CreateError = error;
    ImagePath = imagePath;
    return s;
  }
  plat::ServiceHandle OpenDriverService(plat::ServiceHandle manager,
                                        const std::string& name) override {
    return system_.OpenDriverService(manager, name);
  }
  bool Start(plat::ServiceHandle service) override {
    const bool started = system_.Start(service);
    ++Starts;
    if (!started) ++StartsRefused;
    return started;
  }
  bool Stop(plat::ServiceHandle service) override { return system_.Stop(service); }
  bool Remove(plat::ServiceHandle service) override { return system_.Remove(service); }
  void Close(plat::ServiceHandle handle) override { system_.Close(handle); }

 private:
  plat::ServiceControl& system_;
};

int g_failures = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  if (!ok) ++g_failures;
}

}  // namespace

int main() {
  static const uint8_t kDummy[] = {'M', 'Z', 0x90, 0x00, 'd', 'u', 'm', 'm', 'y', 0x00, 0xFF};
  brumel::TDriverImages images;
  images.X86 = images.X64 = images.IA64 = kDummy;
  images.X86Size = images.X64Size = images.IA64Size = sizeof kDummy;

  NotingServices services(plat::SystemServiceControl());
  brumel::TDriverHost host = brumel::TDriverHost::System();
  host.Services = &services;
  int boxes = 0;
  long boxMs = -1;
  host.ShowError = [&](const char* caption, const char* text) {
    const Clock::time_point start = Clock::now();
    plat::ShowErrorBox(caption, text);
    boxMs = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    ++boxes;
  };
  std::printf("version level 0x%X, %s\n", static_cast<unsigned>(host.Os.VersionLevel),
              host.Os.NotWow64 ? "not under WOW64" : "under WOW64");
  // A 32-bit process on 64-bit Windows writes into the SysWOW64 drivers folder, which every
  // 64-bit Windows has; a fresh Wine prefix lacks it.
  const std::string windows = plat::SystemDriverFiles().WindowsFolder();
  const std::string folder = host.Os.NotWow64 ? plat::SystemDriverFiles().SystemFolder() + "\\Drivers"
                                              : windows + "\\SysWOW64\\Drivers";
  if (!host.Os.NotWow64) {
    std::error_code ec;
    std::filesystem::create_directories(windows + "\\SysWOW64\\drivers", ec);
  }

  brumel::TLoadDriver loader(false, false, false, host, images);
  Check(loader.DrvData.Image == kDummy, "the dummy image was chosen");
  Check(services.Created && services.CreateError == 0,
        "service created (error " + std::to_string(services.CreateError) + ")");
  const std::string file = services.ImagePath;
  Check(file == folder + "\\" + kDriverServiceName + ".sys", "image path " + file);
  std::ifstream in(file, std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  Check(written == std::string(reinterpret_cast<const char*>(kDummy), sizeof kDummy),
        "driver file written");
  Check(services.Starts == 1 && services.StartsRefused == 1, "start refused (no real driver)");
  Check(loader.GetHandle() == plat::kInvalidDevice, "no device handle");
  Check(boxes == 1 && boxMs >= 0 && boxMs < 10000,
        "failure message shown once, returned after " + std::to_string(boxMs) + " ms");

  Check(loader.RemoveService(), "service removed");
  Check(!loader.RemoveService(), "service gone");
  Check(plat::SystemDriverFiles().Remove(file), "driver file removed");
  return g_failures == 0 ? 0 : 1;
}
