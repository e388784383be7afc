// Which operating system the tool runs on: a readable name and the version level that the
// driver loader and the hardware-access requests compare against.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/OsInfo.h"

namespace brumel {

// Flag bits of TOsVersion::Flags.
inline constexpr uint32_t kOsX64 = 0x0001;
inline constexpr uint32_t kOsIA64 = 0x0002;
inline constexpr uint32_t kOsWin9x = 0x0010;
inline constexpr uint32_t kOsNT5 = 0x0020;
inline constexpr uint32_t kOsNT60 = 0x0040;
inline constexpr uint32_t kOsNT61 = 0x0080;
inline constexpr uint32_t kOsNT62 = 0x0100;
inline constexpr uint32_t kOsNT63 = 0x0200;
inline constexpr uint32_t kOsNT100 = 0x0400;

// Mask that gives the version level: below 16 unsupported, 16 the 95/98/Me family,
// above 16 the NT family.
inline constexpr uint32_t kOsVersionLevelMask = 0xFFFF;

class TOsVersion {
 public:
  // Clears everything and asks the system (Fill).
  TOsVersion();
  // Clears everything and names the system from facts already gathered.
  explicit TOsVersion(const plat::OsFacts& facts);

  // False only when the version query fails; Name then stays empty and Flags 0.
  bool Fill();
  // Builds Name, Win9xKind, ProcessorCount, Flags and VersionInfo from facts.
  bool FillFrom(const plat::OsFacts& facts);

  uint32_t MaskedFlags(uint32_t mask) const { return Flags & mask; }
  uint32_t VersionLevel() const { return MaskedFlags(kOsVersionLevelMask); }
  // Asked of the system at each call.
  bool IsNotWow64() const;
  bool IsX64() const { return (Flags & kOsX64) != 0; }
  bool IsIA64() const { return (Flags & kOsIA64) != 0; }

  char Name[256];
  // 1 Win32s, 2 Windows 95, 3 Windows 95 OSR2, 4 Windows 98, 5 Windows 98 SE, 6 Windows Me.
  uint32_t Win9xKind;
  uint32_t ProcessorCount;
  uint32_t Flags;
  plat::OsVersionInfo VersionInfo;

 private:
  void Clear();
  void Append(const char* text);
  void NameWin9x(const plat::OsVersionInfo& v);
  void NameNT5(const plat::OsFacts& facts);
  void NameNT6(const plat::OsFacts& facts);
};

// The process-wide instance, filled on the first call.
TOsVersion* GetOsVersion();

// Appends text to the zero-terminated buffer of size bytes; what does not fit is cut and the
// buffer stays terminated.
void AppendBounded(char* buffer, size_t size, const char* text);

// Windows processor architecture number for a machine type as uname reports it.
uint16_t ArchitectureFromMachine(const char* machine);

}  // namespace brumel
