// Output that cannot take escapes or cannot be written at all: a dumb terminal, a user who asks
// for no colours, and an output pipe whose reader has gone. Linux executable only.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Harness.h"

namespace e2e {
namespace {

// Escapes that set a colour, as the tool writes them.
bool HasColourEscape(const std::string& out) {
  return out.find("\x1b[0;") != std::string::npos || out.find("\x1b[0m") != std::string::npos;
}

// A wrong interface: the error in red and the usage with its white headings, on a terminal.
TEST_F(ToolRun, LinuxOnly_ADumbTerminalGetsNoEscapesAndNoColorNoColours) {
  struct Case {
    const char* name;
    EnvChanges env;
    bool colours;
    bool escapes;
  };
  const std::vector<Case> cases{
      {"xterm", {{"TERM", "xterm"}, {"NO_COLOR", std::nullopt}}, true, true},
      {"TERM=dumb", {{"TERM", "dumb"}, {"NO_COLOR", std::nullopt}}, false, false},
      {"NO_COLOR=1", {{"TERM", "xterm"}, {"NO_COLOR", "1"}}, false, true},
      {"NO_COLOR empty", {{"TERM", "xterm"}, {"NO_COLOR", ""}}, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunSpec request;
    request.args = {"/I", "4"};
    request.env = c.env;
    auto tool = StartOnTerminal(request);
    ASSERT_TRUE(tool);
    EXPECT_EQ(tool->Wait(DefaultTimeLimit()), 1) << tool->Output();
    const std::string& out = tool->Output();
    EXPECT_NE(out.find("*** Arguments Fail ***"), std::string::npos) << out;
    EXPECT_EQ(HasColourEscape(out), c.colours) << out;
    EXPECT_EQ(out.find('\x1b') != std::string::npos, c.escapes) << out;
  }
}

// The tool started with its stdout on a pipe nobody reads (the reader gone before the first
// write) and its stdin on a pipe that stays open, so a prompt would wait for ever.
struct PipedRun {
  int exitCode = -1;
  double seconds = 0;
  std::string err;
};

PipedRun RunWithClosedOutput(const Command& cmd, double timeLimit) {
  PipedRun run;
  int output[2], input[2], errors[2];
  if (pipe2(output, O_CLOEXEC) != 0 || pipe2(input, O_CLOEXEC) != 0 ||
      pipe2(errors, O_CLOEXEC) != 0) {
    return run;
  }
  close(output[0]);  // the reader is gone
  std::vector<char*> argv, envp;
  for (const auto& a : cmd.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : cmd.env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    signal(SIGPIPE, SIG_DFL);
    dup2(input[0], 0);
    dup2(output[1], 1);
    dup2(errors[1], 2);
    if (chdir(cmd.cwd.c_str()) != 0) _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(output[1]);
  close(input[0]);
  close(errors[1]);
  int status = 0;
  bool ended = false;
  char buf[4096];
  while (!ended) {
    ended = waitpid(pid, &status, WNOHANG) == pid;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!ended && seconds > timeLimit) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    run.seconds = seconds;
    pollfd p{errors[0], POLLIN, 0};
    if (poll(&p, 1, 20) > 0) {
      const ssize_t n = read(errors[0], buf, sizeof buf);
      if (n > 0) run.err.append(buf, static_cast<size_t>(n));
    }
  }
  close(input[1]);
  close(errors[0]);
  if (ended && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  if (ended && WIFSIGNALED(status)) run.exitCode = 128 + WTERMSIG(status);
  return run;
}

// A lighting mode whose "Press any key" cannot be written: the run ends in order at once instead
// of waiting for a key, with exit code 1, its file deleted and the lock released.
TEST_F(ToolRun, LinuxOnly_AClosedOutputEndsAWaitingJobInOrder) {
  RunSpec request = BenchRequest({"/I", "0", "/ID", "0416A316", "/MODE", "3"}, kHidLibrary);
  const PipedRun run = RunWithClosedOutput(ToolCommand(request), DefaultTimeLimit());
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_LT(run.seconds, 5) << "it waited for a key";
  EXPECT_EQ(Count(folder_.Read("sim.log"), "LED mode zone"), 8u) << "the job ran to its prompt";
  EXPECT_FALSE(folder_.Exists("BrumelISP.ini"));
  RunResult next = RunTool(BenchRequest({"/I", "0"}, kHidLibrary, {}, "next.log"));
  EXPECT_EQ(next.exitCode, 0) << "the lock is free again\n" << next.Describe();
}

}  // namespace
}  // namespace e2e
