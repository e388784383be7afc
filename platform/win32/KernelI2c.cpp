// Windows offers no kernel interface to a graphics card's I2C buses: the display library is the
// only way there.
#include "platform/KernelI2c.h"

namespace plat {

std::unique_ptr<KernelI2c> OpenKernelI2c() { return nullptr; }

std::unique_ptr<KernelI2c> OpenKernelI2cAt(const std::string&, const std::string&,
                                           const std::vector<std::string>&) {
  return nullptr;
}

}  // namespace plat
