// The kernel driver that reads PCI configuration space for the tool: which image fits the
// running Windows, writing it into the system's drivers folder, installing it as the service
// "BrumelDrv103", starting it and opening its device.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/DeviceIo.h"
#include "platform/DriverFiles.h"
#include "platform/ServiceControl.h"

namespace brumel {

inline constexpr char kDriverServiceName[] = "BrumelDrv103";
inline constexpr char kDriverErrorCaption[] = "Error";
inline constexpr char kDriverLoadFailedText[] =
    "Driver cannot be loaded, re-install the program may fix the issue, if it happens again, "
    "report the problem with your system configuration as detail as possible.";

// Version levels (TOsVersion): below 16 an unrecognised system, 16 the 95/98/Me family, above
// 16 the NT family.
inline constexpr uint32_t kLevelWin9x = 16;

// What the loader needs to know of the running system.
struct TDriverOs {
  uint32_t VersionLevel = 0;
  bool NotWow64 = true;
  bool X64 = false;
  bool IA64 = false;

  // The process-wide OS version object's answers.
  static TDriverOs Current();
};

// The driver images a build carries, one per family and processor; null and 0 for each one
// that is not carried.
struct TDriverImages {
  const uint8_t* Vxd = nullptr;  // Windows 95/98/Me virtual device driver
  size_t VxdSize = 0;
  const uint8_t* X86 = nullptr;  // 32-bit x86 kernel driver
  size_t X86Size = 0;
  const uint8_t* IA64 = nullptr;  // Itanium kernel driver
  size_t IA64Size = 0;
  const uint8_t* X64 = nullptr;  // x64 kernel driver
  size_t X64Size = 0;
};

// The images embedded in this build (none unless the build was given a folder of them).
const TDriverImages& EmbeddedDriverImages();

// The driver image that fits the system, or none.
struct TRwDrvData {
  // Chooses among the embedded images for the running system.
  TRwDrvData();
  TRwDrvData(const TDriverOs& os, const TDriverImages& images);

  const uint8_t* Image = nullptr;
  size_t Size = 0;
};

// Everything of the system the loader touches; tests put fakes in its place.
struct TDriverHost {
  TDriverOs Os;
  plat::ServiceControl* Services = nullptr;
  plat::DriverFiles* Files = nullptr;
  plat::DeviceIo* Devices = nullptr;
  std::function<void(const char* caption, const char* text)> ShowError;
  // One diagnostic line about a step that failed (the tool's debug console).
  std::function<void(const std::string& label, const std::string& value)> Log;

  // The running system's.
  static TDriverHost System();
};

class TLoadDriver {
 public:
  // Loads the driver of the running system at once.
  TLoadDriver(bool rewrite, bool stopOnUnload, bool deleteOnUnload);
  // The same on the given host, with the given images to choose from.
  TLoadDriver(bool rewrite, bool stopOnUnload, bool deleteOnUnload, TDriverHost host,
              const TDriverImages& images);
  ~TLoadDriver();
  TLoadDriver(const TLoadDriver&) = delete;
  TLoadDriver& operator=(const TLoadDriver&) = delete;

  // The open device, kInvalidDevice when loading failed.
  plat::DeviceHandle GetHandle() const { return Handle; }

  // Places the driver file, installs and starts the service, opens the device. kInvalidDevice
  // on failure, after the failure message (none on an unrecognised system).
  plat::DeviceHandle Load(const char* name, const uint8_t* image, size_t size);
  // Closes the device; stops and deletes the service as the flags ask.
  void Unload(plat::DeviceHandle handle, const char* name);
  // What the system answered; false on the 95/98/Me family and below.
  bool StopService();
  bool RemoveService();
  // Creates or truncates path and writes the image; a file left incomplete is deleted, so that
  // a later run writes it again. True only when every byte was written.
  bool WriteDriverFile(const std::string& path, const uint8_t* image, size_t size);

  plat::DeviceHandle Handle = plat::kInvalidDevice;
  TRwDrvData DrvData;
  bool Rewrite;
  bool StopOnUnload;
  bool DeleteOnUnload;

 private:
  plat::DeviceHandle Fail();
  void Note(const std::string& label, const std::string& value) const;
  // A step of the service manager that failed, with the system's code.
  void NoteServiceError(const std::string& step) const;
  TDriverHost Host;
};

// The process-wide loader; the first call creates it with the flags (loading the driver),
// later calls ignore them.
TLoadDriver* GetLoadDriver(bool rewrite, bool stopOnUnload, bool deleteOnUnload);
// Destroys the process-wide loader, if there is one.
void ReleaseLoadDriver();

}  // namespace brumel
