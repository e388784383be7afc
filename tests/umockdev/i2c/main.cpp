// brumel_umockdev_i2c [gtest options] --tool=PATH
// The cases of I2cDevTest.cpp: the Linux tool at PATH against umockdev's emulated sysfs and
// i2c-dev nodes. The program runs itself again under umockdev's preload library first.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "Harness.h"
#include "I2cTestbed.h"

int main(int argc, char** argv) {
  i2ctb::RunUnderUmockdev(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  std::signal(SIGPIPE, SIG_IGN);
  e2e::Settings& s = e2e::GetSettings();
  s.mode = e2e::Mode::Linux;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--tool=", 7) == 0) {
      s.tool = std::filesystem::absolute(argv[i] + 7).string();
    } else {
      std::fprintf(stderr, "unknown option: %s\n", argv[i]);
      return 2;
    }
  }
  const char* keep = std::getenv("BRUMEL_E2E_KEEP");
  s.keepFolders = keep && *keep && std::strcmp(keep, "0") != 0;
  return RUN_ALL_TESTS();
}
