#include "platform/win32/OverlappedWait.h"

#include "platform/DynLib.h"
#include "platform/Overlapped.h"

namespace plat {

namespace {
using CancelIoExFn = BOOL(WINAPI*)(HANDLE file, LPOVERLAPPED overlapped);
}  // namespace

void CancelOverlapped(HANDLE handle, OVERLAPPED* overlapped) {
  static const CancelIoExFn cancelIoEx =
      LookupEntryAs<CancelIoExFn>(GetModuleHandleA("kernel32.dll"), "CancelIoEx");
  if (cancelIoEx) {
    cancelIoEx(handle, overlapped);
  } else {
    CancelIo(handle);
  }
}

bool FinishOverlapped(HANDLE handle, OVERLAPPED& overlapped, uint32_t timeoutMs, uint32_t& moved) {
  PendingTransfer pending;
  pending.waitForCompletion = [&](uint32_t ms) {
    return overlapped.hEvent && WaitForSingleObject(overlapped.hEvent, ms) == WAIT_OBJECT_0;
  };
  pending.cancel = [&] { CancelOverlapped(handle, &overlapped); };
  pending.result = [&](bool wait, uint32_t& n) {
    DWORD got = 0;
    const bool ok = GetOverlappedResult(handle, &overlapped, &got, wait ? TRUE : FALSE) != 0;
    n = got;
    return ok;
  };
  return FinishPendingTransfer(pending, timeoutMs, moved);
}

}  // namespace plat
