// The information display over i2c-dev: whole runs of the Linux tool (/I 2) on a card of the
// umockdev test bed, the simulated controller behind its OEM bus, against the pauses the
// protocol mandates on the GPU I2C link (460 ms), and against the same runs with the substitute
// display library beside the tool, made just before (same machine, same load). Every ioctl goes
// through umockdev's socket to this process, which a real bus does not; the bus's own time on
// the wire is not in it either (nine queries of at most 13 bytes each way are under 30 ms at
// 100 kHz).
//
// Usage: brumel_i2cdev_bench [--rows] [runs (default 5)]
// --rows: also the row of scripts/benchmark.sh's table (tests/bench/BenchRows.h).
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchRows.h"
#include "I2cTestbed.h"

namespace {

constexpr double kMandatedPausesMs = 460.0;

double Median(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  return ms.empty() ? -1 : ms[ms.size() / 2];
}

// One run of the tool in folder; its wall time in ms, or a negative number when it failed.
double TimedRun(const std::string& folder, const std::string& tool) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(126);
    const int out = open("output.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    execl(tool.c_str(), tool.c_str(), "/I", "2", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

int main(int argc, char** argv) {
  i2ctb::RunUnderUmockdev(argc, argv);
  bench::TakeRowsOption(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

  namespace fs = std::filesystem;
  char templ[] = "/tmp/brumel-i2cdev-bench-XXXXXX";
  if (!mkdtemp(templ)) return 1;
  const std::string folder = templ;
  const std::string tool = folder + "/BrumelISP";
  fs::copy_file(BRUMEL_TOOL_PATH, tool);
  int failures = 0;
  const auto series = [&](int n) {
    std::vector<double> ms;
    TimedRun(folder, tool);  // warm-up
    for (int i = 0; i < n; ++i) {
      const double t = TimedRun(folder, tool);
      if (t < 0) {
        ++failures;
      } else {
        ms.push_back(t);
      }
    }
    return ms;
  };

  // The substitute display library beside the tool, before any test bed exists.
  const std::string library = folder + "/libatiadlxx.so";
  fs::copy_file(BRUMEL_SIM_ADL_FILE, library);
  const std::vector<double> substitute = series(runs);
  fs::remove(library);

  i2ctb::Testbed bed;
  i2ctb::CardSpec card;
  card.buses = {{0, "AMDGPU DM i2c hw bus 0"}, {1, "AMDGPU DM aux hw bus 0"},
                {2, "AMDGPU DM i2c OEM bus"}, {3, "AMDGPU SMU"}};
  bed.AddCard(card);
  bed.Attach(2);
  std::vector<double> ms = series(runs);
  std::error_code ec;
  fs::remove_all(folder, ec);
  if (ms.empty() || substitute.empty()) {
    std::fprintf(stderr, "no run of the tool succeeded\n");
    return 1;
  }
  std::sort(ms.begin(), ms.end());
  const double median = ms[ms.size() / 2];
  const double beside = Median(substitute);
  std::printf("i2c-dev     whole run /I 2 (umockdev)     n=%zu  median %.1f ms  min %.1f ms  max %.1f ms%s\n",
              ms.size(), median, ms.front(), ms.back(), failures ? "  FAILURES!" : "");
  std::printf("substitute  whole run /I 2 (library beside) n=%zu  median %.1f ms\n",
              substitute.size(), beside);
  bench::Row("Information display, whole run (/I 2)", "GPU I2C over i2c-dev (umockdev)",
             bench::Text("median %.1f ms (n=%zu)", median, ms.size()),
             bench::Text("mandated pauses %.0f ms: overhead %.1f ms, start-up and umockdev's "
                         "ioctl relay included; the substitute display library, same load: "
                         "%.1f ms",
                         kMandatedPausesMs, median - kMandatedPausesMs, beside));
  return failures ? 1 : 0;
}
