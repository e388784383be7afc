#include "sim/model/SerialPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>

#include "sim/model/SimLog.h"

namespace brumel::sim {

namespace {

using Clock = std::chrono::steady_clock;

struct PendingReply {
  Clock::time_point due;
  Packet bytes;
};

bool WriteAll(int fd, const uint8_t* data, size_t length) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(fd, data + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 100);
      continue;
    }
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

SerialPeer::SerialPeer(const Scenario& scenario) : model_(scenario) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) {
    Fail("posix_openpt");
    return;
  }
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    Fail("grantpt/unlockpt");
    return;
  }
  char name[128];
  if (::ptsname_r(master_, name, sizeof name) != 0) {
    Fail("ptsname");
    return;
  }
  slavePath_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    Fail("open slave");
    return;
  }
  termios tio{};
  if (::tcgetattr(slave_, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    ::tcsetattr(slave_, TCSANOW, &tio);
  }
  const int flags = ::fcntl(master_, F_GETFL);
  ::fcntl(master_, F_SETFL, flags | O_NONBLOCK);
  if (::pipe2(wake_, O_CLOEXEC) != 0) {
    Fail("pipe");
    return;
  }
  ok_ = true;
  thread_ = std::thread([this] { Run(); });
}

bool SerialPeer::Fail(const char* what) {
  error_ = std::string(what) + ": " + std::strerror(errno);
  return false;
}

SerialPeer::~SerialPeer() {
  if (thread_.joinable()) {
    const char stop = 'x';
    while (::write(wake_[1], &stop, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  for (int fd : {master_, slave_, wake_[0], wake_[1]}) {
    if (fd >= 0) ::close(fd);
  }
}

uint32_t SerialPeer::PacketsReceived() const {
  std::lock_guard<std::mutex> hold(modelLock_);
  return model_.ReportsReceived();
}

void SerialPeer::Run() {
  Packet request{};
  size_t have = 0;
  std::deque<PendingReply> replies;
  for (;;) {
    int waitMs = -1;
    if (!replies.empty()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(replies.front().due - Clock::now());
      waitMs = left.count() < 0 ? 0 : static_cast<int>(left.count()) + 1;
    }
    pollfd fds[2] = {{wake_[0], POLLIN, 0}, {master_, POLLIN, 0}};
    const int n = ::poll(fds, master_ >= 0 ? 2 : 1, waitMs);
    if (n < 0 && errno != EINTR) return;
    if (fds[0].revents) return;

    while (!replies.empty() && replies.front().due <= Clock::now()) {
      if (master_ >= 0) WriteAll(master_, replies.front().bytes.data(), kPacketBytes);
      replies.pop_front();
    }
    if (master_ < 0 || !(fds[1].revents & POLLIN)) continue;

    const ssize_t got = ::read(master_, request.data() + have, kPacketBytes - have);
    if (got <= 0) continue;
    have += static_cast<size_t>(got);
    if (have < kPacketBytes) continue;
    have = 0;

    Outcome out;
    {
      std::lock_guard<std::mutex> hold(modelLock_);
      out = model_.Receive(request.data(), kPacketBytes);
    }
    if (!out.received) {
      // The controller is gone: hang the line up so the tool's reads and writes fail.
      ShowNotice("serial line " + slavePath_ + " unplugged");
      hungUp_ = true;
      ::close(master_);
      master_ = -1;
      replies.clear();
      continue;
    }
    LogReceived(request.data(), kPacketBytes, out.meaning);
    if (!out.notice.empty()) ShowNotice(out.notice);
    if (out.reply) {
      // Replies leave in the order of their requests.
      auto due = Clock::now() + std::chrono::milliseconds(out.delayMs);
      if (!replies.empty() && due < replies.back().due) due = replies.back().due;
      replies.push_back({due, out.bytes});
    }
  }
}

}  // namespace brumel::sim
