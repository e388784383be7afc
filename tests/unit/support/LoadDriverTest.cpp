#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/LoadDriver.h"

namespace brumel {

// Images of the dummy folder tests/fixtures/driver-images, embedded by the build.
const TDriverImages& DummyDriverImages();

namespace {

const uint8_t kVxd[3] = {1, 2, 3};
const uint8_t kX86[4] = {4, 5, 6, 7};
const uint8_t kIA64[5] = {8, 9, 10, 11, 12};
const uint8_t kX64[6] = {13, 14, 15, 16, 17, 18};

TDriverImages AllImages() {
  TDriverImages images;
  images.Vxd = kVxd;
  images.VxdSize = sizeof kVxd;
  images.X86 = kX86;
  images.X86Size = sizeof kX86;
  images.IA64 = kIA64;
  images.IA64Size = sizeof kIA64;
  images.X64 = kX64;
  images.X64Size = sizeof kX64;
  return images;
}

TDriverOs Os(uint32_t level, bool notWow64, bool x64, bool ia64) {
  TDriverOs os;
  os.VersionLevel = level;
  os.NotWow64 = notWow64;
  os.X64 = x64;
  os.IA64 = ia64;
  return os;
}

TEST(DriverImageChoice, PicksTheImageOfTheFamilyAndProcessor) {
  struct Case {
    const char* what;
    TDriverOs os;
    const uint8_t* image;
    size_t size;
  };
  const Case cases[] = {
      {"Windows 98", Os(16, true, false, false), kVxd, sizeof kVxd},
      {"32-bit XP", Os(0x20, true, false, false), kX86, sizeof kX86},
      {"32-bit Windows 7", Os(0xC0, true, false, false), kX86, sizeof kX86},
      // A 64-bit process never runs under WOW64: the processor decides, not the WOW64 test.
      {"64-bit process on x64 Windows 10", Os(0x1C1, true, true, false), kX64, sizeof kX64},
      {"32-bit process under WOW64 on x64", Os(0xC1, false, true, false), kX64, sizeof kX64},
      {"Itanium Server 2003, native process", Os(0x22, true, false, true), kIA64, sizeof kIA64},
      {"Itanium, under WOW64", Os(0x22, false, false, true), kIA64, sizeof kIA64},
      {"WOW64 on an unknown processor", Os(0xC0, false, false, false), nullptr, 0},
  };
  const TDriverImages images = AllImages();
  for (const Case& c : cases) {
    const TRwDrvData data(c.os, images);
    EXPECT_EQ(data.Image, c.image) << c.what;
    EXPECT_EQ(data.Size, c.size) << c.what;
  }

  // A build without the fitting image carries none for the system.
  TDriverImages noX64 = images;
  noX64.X64 = nullptr;
  noX64.X64Size = 0;
  const TRwDrvData none(Os(0x1C1, true, true, false), noX64);
  EXPECT_EQ(none.Image, nullptr);
  EXPECT_EQ(none.Size, 0u);
}

TEST(DriverImageChoice, BuildEmbedsTheImagesOfAFolder) {
  const TDriverImages& dummy = DummyDriverImages();
  ASSERT_EQ(dummy.VxdSize, 5u);
  EXPECT_EQ(std::vector<uint8_t>(dummy.Vxd, dummy.Vxd + 5),
            (std::vector<uint8_t>{'V', 'X', 'D', 0x00, 0xFF}));
  ASSERT_EQ(dummy.X64Size, 25u);
  EXPECT_EQ(dummy.X64[0], 'M');
  EXPECT_EQ(dummy.X64[12], 0xFF);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(dummy.X64) + 16, 9), "dummy x64");
  EXPECT_EQ(dummy.X86, nullptr);
  EXPECT_EQ(dummy.IA64Size, 0u);
  // The default build carries none.
  const TDriverImages& embedded = EmbeddedDriverImages();
  EXPECT_EQ(embedded.X64, nullptr);
  EXPECT_EQ(embedded.X64Size, 0u);
}

// Service manager, files and devices of a pretend Windows, writing down every call.
class FakeWindows final : public plat::ServiceControl,
                          public plat::DriverFiles,
                          public plat::DeviceIo {
 public:
  // The pretend system's state.
  bool FileThere = false;
  plat::FileWrite WriteResult = plat::FileWrite::Written;
  bool DriverRunning = false;
  bool StartLoadsDriver = true;
  bool ServiceThere = false;
  bool ManagerOpens = true;
  uint32_t CreateError = 0;  // non-zero: creation refused with it
  bool ServiceOpens = true;  // an existing service can be opened
  bool ControlsWork = true;  // stop and delete
  uint32_t StartError = 0;   // non-zero: the start is refused with it (577: an unsigned driver)
  uint32_t DeviceError = 2;  // what a device that does not open reports

  std::vector<std::string> Log;
  std::vector<std::string> Diagnostics;  // the loader's diagnostic lines, "label: value"

  TDriverHost Host(const TDriverOs& os) {
    TDriverHost host;
    host.Os = os;
    host.Services = this;
    host.Files = this;
    host.Devices = this;
    host.ShowError = [this](const char* caption, const char* text) {
      Log.push_back(std::string("box ") + caption + ": " + text);
    };
    host.Log = [this](const std::string& label, const std::string& value) {
      Diagnostics.push_back(label + ": " + value);
    };
    return host;
  }

  // ServiceControl
  plat::ServiceHandle OpenManager() override {
    Log.push_back(ManagerOpens ? "open manager" : "open manager: refused");
    return ManagerOpens ? &manager_ : nullptr;
  }
  plat::ServiceHandle CreateDriverService(plat::ServiceHandle manager, const std::string& name,
                                          const std::string& imagePath, uint32_t& error) override {
    EXPECT_EQ(manager, &manager_);
    error = ServiceThere ? plat::kErrorServiceExists : CreateError;
    Log.push_back("create " + name + " " + imagePath +
                  (error ? ": error " + std::to_string(error) : ""));
    if (error) return nullptr;
    ServiceThere = true;
    return &service_;
  }
  plat::ServiceHandle OpenDriverService(plat::ServiceHandle manager,
                                        const std::string& name) override {
    EXPECT_EQ(manager, &manager_);
    const bool opens = ServiceThere && ServiceOpens;
    Log.push_back("open service " + name + (opens ? "" : ": refused"));
    return opens ? &service_ : nullptr;
  }
  bool Start(plat::ServiceHandle service) override {
    EXPECT_EQ(service, &service_);
    const bool started = !DriverRunning && StartLoadsDriver && StartError == 0;
    Log.push_back(started ? "start" : "start: refused");
    if (started) DriverRunning = true;
    lastError_ = started ? 0 : DriverRunning ? plat::kErrorServiceAlreadyRunning : StartError;
    return started;
  }
  uint32_t LastError() const override { return ManagerOpens ? lastError_ : 5; }
  bool Stop(plat::ServiceHandle service) override {
    EXPECT_EQ(service, &service_);
    Log.push_back(ControlsWork ? "stop" : "stop: refused");
    return ControlsWork;
  }
  bool Remove(plat::ServiceHandle service) override {
    EXPECT_EQ(service, &service_);
    Log.push_back(ControlsWork ? "delete" : "delete: refused");
    return ControlsWork;
  }
  void Close(plat::ServiceHandle handle) override {
    Log.push_back(handle == &manager_ ? "close manager" : "close service");
  }

  // DriverFiles
  std::string SystemFolder() override { return "C:\\Windows\\System32"; }
  std::string WindowsFolder() override { return "C:\\Windows"; }
  plat::FileProbe Probe(const std::string& path) override {
    Log.push_back("probe " + path);
    return FileThere ? plat::FileProbe::Present : plat::FileProbe::Missing;
  }
  plat::FileWrite Write(const std::string& path, const uint8_t*, size_t size) override {
    Log.push_back("write " + path + " " + std::to_string(size) +
                  (WriteResult == plat::FileWrite::Written ? "" : ": failed"));
    if (WriteResult != plat::FileWrite::NotOpened) FileThere = true;
    return WriteResult;
  }
  bool Remove(const std::string& path) override {
    Log.push_back("remove " + path);
    FileThere = false;
    return true;
  }

  // DeviceIo
  plat::DeviceHandle Open(const std::string& path, plat::DeviceOpen how) override {
    // Opening a dynamic driver's device loads it.
    const bool opens = DriverRunning || how == plat::DeviceOpen::DynamicLoad;
    const plat::DeviceHandle h = opens ? nextDevice_++ : plat::kInvalidDevice;
    Log.push_back(std::string("open device ") + path +
                  (how == plat::DeviceOpen::DynamicLoad ? " (load)" : "") +
                  (opens ? " = " + std::to_string(h) : ": fails"));
    return h;
  }
  bool Control(plat::DeviceHandle, uint32_t, const void*, uint32_t, void*, uint32_t,
               uint32_t& returned) override {
    returned = 0;
    return false;
  }
  void Close(plat::DeviceHandle device) override {
    Log.push_back("close device " + std::to_string(device));
  }
  uint32_t LastOpenError() const override { return DeviceError; }

 private:
  uint32_t lastError_ = 0;
  int manager_ = 0;
  int service_ = 0;
  plat::DeviceHandle nextDevice_ = 100;
};

const std::string kSys = "C:\\Windows\\System32\\Drivers\\BrumelDrv103.sys";
const std::string kDevice = "\\\\.\\BrumelDrv103";
const std::string kBox = std::string("box Error: ") + kDriverLoadFailedText;

TEST(DriverLoader, FlowThroughTheServiceManager) {
  struct Case {
    const char* what;
    TDriverOs os;
    bool withImage;
    bool rewrite;
    void (*setup)(FakeWindows&);
    plat::DeviceHandle handle;
    std::vector<std::string> log;
  };
  const TDriverOs win10 = Os(0x1C1, true, true, false);
  const Case cases[] = {
      {"missing file with an image: written, created, started, opened",
       win10,
       true,
       false,
       [](FakeWindows&) {},
       100,
       {"probe " + kSys, "write " + kSys + " 6", "open device " + kDevice + ": fails",
        "open manager", "create BrumelDrv103 " + kSys, "start", "close service", "close manager",
        "open device " + kDevice + " = 100"}},
      {"32-bit process under WOW64: the real SysWOW64 drivers folder",
       Os(0xC1, false, true, false),
       true,
       false,
       [](FakeWindows&) {},
       100,
       {"probe C:\\Windows\\SysWOW64\\Drivers\\BrumelDrv103.sys",
        "write C:\\Windows\\SysWOW64\\Drivers\\BrumelDrv103.sys 6",
        "open device " + kDevice + ": fails", "open manager",
        "create BrumelDrv103 C:\\Windows\\SysWOW64\\Drivers\\BrumelDrv103.sys", "start",
        "close service", "close manager", "open device " + kDevice + " = 100"}},
      {"Windows 98: the dynamic driver is loaded by opening its file's device",
       Os(16, true, false, false),
       true,
       false,
       [](FakeWindows&) {},
       100,
       {"probe C:\\Windows\\System32\\BrumelDrv103.vxd",
        "write C:\\Windows\\System32\\BrumelDrv103.vxd 3",
        "open device \\\\.\\C:\\Windows\\System32\\BrumelDrv103.vxd (load) = 100"}},
      {"missing file without an image: nothing is installed",
       win10,
       false,
       false,
       [](FakeWindows&) {},
       plat::kInvalidDevice,
       {"probe " + kSys, kBox}},
      {"failed write: the partial file is removed",
       win10,
       true,
       false,
       [](FakeWindows& w) { w.WriteResult = plat::FileWrite::Incomplete; },
       plat::kInvalidDevice,
       {"probe " + kSys, "write " + kSys + " 6: failed", "remove " + kSys, kBox}},
      {"file that could not be created: nothing to remove",
       win10,
       true,
       false,
       [](FakeWindows& w) { w.WriteResult = plat::FileWrite::NotOpened; },
       plat::kInvalidDevice,
       {"probe " + kSys, "write " + kSys + " 6: failed", kBox}},
      {"existing file is not rewritten",
       win10,
       true,
       false,
       [](FakeWindows& w) { w.FileThere = true; },
       100,
       {"probe " + kSys, "open device " + kDevice + ": fails", "open manager",
        "create BrumelDrv103 " + kSys, "start", "close service", "close manager",
        "open device " + kDevice + " = 100"}},
      {"rewrite: the image is written over an existing file",
       win10,
       true,
       true,
       [](FakeWindows& w) { w.FileThere = true; },
       100,
       {"write " + kSys + " 6", "open device " + kDevice + ": fails", "open manager",
        "create BrumelDrv103 " + kSys, "start", "close service", "close manager",
        "open device " + kDevice + " = 100"}},
      {"service exists: opened and started",
       win10,
       true,
       false,
       [](FakeWindows& w) {
         w.FileThere = true;
         w.ServiceThere = true;
       },
       100,
       {"probe " + kSys, "open device " + kDevice + ": fails", "open manager",
        "create BrumelDrv103 " + kSys + ": error 1073", "open service BrumelDrv103", "start",
        "close service", "close manager", "open device " + kDevice + " = 100"}},
      {"device already open: the probe handle is closed, the device reopened",
       win10,
       true,
       false,
       [](FakeWindows& w) {
         w.FileThere = true;
         w.ServiceThere = true;
         w.DriverRunning = true;
       },
       101,
       {"probe " + kSys, "open device " + kDevice + " = 100", "close device 100", "open manager",
        "open service BrumelDrv103", "start: refused", "close service", "close manager",
        "open device " + kDevice + " = 101"}},
      {"device open but the service does not open: reopened all the same",
       win10,
       true,
       false,
       [](FakeWindows& w) {
         w.FileThere = true;
         w.ServiceThere = true;
         w.ServiceOpens = false;
         w.DriverRunning = true;
       },
       101,
       {"probe " + kSys, "open device " + kDevice + " = 100", "close device 100", "open manager",
        "open service BrumelDrv103: refused", "close manager",
        "open device " + kDevice + " = 101"}},
      {"creation refused: the message",
       win10,
       true,
       false,
       [](FakeWindows& w) {
         w.FileThere = true;
         w.CreateError = 5;
       },
       plat::kInvalidDevice,
       {"probe " + kSys, "open device " + kDevice + ": fails", "open manager",
        "create BrumelDrv103 " + kSys + ": error 5", "close manager", kBox}},
      {"no manager: the message",
       win10,
       true,
       false,
       [](FakeWindows& w) {
         w.FileThere = true;
         w.ManagerOpens = false;
       },
       plat::kInvalidDevice,
       {"probe " + kSys, "open device " + kDevice + ": fails", "open manager: refused", kBox}},
      {"the driver does not start (as under Wine): the message",
       win10,
       true,
       false,
       [](FakeWindows& w) { w.StartLoadsDriver = false; },
       plat::kInvalidDevice,
       {"probe " + kSys, "write " + kSys + " 6", "open device " + kDevice + ": fails",
        "open manager", "create BrumelDrv103 " + kSys, "start: refused", "close service",
        "close manager", "open device " + kDevice + ": fails", kBox}},
      {"level below 16: nothing at all, silently",
       Os(0, true, true, false),
       true,
       false,
       [](FakeWindows&) {},
       plat::kInvalidDevice,
       {}},
  };
  const TDriverImages images = AllImages();
  for (const Case& c : cases) {
    FakeWindows windows;
    c.setup(windows);
    TLoadDriver loader(c.rewrite, false, false, windows.Host(c.os),
                       c.withImage ? images : TDriverImages{});
    EXPECT_EQ(loader.GetHandle(), c.handle) << c.what;
    EXPECT_EQ(windows.Log, c.log) << c.what;
  }
}

// Each step that fails leaves a diagnostic line with the system's code; the two refusals of an
// unsigned or blocked driver are named. A service that runs already is no failure.
TEST(DriverLoader, AFailedStepIsLoggedWithTheSystemsCode) {
  const TDriverOs win10 = Os(0x1C1, true, true, false);
  const struct {
    const char* what;
    void (*setup)(FakeWindows&);
    std::vector<std::string> lines;
  } cases[] = {
      {"unsigned driver",
       [](FakeWindows& w) { w.StartError = plat::kErrorInvalidImageHash; },
       {"StartService BrumelDrv103: error 577: Windows could not verify the driver's signature",
        "Open \\\\.\\BrumelDrv103: error 2"}},
      {"blocked driver",
       [](FakeWindows& w) { w.StartError = plat::kErrorDriverBlocked; },
       {"StartService BrumelDrv103: error 1275: Windows blocked the driver",
        "Open \\\\.\\BrumelDrv103: error 2"}},
      {"no manager", [](FakeWindows& w) { w.ManagerOpens = false; }, {"OpenSCManager: error 5"}},
      {"creation refused",
       [](FakeWindows& w) { w.CreateError = 5; },
       {"CreateService BrumelDrv103: error 5"}},
      {"file not written",
       [](FakeWindows& w) { w.WriteResult = plat::FileWrite::NotOpened; },
       {"Driver file: " + kSys + " could not be created"}},
      {"healthy", [](FakeWindows&) {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeWindows windows;
    c.setup(windows);
    TLoadDriver loader(false, false, false, windows.Host(win10), AllImages());
    EXPECT_EQ(windows.Diagnostics, c.lines);
  }

  // Started already (the device opened at once): its refused start is not a failure.
  FakeWindows running;
  running.FileThere = running.ServiceThere = running.DriverRunning = true;
  TLoadDriver loader(false, false, false, running.Host(win10), AllImages());
  EXPECT_NE(loader.GetHandle(), plat::kInvalidDevice);
  EXPECT_TRUE(running.Diagnostics.empty());
}

TEST(DriverLoader, UnloadClosesAndStopsAndDeletesAsAsked) {
  struct Case {
    const char* what;
    uint32_t level;
    bool stop, remove;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {"flags false: only the handle is closed", 0x1C1, false, false, {"close device 100"}},
      {"stop and delete",
       0x1C1,
       true,
       true,
       {"close device 100", "open manager", "open service BrumelDrv103", "stop", "close service",
        "close manager", "open manager", "open service BrumelDrv103", "delete", "close service",
        "close manager"}},
      {"Windows 98: closing the handle unloads", 16, true, true, {"close device 100"}},
  };
  for (const Case& c : cases) {
    FakeWindows windows;
    windows.FileThere = true;
    windows.ServiceThere = true;
    {
      TLoadDriver loader(false, c.stop, c.remove, windows.Host(Os(c.level, true, true, false)),
                         AllImages());
      ASSERT_NE(loader.GetHandle(), plat::kInvalidDevice) << c.what;
      windows.Log.clear();
    }
    EXPECT_EQ(windows.Log, c.log) << c.what;
  }
}

TEST(DriverLoader, StopAndRemoveReturnWhatTheSystemAnswered) {
  FakeWindows windows;
  TLoadDriver loader(false, false, false, windows.Host(Os(0x1C1, true, true, false)),
                     TDriverImages{});
  ASSERT_EQ(loader.GetHandle(), plat::kInvalidDevice);

  windows.ServiceThere = true;
  EXPECT_TRUE(loader.StopService());
  EXPECT_TRUE(loader.RemoveService());
  windows.ControlsWork = false;
  EXPECT_FALSE(loader.StopService());
  EXPECT_FALSE(loader.RemoveService());
  windows.ControlsWork = true;
  windows.ServiceThere = false;
  EXPECT_FALSE(loader.StopService());
  EXPECT_FALSE(loader.RemoveService());
  windows.ServiceThere = true;
  windows.ManagerOpens = false;
  EXPECT_FALSE(loader.StopService());
  EXPECT_FALSE(loader.RemoveService());

  FakeWindows win98;
  win98.ServiceThere = true;
  TLoadDriver old(false, false, false, win98.Host(Os(16, true, false, false)), TDriverImages{});
  win98.Log.clear();
  EXPECT_FALSE(old.StopService());
  EXPECT_FALSE(old.RemoveService());
  EXPECT_TRUE(win98.Log.empty());
}

}  // namespace
}  // namespace brumel
