#include "platform/ToolFiles.h"

namespace plat {

// The Windows product keeps everything beside its executable.
bool InstalledLayout() { return false; }

std::string PrivateRunFolder(std::string* why) {
  if (why) *why = "no private folder on this system";
  return {};
}

void RemovePrivateRunFolder() {}

std::vector<std::string> ConfigurationFolders() { return {}; }

}  // namespace plat
