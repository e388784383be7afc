// Where the tool keeps its files: the run's own configuration file, the optional files a user or
// an administrator puts in place, and the libraries it loads.
//
// Beside the executable (the bench in build/bench/, an unpacked folder, the Windows product):
// everything lives in ExecutableDir(), as it always has.
//
// Installed (Linux: the executable in a folder named "bin", as the package and `cmake --install`
// put it): nothing is ever written under the installation prefix, whoever runs the tool.
//   - the run's own file goes into a private folder of the user's: $XDG_RUNTIME_DIR/brumelisp/
//     when that is a folder of the user's, else /tmp/brumelisp-<uid>/; made 0700, its owner
//     checked, no link followed;
//   - optional files are read from $XDG_CONFIG_HOME/brumelisp/ (~/.config/brumelisp/ when it is
//     not set), then from /etc/brumelisp/;
//   - libraries come through the system's search only (see DynLib.h).
#pragma once
#include <string>
#include <vector>

namespace plat {

// True when the running executable is installed (see above); decided once per process from the
// executable's own place.
bool InstalledLayout();

// Path of the run's own file `name` (BrumelISP.ini). Beside the executable: ExecutableDir(), a
// separator, then name (the folder already ends in one; the system reads the two as one).
// Installed: the private folder, made on the first call, then name. Empty when no folder can be
// had safely, with the reason in *why.
std::string RunFilePath(const std::string& name, std::string* why = nullptr);

// Removes the private folder once the run's file is gone from it. Nothing else is touched: a
// folder that still holds anything stays, and beside the executable nothing is removed.
void RemoveRunFolder();

// Path of the optional file `name` (UpdateFW.ini, music.mp3) to read. Beside the executable:
// ExecutableDir(), a separator, then name. Installed: in the first of ConfigurationFolders()
// where it exists; where it exists nowhere, in the first of them (so a reader finds it missing).
std::string OptionalFilePath(const std::string& name);

// The system's side of the installed layout, which the above are built on.
// The private folder for the run's files, ending with a separator: made on the first call (later
// calls give the same answer). Empty when it cannot be had safely, with the reason in *why.
std::string PrivateRunFolder(std::string* why);
// Removes the private folder when it is empty.
void RemovePrivateRunFolder();
// The tool's folder in the user's configuration, then the system's, each ending with a separator.
std::vector<std::string> ConfigurationFolders();

}  // namespace plat
