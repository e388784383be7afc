#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/OsVersion.h"

namespace brumel {
namespace {

constexpr uint8_t kWorkstation = 1;
constexpr uint8_t kServer = 3;

struct WindowsCase {
  const char* what;
  uint32_t platform, major, minor, build;
  const char* servicePack;
  uint8_t productType;
  uint16_t suite;
  uint16_t arch;
  int r2;
  uint32_t edition;
  const char* name;
  uint32_t level;
  uint32_t win9xKind;
};

plat::OsFacts Facts(const WindowsCase& c) {
  plat::OsFacts f;
  f.Windows = true;
  f.Version.dwOSVersionInfoSize = plat::kOsVersionInfoSize;
  f.Version.dwPlatformId = c.platform;
  f.Version.dwMajorVersion = c.major;
  f.Version.dwMinorVersion = c.minor;
  f.Version.dwBuildNumber = c.build;
  std::strncpy(f.Version.szCSDVersion, c.servicePack, sizeof(f.Version.szCSDVersion) - 1);
  f.Version.wProductType = c.productType;
  f.Version.wSuiteMask = c.suite;
  f.ProcessorArchitecture = c.arch;
  f.ProcessorCount = 4;
  f.ServerR2Metric = c.r2;
  f.ProductType = c.edition;
  return f;
}

const WindowsCase kWindowsCases[] = {
    {"Windows 10 without an OS list in the manifest reports 6.2", 2, 6, 2, 9200, "", kWorkstation,
     0, 9, 0, 48, "Microsoft Windows 8 Professional (build 9200), 64-bit", 0x1C1, 0},
    {"Windows 10 reporting 10.0", 2, 10, 0, 19045, "", kWorkstation, 0, 9, 0, 48,
     "Microsoft Windows 10 Professional (build 19045), 64-bit", 0x4C1, 0},
    {"Windows 7 Ultimate SP1 64-bit", 2, 6, 1, 7601, "Service Pack 1", kWorkstation, 0, 9, 0, 1,
     "Microsoft Windows 7 Ultimate Edition Service Pack 1 (build 7601), 64-bit", 0xC1, 0},
    {"Windows 8.1 server, core Datacenter", 2, 6, 3, 9600, "", kServer, 0, 9, 0, 12,
     "Microsoft Windows 8.1 Datacenter Edition (core installation) (build 9600), 64-bit", 0x2C1, 0},
    {"Server 2008 32-bit, unknown edition", 2, 6, 0, 6002, "Service Pack 2", kServer, 0, 0, 0, 99,
     "Microsoft Windows Server 2008  Service Pack 2 (build 6002), 32-bit", 0x40, 0},
    {"XP Professional SP3 32-bit", 2, 5, 1, 2600, "Service Pack 3", kWorkstation, 0, 0, 0, 0,
     "Microsoft Windows XP Professional Service Pack 3 (build 2600), 32-bit", 0x20, 0},
    {"XP Home", 2, 5, 1, 2600, "", kWorkstation, 0x0200, 0, 0, 0,
     "Microsoft Windows XP Home Edition (build 2600), 32-bit", 0x20, 0},
    {"Server 2003 x64 Standard", 2, 5, 2, 3790, "Service Pack 2", kServer, 0, 9, 0, 0,
     "Microsoft Windows Server 2003, Standard x64 Edition Service Pack 2 (build 3790), 64-bit",
     0x21, 0},
    {"Server 2003 R2 Enterprise x64", 2, 5, 2, 3790, "Service Pack 2", kServer, 0x0002, 9, 1, 0,
     "Microsoft Windows Server 2003 R2, Enterprise x64 Edition Service Pack 2 (build 3790), "
     "64-bit",
     0x21, 0},
    {"Server 2003 Datacenter Itanium", 2, 5, 2, 3790, "", kServer, 0x0080, 6, 0, 0,
     "Microsoft Windows Server 2003, Datacenter Edition for Itanium-based Systems (build 3790), "
     "64-bit",
     0x22, 0},
    {"Server 2003 Web 32-bit", 2, 5, 2, 3790, "", kServer, 0x0400, 0, 0, 0,
     "Microsoft Windows Server 2003, Web Edition (build 3790), 32-bit", 0x20, 0},
    {"XP Professional x64", 2, 5, 2, 3790, "Service Pack 2", kWorkstation, 0, 9, 0, 0,
     "Microsoft Windows XP Professional x64 Edition Service Pack 2 (build 3790), 64-bit", 0x21, 0},
    {"Windows 2000 Advanced Server", 2, 5, 0, 2195, "Service Pack 4", kServer, 0x0002, 0, 0, 0,
     "Microsoft Windows 2000 Advanced Server Service Pack 4 (build 2195), 32-bit", 0x20, 0},
    {"Windows 98 SE", 1, 4, 10, 0x040A08AE, "A", 0, 0, 0, 0, 0,
     "Microsoft Windows 98 SE  A (build 2222)", 16, 5},
    {"Windows 98, text beginning with a blank", 1, 4, 10, 0x040A07CE, " ", 0, 0, 0, 0, 0,
     "Microsoft Windows 98    (build 1998)", 16, 4},
    {"Windows 95 OSR2", 1, 4, 0, 0x04000457, "B", 0, 0, 0, 0, 0,
     "Microsoft Windows 95 OSR2  B (build 1111)", 16, 3},
    {"Windows 95 OSR2, text C", 1, 4, 0, 0x04000457, "C", 0, 0, 0, 0, 0,
     "Microsoft Windows 95 OSR2  C (build 1111)", 16, 3},
    {"Windows 95, text A", 1, 4, 0, 0x040003B6, "A", 0, 0, 0, 0, 0,
     "Microsoft Windows 95  A (build 950)", 16, 2},
    {"Windows Me", 1, 4, 90, 0x045A0BB8, "", 0, 0, 0, 0, 0, "Microsoft Windows Me  (build 3000)",
     16, 6},
    {"Win32s", 0, 3, 10, 0, "", 0, 0, 0, 0, 0, "Microsoft Windows  (build 0)", 0, 1},
    {"NT 4: named by nothing, level unsupported", 2, 4, 0, 1381, "Service Pack 6", kWorkstation, 0,
     0, 0, 0, "Microsoft  Service Pack 6 (build 1381)", 0, 0},
};

TEST(OsVersion, NamesAndLevelsOfWindowsVersions) {
  for (const WindowsCase& c : kWindowsCases) {
    SCOPED_TRACE(c.what);
    TOsVersion os(Facts(c));
    EXPECT_STREQ(os.Name, c.name);
    EXPECT_EQ(os.MaskedFlags(0xFFFF), c.level);
    EXPECT_EQ(os.Win9xKind, c.win9xKind);
    EXPECT_EQ(os.ProcessorCount, 4u);
    EXPECT_EQ(os.IsX64(), (c.level & 1) != 0);
    EXPECT_EQ(os.IsIA64(), (c.level & 2) != 0);
    EXPECT_EQ(os.VersionInfo.dwOSVersionInfoSize, 156u);
    EXPECT_EQ(os.VersionInfo.dwMajorVersion, c.major);
  }
}

TEST(OsVersion, OtherSystemsAreNamedByUnameAndHaveNoWindowsLevel) {
  struct Case {
    const char* machine;
    uint32_t flags;
  } cases[] = {{"x86_64", 0x1}, {"aarch64", 0}, {"i686", 0}, {"ia64", 0x2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.machine);
    plat::OsFacts f;
    f.SystemName = "Linux";
    f.SystemRelease = "6.1.0-18-amd64";
    f.Machine = c.machine;
    f.ProcessorCount = 2;
    TOsVersion os(f);
    EXPECT_EQ(std::string(os.Name), std::string("Linux 6.1.0-18-amd64 (") + c.machine + ")");
    EXPECT_EQ(os.Flags, c.flags);
    EXPECT_LT(os.MaskedFlags(0xFFFF), 16u);  // not a Windows the driver loader knows
    EXPECT_EQ(os.ProcessorCount, 2u);
  }
}

TEST(OsVersion, NameStaysInsideItsBuffer) {
  char buffer[256];
  std::memset(buffer, 0, sizeof(buffer));
  AppendBounded(buffer, sizeof(buffer), std::string(250, 'a').c_str());
  AppendBounded(buffer, sizeof(buffer), "0123456789");
  EXPECT_EQ(std::strlen(buffer), 255u);
  EXPECT_EQ(std::string(buffer + 250), "01234");
  AppendBounded(buffer, sizeof(buffer), "more");
  EXPECT_EQ(std::strlen(buffer), 255u);

  // A name longer than the buffer from uname is cut, not overrun.
  plat::OsFacts f;
  f.SystemName = std::string(300, 'L');
  TOsVersion os(f);
  EXPECT_EQ(strnlen(os.Name, sizeof(os.Name)), 255u);

  // A service-pack text that fills its whole field without a terminator is read to its end only.
  WindowsCase c = kWindowsCases[5];
  plat::OsFacts xp = Facts(c);
  std::memset(xp.Version.szCSDVersion, 'x', sizeof(xp.Version.szCSDVersion));
  TOsVersion full(xp);
  EXPECT_EQ(std::string(full.Name),
            "Microsoft Windows XP Professional " + std::string(128, 'x') + " (build 2600), 32-bit");
}

TEST(OsVersion, RunningSystem) {
  TOsVersion* os = GetOsVersion();
  ASSERT_NE(os, nullptr);
  EXPECT_EQ(GetOsVersion(), os);
  plat::OsFacts facts;
  ASSERT_TRUE(plat::QueryOsFacts(facts));
  // A 32-bit test program on 64-bit Windows runs under WOW64; a 64-bit one never does.
  if (facts.Windows) {
    EXPECT_EQ(os->IsNotWow64(), sizeof(void*) == 8 || !os->IsX64());
  } else {
    EXPECT_TRUE(os->IsNotWow64());
  }
  EXPECT_GT(std::strlen(os->Name), 0u);
  EXPECT_GE(os->ProcessorCount, 1u);

  if (facts.Windows) {
    EXPECT_EQ(std::string(os->Name).rfind("Microsoft Windows ", 0), 0u) << os->Name;
    EXPECT_GT(os->MaskedFlags(0xFFFF), 16u);
    EXPECT_TRUE(os->IsX64());
  } else {
    EXPECT_EQ(std::string(os->Name).rfind(facts.SystemName + " " + facts.SystemRelease, 0), 0u)
        << os->Name;
    EXPECT_LT(os->MaskedFlags(0xFFFF), 16u);
  }
}

}  // namespace
}  // namespace brumel
