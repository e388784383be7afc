// brumel_lock_holder [seconds]
// brumel_lock_holder --probe
//
// Takes the tool's machine-wide single-instance lock and holds it until standard input reaches
// its end or the time limit (default 60 s) passes, then gives it back.
// Prints "locked" once the lock is held, "busy" (exit 2) when it could not be taken within
// five seconds, and "released" after giving it back.
// With --probe it only looks: "free" (exit 0) when the lock could be taken at once (it is given
// back), else "held" followed by " by pid N" where the system tells the holder (exit 2).
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/InstanceLock.h"
#include "platform/Time.h"

namespace {

constexpr const char* kInstanceGuid = "62E02173-24E1-421D-A0C0-D9EBC7F56EE6";
std::atomic<bool> inputClosed{false};

void WatchInput() {
  char buf[256];
  while (std::fread(buf, 1, sizeof buf, stdin) > 0) {
  }
  inputClosed = true;
}

}  // namespace

int Probe() {
  plat::InstanceLock lock(kInstanceGuid);
  if (lock.Acquire(0)) {
    lock.Release();
    std::printf("free\n");
    return 0;
  }
  const uint32_t holder = lock.Holder();
  if (holder != 0) {
    std::printf("held by pid %u\n", static_cast<unsigned>(holder));
  } else {
    std::printf("held\n");
  }
  return 2;
}

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--probe") == 0) {
    const int code = Probe();
    std::fflush(stdout);
    return code;
  }
  long seconds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 60;
  if (seconds <= 0) seconds = 60;

  plat::InstanceLock lock(kInstanceGuid);
  if (!lock.Acquire(5000)) {
    std::printf("busy\n");
    std::fflush(stdout);
    return 2;
  }
  std::printf("locked\n");
  std::fflush(stdout);

  // The reader may stay blocked when the time limit ends the wait; the process ends anyway.
  std::thread(WatchInput).detach();
  const uint64_t deadline = plat::MonotonicMs() + static_cast<uint64_t>(seconds) * 1000;
  while (!inputClosed && plat::MonotonicMs() < deadline) plat::SleepMs(10);

  lock.Release();
  std::printf("released\n");
  std::fflush(stdout);
  std::_Exit(0);
}
