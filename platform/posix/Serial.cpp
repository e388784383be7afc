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

// Waits until fd is ready for events or the deadline passes. False on time-out, and at once
// when the line hung up or failed: a hung-up line also reports itself readable, and its reads
// give 0 bytes for ever, so waiting on would only spin until the time is up.
bool WaitReady(int fd, short events, uint64_t deadline) {
  for (;;) {
    uint64_t now = MonotonicMs();
    if (now >= deadline) return false;
    pollfd p{fd, events, 0};
    int r = poll(&p, 1, static_cast<int>(deadline - now));
    if (r > 0) {
      if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return false;
      return (p.revents & events) != 0;
    }
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

namespace {

// Moves length bytes with read or write, waiting for the line up to timeoutMs in total.
// count gets what was moved; true only when all of it was.
template <typename Move>
bool Transfer(int fd, unsigned char* p, size_t length, size_t* count, uint32_t timeoutMs,
              short ready, Move move) {
  size_t done = 0;
  const uint64_t deadline = MonotonicMs() + timeoutMs;
  while (done < length) {
    ssize_t r = move(fd, p + done, length - done);
    if (r > 0) {
      done += static_cast<size_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    // A raw line without a minimum count reads 0 bytes when nothing is there yet.
    if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
    if (!WaitReady(fd, ready, deadline)) break;
  }
  if (count) *count = done;
  return done == length;
}

}  // namespace

bool SerialPort::Read(void* buffer, size_t length, size_t* count, uint32_t timeoutMs) {
  if (count) *count = 0;
  if (fd_ < 0 || (!buffer && length > 0)) return false;
  return Transfer(fd_, static_cast<unsigned char*>(buffer), length, count, timeoutMs, POLLIN,
                  [](int fd, unsigned char* p, size_t n) { return ::read(fd, p, n); });
}

bool SerialPort::Write(const void* buffer, size_t length, size_t* count, uint32_t timeoutMs) {
  if (count) *count = 0;
  if (fd_ < 0 || (!buffer && length > 0)) return false;
  return Transfer(fd_, static_cast<unsigned char*>(const_cast<void*>(buffer)), length, count,
                  timeoutMs, POLLOUT,
                  [](int fd, unsigned char* p, size_t n) { return ::write(fd, p, n); });
}

}  // namespace plat
