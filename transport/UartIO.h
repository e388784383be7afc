// Serial link of the controller channel: one 64-byte ISP packet per write, one 64-byte reply per
// read, bare bytes on the line (no report id, length or delimiter).
#pragma once
#include <cstdint>
#include <string>

#include "platform/Serial.h"

namespace brumel {

class CUartIO {
 public:
  CUartIO() = default;
  ~CUartIO() { ClosePort(); }
  CUartIO(const CUartIO&) = delete;
  CUartIO& operator=(const CUartIO&) = delete;

  // Opens and sets up the named port (115200 8N1, raw, DTR raised), closing one already open.
  // False when the port does not exist or is in use.
  bool OpenPort(const std::string& portName);
  void ClosePort();
  bool IsOpen() const { return Port.IsOpen(); }

  // Reads length bytes, waiting at most timeoutMs. False when they did not all arrive in time;
  // count (may be null) gets the bytes read.
  bool Read(void* buffer, uint32_t length, uint32_t* count, uint32_t timeoutMs);
  // Discards whatever is pending on the port (stale replies included), then writes length bytes
  // within timeoutMs. False on a closed port or when the write fails; count (may be null) gets
  // the bytes written.
  bool Write(const void* buffer, uint32_t length, uint32_t* count, uint32_t timeoutMs);

 private:
  plat::SerialPort Port;
};

}  // namespace brumel
