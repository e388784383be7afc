// A private PulseAudio server for tests: a null output named "bench" as the default sink, its
// socket in a folder of its own, ended by its pid. Tests that need one skip themselves when the
// server program is not installed (package pulseaudio).
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace brumel::test {

class SoundServer {
 public:
  static constexpr const char* kProgram = "/usr/bin/pulseaudio";
  static constexpr const char* kControl = "/usr/bin/pactl";

  static bool Installed() { return access(kProgram, X_OK) == 0 && access(kControl, X_OK) == 0; }

  SoundServer() {
    char pattern[] = "/tmp/brumel-sound-XXXXXX";
    if (!mkdtemp(pattern)) return;
    dir_ = pattern;
    std::filesystem::create_directories(dir_ + "/home");
    std::filesystem::create_directories(dir_ + "/run");
    chmod((dir_ + "/run").c_str(), 0700);
    const std::string home = "HOME=" + dir_ + "/home";
    const std::string run = "XDG_RUNTIME_DIR=" + dir_ + "/run";
    const std::string sink = "--load=module-null-sink sink_name=bench";
    const std::string socket =
        "--load=module-native-protocol-unix socket=" + Socket() + " auth-anonymous=1";
    pid_ = fork();
    if (pid_ == 0) {
      setenv("HOME", (dir_ + "/home").c_str(), 1);
      setenv("XDG_RUNTIME_DIR", (dir_ + "/run").c_str(), 1);
      // Not through stdio: what the parent left in its buffers must not be written twice.
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execl(kProgram, kProgram, "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
            "--use-pid-file=no", "--disable-shm=yes", sink.c_str(), socket.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    // Up once its socket is there.
    for (int i = 0; i < 500 && pid_ > 0; ++i) {
      if (std::filesystem::exists(Socket())) {
        up_ = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~SoundServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  bool Up() const { return up_; }
  std::string Socket() const { return dir_ + "/sock"; }
  // The value of PULSE_SERVER that reaches it.
  std::string Address() const { return "unix:" + Socket(); }

  // pactl set-sink-mute bench 1 (or 0); true when pactl succeeded.
  bool SetMuted(bool muted) const {
    const std::string command = "PULSE_SERVER=" + Address() + " " + kControl +
                                " set-sink-mute bench " + (muted ? "1" : "0") + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
  }

 private:
  std::string dir_;
  pid_t pid_ = -1;
  bool up_ = false;
};

}  // namespace brumel::test
