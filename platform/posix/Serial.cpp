#include "platform/Serial.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/Time.h"

namespace plat {

namespace {

// Waits until fd is ready for events or the deadline passes. False on time-out, and when the
// line hung up or failed without being ready.
bool WaitReady(int fd, short events, uint64_t deadline) {
  for (;;) {
    uint64_t now = MonotonicMs();
    if (now >= deadline) return false;
    pollfd p{fd, events, 0};
    int r = poll(&p, 1, static_cast<int>(deadline - now));
    if (r > 0) return (p.revents & events) != 0;
    if (r < 0 && errno != EINTR) return false;
  }
}

void ApplyLineSettings(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return;
  cfmakeraw(&tio);
  cfsetispeed(&tio, B115200);
  cfsetospeed(&tio, B115200);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
  tio.c_cflag |= CS8 | CREAD | CLOCAL;
  tio.c_iflag &= ~(INPCK | IXON | IXOFF);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &tio);
  int dtr = TIOCM_DTR;
  ioctl(fd, TIOCMBIS, &dtr);  // a pseudo-terminal has no modem lines: ignored there
}

}  // namespace

SerialPort::~SerialPort() { Close(); }

std::string SerialPort::DevicePath(const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  return "/dev/" + name;
}

bool SerialPort::Open(const std::string& name) {
  Close();
  if (name.empty()) return false;
  std::string path = DevicePath(name);
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  // Not shared: another user of the port (this tool or one that honours the lock) makes the
  // open fail; TIOCEXCL keeps later plain opens out while we hold it.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || !isatty(fd)) {
    ::close(fd);
    return false;
  }
  ioctl(fd, TIOCEXCL);
  fd_ = fd;
  ApplyLineSettings(fd_);
  Purge();
  return true;
}

void SerialPort::Close() {
  if (fd_ < 0) return;
  ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
}

bool SerialPort::IsOpen() const { return fd_ >= 0; }

void SerialPort::Purge() {
  if (fd_ >= 0) tcflush(fd_, TCIOFLUSH);
}

bool SerialPort::Read(void* buffer, size_t length, size_t* count, uint32_t timeoutMs) {
  if (count) *count = 0;
  if (fd_ < 0 || (!buffer && length > 0)) return false;
  auto* p = static_cast<unsigned char*>(buffer);
  size_t got = 0;
  uint64_t deadline = MonotonicMs() + timeoutMs;
  while (got < length) {
    ssize_t r = ::read(fd_, p + got, length - got);
    if (r > 0) {
      got += static_cast<size_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    // A raw line without a minimum count reads 0 bytes when nothing is there yet.
    if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
    if (!WaitReady(fd_, POLLIN, deadline)) break;
  }
  if (count) *count = got;
  return got == length;
}

bool SerialPort::Write(const void* buffer, size_t length, size_t* count, uint32_t timeoutMs) {
  if (count) *count = 0;
  if (fd_ < 0 || (!buffer && length > 0)) return false;
  const auto* p = static_cast<const unsigned char*>(buffer);
  size_t put = 0;
  uint64_t deadline = MonotonicMs() + timeoutMs;
  while (put < length) {
    ssize_t r = ::write(fd_, p + put, length - put);
    if (r > 0) {
      put += static_cast<size_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
    if (!WaitReady(fd_, POLLOUT, deadline)) break;
  }
  if (count) *count = put;
  return put == length;
}

}  // namespace plat
