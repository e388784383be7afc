#include "platform/OsInfo.h"

#include <sys/utsname.h>
#include <unistd.h>

namespace plat {

bool QueryOsFacts(OsFacts& facts) {
  facts = OsFacts{};
  struct utsname u {};
  if (uname(&u) != 0) return false;
  facts.SystemName = u.sysname;
  facts.SystemRelease = u.release;
  facts.Machine = u.machine;
  long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  facts.ProcessorCount = cpus > 0 ? static_cast<uint32_t>(cpus) : 1;
  return true;
}

// No WOW64 here.
bool IsNotWow64Process() { return true; }

}  // namespace plat
