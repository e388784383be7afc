#include "platform/ServiceControl.h"

#include <windows.h>

#include "platform/win32/WideText.h"

namespace plat {

namespace {

SC_HANDLE Sc(ServiceHandle h) { return static_cast<SC_HANDLE>(h); }

class WindowsServiceControl final : public ServiceControl {
 public:
  ServiceHandle OpenManager() override {
    return Noted(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  }

  ServiceHandle CreateDriverService(ServiceHandle manager, const std::string& name,
                                    const std::string& imagePath, uint32_t& error) override {
    error = 0;
    const std::wstring service16 = Wide(name);
    const std::wstring image16 = Wide(imagePath);
    if (service16.empty() || image16.empty()) {
      error = ERROR_INVALID_NAME;
      return nullptr;
    }
    SC_HANDLE service =
        CreateServiceW(Sc(manager), service16.c_str(), service16.c_str(), SERVICE_ALL_ACCESS,
                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                       image16.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!service) error = lastError_ = GetLastError();
    return service;
  }

  ServiceHandle OpenDriverService(ServiceHandle manager, const std::string& name) override {
    return Noted(OpenServiceW(Sc(manager), Wide(name).c_str(), SERVICE_ALL_ACCESS));
  }

  bool Start(ServiceHandle service) override {
    return Noted(StartServiceW(Sc(service), 0, nullptr) != 0);
  }

  bool Stop(ServiceHandle service) override {
    SERVICE_STATUS status{};
    return Noted(ControlService(Sc(service), SERVICE_CONTROL_STOP, &status) != 0);
  }

  bool Remove(ServiceHandle service) override { return Noted(::DeleteService(Sc(service)) != 0); }

  void Close(ServiceHandle handle) override {
    if (handle) CloseServiceHandle(Sc(handle));
  }

  uint32_t LastError() const override { return lastError_; }

 private:
  // Keeps the system's code of a call that failed.
  SC_HANDLE Noted(SC_HANDLE handle) {
    if (!handle) lastError_ = GetLastError();
    return handle;
  }
  bool Noted(bool done) {
    if (!done) lastError_ = GetLastError();
    return done;
  }

  uint32_t lastError_ = 0;
};

}  // namespace

ServiceControl& SystemServiceControl() {
  static WindowsServiceControl instance;
  return instance;
}

}  // namespace plat
