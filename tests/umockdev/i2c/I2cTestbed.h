// A umockdev test bed of graphics cards as Linux shows them with amdgpu: each card's PCI function
// in sysfs, its I2C adapters with the names the driver gives them, and their i2c-dev nodes. Every
// node answers its ioctls from this process and logs each open and each request; the node of one
// bus has the simulated LED controller behind it at 0x36, answering I2C_RDWR messages as the
// controller answers ISP packets over I2C.
//
// Only a process under umockdev's preload library can make one (main() sees to it); programs it
// starts inherit the test bed through their environment.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/model/ControllerModel.h"

namespace i2ctb {

struct BusSpec {
  int number = 0;
  std::string name;
  bool node = true;  // an i2c-dev node /dev/i2c-N (none without i2c-dev)
};

struct CardSpec {
  std::string address = "0000:03:00.0";
  uint16_t vendor = 0x1002;
  uint16_t device = 0x73BF;
  uint16_t subsystemVendor = 0x1002;
  uint16_t subsystem = 0x0E3A;
  std::string driver = "amdgpu";
  std::vector<BusSpec> buses;
};

// One message of an I2C_RDWR request as the node received it.
struct Message {
  uint16_t address = 0;
  bool read = false;
  uint16_t length = 0;
  std::vector<uint8_t> written;  // a write's bytes
};

// What a node saw, in order: "open", "funcs", "rdwr" (with its messages) or "ioctl <number>".
struct Event {
  std::string node;
  std::string what;
  std::vector<Message> messages;
};

class Testbed {
 public:
  Testbed();
  ~Testbed();
  Testbed(const Testbed&) = delete;
  Testbed& operator=(const Testbed&) = delete;

  void AddCard(const CardSpec& card);
  // Attaches a handler to every node added so far; the controller sits on bus controllerBus
  // (-1: on none, every transfer is refused).
  void Attach(int controllerBus);

  // How the controller's bus behaves.
  bool plainI2c = true;     // I2C_FUNCS reports I2C_FUNC_I2C
  bool acknowledge = true;  // false: every transfer ends in EIO, as without a device

  std::vector<Event> Events() const;
  // The nodes opened, in order.
  std::vector<std::string> Opens() const;

  // For the handlers.
  void Record(Event event);
  // Answers the messages of one I2C_RDWR on the controller's bus; false: EIO.
  bool Answer(std::vector<Message>& messages, std::vector<std::vector<uint8_t>>& replies);
  int ControllerBus() const { return controllerBus_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  mutable std::mutex lock_;
  std::vector<Event> events_;
  std::vector<int> nodes_;
  int controllerBus_ = -1;
  brumel::sim::ControllerModel model_;
  bool hasReply_ = false;
  brumel::sim::Packet reply_{};
};

// Re-runs the program under umockdev's preload library unless it already runs so. Returns
// only when it does (or when it cannot, with a message).
void RunUnderUmockdev(int argc, char** argv);

}  // namespace i2ctb
