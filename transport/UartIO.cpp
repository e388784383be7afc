#include "transport/UartIO.h"

namespace brumel {

bool CUartIO::OpenPort(const std::string& portName) { return Port.Open(portName); }

void CUartIO::ClosePort() { Port.Close(); }

bool CUartIO::Read(void* buffer, uint32_t length, uint32_t* count, uint32_t timeoutMs) {
  size_t got = 0;
  bool ok = Port.Read(buffer, length, &got, timeoutMs);
  if (count) *count = static_cast<uint32_t>(got);
  return ok;
}

bool CUartIO::Write(const void* buffer, uint32_t length, uint32_t* count, uint32_t timeoutMs) {
  if (count) *count = 0;
  if (!Port.IsOpen()) return false;
  Port.Purge();
  size_t put = 0;
  bool ok = Port.Write(buffer, length, &put, timeoutMs);
  if (count) *count = static_cast<uint32_t>(put);
  return ok;
}

}  // namespace brumel
