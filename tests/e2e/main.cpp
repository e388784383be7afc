// brumel_e2e [gtest options] --e2e-mode=linux|wine --e2e-tool=PATH [--e2e-lock-holder=PATH]
//            [--e2e-wine=PATH] [--e2e-wine-prefix=PATH] [--e2e-bench-dir=PATH] [--e2e-sim-dir=PATH]
//            [--e2e-win-sim-dir=PATH] [--e2e-share-peer=PATH] [--e2e-check-lock]
// BRUMEL_E2E_KEEP=1 keeps the folders the cases ran in. With --e2e-check-lock no case runs: it
// only tells whether another copy of the tool holds the machine-wide lock (exit code 1 if so).
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "Harness.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::signal(SIGPIPE, SIG_IGN);

  e2e::Settings& s = e2e::GetSettings();
  s.wine = "/usr/lib/wine/wine64";
  bool checkLock = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      const size_t n = std::strlen(name);
      return arg.compare(0, n, name) == 0 ? argv[i] + n : nullptr;
    };
    if (const char* v = value("--e2e-mode=")) {
      if (std::strcmp(v, "wine") == 0) {
        s.mode = e2e::Mode::Wine;
      } else if (std::strcmp(v, "linux") == 0) {
        s.mode = e2e::Mode::Linux;
      } else {
        std::fprintf(stderr, "unknown mode: %s\n", v);
        return 2;
      }
    } else if (const char* v = value("--e2e-tool=")) {
      s.tool = v;
    } else if (const char* v = value("--e2e-lock-holder=")) {
      s.lockHolder = v;
    } else if (const char* v = value("--e2e-wine=")) {
      s.wine = v;
    } else if (const char* v = value("--e2e-wine-prefix=")) {
      s.winePrefix = v;
    } else if (const char* v = value("--e2e-bench-dir=")) {
      s.benchDir = v;
    } else if (const char* v = value("--e2e-sim-dir=")) {
      s.simDir = v;
    } else if (const char* v = value("--e2e-win-sim-dir=")) {
      s.winSimDir = v;
    } else if (const char* v = value("--e2e-share-peer=")) {
      s.sharePeer = v;
    } else if (arg == "--e2e-check-lock") {
      checkLock = true;
    } else {
      std::fprintf(stderr, "unknown option: %s\n", argv[i]);
      return 2;
    }
  }
  // The cases run in folders of their own: relative paths would point elsewhere there.
  for (std::string* path : {&s.tool, &s.lockHolder, &s.wine, &s.winePrefix, &s.benchDir, &s.simDir,
                            &s.winSimDir, &s.sharePeer}) {
    if (!path->empty()) *path = std::filesystem::absolute(*path).string();
  }
  const char* keep = std::getenv("BRUMEL_E2E_KEEP");
  s.keepFolders = keep && *keep && std::strcmp(keep, "0") != 0;
  if (checkLock) return e2e::CheckInstanceLock();
  return RUN_ALL_TESTS();
}
