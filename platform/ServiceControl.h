// The system's service control manager, as far as the driver loader needs it: install a kernel
// driver as an on-demand service, start, stop and delete it.
//
// Windows: the service control manager (advapi32). Other systems have none: every call fails.
// The loader reaches all of it through this interface, so its flow can run against a fake.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

// An open manager or service; null means none.
using ServiceHandle = void*;

// Error codes of the system, as the loader compares them.
inline constexpr uint32_t kErrorServiceExists = 1073;
inline constexpr uint32_t kErrorNotSupported = 50;

class ServiceControl {
 public:
  virtual ~ServiceControl() = default;

  // The manager of the local machine with all access; null when it cannot be opened.
  virtual ServiceHandle OpenManager() = 0;
  // Creates a kernel-driver service started on demand, error control normal, with name as both
  // service and display name and imagePath as its image; all access. Null on failure, with the
  // system's error code in error (kErrorServiceExists when the name is taken).
  virtual ServiceHandle CreateDriverService(ServiceHandle manager, const std::string& name,
                                            const std::string& imagePath, uint32_t& error) = 0;
  // The existing service with all access; null when it cannot be opened.
  virtual ServiceHandle OpenDriverService(ServiceHandle manager, const std::string& name) = 0;
  // Starts the service without arguments; false when the system refuses (already running
  // included).
  virtual bool Start(ServiceHandle service) = 0;
  // Sends the stop control; false when the system refuses.
  virtual bool Stop(ServiceHandle service) = 0;
  // Marks the service for deletion; false when the system refuses.
  virtual bool Remove(ServiceHandle service) = 0;
  // Closes a manager or service handle; null is ignored.
  virtual void Close(ServiceHandle handle) = 0;
  // The system's code for the last call of this object that failed; 0 when it is not known.
  virtual uint32_t LastError() const { return 0; }
};

// Well-known codes of a refused start, as the driver loader names them.
inline constexpr uint32_t kErrorInvalidImageHash = 577;  // the signature could not be verified
inline constexpr uint32_t kErrorDriverBlocked = 1275;    // the system blocked the driver
inline constexpr uint32_t kErrorServiceAlreadyRunning = 1056;

// The running system's service control manager.
ServiceControl& SystemServiceControl();

}  // namespace plat
