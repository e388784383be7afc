// The Linux rules of the installed layout (platform/ToolFiles.h), as functions of what they are
// decided on, so that each rule can be tried on its own.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace plat {

// An executable in exeDir (ending with '/') is installed when that folder is named "bin".
bool IsInstalledFolder(const std::string& exeDir);

// Where the private folder of the user uid goes, without a trailing '/': "<runtimeDir>/brumelisp"
// when runtimeDir (the value of $XDG_RUNTIME_DIR, null when unset) is an absolute path to a folder
// of that user's that nobody else may write to; else "/tmp/brumelisp-<uid>".
std::string PrivateFolderFor(const char* runtimeDir, uid_t uid);

// Makes folder (no trailing '/') the private folder of the effective user: created when
// missing; it must be a folder (a link is not followed) that belongs to that user, and its mode
// is made 0700 (whatever the umask, and whatever access others had). False with the reason in
// why.
bool MakePrivateFolder(const std::string& folder, std::string& why);

// The tool's configuration folders, each ending with '/': "<configHome>/brumelisp/" when
// configHome ($XDG_CONFIG_HOME) is an absolute path, else "<home>/.config/brumelisp/" when home
// is, then "/etc/brumelisp/".
std::vector<std::string> ConfigFoldersFor(const char* configHome, const char* home);

}  // namespace plat
