// The simulated controller on the far end of a serial line, for tests: a pseudo-terminal pair
// whose slave side the tool opens as its serial port. A thread takes every 64 bytes written to
// the line as one packet and writes the model's 64-byte reply back (bare bytes, no report id),
// with the scenario's faults. An unplug hangs the line up.
#pragma once
#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "sim/model/ControllerModel.h"
#include "sim/model/Scenario.h"

namespace brumel::sim {

class SerialPeer {
 public:
  explicit SerialPeer(const Scenario& scenario);
  ~SerialPeer();  // stops the thread and closes both sides
  SerialPeer(const SerialPeer&) = delete;
  SerialPeer& operator=(const SerialPeer&) = delete;

  // False when the pseudo-terminal could not be set up; Error() says why.
  bool Ok() const { return ok_; }
  const std::string& Error() const { return error_; }

  // Path of the slave side, e.g. "/dev/pts/7", for the serial transport to open.
  const std::string& SlavePath() const { return slavePath_; }

  uint32_t PacketsReceived() const;
  bool HungUp() const { return hungUp_; }

 private:
  void Run();
  bool Fail(const char* what);

  mutable std::mutex modelLock_;
  ControllerModel model_;
  int master_ = -1;
  int slave_ = -1;  // held open so that the line stays up between the tool's opens
  int wake_[2] = {-1, -1};
  std::string slavePath_;
  std::string error_;
  bool ok_ = false;
  std::atomic<bool> hungUp_{false};
  std::thread thread_;
};

}  // namespace brumel::sim
