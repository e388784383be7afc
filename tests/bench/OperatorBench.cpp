// Figures for the music mode and the operator tests on the simulated bench (Linux).
//
// Usage: brumel_operator_bench [music passes (default 500)] [idle seconds (default 3)]
//
// 1. The music loop: MusicThread with a meter that returns a fixed level, sending to the
//    simulated controller (the substitute hidapi beside this executable). The period is the time
//    from one meter reading to the next: target 10 ms plus one report exchange.
// 2. The tool's CPU use while it waits: the real executable in a scratch folder with the
//    substitute hidapi beside it, once in a button-test round that is never answered (a poll
//    per second) and once in "PAUSE" after a lighting mode. CPU time is read from /proc.
// 3. The music mode's stop with the real output meter of a private sound server (PulseAudio with
//    a null output; skipped when pulseaudio is not installed): the time from clearing
//    MusicRunning (the operator's key) to the end of MusicThread, meter closed. Target 50 ms.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "isp/ChipLink.h"
#include "isp/ISPLdCMD.h"
#include "led/Music.h"
#include "linux/common/SoundServer.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// ---- music loop ------------------------------------------------------------------------------

class TimingMeter : public plat::AudioMeter {
 public:
  TimingMeter(std::vector<double>& periodsMs, int passes) : periods_(periodsMs), left_(passes) {}
  bool IsMuted() override { return false; }
  float PeakValue() override {
    const auto now = Clock::now();
    if (seen_) periods_.push_back(std::chrono::duration<double, std::milli>(now - last_).count());
    seen_ = true;
    last_ = now;
    if (--left_ <= 0) brumel::MusicRunning = false;
    return 0.5f;
  }

 private:
  std::vector<double>& periods_;
  int left_;
  bool seen_ = false;
  Clock::time_point last_;
};

double Percentile(std::vector<double> v, int pct) {
  std::sort(v.begin(), v.end());
  size_t rank = (v.size() * static_cast<size_t>(pct) + 99) / 100;
  return v[std::min(v.size(), std::max<size_t>(rank, 1)) - 1];
}

double ExchangeMs() {
  // One report exchange alone, for comparison.
  uint8_t report[65] = {0x00, 0x10, 0x00, 0x04, 0x06};
  uint8_t reply[65] = {};
  std::vector<double> ms;
  for (int i = 0; i < 200; ++i) {
    uint32_t length = 0;
    const auto t0 = Clock::now();
    brumel::ControllerChannel()->SendAndRead(report, reply, &length);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  return Percentile(ms, 50);
}

bool MusicLoop(int passes) {
  auto channel = std::make_unique<brumel::ISPLdCMD>();
  channel->SetInterface(brumel::ISPLdCMD::kUsbHid);
  if (!channel->Connect(0x0416A316)) {
    std::fprintf(stderr, "cannot open the simulated controller\n");
    return false;
  }
  brumel::SetControllerChannel(std::move(channel));
  const double exchange = ExchangeMs();

  std::vector<double> periods;
  brumel::SetMeterFactory([&] { return std::make_unique<TimingMeter>(periods, passes + 1); });
  brumel::MusicRunning = true;
  // The loop prints one line per pass; keep it off the figures.
  std::fflush(stdout);
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  std::thread t([] { brumel::MusicThread(nullptr); });
  t.join();
  std::fflush(stdout);
  dup2(saved, 1);
  close(null);
  close(saved);
  brumel::SetControllerChannel(nullptr);

  std::printf("music loop, %zu passes on the simulated controller\n", periods.size());
  std::printf("  one report exchange alone     median %7.3f ms\n", exchange);
  std::printf("  pass period                   median %7.3f ms   p99 %7.3f ms   max %7.3f ms\n",
              Percentile(periods, 50), Percentile(periods, 99), Percentile(periods, 100));
  return true;
}

// ---- CPU while waiting -----------------------------------------------------------------------

double ProcessCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string f;
  unsigned long long utime = 0, stime = 0;
  // Fields after the name: state is field 3; utime and stime are fields 14 and 15.
  for (int field = 3; field <= 15 && fields >> f; ++field) {
    if (field == 14) utime = std::stoull(f);
    if (field == 15) stime = std::stoull(f);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Starts the tool in `dir` with its stdin a pipe (kept open: a key never comes) and its output
// discarded; measures its CPU time over `seconds` after `settle` seconds; then ends it.
void IdleCpu(const char* what, const fs::path& dir, const std::vector<std::string>& args,
             double seconds) {
  int in[2];
  if (pipe(in) != 0) return;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    close(in[1]);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    if (chdir(dir.c_str()) != 0) _exit(126);
    std::vector<std::string> argv{(dir / "BrumelISP").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> p;
    for (auto& a : argv) p.push_back(a.data());
    p.push_back(nullptr);
    setenv("BRUMEL_SIM_SCENARIO", (dir / "scenario.ini").c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + (dir / "no-server").string()).c_str(), 1);
    execv(p[0], p.data());
    _exit(127);
  }
  close(in[0]);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // start-up and first steps
  const double cpu0 = ProcessCpuSeconds(pid);
  const auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double cpu1 = ProcessCpuSeconds(pid);
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  close(in[1]);
  std::printf("  %-30s CPU %6.2f ms over %.1f s wall (%.3f %% of one core)\n", what,
              (cpu1 - cpu0) * 1000.0, wall, 100.0 * (cpu1 - cpu0) / wall);
}

bool WaitingCpu(double seconds) {
  char templ[] = "/tmp/brumel-operator-bench-XXXXXX";
  if (!mkdtemp(templ)) return false;
  const fs::path dir = templ;
  std::error_code ec;
  fs::copy_file(BRUMEL_TOOL_PATH, dir / "BrumelISP", ec);
  fs::copy_file(BRUMEL_SIM_HIDAPI_PATH, dir / "libhidapi-hidraw.so.0", ec);
  std::ofstream(dir / "scenario.ini") << "";  // no button is ever pressed
  std::printf("tool waiting (CPU time of the process, %.1f s window; clock tick %ld Hz)\n", seconds,
              sysconf(_SC_CLK_TCK));
  IdleCpu("button-test poll", dir, {"/I", "0", "/ID", "0416A316", "/TEST:BUTTON"}, seconds);
  IdleCpu("\"PAUSE\" after mode 3", dir, {"/I", "0", "/ID", "0416A316", "/MODE", "3"}, seconds);
  IdleCpu("\"PAUSE\" in music mode", dir, {"/I", "0", "/ID", "0416A316", "/MODE", "6"}, seconds);
  fs::remove_all(dir, ec);
  return true;
}

// ---- music mode stop ---------------------------------------------------------------------------

bool MusicStop(int rounds) {
  if (!brumel::test::SoundServer::Installed()) {
    std::printf("music mode stop: skipped, no sound server here (package pulseaudio)\n");
    return true;
  }
  brumel::test::SoundServer server;
  if (!server.Up()) {
    std::fprintf(stderr, "the private sound server did not start\n");
    return false;
  }
  setenv("PULSE_SERVER", server.Address().c_str(), 1);
  auto channel = std::make_unique<brumel::ISPLdCMD>();
  channel->SetInterface(brumel::ISPLdCMD::kUsbHid);
  if (!channel->Connect(0x0416A316)) return false;
  brumel::SetControllerChannel(std::move(channel));
  brumel::SetMeterFactory({});  // the platform's meter

  std::fflush(stdout);
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  std::vector<double> stops;
  for (int i = 0; i < rounds; ++i) {
    brumel::MusicRunning = true;
    std::thread t([] { brumel::MusicThread(nullptr); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto key = Clock::now();
    brumel::MusicRunning = false;
    t.join();
    stops.push_back(std::chrono::duration<double, std::milli>(Clock::now() - key).count());
  }
  std::fflush(stdout);
  dup2(saved, 1);
  close(null);
  close(saved);
  brumel::SetControllerChannel(nullptr);
  unsetenv("PULSE_SERVER");
  std::printf("music mode stop, %d rounds with a private sound server (target 50 ms)\n", rounds);
  std::printf("  key to thread end             median %7.3f ms   max %7.3f ms\n",
              Percentile(stops, 50), Percentile(stops, 100));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int passes = argc > 1 ? std::max(10, std::atoi(argv[1])) : 500;
  const double seconds = argc > 2 ? std::max(1.0, std::atof(argv[2])) : 3.0;
  unsetenv("BRUMEL_SIM_SCENARIO");
  unsetenv("BRUMEL_SIM_LOG");
  const bool ok = MusicLoop(passes) && WaitingCpu(seconds) && MusicStop(20);
  return ok ? 0 : 1;
}
