// Figures for the controller channel over the simulated links: the raw LED exchange and ISP
// queries over USB HID (the substitute hidapi beside this executable, loaded at run time as the
// tool loads hidapi), over a pseudo-terminal serial line (the simulator's serial peer), and over
// the GPU I2C link (the substitute display library beside this executable). On each link the
// whole information display is also timed against the pauses the protocol mandates there.
//
// Usage: brumel_link_bench [--rows] [fast iterations (default 2000)] [paused iterations (50)]
// --rows: also the rows of scripts/benchmark.sh's table (tests/bench/BenchRows.h).
//
// Per operation: median and 99th percentile of the wall time, and the CPU time of the calling
// thread. The model's own share is measured by calling the controller model directly with the
// same packet; the tool's framing share by running the framing functions alone.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BenchRows.h"
#include "isp/ChipLink.h"
#include "isp/ISPLdCMD.h"
#include "isp/IspPacket.h"
#include "isp/RunOptions.h"
#include "sim/model/ControllerModel.h"
#include "sim/model/Scenario.h"
#include "sim/model/SerialPeer.h"

namespace {

using Clock = std::chrono::steady_clock;

double ThreadCpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

struct Figures {
  double medianUs = 0;
  double p99Us = 0;
  double cpuUs = 0;  // mean CPU time of the calling thread per operation
  int failures = 0;
};

// Runs op n times (after a few warm-up runs) and collects the figures.
Figures Measure(int n, const std::function<bool()>& op) {
  for (int i = 0; i < 5; ++i) op();
  std::vector<double> us;
  us.reserve(static_cast<size_t>(n));
  Figures f;
  const double cpu0 = ThreadCpuNs();
  for (int i = 0; i < n; ++i) {
    auto t0 = Clock::now();
    if (!op()) ++f.failures;
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  f.cpuUs = (ThreadCpuNs() - cpu0) / 1000.0 / n;
  std::sort(us.begin(), us.end());
  f.medianUs = us[us.size() / 2];
  size_t p99 = (us.size() * 99 + 99) / 100;
  f.p99Us = us[std::min(us.size(), std::max<size_t>(p99, 1)) - 1];
  return f;
}

void Print(const char* link, const char* what, int n, const Figures& f) {
  std::printf("%-7s %-38s n=%-5d median %9.1f us   p99 %9.1f us   thread CPU %8.1f us%s\n", link,
              what, n, f.medianUs, f.p99Us, f.cpuUs, f.failures ? "   FAILURES!" : "");
  if (f.failures) std::printf("        (%d of %d failed)\n", f.failures, n);
}

// Median time of one direct call of the model with the given packet.
double ModelUs(const brumel::sim::Packet& packet, int n) {
  brumel::sim::ControllerModel model{brumel::sim::Scenario{}};
  std::vector<double> us;
  for (int i = 0; i < n; ++i) {
    auto t0 = Clock::now();
    auto out = model.Receive(packet.data(), packet.size());
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    if (!out.reply) std::abort();
  }
  std::sort(us.begin(), us.end());
  return us[us.size() / 2];
}

// Median time of the tool's framing of one query: request bytes, checksum, reply check.
double FramingUs(int n) {
  std::vector<double> us;
  uint8_t packet[64];
  uint8_t reply[64] = {};
  volatile bool sink = false;
  for (int i = 0; i < n; ++i) {
    auto t0 = Clock::now();
    brumel::BuildRequestPacket(packet, 0xA6, static_cast<uint32_t>(i), nullptr, 0, 4);
    uint16_t sum = brumel::ChecksumOf(packet);
    sink = brumel::AcceptReply(reply, 64, 4, sum, static_cast<uint32_t>(i) + 2, true);
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  (void)sink;
  std::sort(us.begin(), us.end());
  return us[us.size() / 2];
}

// Runs fn with stdout sent to /dev/null.
template <typename Fn>
auto Silently(Fn fn) {
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) dup2(null, STDOUT_FILENO);
  auto result = fn();
  std::fflush(stdout);
  if (saved >= 0) dup2(saved, STDOUT_FILENO);
  if (null >= 0) close(null);
  if (saved >= 0) close(saved);
  return result;
}

// The pauses the information display must make: 20 ms before each send and each receive of the
// flash mode, configuration and ROM state queries on every link, and of the sync and the five
// identity queries on the GPU I2C link only; 100 ms after the ROM state query.
constexpr double kDisplayPausesMs = 3 * 40 + 100;
constexpr double kI2cDisplayPausesMs = 6 * 40 + kDisplayPausesMs;

// Times the information display over the channel the connection step (or the caller) left in
// ControllerChannel, and gives its row.
void MeasureDisplay(const char* link, int n, double pausesMs) {
  const Figures display = Measure(n, [] {
    return Silently([] {
      brumel::PrintChipInformation();
      return true;
    });
  });
  Print(link, "information display (9 queries)", n, display);
  const double medianMs = display.medianUs / 1000.0;
  std::printf("        mandated pauses %.0f ms; the rest: %.1f ms (median), %.1f ms (p99)\n",
              pausesMs, medianMs - pausesMs, display.p99Us / 1000.0 - pausesMs);
  bench::Row(
      "Information display (9 queries)", link, bench::Text("median %.1f ms (n=%d)", medianMs, n),
      bench::Text("mandated pauses %.0f ms: overhead %.1f ms", pausesMs, medianMs - pausesMs));
}

std::string Us(const Figures& f) {
  return bench::Text("median %.1f us, p99 %.1f us", f.medianUs, f.p99Us);
}

}  // namespace

int main(int argc, char** argv) {
  bench::TakeRowsOption(argc, argv);
  const int fast = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
  const int paused = argc > 2 ? std::max(5, std::atoi(argv[2])) : 50;
  const int displays = std::max(3, paused / 5);
  unsetenv(brumel::sim::kScenarioVariable);  // the healthy default controller
  unsetenv(brumel::sim::kLogVariable);       // no log file: it would dominate the figures

  std::printf("Controller channel over the simulated links (fast ops n=%d, paused ops n=%d)\n\n",
              fast, paused);

  // USB HID through the substitute hidapi: the channel the connection step opens for /I 0.
  {
    brumel::RunOptionsRecord& o = brumel::RunOptions();
    o.InterfaceNumber = 0;
    o.HasDeviceId = true;
    o.DeviceId = 0x0416A316;
    if (!Silently([] { return brumel::OpenControllerLink(); })) {
      std::printf("USB HID: no simulated controller found (is libhidapi-hidraw.so.0 beside %s?)\n",
                  argv[0]);
      return 1;
    }
    brumel::ISPLdCMD& ch = *brumel::ControllerChannel();
    ch.SyncPacketNumber();
    uint8_t report[65] = {0x00, 0x40, 0x00, 0x01, 0x01, 0xFF, 0x00, 0x00};
    uint8_t out[65];
    const Figures led = Measure(fast, [&] {
      uint32_t len = 0;
      ch.SendAndRead(report, out, &len);
      return len == 64;
    });
    Print("USB HID", "raw LED exchange (SendAndRead)", fast, led);
    bench::Row("Raw LED exchange (report and reply)", "USB HID", Us(led),
               bench::Text("n=%d; a 500 ms bound on each half", fast));
    bench::Row("Raw LED exchange (report and reply)", "serial, GPU I2C", "-",
               "LED reports travel over USB HID only");
    const Figures query = Measure(fast, [&] { return ch.GetVersion() != 0; });
    Print("USB HID", "GetVersion (no pauses on HID)", fast, query);
    bench::Row("ISP query (GetVersion)", "USB HID", Us(query),
               bench::Text("n=%d; no pauses on this link; the substitute hidapi answers in the "
                           "calling thread",
                           fast));
    Print("USB HID", "GetFlashMode (2 x 20 ms pauses)", paused,
          Measure(paused, [&] { return ch.GetFlashMode() != 0; }));
    MeasureDisplay("USB HID", displays, kDisplayPausesMs);
    brumel::ReleaseControllerChannel();
  }

  // Serial line: the simulator's serial peer on a pseudo-terminal.
  {
    brumel::sim::SerialPeer peer{brumel::sim::Scenario{}};
    if (!peer.Ok()) {
      std::printf("serial: %s\n", peer.Error().c_str());
      return 1;
    }
    // No option chooses the serial link: the channel is set up as the connection step would.
    brumel::SetControllerChannel(std::make_unique<brumel::ISPLdCMD>());
    brumel::ISPLdCMD& ch = *brumel::ControllerChannel();
    ch.SetInterface(brumel::ISPLdCMD::kSerial, peer.SlavePath());
    if (!ch.Connect(0)) {
      std::printf("serial: cannot open %s\n", peer.SlavePath().c_str());
      return 1;
    }
    ch.SyncPacketNumber();
    Print("serial", "ISP exchange (WritePacket+ReadPacket)", fast, Measure(fast, [&] {
            return ch.WritePacket(0xA6, nullptr, 0, 5000) && ch.ReadPacket(nullptr, 0, 5000, true);
          }));
    const Figures query = Measure(fast, [&] { return ch.GetVersion() != 0; });
    Print("serial", "GetVersion (no pauses on serial)", fast, query);
    bench::Row("ISP query (GetVersion)", "serial", Us(query),
               bench::Text("n=%d; no pauses on this link; the peer answers through a "
                           "pseudo-terminal",
                           fast));
    Print("serial", "GetFlashMode (2 x 20 ms pauses)", paused,
          Measure(paused, [&] { return ch.GetFlashMode() != 0; }));
    brumel::RunOptions().InterfaceNumber = 1;  // the display's heading only
    MeasureDisplay("serial", displays, kDisplayPausesMs);
    brumel::ReleaseControllerChannel();
  }

  // GPU I2C through the substitute display library (a card with the controller on lines 1 and
  // 4): the first channel loads the library and enumerates the adapters.
  {
    brumel::ISPLdCMD ch;
    ch.SetInterface(brumel::ISPLdCMD::kGpuI2c);
    ch.SetI2CTarget(0, 0x6C, 1);
    if (!ch.SyncPacketNumber()) {
      std::printf("GPU I2C: no simulated card found (is libatiadlxx.so beside %s?)\n", argv[0]);
      return 1;
    }
    Print("GPU I2C", "ISP exchange (WritePacket+ReadPacket)", fast, Measure(fast, [&] {
            return ch.WritePacket(0xA6, nullptr, 0, 5000) && ch.ReadPacket(nullptr, 4, 5000, true);
          }));
    const Figures query = Measure(paused, [&] { return ch.GetVersion() != 0; });
    Print("GPU I2C", "GetVersion (2 x 20 ms pauses)", paused, query);
    bench::Row(
        "ISP query (GetVersion)", "GPU I2C",
        bench::Text("median %.2f ms, p99 %.2f ms", query.medianUs / 1000.0, query.p99Us / 1000.0),
        bench::Text("n=%d; mandated pauses 40 ms: overhead %.2f ms", paused,
                    query.medianUs / 1000.0 - 40.0));

    brumel::RunOptions().InterfaceNumber = 2;
    Silently([] { return brumel::OpenControllerLink(); });
    MeasureDisplay("GPU I2C", displays, kI2cDisplayPausesMs);
    brumel::ReleaseControllerChannel();
  }

  // Where the time goes.
  brumel::sim::Packet led{};
  led[0] = 0x40;
  led[2] = 0x01;
  led[3] = 0x01;
  brumel::sim::Packet isp{};
  isp[0] = 0xA6;
  isp[4] = 3;
  std::printf("\nShares (medians of direct calls, same packets):\n");
  std::printf("  controller model, LED report     %8.2f us per report\n", ModelUs(led, fast));
  std::printf("  controller model, ISP GetVersion %8.2f us per packet\n", ModelUs(isp, fast));
  std::printf("  tool framing (build + checksum + reply check) %8.3f us per query\n",
              FramingUs(fast));
  std::printf(
      "On USB HID the substitute library runs in the calling thread, so the thread CPU time\n"
      "covers tool, substitute and model; the model's share is its direct-call time above.\n"
      "On serial the peer answers from its own thread through the kernel's pseudo-terminal:\n"
      "wall time minus the calling thread's CPU time is waiting for the line and the peer.\n");
  return 0;
}
