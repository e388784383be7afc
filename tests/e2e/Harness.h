// Whole-program runs of the tool: each case starts the real executable as a separate process in
// a fresh folder (the tool copied there, plus the files the case puts beside it) and checks what
// it printed, its exit code and the files it left behind.
//
// The same cases run the Linux executable directly and the Windows executable under Wine. A case
// whose name contains "LinuxOnly" (e.g. TEST_F(ToolRun, LinuxOnly_ColourTestOnSimulator)) runs
// only against the Linux executable; one whose name contains "WineOnly" only under Wine.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace e2e {

enum class Mode { Linux, Wine };

// What the build hands to the suite (command-line options of brumel_e2e, see main.cpp).
struct Settings {
  Mode mode = Mode::Linux;
  std::string tool;        // the executable under test
  std::string lockHolder;  // tests/helpers/brumel_lock_holder of the same target
  std::string wine;        // wine64 loader
  std::string winePrefix;  // prefix to use when WINEPREFIX is not set
  std::string benchDir;    // build/bench: the substitute libraries laid out beside the tool
  std::string simDir;      // the sim/ build folder
  std::string winSimDir;   // the sim/ folder of the Windows build (its substitute libraries)
  std::string sharePeer;   // tests/helpers' brumel_share_peer (Linux): a second HID sharing user
  bool keepFolders = false;
};
Settings& GetSettings();
inline bool UnderWine() { return GetSettings().mode == Mode::Wine; }

// File name of the tool in its folder.
std::string ToolFileName();
// File name of the substitute display library of the target ("libatiadlxx.so", "atiadlxx.dll").
std::string DisplayLibraryFileName();
// Full path of a substitute library or other sim/ product (bench folder first, then the sim/
// folders of the Linux and the Windows build); empty if absent.
std::string SimFile(const std::string& name);

// Environment changes for a run: a value sets the variable, nullopt removes it.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

// One file (or folder) the case puts beside the tool before it starts.
struct ExtraFile {
  std::string name;      // relative to the tool's folder
  std::string content;   // written as-is (no line-ending change)
  std::string copyFrom;  // when set: copied from this path instead of content
  bool folder = false;   // when set: a folder of that name is created
  static ExtraFile Text(std::string name, std::string content) {
    return {std::move(name), std::move(content), {}, false};
  }
  static ExtraFile Copy(std::string name, std::string from) {
    return {std::move(name), {}, std::move(from), false};
  }
  static ExtraFile Folder(std::string name) { return {std::move(name), {}, {}, true}; }
};

struct RunSpec {
  std::vector<std::string> args;
  std::string stdinBytes;  // fed to the tool, then its stdin is closed
  EnvChanges env;
  std::vector<ExtraFile> files;
  double timeLimitSeconds = 0;  // 0: the default of the mode
  // The program that starts the tool, and its arguments (a test bed, another user's ids); the
  // tool's path and arguments follow them. Empty: the tool is started directly.
  std::vector<std::string> wrapper;
  // The tool to start; empty: the copy in the case's folder.
  std::string program;
};

struct RunResult {
  std::string out;     // stdout, line endings normalised to "\n"
  std::string err;     // stderr, likewise
  std::string rawOut;  // as received
  std::string rawErr;
  int exitCode = -1;  // 128 + signal when a signal ended it
  int signal = 0;
  bool timedOut = false;
  double seconds = 0;               // from start to end of the process
  std::set<std::string> filesLeft;  // relative paths in the folder; folders end with '/'
  std::string folder;

  bool Left(const std::string& name) const { return filesLeft.count(name) != 0; }
  // A crash rather than a defined end: a signal, a sanitizer report, or under Wine the codes
  // of an unhandled exception (5) or abort (3).
  bool Crashed() const;
  std::string Describe() const;  // for failure messages
};

// A fresh folder holding a copy of the tool. Removed with the object unless the run asks to
// keep folders (BRUMEL_E2E_KEEP=1).
class ToolFolder {
 public:
  ToolFolder();
  ~ToolFolder();
  ToolFolder(const ToolFolder&) = delete;
  ToolFolder& operator=(const ToolFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string PathOf(const std::string& name) const { return path_ + "/" + name; }
  void Put(const ExtraFile& file);
  void Put(const std::string& name, const std::string& content) {
    Put(ExtraFile::Text(name, content));
  }
  bool Exists(const std::string& name) const;
  std::string Read(const std::string& name) const;
  std::set<std::string> List() const;

 private:
  std::string path_;
};

// Command for a program of the target: Linux programs run directly, Windows ones under Wine.
struct Command {
  std::vector<std::string> argv;
  std::vector<std::string> env;  // full environment, "NAME=value"
  std::string cwd;
};
Command TargetCommand(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd, const EnvChanges& env);

struct ProcessResult {
  std::string out, err;
  int exitCode = -1;
  int signal = 0;
  bool timedOut = false;
  double seconds = 0;
};
// Runs a command to its end, feeding stdinBytes; the process group is killed on overrun.
ProcessResult RunProcess(const Command& cmd, const std::string& stdinBytes, double timeLimit);

// A program that runs beside the case, with pipes to its stdin and stdout.
class BackgroundProcess {
 public:
  explicit BackgroundProcess(const Command& cmd);
  ~BackgroundProcess();  // closes stdin, waits a little, then kills the process group
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  // Waits for a line (CR removed) on stdout; false on time-out or end of output.
  bool WaitForLine(const std::string& line, double timeLimit);
  // Interactive runs. Waits until the output from position `from` on contains `text` (which
  // need not end a line, e.g. a prompt); the position just past it, or std::string::npos on
  // time-out or end of output.
  size_t WaitForText(const std::string& text, size_t from, double timeLimit);
  // Writes bytes to the program's stdin (keys for a tool that reads them); false when the
  // pipe is closed or the program does not take them within a few seconds.
  bool Write(const std::string& bytes);
  // True while the program has not ended.
  bool Running();
  int Pid() const { return pid_; }
  void CloseStdin();
  // Waits for the end; the exit code, or -1 on time-out (the process is then killed).
  int Wait(double timeLimit);
  const std::string& OutputSoFar() const { return out_; }

 private:
  void Kill();
  int pid_ = -1;
  int in_ = -1;
  int out_fd_ = -1;
  std::string out_;
  int status_ = -1;
};

// A program on a pseudo-terminal: its standard input, output and error are the terminal, as when
// an operator starts it, in a session of its own (the terminal is not its controlling one).
class TerminalProcess {
 public:
  explicit TerminalProcess(const Command& cmd);
  ~TerminalProcess();  // kills the program's process group if it still runs
  TerminalProcess(const TerminalProcess&) = delete;
  TerminalProcess& operator=(const TerminalProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  // As BackgroundProcess::WaitForText, on everything the program wrote to the terminal.
  size_t WaitForText(const std::string& text, size_t from, double timeLimit);
  // Types bytes on the terminal's keyboard.
  bool Type(const std::string& bytes);
  // Waits for the end; the exit code (128 + signal when a signal ended it), or -1 on time-out
  // (the program is then killed).
  int Wait(double timeLimit);
  // Everything written to the terminal so far, escapes and all.
  const std::string& Output() const { return out_; }
  // Seconds from the start to the end (or to now while it runs).
  double Seconds() const;
  // Empty when the terminal's settings are those it had before the start; else what differs.
  std::string SettingsChanged() const;

 private:
  void Drain(int waitMs);
  int pid_ = -1;
  int master_ = -1;
  int slave_ = -1;  // kept open, so the settings can be read after the end
  std::string out_;
  int status_ = -1;
  double start_ = 0, end_ = 0;
  std::string settingsBefore_;
};

// Attributes of what a program wrote to a terminal: the text with the ANSI colour escapes taken
// out, and for each character the Windows console attribute it was written in (the escapes
// mapped back, 7 where none is set).
struct ColouredText {
  std::string text;
  std::vector<uint16_t> attrs;
  // The attribute the first occurrence of `what` was written in (all of its characters in one
  // attribute), or -1 when it is not there or mixes attributes.
  int AttrOf(const std::string& what, size_t from = 0) const;
};
ColouredText DecodeColours(const std::string& terminalOutput);

// The colour test as the operator sees it. The digits of the four tiles (left to right), read
// from the plain copy of the tiles: the 7 lines just before `end`, the position where the prompt
// starts. Each digit is drawn with its own character. Empty if unreadable.
std::vector<int> ColourTileDigits(const std::string& out, size_t end);
// The tile (0 to 3, left to right) of each colour the controller may be lit in, as the
// simulator logs it ("FF 00 00").
const std::map<std::string, int>& TileOfColour();

// Fixture of the whole-program cases.
class ToolRun : public ::testing::Test {
 protected:
  void SetUp() override;

  // Puts request.files into the folder and runs the tool there with request.args.
  RunResult RunTool(const RunSpec& request);
  RunResult RunTool(std::vector<std::string> args) {
    RunSpec request;
    request.args = std::move(args);
    return RunTool(request);
  }

  // Starts the tool in the folder as RunTool would, but returns at once with pipes to its stdin
  // and stdout, for runs that answer the tool's prompts (an interactive run). Null when it
  // could not be started.
  std::unique_ptr<BackgroundProcess> StartTool(const RunSpec& request);

  // Starts the tool in the folder on a pseudo-terminal (see TerminalProcess). `wrapper` names a
  // program (and its arguments) the tool is started through, e.g. {"/usr/bin/timeout", "2"},
  // before the request's own wrapper.
  std::unique_ptr<TerminalProcess> StartOnTerminal(const RunSpec& request,
                                                   const std::vector<std::string>& wrapper = {});

  // The request of a run on the simulated bench: `library` (a substitute's file name, found
  // with SimFile; empty: none) copied beside the tool, the simulator's log going to `log` in the
  // folder, and `scenario` written as scenario.ini (empty: no file, the simulator's defaults).
  RunSpec BenchRequest(std::vector<std::string> args, const std::string& library,
                       const std::string& scenario = {}, const std::string& log = "sim.log");

  // The command that starts the tool of the request in the folder (request.files put there
  // first), through the request's wrapper.
  Command ToolCommand(const RunSpec& request);

  // Starts brumel_lock_holder of the target; it holds the single-instance lock until it ends.
  // Null (with a failure recorded) when it could not take the lock.
  std::unique_ptr<BackgroundProcess> HoldInstanceLock();

  ToolFolder folder_;
};

double DefaultTimeLimit();

// The substitute hidapi of the bench (Linux only).
inline constexpr char kHidLibrary[] = "libhidapi-hidraw.so.0";

// How often `what` stands in `text` (overlapping places counted).
size_t Count(const std::string& text, const std::string& what);

// A simulator's log (one line per report received: its bytes in hexadecimal, " | ", what they
// meant). "00 10 00 k ..." as a 65-byte report is logged: the given head, then zeros.
std::string ReportHex(const std::vector<int>& head);
// The bytes of every line, and the meaning of every line.
std::vector<std::string> LoggedReports(const std::string& log);
std::vector<std::string> LoggedMeanings(const std::string& log);
// The colours the controller was lit in for the colour test, in order ("FF 00 00").
std::vector<std::string> LoggedSetColours(const std::string& log);

// Answers `rounds` rounds of the colour test of a tool started with StartTool, as an operator
// who sees the controller would: each round waits for the prompt, reads the four tiles' digits
// (four different ones) and types the digit of the tile in the colour the controller was lit in
// last, as the simulator's log `logPath` shows it. False, with the failure recorded, when a
// round cannot be answered.
bool AnswerColourRounds(BackgroundProcess& tool, int rounds, const std::string& logPath);

// Run once before the first case: whether another copy of the tool (or anything else) holds the
// machine-wide single-instance lock, which would make every case that starts the tool fail with
// the sharing message. When it is held, prints one line that says so and names the holder where
// the system tells it, and returns 1; else 0.
int CheckInstanceLock();

}  // namespace e2e
