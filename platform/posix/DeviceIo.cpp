#include "platform/DeviceIo.h"

namespace plat {

namespace {

// The tool's driver exists only on Windows: no device ever opens here.
class NoDeviceIo final : public DeviceIo {
 public:
  DeviceHandle Open(const std::string&, DeviceOpen) override { return kInvalidDevice; }
  bool Control(DeviceHandle, uint32_t, const void*, uint32_t, void*, uint32_t,
               uint32_t& returned) override {
    returned = 0;
    return false;
  }
  void Close(DeviceHandle) override {}
};

}  // namespace

DeviceIo& SystemDeviceIo() {
  static NoDeviceIo instance;
  return instance;
}

}  // namespace plat
