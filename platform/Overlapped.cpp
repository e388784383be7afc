#include "platform/Overlapped.h"

namespace plat {

bool FinishPendingTransfer(const PendingTransfer& transfer, uint32_t timeoutMs, uint32_t& count) {
  count = 0;
  bool done = false;
  if (transfer.waitForCompletion(timeoutMs)) {
    done = transfer.result(false, count);
  } else if (transfer.result(false, count)) {
    done = true;  // it ended right after the wait
  } else {
    transfer.cancel();
    // A cancelled transfer reports failure; one that completed just before the cancel, success.
    done = transfer.result(true, count);
  }
  return done;
}

}  // namespace plat
