// Files and paths of the running system.
#pragma once
#include <string>

namespace plat {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
// Windows file names are compared without regard to case.
inline constexpr bool kFileNamesCaseSensitive = false;
#else
inline constexpr char kPathSeparator = '/';
inline constexpr bool kFileNamesCaseSensitive = true;
#endif

// Full path of the running executable, as the system reports it (never from argv).
std::string ExecutablePath();
// Folder of the running executable, ending with kPathSeparator.
std::string ExecutableDir();

// True when path names an existing file that is not a folder.
bool FileExists(const std::string& path);
// True when path names an existing folder.
bool IsFolder(const std::string& path);
// Removes a file; false when it could not be removed (a missing file included).
bool RemoveFile(const std::string& path);
// Moves from over to, replacing to in one step; false on failure (from is then left as it was).
bool ReplaceFile(const std::string& from, const std::string& to);

}  // namespace plat
