// Figures for one PCI configuration read: sealed into an envelope for the driver (random bytes,
// key setup and AES through the system's library; the device call answered at once by a
// stand-in), and through the system's source without a driver (sysfs on Linux, the display
// adapters' device properties on Windows).
//
// Usage: brumel_seal_bench [--rows] [iterations (default 2000)]
// Per read: median and 99th percentile of the wall time. --rows: also the row of scripts/
// benchmark.sh's table (tests/bench/BenchRows.h).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "BenchRows.h"
#include "support/ReadWrite.h"

namespace {

using Clock = std::chrono::steady_clock;

// The driver's device, answering every configuration read at once.
class InstantDriver final : public plat::DeviceIo {
 public:
  plat::DeviceHandle Open(const std::string&, plat::DeviceOpen) override {
    return plat::kInvalidDevice;
  }
  bool Control(plat::DeviceHandle, uint32_t, const void*, uint32_t, void* out, uint32_t outSize,
               uint32_t& returned) override {
    std::memset(out, 0, outSize);
    returned = outSize;
    return true;
  }
  void Close(plat::DeviceHandle) override {}
};

// The median, in microseconds.
double Measure(const char* what, int iterations, const std::function<uint32_t()>& read) {
  std::vector<double> us;
  us.reserve(static_cast<size_t>(iterations));
  uint32_t last = 0;
  for (int i = 0; i < iterations; ++i) {
    const Clock::time_point start = Clock::now();
    last = read();
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(us.begin(), us.end());
  std::printf("%-44s median %8.1f us   p99 %8.1f us   (last value %08X)\n", what, us[us.size() / 2],
              us[us.size() * 99 / 100], static_cast<unsigned>(last));
  return us[us.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  bench::TakeRowsOption(argc, argv);
  const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;

  InstantDriver driver;
  brumel::TReadWriteSetup setup;
  setup.VersionLevel = 0x1C1;
  setup.UseDriver = true;
  setup.Device = 1;
  setup.Devices = &driver;
  setup.Crypto = std::make_unique<brumel::TCryptography>();
  brumel::TReadWrite sealed(std::move(setup));
  const double sealedUs = Measure("sealed request (driver answers at once)", iterations,
                                  [&] { return sealed.ReadPciConfig(3, 0, 0x2C, 0); });

  brumel::TReadWrite* system = brumel::GetReadWrite();
  const double systemUs =
      Measure(system->UsesDriver() ? "system: the driver" : "system: no driver (bus 0, device 0)",
              iterations, [&] { return system->ReadPciConfig(0, 0, 0, 0); });
  bench::Row("PCI configuration read", "-",
             bench::Text("sealed request %.1f us; the system's source %.1f us", sealedUs, systemUs),
             bench::Text("medians, n=%d; a stand-in driver answers at once", iterations));
  return 0;
}
