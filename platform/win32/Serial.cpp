#include "platform/Serial.h"

#include <windows.h>

namespace plat {

namespace {

HANDLE H(void* h) { return static_cast<HANDLE>(h); }

using CancelIoExFn = BOOL(WINAPI*)(HANDLE, LPOVERLAPPED);

// CancelIoEx where the system has it (Vista on); CancelIo, which cancels the calling thread's
// transfers on the handle, before that.
void CancelTransfer(HANDLE port, OVERLAPPED* ov) {
  static const CancelIoExFn cancelEx = [] {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC entry = kernel ? GetProcAddress(kernel, "CancelIoEx") : nullptr;
    return reinterpret_cast<CancelIoExFn>(reinterpret_cast<void (*)()>(entry));
  }();
  if (cancelEx) {
    cancelEx(port, ov);
  } else {
    CancelIo(port);
  }
}

// Waits for an overlapped transfer up to timeoutMs. A transfer still running then is cancelled
// and its completion waited for, so neither the record nor the caller's buffer is used after
// the return. True when the transfer finished successfully; bytes gets its count.
bool FinishTransfer(HANDLE port, OVERLAPPED* ov, uint32_t timeoutMs, DWORD* bytes) {
  DWORD w = WaitForSingleObject(ov->hEvent, timeoutMs);
  if (w == WAIT_OBJECT_0) return GetOverlappedResult(port, ov, bytes, FALSE) != 0;
  if (GetOverlappedResult(port, ov, bytes, FALSE)) return true;  // done right after the wait
  CancelTransfer(port, ov);
  // A cancelled transfer reports failure; one that completed just before the cancel, success.
  return GetOverlappedResult(port, ov, bytes, TRUE) != 0;
}

}  // namespace

SerialPort::~SerialPort() { Close(); }

std::string SerialPort::DevicePath(const std::string& name) { return "\\\\.\\" + name; }

bool SerialPort::Open(const std::string& name) {
  Close();
  if (name.empty()) return false;
  std::string path = DevicePath(name);
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;

  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = 0;
  t.ReadTotalTimeoutMultiplier = 0;
  t.ReadTotalTimeoutConstant = 20000;
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = 0;
  SetCommTimeouts(h, &t);

  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  if (GetCommState(h, &dcb)) {
    dcb.BaudRate = CBR_115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    SetCommState(h, &dcb);
  }

  SetCommMask(h, EV_RXCHAR | EV_TXEMPTY);
  SetupComm(h, 1024, 128);
  Purge();
  return true;
}

void SerialPort::Close() {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  CloseHandle(H(handle_));
  handle_ = INVALID_HANDLE_VALUE;
}

bool SerialPort::IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

void SerialPort::Purge() {
  if (IsOpen())
    PurgeComm(H(handle_), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
}

namespace {

// One overlapped read or write with its own event, ended within timeoutMs (a transfer still
// pending then is cancelled and completed before the call returns).
bool Transfer(HANDLE port, bool write, void* buffer, size_t length, size_t* count,
              uint32_t timeoutMs) {
  if (count) *count = 0;
  if (!buffer && length > 0) return false;
  HANDLE ev = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!ev) return false;
  OVERLAPPED ov{};
  ov.hEvent = ev;
  DWORD bytes = 0;
  const DWORD n = static_cast<DWORD>(length);
  const BOOL done =
      write ? WriteFile(port, buffer, n, &bytes, &ov) : ReadFile(port, buffer, n, &bytes, &ov);
  bool ok = false;
  if (done) {
    ok = true;
  } else if (GetLastError() == ERROR_IO_PENDING) {
    ok = FinishTransfer(port, &ov, timeoutMs, &bytes);
  }
  CloseHandle(ev);
  if (count) *count = bytes;
  return ok && bytes == length;
}

}  // namespace

bool SerialPort::Read(void* buffer, size_t length, size_t* count, uint32_t timeoutMs) {
  if (count) *count = 0;
  return IsOpen() && Transfer(H(handle_), false, buffer, length, count, timeoutMs);
}

bool SerialPort::Write(const void* buffer, size_t length, size_t* count, uint32_t timeoutMs) {
  if (count) *count = 0;
  return IsOpen() &&
         Transfer(H(handle_), true, const_cast<void*>(buffer), length, count, timeoutMs);
}

}  // namespace plat
