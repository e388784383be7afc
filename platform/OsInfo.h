// What the running operating system reports about itself: version, processors, edition.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

// Field for field the system's extended version record (OSVERSIONINFOEXA, 156 bytes).
struct OsVersionInfo {
  uint32_t dwOSVersionInfoSize = 0;
  uint32_t dwMajorVersion = 0;
  uint32_t dwMinorVersion = 0;
  uint32_t dwBuildNumber = 0;
  uint32_t dwPlatformId = 0;
  char szCSDVersion[128] = {};  // service-pack text; not necessarily terminated
  uint16_t wServicePackMajor = 0;
  uint16_t wServicePackMinor = 0;
  uint16_t wSuiteMask = 0;
  uint8_t wProductType = 0;
  uint8_t wReserved = 0;
};

inline constexpr uint32_t kOsVersionInfoSize = 156;
inline constexpr uint16_t kArchitectureUnknown = 0xFFFF;

struct OsFacts {
  // True on Windows: Version and the fields below it are the system's answers.
  bool Windows = false;
  OsVersionInfo Version;
  // Native processor architecture in the Windows numbering: 0 x86, 6 Itanium, 9 x64.
  uint16_t ProcessorArchitecture = kArchitectureUnknown;
  uint32_t ProcessorCount = 0;
  // System metric 89: non-zero on Windows Server 2003 R2.
  int ServerR2Metric = 0;
  // Edition from the product information query for the reported major.minor; 0 when unknown.
  uint32_t ProductType = 0;
  // Other systems: the kernel's name, release and machine type (uname).
  std::string SystemName;
  std::string SystemRelease;
  std::string Machine;
};

// Asks the system; false when the version query fails (facts are then left cleared).
bool QueryOsFacts(OsFacts& facts);

// True when the process does not run under WOW64; asked of the system at each call
// (IsWow64Process looked up in "kernel32"; a system without it answers true).
bool IsNotWow64Process();

}  // namespace plat
