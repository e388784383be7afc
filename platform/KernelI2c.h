// The kernel's own view of graphics cards and their I2C buses, for systems whose graphics driver
// offers the buses to programs (Linux: sysfs and i2c-dev). Nothing here probes a bus: the lists
// come from the kernel's description of its devices, and a bus node is opened only when a
// caller names that one bus.
//
// Windows has no such interface: OpenKernelI2c() returns null there and the display library is
// the only way to a card's I2C lines.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat {

// One PCI function of the display class (0x03) as the kernel lists it.
struct PciDisplayFunction {
  std::string Address;  // as the kernel names it: "0000:03:00.0"
  uint16_t Domain = 0;
  uint8_t Bus = 0;
  uint8_t Device = 0;
  uint8_t Function = 0;
  uint16_t VendorId = 0;
  uint16_t DeviceId = 0;
  uint16_t SubsystemVendorId = 0;
  uint16_t SubsystemId = 0;
  uint8_t Revision = 0;
  std::string Driver;  // the bound driver's name ("amdgpu"); empty when none is bound
};

// One I2C adapter (bus) the kernel registered.
struct I2cAdapterEntry {
  int Number = -1;   // N of i2c-N, which is also its device node's number
  std::string Name;  // the adapter's name, without the line end
  std::string Card;  // the address of the PCI function it belongs to; empty when none
};

// One message of a combined transfer: the 7-bit address, the direction and the bytes.
struct I2cMessage {
  uint16_t Address = 0;
  bool Read = false;
  uint8_t* Data = nullptr;
  uint16_t Length = 0;
};

// Bytes one message may carry (the kernel's limit for a message through i2c-dev).
inline constexpr size_t kMaxI2cMessageBytes = 8192;

// An opened bus node.
class I2cBus {
 public:
  virtual ~I2cBus() = default;
  // Whether the adapter offers plain I2C messages (I2C_FUNC_I2C); false when it does not or the
  // question fails.
  virtual bool OffersPlainI2c() = 0;
  // The messages as one transaction, each after a (repeated) start, one stop at the end. 0 when
  // every message went through, else the system's error number (EIO: no acknowledge, a
  // timeout, a lost arbitration). Bounded by the kernel's own time-out for the adapter.
  virtual int Transfer(I2cMessage* messages, size_t count) = 0;
};

// Why a bus node did not open.
enum class I2cOpenFailure {
  None,
  Missing,     // there is no node of that number
  Denied,      // the node is there, this user may not open it
  NotANode,    // something else is at its name (a link, a file, another device): not opened
  Failed,      // any other error; see the detail text
};

class KernelI2c {
 public:
  virtual ~KernelI2c() = default;
  // Every display-class PCI function, in PCI order (domain, bus, device, function).
  virtual std::vector<PciDisplayFunction> DisplayFunctions() = 0;
  // Every I2C adapter, in the order of their numbers.
  virtual std::vector<I2cAdapterEntry> Adapters() = 0;
  // Whether the kernel offers any bus node at all (Linux: some /dev/i2c-N; none when the
  // i2c-dev module is not loaded).
  virtual bool HasBusNodes() = 0;
  // The node of adapter `number` and nothing else. Null on failure, with why and the system's
  // text in detail. node gets the node's path either way.
  virtual std::unique_ptr<I2cBus> OpenBus(int number, I2cOpenFailure& why, std::string& detail,
                                          std::string& node) = 0;
  // The kernel's release ("6.15.2-amd64"); empty when unknown.
  virtual std::string KernelRelease() = 0;
  // The name the system's PCI id database gives the function: the entry of its subsystem
  // under its device when the database lists one, else the device's. Empty when there is no
  // database or it does not list the device.
  virtual std::string DatabaseName(const PciDisplayFunction& function) = 0;
};

// The running system's interface; null where the kernel offers none (Windows).
std::unique_ptr<KernelI2c> OpenKernelI2c();

// Linux: the interface over sysfs at sysRoot ("/sys"), the bus nodes in devRoot ("/dev") and
// the first of the PCI id databases that reads. Null on other systems.
std::unique_ptr<KernelI2c> OpenKernelI2cAt(const std::string& sysRoot, const std::string& devRoot,
                                           const std::vector<std::string>& pciIdDatabases);

// The name a PCI id database (the text of a pci.ids file) gives a device, as
// KernelI2c::DatabaseName describes it; empty when it does not list the device.
std::string PciDatabaseName(const std::string& database, uint16_t vendor, uint16_t device,
                            uint16_t subsystemVendor, uint16_t subsystem);

// Parses a PCI address as the kernel writes it ("0000:03:00.0", lower- or upper-case hex).
bool ParsePciAddress(const std::string& text, PciDisplayFunction& out);

}  // namespace plat
