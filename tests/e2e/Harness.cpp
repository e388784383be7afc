#include "Harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace e2e {

namespace {

double Now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string CrlfToLf(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Reads what is available; false once the pipe reached its end (fd is then closed).
bool ReadSome(int& fd, std::string& into) {
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      into.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    CloseFd(fd);
    return false;
  }
}

struct Spawned {
  pid_t pid = -1;
  int in = -1, out = -1, err = -1;
};

// Starts cmd in a process group of its own. Its stdin and stdout are pipes; its stderr is a
// pipe when wantErr, else /dev/null (so no program of ours ever holds the test's own output).
Spawned Spawn(const Command& cmd, bool wantErr) {
  Spawned s;
  int inPipe[2], outPipe[2], errPipe[2] = {-1, -1};
  if (pipe2(inPipe, O_CLOEXEC) != 0) return s;
  if (pipe2(outPipe, O_CLOEXEC) != 0) {
    close(inPipe[0]);
    close(inPipe[1]);
    return s;
  }
  if (wantErr && pipe2(errPipe, O_CLOEXEC) != 0) {
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1]}) close(fd);
    return s;
  }
  const int devNull = wantErr ? -1 : open("/dev/null", O_WRONLY | O_CLOEXEC);

  std::vector<char*> argv, envp;
  for (const auto& a : cmd.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : cmd.env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    signal(SIGPIPE, SIG_DFL);
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    dup2(wantErr ? errPipe[1] : devNull, 2);
    if (!cmd.cwd.empty() && chdir(cmd.cwd.c_str()) != 0) _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (pid > 0) setpgid(pid, pid);  // also here, so a kill right away reaches the group
  close(inPipe[0]);
  close(outPipe[1]);
  if (wantErr) close(errPipe[1]);
  if (devNull >= 0) close(devNull);
  if (pid < 0) {
    close(inPipe[1]);
    close(outPipe[0]);
    if (wantErr) close(errPipe[0]);
    return s;
  }
  s.pid = pid;
  s.in = inPipe[1];
  s.out = outPipe[0];
  s.err = wantErr ? errPipe[0] : -1;
  SetNonBlocking(s.in);
  SetNonBlocking(s.out);
  if (s.err >= 0) SetNonBlocking(s.err);
  return s;
}

void DecodeStatus(int status, int& exitCode, int& sig) {
  if (WIFEXITED(status)) {
    exitCode = WEXITSTATUS(status);
    sig = 0;
  } else if (WIFSIGNALED(status)) {
    sig = WTERMSIG(status);
    exitCode = 128 + sig;
  }
}

std::vector<std::string> BaseEnvironment(const EnvChanges& changes) {
  std::map<std::string, std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;
    env[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  // Headless: under Wine a message box with a display blocks.
  env.erase("DISPLAY");
  env.erase("WAYLAND_DISPLAY");
  if (UnderWine()) {
    env["WINEDEBUG"] = "-all";
    // A display library is only ever the one a case puts beside the tool, never one of Wine's.
    env["WINEDLLOVERRIDES"] = "winedbg.exe=d;atiadlxx,atiadlxy=n";
    if (env["WINEPREFIX"].empty()) env["WINEPREFIX"] = GetSettings().winePrefix;
  }
  for (const auto& [name, value] : changes) {
    if (value) {
      env[name] = *value;
    } else {
      env.erase(name);
    }
  }
  std::vector<std::string> out;
  for (const auto& [name, value] : env) out.push_back(name + "=" + value);
  return out;
}

std::string Truncated(const std::string& text, size_t limit = 6000) {
  if (text.size() <= limit) return text;
  return text.substr(0, limit) + "\n[... " + std::to_string(text.size() - limit) + " more bytes]";
}

}  // namespace

Settings& GetSettings() {
  static Settings settings;
  return settings;
}

// Where a Windows program's start is slow (a 32-bit one under emulation takes about a minute),
// BRUMEL_E2E_START_SECONDS says by how much, and every limit grows by that.
double DefaultTimeLimit() {
  static const double extra = [] {
    const char* seconds = std::getenv("BRUMEL_E2E_START_SECONDS");
    return seconds && *seconds ? std::max(0.0, std::atof(seconds)) : 0.0;
  }();
  return (UnderWine() ? 60.0 : 20.0) + (UnderWine() ? extra : 0.0);
}

std::string ToolFileName() { return UnderWine() ? "BrumelISP.exe" : "BrumelISP"; }

std::string DisplayLibraryFileName() { return UnderWine() ? "atiadlxx.dll" : "libatiadlxx.so"; }

std::string SimFile(const std::string& name) {
  for (const std::string& dir :
       {GetSettings().benchDir, GetSettings().simDir, GetSettings().winSimDir}) {
    if (dir.empty()) continue;
    std::error_code ec;
    if (fs::is_regular_file(fs::path(dir) / name, ec)) return (fs::path(dir) / name).string();
  }
  return {};
}

// ---- RunResult ----------------------------------------------------------------------------

bool RunResult::Crashed() const {
  if (signal != 0 || exitCode >= 128) return true;
  if (UnderWine() && (exitCode == 3 || exitCode == 5)) return true;
  return err.find("Sanitizer") != std::string::npos ||
         err.find("runtime error:") != std::string::npos;
}

std::string RunResult::Describe() const {
  std::ostringstream s;
  s << "exit code " << exitCode;
  if (signal) s << " (signal " << signal << ")";
  if (timedOut) s << " (killed: time limit)";
  s << ", " << seconds << " s, folder " << folder << "\n--- stdout ---\n"
    << Truncated(out) << "\n--- stderr ---\n"
    << Truncated(err) << "\n--- files left ---\n";
  for (const auto& f : filesLeft) s << "  " << f << "\n";
  return s.str();
}

// ---- ToolFolder ---------------------------------------------------------------------------

ToolFolder::ToolFolder() {
  std::string base = (fs::temp_directory_path() / "brumel-e2e-XXXXXX").string();
  std::vector<char> templ(base.begin(), base.end());
  templ.push_back('\0');
  if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed: " + base);
  path_ = templ.data();
}

ToolFolder::~ToolFolder() {
  if (GetSettings().keepFolders) return;
  std::error_code ec;
  // The tool may have left a folder read-only; make everything removable first.
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

void ToolFolder::Put(const ExtraFile& file) {
  const fs::path target = fs::path(path_) / file.name;
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  if (file.folder) {
    fs::create_directories(target, ec);
    if (ec) ADD_FAILURE() << "cannot create folder " << target << ": " << ec.message();
    return;
  }
  if (!file.copyFrom.empty()) {
    fs::copy_file(file.copyFrom, target, fs::copy_options::overwrite_existing, ec);
    if (ec) {
      ADD_FAILURE() << "cannot copy " << file.copyFrom << " to " << target << ": " << ec.message();
      return;
    }
    fs::permissions(target,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    ec);
    return;
  }
  std::ofstream f(target, std::ios::binary | std::ios::trunc);
  f << file.content;
  if (!f) ADD_FAILURE() << "cannot write " << target;
}

bool ToolFolder::Exists(const std::string& name) const {
  std::error_code ec;
  return fs::exists(fs::path(path_) / name, ec);
}

std::string ToolFolder::Read(const std::string& name) const {
  std::ifstream f(fs::path(path_) / name, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::set<std::string> ToolFolder::List() const {
  std::set<std::string> names;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::string rel = fs::relative(it->path(), path_, ec).generic_string();
    if (it->is_directory(ec)) rel += "/";
    names.insert(rel);
  }
  return names;
}

// ---- processes ----------------------------------------------------------------------------

Command TargetCommand(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd, const EnvChanges& env) {
  Command cmd;
  if (UnderWine()) cmd.argv.push_back(GetSettings().wine);
  cmd.argv.push_back(program);
  cmd.argv.insert(cmd.argv.end(), args.begin(), args.end());
  cmd.env = BaseEnvironment(env);
  cmd.cwd = cwd;
  return cmd;
}

namespace {

ProcessResult RunProcessOnce(const Command& cmd, const std::string& stdinBytes, double timeLimit) {
  ProcessResult r;
  const double start = Now();
  Spawned p = Spawn(cmd, true);
  if (p.pid < 0) {
    r.err = "cannot start " + cmd.argv.front() + ": " + std::strerror(errno);
    return r;
  }
  size_t written = 0;
  if (stdinBytes.empty()) CloseFd(p.in);
  int status = 0;
  bool ended = false;
  for (;;) {
    if (waitpid(p.pid, &status, WNOHANG) == p.pid) {
      ended = true;
      r.seconds = Now() - start;
      break;
    }
    if (Now() - start > timeLimit) break;

    pollfd fds[3];
    nfds_t n = 0;
    if (p.out >= 0) fds[n++] = {p.out, POLLIN, 0};
    if (p.err >= 0) fds[n++] = {p.err, POLLIN, 0};
    if (p.in >= 0) fds[n++] = {p.in, POLLOUT, 0};
    poll(fds, n, 20);
    if (p.out >= 0) ReadSome(p.out, r.out);
    if (p.err >= 0) ReadSome(p.err, r.err);
    if (p.in >= 0) {
      ssize_t w = write(p.in, stdinBytes.data() + written, stdinBytes.size() - written);
      if (w > 0) written += static_cast<size_t>(w);
      if ((w < 0 && errno != EAGAIN && errno != EINTR) || written == stdinBytes.size()) {
        CloseFd(p.in);
      }
    }
  }
  if (!ended) {
    r.timedOut = true;
    kill(-p.pid, SIGKILL);
    kill(p.pid, SIGKILL);
    waitpid(p.pid, &status, 0);
    r.seconds = Now() - start;
  } else if (!UnderWine()) {
    // Nothing the tool started may outlive it. (Under Wine the group can hold the prefix's
    // own service processes, which later runs reuse.)
    kill(-p.pid, SIGKILL);
  }
  // Everything the tool wrote is in the pipes now. Take what is there without waiting for
  // the ends: a process that outlives the tool (a Wine server, say) may keep them open.
  if (p.out >= 0) ReadSome(p.out, r.out);
  if (p.err >= 0) ReadSome(p.err, r.err);
  CloseFd(p.in);
  CloseFd(p.out);
  CloseFd(p.err);
  DecodeStatus(status, r.exitCode, r.signal);
  return r;
}

// Wine's loader takes over 100 ms to bring up any Windows program here. On a busy machine it has
// been seen, rarely, to end within a few milliseconds with exit code 1 and no output at all,
// before the program ran. Such a start says nothing about the program: it is made again (twice
// at most), and said so on the test's own stderr.
bool NeverReachedTheProgram(const ProcessResult& r) {
  return UnderWine() && !r.timedOut && r.signal == 0 && r.exitCode != 0 && r.seconds < 0.05 &&
         r.out.empty() && r.err.empty();
}

}  // namespace

ProcessResult RunProcess(const Command& cmd, const std::string& stdinBytes, double timeLimit) {
  ProcessResult r = RunProcessOnce(cmd, stdinBytes, timeLimit);
  for (int again = 0; again < 2 && NeverReachedTheProgram(r); ++again) {
    std::fprintf(stderr,
                 "[harness] %s ended after %.1f ms with exit code %d and no output, "
                 "before the program ran: started again\n",
                 cmd.argv.front().c_str(), r.seconds * 1000, r.exitCode);
    r = RunProcessOnce(cmd, stdinBytes, timeLimit);
  }
  return r;
}

BackgroundProcess::BackgroundProcess(const Command& cmd) {
  Spawned p = Spawn(cmd, false);
  pid_ = p.pid;
  in_ = p.in;
  out_fd_ = p.out;
}

BackgroundProcess::~BackgroundProcess() {
  if (pid_ > 0 && status_ < 0) {
    CloseStdin();
    if (Wait(10) < 0) Kill();
  }
  CloseFd(in_);
  CloseFd(out_fd_);
}

bool BackgroundProcess::WaitForLine(const std::string& line, double timeLimit) {
  const double start = Now();
  size_t scanned = 0;
  for (;;) {
    size_t nl;
    while ((nl = out_.find('\n', scanned)) != std::string::npos) {
      std::string got = out_.substr(scanned, nl - scanned);
      if (!got.empty() && got.back() == '\r') got.pop_back();
      scanned = nl + 1;
      if (got == line) return true;
    }
    if (out_fd_ < 0 || Now() - start > timeLimit) return false;
    pollfd fd{out_fd_, POLLIN, 0};
    poll(&fd, 1, 20);
    ReadSome(out_fd_, out_);
  }
}

size_t BackgroundProcess::WaitForText(const std::string& text, size_t from, double timeLimit) {
  const double start = Now();
  for (;;) {
    const size_t at = out_.find(text, from);
    if (at != std::string::npos) return at + text.size();
    if (out_fd_ < 0 || Now() - start > timeLimit) return std::string::npos;
    pollfd fd{out_fd_, POLLIN, 0};
    poll(&fd, 1, 20);
    ReadSome(out_fd_, out_);
  }
}

bool BackgroundProcess::Write(const std::string& bytes) {
  const double start = Now();
  size_t written = 0;
  while (written < bytes.size()) {
    if (in_ < 0 || Now() - start > 5) return false;
    const ssize_t w = write(in_, bytes.data() + written, bytes.size() - written);
    if (w > 0) {
      written += static_cast<size_t>(w);
    } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    } else {
      pollfd fd{in_, POLLOUT, 0};
      poll(&fd, 1, 20);
    }
  }
  return true;
}

bool BackgroundProcess::Running() {
  if (pid_ <= 0 || status_ >= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    int code = -1, sig = 0;
    DecodeStatus(status, code, sig);
    status_ = code;
    return false;
  }
  return true;
}

void BackgroundProcess::CloseStdin() { CloseFd(in_); }

int BackgroundProcess::Wait(double timeLimit) {
  if (pid_ <= 0) return -1;
  const double start = Now();
  while (status_ < 0) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      int code = -1, sig = 0;
      DecodeStatus(status, code, sig);
      status_ = code;
      break;
    }
    if (Now() - start > timeLimit) {
      Kill();
      return -1;
    }
    if (out_fd_ >= 0) ReadSome(out_fd_, out_);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // What it wrote last is in the pipe now.
  if (out_fd_ >= 0) ReadSome(out_fd_, out_);
  return status_;
}

void BackgroundProcess::Kill() {
  if (pid_ <= 0 || status_ >= 0) return;
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  status_ = 128 + SIGKILL;
}

// ---- a terminal ---------------------------------------------------------------------------

namespace {

std::string SettingsOf(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return "(unreadable)";
  std::ostringstream s;
  s << "iflag " << std::hex << t.c_iflag << " oflag " << t.c_oflag << " cflag " << t.c_cflag
    << " lflag " << t.c_lflag << " cc";
  for (cc_t c : t.c_cc) s << " " << static_cast<unsigned>(c);
  return s.str();
}

}  // namespace

TerminalProcess::TerminalProcess(const Command& cmd) {
  start_ = Now();
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
  const char* name = ptsname(master_);
  if (!name) return;
  slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) return;
  settingsBefore_ = SettingsOf(slave_);

  std::vector<char*> argv, envp;
  for (const auto& a : cmd.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : cmd.env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();  // a session and process group of its own, without a controlling terminal
    signal(SIGPIPE, SIG_DFL);
    dup2(slave_, 0);
    dup2(slave_, 1);
    dup2(slave_, 2);
    if (!cmd.cwd.empty() && chdir(cmd.cwd.c_str()) != 0) _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  pid_ = pid;
  SetNonBlocking(master_);
}

TerminalProcess::~TerminalProcess() {
  if (pid_ > 0 && status_ < 0) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  CloseFd(master_);
  CloseFd(slave_);
}

void TerminalProcess::Drain(int waitMs) {
  if (master_ < 0) return;
  pollfd fd{master_, POLLIN, 0};
  poll(&fd, 1, waitMs);
  char buf[65536];
  for (;;) {
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n > 0) {
      out_.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return;  // nothing more for now (the slave stays open here, so no end of file)
  }
}

size_t TerminalProcess::WaitForText(const std::string& text, size_t from, double timeLimit) {
  const double start = Now();
  for (;;) {
    const size_t at = out_.find(text, from);
    if (at != std::string::npos) return at + text.size();
    if (Now() - start > timeLimit) return std::string::npos;
    Drain(20);
  }
}

bool TerminalProcess::Type(const std::string& bytes) {
  return master_ >= 0 &&
         write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

int TerminalProcess::Wait(double timeLimit) {
  if (pid_ <= 0) return -1;
  const double start = Now();
  while (status_ < 0) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      end_ = Now();
      int code = -1, sig = 0;
      DecodeStatus(status, code, sig);
      status_ = code;
      break;
    }
    if (Now() - start > timeLimit) {
      kill(-pid_, SIGKILL);
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      end_ = Now();
      status_ = 128 + SIGKILL;
      Drain(0);
      return -1;
    }
    Drain(10);
  }
  Drain(0);
  return status_;
}

double TerminalProcess::Seconds() const { return (status_ >= 0 ? end_ : Now()) - start_; }

std::string TerminalProcess::SettingsChanged() const {
  const std::string now = SettingsOf(slave_);
  return now == settingsBefore_ ? std::string() : "before: " + settingsBefore_ + "\nafter:  " + now;
}

namespace {

// ANSI colour number (1 red, 2 green, 4 blue) to the Windows nibble (4 red, 2 green, 1 blue).
uint16_t WindowsNibble(int ansi) {
  return static_cast<uint16_t>(((ansi & 1) ? 4 : 0) | ((ansi & 2) ? 2 : 0) | ((ansi & 4) ? 1 : 0));
}

}  // namespace

ColouredText DecodeColours(const std::string& raw) {
  ColouredText t;
  uint16_t attr = 7;
  for (size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == '\x1b' && i + 1 < raw.size() && raw[i + 1] == '[') {
      size_t end = i + 2;
      while (end < raw.size() && !(raw[end] >= 0x40 && raw[end] <= 0x7E)) ++end;
      if (end >= raw.size()) break;
      if (raw[end] == 'm') {
        uint16_t fg = 7, bg = 0;
        std::istringstream params(raw.substr(i + 2, end - i - 2));
        for (std::string p; std::getline(params, p, ';');) {
          const int n = p.empty() ? 0 : std::atoi(p.c_str());
          if (n == 0) {
            fg = 7;
            bg = 0;
          } else if (n >= 30 && n <= 37) {
            fg = WindowsNibble(n - 30);
          } else if (n >= 90 && n <= 97) {
            fg = static_cast<uint16_t>(8 | WindowsNibble(n - 90));
          } else if (n >= 40 && n <= 47) {
            bg = WindowsNibble(n - 40);
          } else if (n >= 100 && n <= 107) {
            bg = static_cast<uint16_t>(8 | WindowsNibble(n - 100));
          }
        }
        attr = static_cast<uint16_t>(fg | (bg << 4));
      }
      i = end;  // cursor and clearing sequences carry no text
      continue;
    }
    if (c == '\r') continue;
    t.text += c;
    t.attrs.push_back(attr);
  }
  return t;
}

int ColouredText::AttrOf(const std::string& what, size_t from) const {
  const size_t at = text.find(what, from);
  if (at == std::string::npos || what.empty()) return -1;
  for (size_t i = at; i < at + what.size(); ++i) {
    if (attrs[i] != attrs[at]) return -1;
  }
  return attrs[at];
}

// ---- the colour test ------------------------------------------------------------------------

std::vector<int> ColourTileDigits(const std::string& out, size_t end) {
  constexpr size_t kTileWidth = 17;
  std::vector<std::string> lines;
  size_t stop = end;
  while (lines.size() < 7 && stop > 0) {
    const size_t nl = stop - 1;  // out[nl] is the line break ending this line
    const size_t begin = out.rfind('\n', nl == 0 ? 0 : nl - 1);
    const size_t from = begin == std::string::npos || nl == 0 ? 0 : begin + 1;
    std::string line = out.substr(from, nl - from);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.insert(lines.begin(), line);
    stop = from;
  }
  std::vector<int> digits;
  for (size_t tile = 0; tile < 4; ++tile) {
    int digit = -1;
    for (const std::string& line : lines) {
      if (line.size() < (tile + 1) * kTileWidth) return {};
      for (char c : line.substr(tile * kTileWidth, kTileWidth))
        if (c >= '0' && c <= '9' && digit < 0) digit = c - '0';
    }
    digits.push_back(digit);
  }
  return digits;
}

const std::map<std::string, int>& TileOfColour() {
  static const std::map<std::string, int> tiles{
      {"FF 00 00", 0}, {"00 FF 00", 1}, {"00 00 FF", 2}, {"FF FF FF", 3}};
  return tiles;
}

// ---- the lock, before the first case -------------------------------------------------------

int CheckInstanceLock() {
  const Settings& s = GetSettings();
  std::error_code ec;
  if (s.lockHolder.empty() || !fs::is_regular_file(s.lockHolder, ec)) {
    std::printf("lock holder program not found: '%s'; the lock is not checked\n",
                s.lockHolder.c_str());
    return 0;
  }
  ProcessResult p =
      RunProcess(TargetCommand(s.lockHolder, {"--probe"}, "", {}), "", DefaultTimeLimit());
  const std::string out = CrlfToLf(p.out);
  if (out.rfind("free", 0) == 0) return 0;
  if (out.rfind("held", 0) != 0) {
    std::printf("the lock could not be checked (exit code %d): %s%s\n", p.exitCode, out.c_str(),
                p.err.c_str());
    return 0;
  }
  std::string holder = "the system does not tell which";
  const size_t pid = out.find("by pid ");
  if (pid != std::string::npos) {
    holder = "pid " + out.substr(pid + 7, out.find('\n', pid) - pid - 7);
  }
  std::printf(
      "Another copy of BrumelISP holds the machine-wide lock%s (%s): no end-to-end case "
      "can run until it ends.\n",
      UnderWine() ? " of the Wine prefix" : "", holder.c_str());
  std::fflush(stdout);
  return 1;
}

// ---- fixture ------------------------------------------------------------------------------

void ToolRun::SetUp() {
  const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  const std::string suite =
      ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name();
  const std::string full = suite + "." + name;
  if (UnderWine() && full.find("LinuxOnly") != std::string::npos) {
    GTEST_SKIP() << "Linux executable only";
  }
  if (!UnderWine() && full.find("WineOnly") != std::string::npos) {
    GTEST_SKIP() << "Windows executable only";
  }
  const Settings& s = GetSettings();
  std::error_code ec;
  if (s.tool.empty() || !fs::is_regular_file(s.tool, ec)) {
    if (UnderWine()) GTEST_SKIP() << "no Windows build at '" << s.tool << "'";
    FAIL() << "tool not found: '" << s.tool << "'";
  }
  folder_.Put(ExtraFile::Copy(ToolFileName(), s.tool));
}

Command ToolRun::ToolCommand(const RunSpec& request) {
  for (const auto& f : request.files) folder_.Put(f);
  std::string program = request.program;
  if (program.empty()) program = UnderWine() ? ToolFileName() : folder_.PathOf(ToolFileName());
  Command cmd = TargetCommand(program, request.args, folder_.Path(), request.env);
  cmd.argv.insert(cmd.argv.begin(), request.wrapper.begin(), request.wrapper.end());
  return cmd;
}

RunResult ToolRun::RunTool(const RunSpec& request) {
  const double limit = request.timeLimitSeconds > 0 ? request.timeLimitSeconds : DefaultTimeLimit();
  ProcessResult p = RunProcess(ToolCommand(request), request.stdinBytes, limit);
  RunResult r;
  r.rawOut = p.out;
  r.rawErr = p.err;
  r.out = UnderWine() ? CrlfToLf(p.out) : p.out;
  r.err = UnderWine() ? CrlfToLf(p.err) : p.err;
  r.exitCode = p.exitCode;
  r.signal = p.signal;
  r.timedOut = p.timedOut;
  r.seconds = p.seconds;
  r.folder = folder_.Path();
  r.filesLeft = folder_.List();
  if (r.timedOut) ADD_FAILURE() << "the tool overran its " << limit << " s\n" << r.Describe();
  return r;
}

RunSpec ToolRun::BenchRequest(std::vector<std::string> args, const std::string& library,
                              const std::string& scenario, const std::string& log) {
  RunSpec request;
  request.args = std::move(args);
  if (!library.empty()) {
    const std::string from = SimFile(library);
    EXPECT_FALSE(from.empty()) << "substitute " << library << " not built";
    request.files.push_back(ExtraFile::Copy(library, from));
  }
  request.env["BRUMEL_SIM_LOG"] = folder_.PathOf(log);
  if (scenario.empty()) {
    request.env["BRUMEL_SIM_SCENARIO"] = std::nullopt;
  } else {
    request.files.push_back(ExtraFile::Text("scenario.ini", scenario));
    request.env["BRUMEL_SIM_SCENARIO"] = folder_.PathOf("scenario.ini");
  }
  return request;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string ReportHex(const std::vector<int>& head) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < 65; ++i) {
    std::snprintf(buf, sizeof buf, "%02X", i < head.size() ? head[i] : 0);
    if (i) s += ' ';
    s += buf;
  }
  return s;
}

std::vector<std::string> LoggedReports(const std::string& log) {
  std::vector<std::string> out;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) out.push_back(line.substr(0, line.find(" |")));
  return out;
}

std::vector<std::string> LoggedMeanings(const std::string& log) {
  std::vector<std::string> out;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    const size_t bar = line.find(" | ");
    if (bar != std::string::npos) out.push_back(line.substr(bar + 3));
  }
  return out;
}

std::vector<std::string> LoggedSetColours(const std::string& log) {
  static const std::string kSetColour = "LED set colour ";
  std::vector<std::string> out;
  for (const std::string& m : LoggedMeanings(log))
    if (m.rfind(kSetColour, 0) == 0) out.push_back(m.substr(kSetColour.size()));
  return out;
}

bool AnswerColourRounds(BackgroundProcess& tool, int rounds, const std::string& logPath) {
  static const std::string kPrompt = "Please enter COLOR CODE: ";
  size_t from = 0;
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round + 1));
    const size_t after = tool.WaitForText(kPrompt, from, DefaultTimeLimit());
    if (after == std::string::npos) {
      ADD_FAILURE() << "no prompt\n" << tool.OutputSoFar();
      return false;
    }
    const std::vector<int> digits = ColourTileDigits(tool.OutputSoFar(), after - kPrompt.size());
    std::vector<int> sorted = digits;
    std::sort(sorted.begin(), sorted.end());
    if (digits.size() != 4 || sorted.front() < 0 ||
        std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
      ADD_FAILURE() << "four different digits expected\n" << tool.OutputSoFar();
      return false;
    }
    std::ifstream in(logPath, std::ios::binary);
    std::ostringstream log;
    log << in.rdbuf();
    const std::vector<std::string> lit = LoggedSetColours(log.str());
    if (lit.size() != static_cast<size_t>(round + 1) || !TileOfColour().count(lit.back())) {
      ADD_FAILURE() << "the controller was lit " << lit.size() << " times, last in "
                    << (lit.empty() ? "nothing" : lit.back());
      return false;
    }
    const int digit = digits[static_cast<size_t>(TileOfColour().at(lit.back()))];
    if (!tool.Write(std::string(1, static_cast<char>('0' + digit)))) {
      ADD_FAILURE() << "the key was not taken";
      return false;
    }
    from = after;
  }
  return true;
}

std::unique_ptr<BackgroundProcess> ToolRun::StartTool(const RunSpec& request) {
  const Command cmd = ToolCommand(request);
  auto p = std::make_unique<BackgroundProcess>(cmd);
  if (!p->Started()) {
    ADD_FAILURE() << "cannot start " << cmd.argv.front();
    return nullptr;
  }
  if (!request.stdinBytes.empty() && !p->Write(request.stdinBytes)) {
    ADD_FAILURE() << "cannot feed the tool's stdin";
  }
  return p;
}

std::unique_ptr<TerminalProcess> ToolRun::StartOnTerminal(const RunSpec& request,
                                                          const std::vector<std::string>& wrapper) {
  Command cmd = ToolCommand(request);
  cmd.argv.insert(cmd.argv.begin(), wrapper.begin(), wrapper.end());
  auto p = std::make_unique<TerminalProcess>(cmd);
  if (!p->Started()) {
    ADD_FAILURE() << "cannot start " << cmd.argv.front() << " on a terminal";
    return nullptr;
  }
  return p;
}

std::unique_ptr<BackgroundProcess> ToolRun::HoldInstanceLock() {
  const std::string& holder = GetSettings().lockHolder;
  std::error_code ec;
  if (holder.empty() || !fs::is_regular_file(holder, ec)) {
    ADD_FAILURE() << "lock holder program not found: '" << holder << "'";
    return nullptr;
  }
  auto p = std::make_unique<BackgroundProcess>(TargetCommand(holder, {"120"}, folder_.Path(), {}));
  if (!p->Started() || !p->WaitForLine("locked", DefaultTimeLimit())) {
    ADD_FAILURE() << "lock holder did not take the lock; it printed:\n" << p->OutputSoFar();
    return nullptr;
  }
  return p;
}

}  // namespace e2e
