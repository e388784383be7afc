// The parts of platform/ToolFiles.h that are the same on every system.
#include "platform/ToolFiles.h"

#include "platform/Files.h"

namespace plat {

namespace {

std::string Beside(const std::string& name) { return ExecutableDir() + kPathSeparator + name; }

}  // namespace

std::string RunFilePath(const std::string& name, std::string* why) {
  if (!InstalledLayout()) return Beside(name);
  const std::string folder = PrivateRunFolder(why);
  return folder.empty() ? std::string() : folder + name;
}

void RemoveRunFolder() {
  if (InstalledLayout()) RemovePrivateRunFolder();
}

std::string OptionalFilePath(const std::string& name) {
  if (!InstalledLayout()) return Beside(name);
  const std::vector<std::string> folders = ConfigurationFolders();
  for (const std::string& folder : folders) {
    if (FileExists(folder + name)) return folder + name;
  }
  return folders.empty() ? std::string() : folders.front() + name;
}

}  // namespace plat
