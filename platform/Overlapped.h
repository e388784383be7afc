// How an overlapped transfer that is still pending comes to its end (Windows HID and serial).
// The system steps are handed in as functions, so the rule is the same for every user and can
// be checked on any system.
#pragma once
#include <cstdint>
#include <functional>

namespace plat {

struct PendingTransfer {
  // Waits up to timeoutMs for the transfer's completion; true when it completed in that time.
  std::function<bool(uint32_t timeoutMs)> waitForCompletion;
  // Asks the system to cancel the transfer.
  std::function<void()> cancel;
  // The transfer's outcome; with wait set, after waiting for it to end. True when it completed
  // successfully; count gets the bytes it moved.
  std::function<bool(bool wait, uint32_t& count)> result;
};

// Waits up to timeoutMs. A transfer that has not ended then is cancelled, and its end is waited
// for, so nothing completes into the caller's record or buffer after the return. A transfer that
// completed before the cancel took effect counts like one that completed in time: true, with
// its count. False when it failed or was cancelled; count then holds what the system reported
// for it (a cancelled read may have moved some bytes).
bool FinishPendingTransfer(const PendingTransfer& transfer, uint32_t timeoutMs, uint32_t& count);

}  // namespace plat
