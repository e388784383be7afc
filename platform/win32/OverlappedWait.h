// The end of an overlapped transfer or device request on Windows, one rule for every user:
// waited for up to its bound, then cancelled and waited for until it is over (see
// FinishPendingTransfer), so nothing completes into a record or buffer that has gone.
#pragma once
#include <windows.h>

#include <cstdint>

namespace plat {

// Cancels one transfer: CancelIoEx where the system has it (Vista on); before that CancelIo,
// which cancels the calling thread's transfers on the handle (the thread that started it here).
void CancelOverlapped(HANDLE handle, OVERLAPPED* overlapped);

// A transfer that is pending on handle, with overlapped.hEvent as its completion event (null:
// nothing to wait on, it is cancelled at once). True when it completed successfully, in time or
// as the cancel came; moved gets what it moved.
bool FinishOverlapped(HANDLE handle, OVERLAPPED& overlapped, uint32_t timeoutMs, uint32_t& moved);

}  // namespace plat
