#include "support/OsVersion.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace brumel {

namespace {

constexpr uint32_t kPlatformWin32s = 0;
constexpr uint32_t kPlatformWin9x = 1;
constexpr uint32_t kPlatformNT = 2;

constexpr uint8_t kWorkstation = 1;

constexpr uint16_t kSuiteEnterprise = 0x0002;
constexpr uint16_t kSuiteDatacenter = 0x0080;
constexpr uint16_t kSuitePersonal = 0x0200;
constexpr uint16_t kSuiteBlade = 0x0400;
constexpr uint16_t kSuiteStorageServer = 0x2000;
constexpr uint16_t kSuiteComputeServer = 0x4000;
constexpr uint16_t kSuiteHomeServer = 0x8000;

constexpr uint16_t kArchX86 = 0;
constexpr uint16_t kArchIA64 = 6;
constexpr uint16_t kArchX64 = 9;

struct Edition {
  uint32_t productType;
  const char* text;
};

constexpr Edition kEditions[] = {
    {1, "Ultimate Edition"},
    {2, "Home Basic Edition"},
    {3, "Home Premium Edition"},
    {4, "Enterprise Edition"},
    {6, "Business Edition"},
    {7, "Standard Edition"},
    {8, "Datacenter Edition"},
    {9, "Small Business Server"},
    {10, "Enterprise Edition"},
    {11, "Starter Edition"},
    {12, "Datacenter Edition (core installation)"},
    {13, "Standard Edition (core installation)"},
    {14, "Enterprise Edition (core installation)"},
    {15, "Enterprise Edition for Itanium-based Systems"},
    {17, "Web Server Edition"},
    {18, "Cluster Server Edition"},
    {25, "Small Business Server Premium Edition"},
    {48, "Professional"},
};

const char* EditionText(uint32_t productType) {
  for (const Edition& e : kEditions) {
    if (e.productType == productType) return e.text;
  }
  return "";
}

}  // namespace

void AppendBounded(char* buffer, size_t size, const char* text) {
  if (!buffer || size == 0 || !text) return;
  size_t used = strnlen(buffer, size);
  if (used >= size) {  // not terminated: terminate at the last byte
    buffer[size - 1] = '\0';
    return;
  }
  size_t room = size - 1 - used;
  size_t n = strnlen(text, room);
  std::memcpy(buffer + used, text, n);
  buffer[used + n] = '\0';
}

uint16_t ArchitectureFromMachine(const char* machine) {
  if (!machine) return plat::kArchitectureUnknown;
  const std::string m = machine;
  if (m == "x86_64" || m == "amd64") return kArchX64;
  if (m == "ia64") return kArchIA64;
  if (m == "i386" || m == "i486" || m == "i586" || m == "i686" || m == "x86") return kArchX86;
  return plat::kArchitectureUnknown;
}

TOsVersion::TOsVersion() {
  Clear();
  Fill();
}

TOsVersion::TOsVersion(const plat::OsFacts& facts) {
  Clear();
  FillFrom(facts);
}

void TOsVersion::Clear() {
  std::memset(Name, 0, sizeof(Name));
  Win9xKind = 0;
  ProcessorCount = 0;
  Flags = 0;
  VersionInfo = plat::OsVersionInfo{};
}

void TOsVersion::Append(const char* text) { AppendBounded(Name, sizeof(Name), text); }

bool TOsVersion::Fill() {
  plat::OsFacts facts;
  if (!plat::QueryOsFacts(facts)) {
    Clear();
    return false;
  }
  return FillFrom(facts);
}

bool TOsVersion::IsNotWow64() const { return plat::IsNotWow64Process(); }

bool TOsVersion::FillFrom(const plat::OsFacts& facts) {
  Clear();
  ProcessorCount = facts.ProcessorCount;

  if (!facts.Windows) {
    // Another system: its own name, and the processor bits; no Windows version level.
    const std::string name =
        facts.SystemName + " " + facts.SystemRelease + " (" + facts.Machine + ")";
    Append(name.c_str());
    const uint16_t arch = ArchitectureFromMachine(facts.Machine.c_str());
    if (arch == kArchX64) Flags |= kOsX64;
    if (arch == kArchIA64) Flags |= kOsIA64;
    return true;
  }

  VersionInfo = facts.Version;
  VersionInfo.dwOSVersionInfoSize = plat::kOsVersionInfoSize;
  const plat::OsVersionInfo& v = VersionInfo;
  const uint16_t arch = facts.ProcessorArchitecture;

  Append("Microsoft ");
  if (v.dwPlatformId == kPlatformWin32s) {
    Win9xKind = 1;
    Append("Windows ");
  } else if (v.dwPlatformId == kPlatformWin9x && v.dwMajorVersion == 4) {
    NameWin9x(v);
  } else if (v.dwPlatformId == kPlatformNT) {
    if (v.dwMajorVersion == 5) {
      NameNT5(facts);
    } else if (v.dwMajorVersion == 6 || v.dwMajorVersion == 10) {
      NameNT6(facts);
    }
  }

  // The service-pack text fills its field without a terminator at most.
  const size_t spLength = strnlen(v.szCSDVersion, sizeof(v.szCSDVersion));
  if (spLength > 0) {
    Append(" ");
    Append(std::string(v.szCSDVersion, spLength).c_str());
  }

  // On the 95/98/Me family the high word of the build number holds major and minor.
  const uint32_t build =
      v.dwPlatformId == kPlatformWin9x ? (v.dwBuildNumber & 0xFFFF) : v.dwBuildNumber;
  char buildText[80];
  std::snprintf(buildText, sizeof(buildText), " (build %u)", static_cast<unsigned>(build));
  Append(buildText);

  if (v.dwMajorVersion <= 4) return true;

  if (arch == kArchX64) {
    Flags |= kOsX64;
    Append(", 64-bit");
  } else if (arch == kArchIA64) {
    Flags |= kOsIA64;
    Append(", 64-bit");
  } else if (arch == kArchX86) {
    Append(", 32-bit");
  }
  return true;
}

void TOsVersion::NameWin9x(const plat::OsVersionInfo& v) {
  Flags = kOsWin9x;
  const char first = v.szCSDVersion[0];
  switch (v.dwMinorVersion) {
    case 0:
      if (first == 'B' || first == 'C') {
        Append("Windows 95 OSR2 ");
        Win9xKind = 3;
      } else {
        Append("Windows 95 ");
        Win9xKind = 2;
      }
      break;
    case 10:
      if (first == 'A') {
        Append("Windows 98 SE ");
        Win9xKind = 5;
      } else {
        Append("Windows 98 ");
        Win9xKind = 4;
      }
      break;
    case 90:
      Append("Windows Me ");
      Win9xKind = 6;
      break;
    default:
      break;
  }
}

void TOsVersion::NameNT5(const plat::OsFacts& facts) {
  Flags = kOsNT5;
  const plat::OsVersionInfo& v = facts.Version;
  const bool workstation = v.wProductType == kWorkstation;
  const uint16_t suite = v.wSuiteMask;
  const uint16_t arch = facts.ProcessorArchitecture;

  if (v.dwMinorVersion == 0) {
    Append("Windows 2000 ");
    if (workstation) {
      Append("Professional");
    } else if (suite & kSuiteDatacenter) {
      Append("Datacenter Server");
    } else if (suite & kSuiteEnterprise) {
      Append("Advanced Server");
    } else {
      Append("Server");
    }
  } else if (v.dwMinorVersion == 1) {
    Append("Windows XP ");
    Append((suite & kSuitePersonal) ? "Home Edition" : "Professional");
  } else if (v.dwMinorVersion == 2) {
    if (facts.ServerR2Metric != 0) {
      Append("Windows Server 2003 R2, ");
    } else if (suite & kSuiteStorageServer) {
      Append("Windows Storage Server 2003");
    } else if (suite & kSuiteHomeServer) {
      Append("Windows Home Server");
    } else if (workstation && arch == kArchX64) {
      Flags |= kOsX64;
      Append("Windows XP Professional x64 Edition");
    } else {
      Append("Windows Server 2003, ");
    }
    if (workstation) return;
    if (arch == kArchIA64) {
      Flags |= kOsIA64;
      if (suite & kSuiteDatacenter) {
        Append("Datacenter Edition for Itanium-based Systems");
      } else if (suite & kSuiteEnterprise) {
        Append("Enterprise Edition for Itanium-based Systems");
      }
    } else if (arch == kArchX64) {
      Flags |= kOsX64;
      if (suite & kSuiteDatacenter) {
        Append("Datacenter x64 Edition");
      } else if (suite & kSuiteEnterprise) {
        Append("Enterprise x64 Edition");
      } else {
        Append("Standard x64 Edition");
      }
    } else {
      if (suite & kSuiteComputeServer) {
        Append("Compute Cluster Edition");
      } else if (suite & kSuiteDatacenter) {
        Append("Datacenter Edition");
      } else if (suite & kSuiteEnterprise) {
        Append("Enterprise Edition");
      } else if (suite & kSuiteBlade) {
        Append("Web Edition");
      } else {
        Append("Standard Edition");
      }
    }
  }
}

void TOsVersion::NameNT6(const plat::OsFacts& facts) {
  const plat::OsVersionInfo& v = facts.Version;
  const bool workstation = v.wProductType == kWorkstation;
  if (v.dwMajorVersion == 6) {
    switch (v.dwMinorVersion) {
      case 0:
        Flags = kOsNT60;
        Append(workstation ? "Windows Vista " : "Windows Server 2008 ");
        break;
      case 1:
        Flags = kOsNT60 | kOsNT61;
        Append(workstation ? "Windows 7 " : "Windows Server 2008 R2 ");
        break;
      case 2:
        Flags = kOsNT60 | kOsNT61 | kOsNT62;
        Append("Windows 8 ");
        break;
      case 3:
        Flags = kOsNT60 | kOsNT61 | kOsNT63;
        Append("Windows 8.1 ");
        break;
      default:
        break;
    }
  } else if (v.dwMinorVersion == 0) {  // 10.0
    Flags = kOsNT60 | kOsNT61 | kOsNT100;
    if (workstation) Append("Windows 10 ");
  }
  Append(EditionText(facts.ProductType));
}

TOsVersion* GetOsVersion() {
  static TOsVersion* const instance = new TOsVersion();
  return instance;
}

}  // namespace brumel
