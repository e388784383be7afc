#include "platform/Serial.h"

#include <windows.h>

#include "platform/win32/OverlappedWait.h"
#include "platform/win32/SerialSettings.h"

namespace plat {

namespace {

HANDLE H(void* h) { return static_cast<HANDLE>(h); }

}  // namespace

void ApplyLineSettings(DCB& dcb) {
  dcb.BaudRate = CBR_115200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  // Packets are binary: an earlier program's software flow control, null stripping or
  // abort-on-error would eat or stall them.
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
}

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
    ApplyLineSettings(dcb);
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
    uint32_t moved = 0;
    ok = FinishOverlapped(port, ov, timeoutMs, moved);
    bytes = moved;
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
