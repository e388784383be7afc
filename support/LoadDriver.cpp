#include "support/LoadDriver.h"

#include <utility>

#include "platform/ErrorBox.h"
#include "support/DebugConsole.h"
#include "support/OsVersion.h"

namespace brumel {

namespace {

// Paths are narrow texts in buffers of this many characters, the terminator included.
constexpr size_t kPathBuffer = 260;

}  // namespace

TDriverOs TDriverOs::Current() {
  const TOsVersion* os = GetOsVersion();
  TDriverOs d;
  d.VersionLevel = os->VersionLevel();
  d.NotWow64 = os->IsNotWow64();
  d.X64 = os->IsX64();
  d.IA64 = os->IsIA64();
  return d;
}

TRwDrvData::TRwDrvData() : TRwDrvData(TDriverOs::Current(), EmbeddedDriverImages()) {}

TRwDrvData::TRwDrvData(const TDriverOs& os, const TDriverImages& images) {
  if (os.VersionLevel <= kLevelWin9x) {
    Image = images.Vxd;
    Size = images.VxdSize;
  } else if (os.NotWow64 && !os.X64 && !os.IA64) {
    // Not under WOW64 means 32-bit Windows only for a 32-bit process; a 64-bit process never
    // runs under WOW64, so the processor flags decide.
    Image = images.X86;
    Size = images.X86Size;
  } else if (os.IA64) {
    Image = images.IA64;
    Size = images.IA64Size;
  } else if (os.X64) {
    Image = images.X64;
    Size = images.X64Size;
  }
  if (!Image || Size == 0) {
    Image = nullptr;
    Size = 0;
  }
}

TDriverHost TDriverHost::System() {
  TDriverHost host;
  host.Os = TDriverOs::Current();
  host.Services = &plat::SystemServiceControl();
  host.Files = &plat::SystemDriverFiles();
  host.Devices = &plat::SystemDeviceIo();
  host.ShowError = plat::ShowErrorBox;
  host.Log = [](const std::string& label, const std::string& value) {
    ToolLog(label, value, kLogBad);
  };
  return host;
}

TLoadDriver::TLoadDriver(bool rewrite, bool stopOnUnload, bool deleteOnUnload)
    : TLoadDriver(rewrite, stopOnUnload, deleteOnUnload, TDriverHost::System(),
                  EmbeddedDriverImages()) {}

TLoadDriver::TLoadDriver(bool rewrite, bool stopOnUnload, bool deleteOnUnload, TDriverHost host,
                         const TDriverImages& images)
    : DrvData(host.Os, images),
      Rewrite(rewrite),
      StopOnUnload(stopOnUnload),
      DeleteOnUnload(deleteOnUnload),
      Host(std::move(host)) {
  Handle = Load(kDriverServiceName, DrvData.Image, DrvData.Size);
}

TLoadDriver::~TLoadDriver() { Unload(Handle, kDriverServiceName); }

plat::DeviceHandle TLoadDriver::Fail() {
  if (Host.ShowError) Host.ShowError(kDriverErrorCaption, kDriverLoadFailedText);
  return plat::kInvalidDevice;
}

void TLoadDriver::Note(const std::string& label, const std::string& value) const {
  if (Host.Log) Host.Log(label, value);
}

void TLoadDriver::NoteServiceError(const std::string& step) const {
  const uint32_t error = Host.Services ? Host.Services->LastError() : 0;
  std::string value = "error " + std::to_string(error);
  if (error == plat::kErrorInvalidImageHash) {
    value += ": Windows could not verify the driver's signature";
  } else if (error == plat::kErrorDriverBlocked) {
    value += ": Windows blocked the driver";
  }
  Note(step, value);
}

bool TLoadDriver::WriteDriverFile(const std::string& path, const uint8_t* image, size_t size) {
  const plat::FileWrite result = Host.Files->Write(path, image, size);
  if (result == plat::FileWrite::Incomplete) Host.Files->Remove(path);
  if (result != plat::FileWrite::Written) {
    Note("Driver file", path + (result == plat::FileWrite::NotOpened ? " could not be created"
                                                                     : " could not be written"));
  }
  return result == plat::FileWrite::Written;
}

plat::DeviceHandle TLoadDriver::Load(const char* name, const uint8_t* image, size_t size) {
  const uint32_t level = Host.Os.VersionLevel;
  if (level < kLevelWin9x) return plat::kInvalidDevice;  // an unrecognised system: no message
  if (!name || !*name || !Host.Services || !Host.Files || !Host.Devices) return Fail();

  std::string file, device;
  if (level == kLevelWin9x) {
    const std::string system = Host.Files->SystemFolder();
    if (system.empty()) return Fail();
    file = system + "\\" + name + ".vxd";
    device = "\\\\.\\" + file;
  } else {
    // Under WOW64 the file goes into the real SysWOW64 drivers folder, the one that the file
    // system would redirect a 32-bit process to, and the service names that full path.
    std::string folder =
        Host.Os.NotWow64 ? Host.Files->SystemFolder() : Host.Files->WindowsFolder();
    if (folder.empty()) return Fail();
    if (!Host.Os.NotWow64) folder += "\\SysWOW64";
    file = folder + "\\Drivers\\" + name + ".sys";
    device = std::string("\\\\.\\") + name;
  }
  if (file.size() >= kPathBuffer || device.size() >= kPathBuffer) return Fail();

  // Place the driver file. Without an image a missing file cannot be placed: nothing is
  // installed for it, so no service ever points at a file that does not exist.
  const bool haveImage = image && size != 0;
  if (Rewrite && haveImage) {
    if (!WriteDriverFile(file, image, size)) return Fail();
  } else if (Host.Files->Probe(file) == plat::FileProbe::Missing) {
    if (!haveImage) Note("Driver file", file + " is missing and this build carries no image");
    if (!haveImage || !WriteDriverFile(file, image, size)) return Fail();
  }

  plat::DeviceHandle handle = plat::kInvalidDevice;
  if (level == kLevelWin9x) {
    // Opening the driver file's device loads the dynamic driver; closing unloads it.
    handle = Host.Devices->Open(device, plat::DeviceOpen::DynamicLoad);
    if (handle == plat::kInvalidDevice) {
      Note("Open " + device, "error " + std::to_string(Host.Devices->LastOpenError()));
    }
    return handle == plat::kInvalidDevice ? Fail() : handle;
  }

  plat::ServiceControl& services = *Host.Services;
  const plat::DeviceHandle probe = Host.Devices->Open(device, plat::DeviceOpen::ReadWrite);
  if (probe != plat::kInvalidDevice) {
    // Already running. Start the service anyway (harmless when it runs), and open the device
    // anew for the handle kept: the probe handle is closed, whether the service opened or not.
    Host.Devices->Close(probe);
    if (plat::ServiceHandle manager = services.OpenManager()) {
      if (plat::ServiceHandle service = services.OpenDriverService(manager, name)) {
        services.Start(service);
        services.Close(service);
      }
      services.Close(manager);
    }
    handle = Host.Devices->Open(device, plat::DeviceOpen::ReadWrite);
  } else if (plat::ServiceHandle manager = services.OpenManager()) {
    uint32_t error = 0;
    plat::ServiceHandle service = services.CreateDriverService(manager, name, file, error);
    if (!service && error == plat::kErrorServiceExists) {
      service = services.OpenDriverService(manager, name);
      if (!service) NoteServiceError(std::string("OpenService ") + name);
    } else if (!service) {
      Note(std::string("CreateService ") + name, "error " + std::to_string(error));
    }
    if (service) {
      // Fails when it runs already: the open below tells.
      if (!services.Start(service) && services.LastError() != plat::kErrorServiceAlreadyRunning) {
        NoteServiceError(std::string("StartService ") + name);
      }
      services.Close(service);
      services.Close(manager);
      handle = Host.Devices->Open(device, plat::DeviceOpen::ReadWrite);
      if (handle == plat::kInvalidDevice) {
        Note("Open " + device, "error " + std::to_string(Host.Devices->LastOpenError()));
      }
    } else {
      services.Close(manager);
    }
  } else {
    NoteServiceError("OpenSCManager");
  }
  return handle == plat::kInvalidDevice ? Fail() : handle;
}

void TLoadDriver::Unload(plat::DeviceHandle handle, const char*) {
  if (handle == plat::kInvalidDevice) return;
  if (Host.Devices) Host.Devices->Close(handle);
  // The 95/98/Me driver unloads when its delete-on-close handle closes.
  if (Host.Os.VersionLevel <= kLevelWin9x) return;
  if (StopOnUnload) StopService();
  if (DeleteOnUnload) RemoveService();
}

bool TLoadDriver::StopService() {
  if (Host.Os.VersionLevel <= kLevelWin9x || !Host.Services) return false;
  plat::ServiceControl& services = *Host.Services;
  plat::ServiceHandle manager = services.OpenManager();
  if (!manager) return false;
  bool stopped = false;
  if (plat::ServiceHandle service = services.OpenDriverService(manager, kDriverServiceName)) {
    stopped = services.Stop(service);
    services.Close(service);
  }
  services.Close(manager);
  return stopped;
}

bool TLoadDriver::RemoveService() {
  if (Host.Os.VersionLevel <= kLevelWin9x || !Host.Services) return false;
  plat::ServiceControl& services = *Host.Services;
  plat::ServiceHandle manager = services.OpenManager();
  if (!manager) return false;
  bool removed = false;
  if (plat::ServiceHandle service = services.OpenDriverService(manager, kDriverServiceName)) {
    removed = services.Remove(service);
    services.Close(service);
  }
  services.Close(manager);
  return removed;
}

namespace {
TLoadDriver* g_loadDriver = nullptr;
}

TLoadDriver* GetLoadDriver(bool rewrite, bool stopOnUnload, bool deleteOnUnload) {
  if (!g_loadDriver) g_loadDriver = new TLoadDriver(rewrite, stopOnUnload, deleteOnUnload);
  return g_loadDriver;
}

void ReleaseLoadDriver() {
  delete g_loadDriver;
  g_loadDriver = nullptr;
}

}  // namespace brumel
