// Figures for the music mode, the operator tests and whole runs of the tool on the simulated
// bench (Linux).
//
// Usage: brumel_operator_bench [--rows] [--bare PROGRAM] [--starts N] [music passes (500)]
//                              [idle seconds (3)]
//
// 1. Start-up: the real executable in a scratch folder, started N times (default 50) without
//    arguments until it has printed the usage text and ended; with --bare, a bare C++ program
//    started as often, for comparison. Median wall times and their ratio.
// 2. Whole runs: the information display over the simulated card's I2C line (/I 2) against the
//    pauses the protocol mandates, and the peak memory (maximum resident set) of the runs.
// 3. The music loop: MusicThread with a meter that returns a fixed level, sending to the
//    simulated controller (the substitute hidapi beside this executable). The period is the time
//    from one meter reading to the next: target 10 ms plus one report exchange.
// 4. The tool's CPU use while it waits: the real executable with the substitute hidapi beside
//    it, in a button-test round that is never answered (a poll per second), in "PAUSE" after a
//    lighting mode, and in music mode (with a private sound server when pulseaudio is installed,
//    so the loop runs; without one only "PAUSE" is left). CPU time is the process's CPU clock.
// 5. The music mode's stop with the real output meter of a private sound server (PulseAudio with
//    a null output; skipped when pulseaudio is not installed): the time from clearing
//    MusicRunning (the operator's key) to the end of MusicThread, meter closed. Target 50 ms.
// --rows: also the rows of scripts/benchmark.sh's table (tests/bench/BenchRows.h).
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchRows.h"
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
  bench::Row("Music loop period", "USB HID",
             bench::Text("median %.2f ms, p99 %.2f ms (n=%zu)", Percentile(periods, 50),
                         Percentile(periods, 99), periods.size()),
             bench::Text("10 ms sleep + one report exchange (%.3f ms)", exchange));
  return true;
}

// ---- the tool as a process ----------------------------------------------------------------------

// A scratch folder holding the tool with the substitute libraries beside it and an empty
// scenario (the healthy controller, no button ever pressed), as a bench folder does.
class ToolFolder {
 public:
  ToolFolder() {
    char templ[] = "/tmp/brumel-operator-bench-XXXXXX";
    if (!mkdtemp(templ)) return;
    dir_ = templ;
    std::error_code ec;
    fs::copy_file(BRUMEL_TOOL_PATH, dir_ / "BrumelISP", ec);
    if (!ec) fs::copy_file(BRUMEL_SIM_HIDAPI_PATH, dir_ / "libhidapi-hidraw.so.0", ec);
    if (!ec) fs::copy_file(BRUMEL_SIM_ADL_PATH, dir_ / "libatiadlxx.so", ec);
    std::ofstream(dir_ / "scenario.ini") << "";
    ok_ = !ec;
  }
  ~ToolFolder() {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  bool Ok() const { return ok_; }
  const fs::path& Dir() const { return dir_; }
  std::string Tool() const { return (dir_ / "BrumelISP").string(); }

 private:
  fs::path dir_;
  bool ok_ = false;
};

// A child process in `dir`: stdin a pipe (input written to it; kept open when keepOpen, so a
// key never comes), stdout to `outFile` (or discarded), stderr discarded. The simulated bench
// reads the folder's scenario; PULSE_SERVER names the sound server (else one that is not there).
struct Child {
  pid_t pid = -1;
  int in = -1;
};

Child Start(const fs::path& dir, const std::string& program, const std::vector<std::string>& args,
            const std::string& input, bool keepOpen, const std::string& pulseServer,
            const std::string& outFile = "/dev/null") {
  Child c;
  int in[2];
  if (pipe(in) != 0) return c;
  c.pid = fork();
  if (c.pid == 0) {
    dup2(in[0], 0);
    close(in[0]);
    close(in[1]);
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = open("/dev/null", O_WRONLY);
    dup2(out >= 0 ? out : null, 1);
    dup2(null, 2);
    if (chdir(dir.c_str()) != 0) _exit(126);
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> p;
    for (auto& a : argv) p.push_back(a.data());
    p.push_back(nullptr);
    setenv("BRUMEL_SIM_SCENARIO", (dir / "scenario.ini").c_str(), 1);
    setenv("PULSE_SERVER",
           pulseServer.empty() ? ("unix:" + (dir / "no-server").string()).c_str()
                               : pulseServer.c_str(),
           1);
    execv(p[0], p.data());
    _exit(127);
  }
  close(in[0]);
  if (c.pid < 0) {
    close(in[1]);
    return c;
  }
  if (!input.empty()) {
    [[maybe_unused]] const ssize_t n = write(in[1], input.data(), input.size());
  }
  if (keepOpen) {
    c.in = in[1];
  } else {
    close(in[1]);
  }
  return c;
}

struct Ended {
  double wallMs = -1;
  double maxRssMb = -1;
  int exitCode = -1;
};

// Runs a program to its end; wall time from the fork to the end, and its peak memory.
Ended RunToEnd(const fs::path& dir, const std::string& program,
               const std::vector<std::string>& args, const std::string& input = "",
               const std::string& outFile = "/dev/null") {
  Ended e;
  const auto t0 = Clock::now();
  const Child c = Start(dir, program, args, input, false, "", outFile);
  if (c.pid < 0) return e;
  int status = 0;
  rusage usage{};
  if (wait4(c.pid, &status, 0, &usage) != c.pid) return e;
  e.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  e.maxRssMb = static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
  e.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return e;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// ---- start-up and whole runs -----------------------------------------------------------------

// Peak memory of the runs measured here, for the last row.
struct PeakMemory {
  double usage = -1, display = -1, mode = -1, bare = -1;
} g_peak;

bool StartUp(const ToolFolder& folder, const std::string& bare, int starts) {
  // The first run shows whether the tool gets as far as its usage text at all: another copy
  // holding the machine-wide lock would make every start a refusal.
  const fs::path shown = folder.Dir() / "usage.txt";
  const Ended first = RunToEnd(folder.Dir(), folder.Tool(), {}, "", shown.string());
  const std::string text = ReadFile(shown);
  if (first.exitCode != 1 || text.find("Usage:") == std::string::npos) {
    std::fprintf(stderr, "the tool did not print its usage (exit code %d): %s\n", first.exitCode,
                 text.c_str());
    return false;
  }
  std::vector<double> tool, plain;
  double toolRss = 0, bareRss = 0;
  for (int i = 0; i < starts; ++i) {
    const Ended t = RunToEnd(folder.Dir(), folder.Tool(), {});
    tool.push_back(t.wallMs);
    toolRss = std::max(toolRss, t.maxRssMb);
    if (!bare.empty()) {
      const Ended b = RunToEnd(folder.Dir(), bare, {});
      plain.push_back(b.wallMs);
      bareRss = std::max(bareRss, b.maxRssMb);
    }
  }
  g_peak.usage = toolRss;
  const double toolMs = Percentile(tool, 50);
  std::printf("start-up to the usage text, %d starts\n", starts);
  std::printf("  BrumelISP                     median %7.3f ms   p99 %7.3f ms   peak RSS %.1f MB\n",
              toolMs, Percentile(tool, 99), toolRss);
  if (plain.empty()) {
    bench::Row("Start-up to the usage text", "-",
               bench::Text("median %.2f ms (n=%d)", toolMs, starts), "no bare program given");
    return true;
  }
  g_peak.bare = bareRss;
  const double bareMs = Percentile(plain, 50);
  std::printf("  bare C++ program              median %7.3f ms   p99 %7.3f ms   peak RSS %.1f MB\n",
              bareMs, Percentile(plain, 99), bareRss);
  std::printf("  ratio %.2f\n", toolMs / bareMs);
  bench::Row("Start-up to the usage text", "-",
             bench::Text("median %.2f ms (n=%d)", toolMs, starts),
             bench::Text("bare C++ program %.2f ms: ratio %.1f", bareMs, toolMs / bareMs));
  return true;
}

// The pauses the information display must make on the GPU I2C link (see brumel_link_bench).
constexpr double kI2cDisplayPausesMs = 6 * 40 + 3 * 40 + 100;

bool WholeRuns(const ToolFolder& folder, int runs) {
  std::vector<double> display;
  double displayRss = 0;
  for (int i = 0; i < runs; ++i) {
    const Ended e = RunToEnd(folder.Dir(), folder.Tool(), {"/I", "2"});
    if (e.exitCode != 0) {
      std::fprintf(stderr, "the information display ended with %d\n", e.exitCode);
      return false;
    }
    display.push_back(e.wallMs);
    displayRss = std::max(displayRss, e.maxRssMb);
  }
  const Ended mode =
      RunToEnd(folder.Dir(), folder.Tool(), {"/I", "0", "/ID", "0416A316", "/MODE", "3"}, "k");
  g_peak.display = displayRss;
  g_peak.mode = mode.maxRssMb;
  const double ms = Percentile(display, 50);
  std::printf("whole runs\n");
  std::printf(
      "  information display (/I 2)    median %7.1f ms   mandated pauses %.0f ms   peak RSS %.1f "
      "MB\n",
      ms, kI2cDisplayPausesMs, displayRss);
  std::printf("  lighting mode 3 (/I 0)        %7.1f ms to the key   peak RSS %.1f MB\n",
              mode.wallMs, mode.maxRssMb);
  bench::Row("Information display, whole run (/I 2)", "GPU I2C",
             bench::Text("median %.1f ms (n=%d)", ms, runs),
             bench::Text("mandated pauses %.0f ms: overhead %.1f ms, start-up included",
                         kI2cDisplayPausesMs, ms - kI2cDisplayPausesMs));
  return true;
}

// ---- CPU while waiting -----------------------------------------------------------------------

// CPU time of a process, all its threads, in seconds; -1 when it cannot be read.
double ProcessCpuSeconds(pid_t pid) {
  clockid_t clock;
  timespec ts{};
  if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &ts) != 0) return -1;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Starts the tool (a key never comes); measures its CPU time over `seconds` once it has
// settled; then ends it.
void IdleCpu(const char* what, const char* row, const ToolFolder& folder,
             const std::vector<std::string>& args, double seconds,
             const std::string& pulseServer = "") {
  const Child c = Start(folder.Dir(), folder.Tool(), args, "", true, pulseServer);
  if (c.pid < 0) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // start-up and first steps
  const double cpu0 = ProcessCpuSeconds(c.pid);
  const auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double cpu1 = ProcessCpuSeconds(c.pid);
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  kill(c.pid, SIGKILL);
  waitpid(c.pid, nullptr, 0);
  if (c.in >= 0) close(c.in);
  if (cpu0 < 0 || cpu1 < 0) {
    std::printf("  %-30s CPU time not readable\n", what);
    return;
  }
  const double ms = (cpu1 - cpu0) * 1000.0;
  const double percent = 100.0 * (cpu1 - cpu0) / wall;
  std::printf("  %-30s CPU %7.3f ms over %.1f s wall (%.3f %% of one core)\n", what, ms, wall,
              percent);
  bench::Row(std::string("CPU while waiting: ") + row, "USB HID",
             bench::Text("%.3f %% of one core", percent),
             bench::Text("%.2f ms CPU in %.1f s", ms, wall));
}

bool WaitingCpu(const ToolFolder& folder, double seconds) {
  std::printf("tool waiting (CPU time of the process, %.1f s window)\n", seconds);
  IdleCpu("button-test poll", "button-test poll (one a second)", folder,
          {"/I", "0", "/ID", "0416A316", "/TEST:BUTTON"}, seconds);
  IdleCpu("\"PAUSE\" after mode 3", "\"PAUSE\" after lighting mode 3", folder,
          {"/I", "0", "/ID", "0416A316", "/MODE", "3"}, seconds);
  const std::vector<std::string> music{"/I", "0", "/ID", "0416A316", "/MODE", "6"};
  if (!brumel::test::SoundServer::Installed()) {
    IdleCpu("\"PAUSE\" in music mode", "music mode without a sound server (\"PAUSE\" only)", folder,
            music, seconds);
    return true;
  }
  brumel::test::SoundServer server;
  if (!server.Up()) {
    std::fprintf(stderr, "the private sound server did not start\n");
    return false;
  }
  IdleCpu("music mode (sound server)", "music mode (a report every 10 ms)", folder, music, seconds,
          server.Address());
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
  bench::Row("Music mode stop (key to the end of the loop)", "USB HID",
             bench::Text("median %.1f ms, max %.1f ms (n=%d)", Percentile(stops, 50),
                         Percentile(stops, 100), rounds),
             "target 50 ms; private sound server");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bench::TakeRowsOption(argc, argv);
  std::string bare;
  int starts = 50;
  std::vector<const char*> positional;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--bare") == 0 && i + 1 < argc) {
      bare = argv[++i];
    } else if (std::strcmp(argv[i], "--starts") == 0 && i + 1 < argc) {
      starts = std::max(5, std::atoi(argv[++i]));
    } else {
      positional.push_back(argv[i]);
    }
  }
  const int passes = positional.size() > 0 ? std::max(10, std::atoi(positional[0])) : 500;
  const double seconds = positional.size() > 1 ? std::max(1.0, std::atof(positional[1])) : 3.0;
  unsetenv("BRUMEL_SIM_SCENARIO");
  unsetenv("BRUMEL_SIM_LOG");

  const ToolFolder folder;
  if (!folder.Ok()) {
    std::fprintf(stderr, "cannot lay out a scratch bench folder\n");
    return 1;
  }
  const bool ok = StartUp(folder, bare, starts) && WholeRuns(folder, std::max(3, starts / 10)) &&
                  MusicLoop(passes) && WaitingCpu(folder, seconds) && MusicStop(20);
  if (ok) {
    bench::Row(
        "Peak memory of a run (maximum RSS)", "-",
        bench::Text("information display (/I 2) %.1f MB; lighting mode %.1f MB; usage "
                    "%.1f MB",
                    g_peak.display, g_peak.mode, g_peak.usage),
        g_peak.bare >= 0 ? bench::Text("bare C++ program %.1f MB", g_peak.bare) : std::string("-"));
  }
  return ok ? 0 : 1;
}
