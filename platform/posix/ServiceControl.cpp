#include "platform/ServiceControl.h"

namespace plat {

namespace {

// No service control manager here: nothing can be installed.
class NoServiceControl final : public ServiceControl {
 public:
  ServiceHandle OpenManager() override { return nullptr; }
  ServiceHandle CreateDriverService(ServiceHandle, const std::string&, const std::string&,
                                    uint32_t& error) override {
    error = kErrorNotSupported;
    return nullptr;
  }
  ServiceHandle OpenDriverService(ServiceHandle, const std::string&) override { return nullptr; }
  bool Start(ServiceHandle) override { return false; }
  bool Stop(ServiceHandle) override { return false; }
  bool Remove(ServiceHandle) override { return false; }
  void Close(ServiceHandle) override {}
};

}  // namespace

ServiceControl& SystemServiceControl() {
  static NoServiceControl instance;
  return instance;
}

}  // namespace plat
