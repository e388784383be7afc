// A serial port set to 115200 baud, 8 data bits, no parity, 1 stop bit, raw bytes, DTR raised.
//
// Windows: the comm device "\\.\" + name, overlapped I/O; a transfer that outlives its timeout is
// cancelled and completed before the call returns. Linux: termios on a device path (a name
// without a leading '/' is looked up under /dev), opened exclusively; timeouts by poll.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

class SerialPort {
 public:
  SerialPort() = default;
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // The path the port name is opened under ("\\.\COM3", "/dev/ttyUSB0").
  static std::string DevicePath(const std::string& name);

  // Closes a port already open, then opens and configures the named one, and discards
  // everything pending. False when the port does not exist, cannot be opened or is in use; the
  // line settings are applied as far as the device allows.
  bool Open(const std::string& name);
  void Close();
  bool IsOpen() const;

  // Discards everything pending on both sides (bytes received and not yet read, bytes not yet
  // sent), and ends a transfer left pending.
  void Purge();

  // Reads until length bytes arrived or timeoutMs passed. True only when all length bytes
  // arrived; count (may be null) gets the bytes read either way.
  bool Read(void* buffer, size_t length, size_t* count, uint32_t timeoutMs);
  // Writes length bytes, waiting at most timeoutMs for the line to take them. True when all
  // were written; count (may be null) gets the bytes written.
  bool Write(const void* buffer, size_t length, size_t* count, uint32_t timeoutMs);

 private:
#ifdef _WIN32
  void* handle_ = reinterpret_cast<void*>(static_cast<intptr_t>(-1));
#else
  int fd_ = -1;
#endif
};

}  // namespace plat
