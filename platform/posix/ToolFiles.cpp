#include "platform/ToolFiles.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/Files.h"
#include "platform/posix/ToolFolders.h"

namespace plat {

namespace {

bool IsAbsolute(const char* path) { return path && path[0] == '/'; }

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The home folder of the effective user from the user database, for a process started without
// $HOME.
std::string HomeFromUserDatabase() {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buffer(size > 0 ? static_cast<size_t>(size) : 16384, '\0');
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
      !IsAbsolute(found->pw_dir)) {
    return {};
  }
  return found->pw_dir;
}

struct PrivateFolder {
  std::string path;  // without the trailing '/'
  bool ready = false;
  std::string why;
};

PrivateFolder& TheFolder() {
  static PrivateFolder folder;
  static std::once_flag once;
  std::call_once(once, [] {
    folder.path = PrivateFolderFor(std::getenv("XDG_RUNTIME_DIR"), geteuid());
    folder.ready = MakePrivateFolder(folder.path, folder.why);
  });
  return folder;
}

}  // namespace

bool IsInstalledFolder(const std::string& exeDir) {
  const std::string folder = WithoutTrailingSlashes(exeDir);
  const size_t slash = folder.rfind('/');
  return slash != std::string::npos && folder.compare(slash + 1, std::string::npos, "bin") == 0;
}

std::string PrivateFolderFor(const char* runtimeDir, uid_t uid) {
  if (IsAbsolute(runtimeDir)) {
    // The user's runtime folder, as the session manager makes it: the user's own, closed to the
    // others. One that is not (an inherited value, after su or sudo) is passed over.
    struct stat st {};
    if (stat(runtimeDir, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid &&
        (st.st_mode & (S_IWGRP | S_IWOTH)) == 0) {
      return WithoutTrailingSlashes(runtimeDir) + "/brumelisp";
    }
  }
  return "/tmp/brumelisp-" + std::to_string(uid);
}

bool MakePrivateFolder(const std::string& folder, std::string& why) {
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    why = folder + " cannot be made: " + std::strerror(errno);
    return false;
  }
  // Whatever stands at the name now: a link (planted in a shared folder, say) is not followed.
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    why = errno == ENOTDIR || errno == ELOOP
              ? folder + " is not a folder"
              : folder + " cannot be opened: " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool ok = fstat(fd, &st) == 0;
  if (!ok) {
    why = folder + " cannot be read: " + std::strerror(errno);
  } else if (st.st_uid != geteuid()) {
    why = folder + " belongs to another user";
    ok = false;
  } else if ((st.st_mode & 0777) != 0700 && fchmod(fd, 0700) != 0) {
    // Others' access taken away, the user's own given whatever the umask left of it.
    why = folder + " cannot be made 0700: " + std::strerror(errno);
    ok = false;
  }
  close(fd);
  return ok;
}

std::vector<std::string> ConfigFoldersFor(const char* configHome, const char* home) {
  std::vector<std::string> folders;
  if (IsAbsolute(configHome)) {
    folders.push_back(WithoutTrailingSlashes(configHome) + "/brumelisp/");
  } else if (IsAbsolute(home)) {
    folders.push_back(WithoutTrailingSlashes(home) + "/.config/brumelisp/");
  }
  folders.push_back("/etc/brumelisp/");
  return folders;
}

bool InstalledLayout() {
  static const bool installed = IsInstalledFolder(ExecutableDir());
  return installed;
}

std::string PrivateRunFolder(std::string* why) {
  const PrivateFolder& folder = TheFolder();
  if (!folder.ready) {
    if (why) *why = folder.why;
    return {};
  }
  return folder.path + "/";
}

void RemovePrivateRunFolder() {
  const PrivateFolder& folder = TheFolder();
  if (folder.ready) rmdir(folder.path.c_str());
}

std::vector<std::string> ConfigurationFolders() {
  const char* home = std::getenv("HOME");
  const std::string fromDatabase = IsAbsolute(home) ? std::string() : HomeFromUserDatabase();
  return ConfigFoldersFor(std::getenv("XDG_CONFIG_HOME"),
                          fromDatabase.empty() ? home : fromDatabase.c_str());
}

}  // namespace plat
