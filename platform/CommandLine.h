// The process command line as the system reports it, and the program's arguments, both as
// UTF-8 text.
#pragma once
#include <string>
#include <vector>

namespace plat {

// Windows: GetCommandLineW, in UTF-8. Linux: the arguments of /proc/self/cmdline joined by
// blanks. Program path included.
std::string ProcessCommandLine();

// The program's arguments (argv[0] first) in UTF-8, with argc and argv in the form main takes.
// Linux: argv as it came. Windows: the arguments as the C run-time splits the command line,
// taken in UTF-16 and converted, since the narrow argv holds each through the ANSI code page
// (a name that page cannot hold arrives as "?"); when the wide split is not to be had, argv as
// it came.
class ProgramArguments {
 public:
  ProgramArguments(int argc, char** argv);
  ProgramArguments(const ProgramArguments&) = delete;
  ProgramArguments& operator=(const ProgramArguments&) = delete;

  int Count() const { return static_cast<int>(values_.size()); }
  // Null-terminated, as argv is; valid while the object lives.
  char** Values() { return pointers_.data(); }

 private:
  std::vector<std::string> values_;
  std::vector<char*> pointers_;
};

}  // namespace plat
