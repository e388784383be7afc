#include "platform/OsInfo.h"

#include <windows.h>

#include <cstring>

#include "platform/DynLib.h"

namespace plat {

static_assert(sizeof(OSVERSIONINFOEXA) == kOsVersionInfoSize);

namespace {

using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
using GetProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);
using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);

constexpr int kMetricServerR2 = 89;

}  // namespace

bool QueryOsFacts(OsFacts& facts) {
  facts = OsFacts{};
  facts.Windows = true;

  OSVERSIONINFOEXA info;
  std::memset(&info, 0, sizeof(info));
  info.dwOSVersionInfoSize = kOsVersionInfoSize;
  if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return false;

  OsVersionInfo& v = facts.Version;
  v.dwOSVersionInfoSize = info.dwOSVersionInfoSize;
  v.dwMajorVersion = info.dwMajorVersion;
  v.dwMinorVersion = info.dwMinorVersion;
  v.dwBuildNumber = info.dwBuildNumber;
  v.dwPlatformId = info.dwPlatformId;
  std::memcpy(v.szCSDVersion, info.szCSDVersion, sizeof(v.szCSDVersion));
  v.wServicePackMajor = info.wServicePackMajor;
  v.wServicePackMinor = info.wServicePackMinor;
  v.wSuiteMask = info.wSuiteMask;
  v.wProductType = info.wProductType;
  v.wReserved = info.wReserved;

  LibHandle kernel = reinterpret_cast<LibHandle>(GetModuleHandleA("kernel32.dll"));
  SYSTEM_INFO si;
  std::memset(&si, 0, sizeof(si));
  if (auto native = LookupEntryAs<GetNativeSystemInfoFn>(kernel, "GetNativeSystemInfo")) {
    native(&si);
  } else {
    GetSystemInfo(&si);
  }
  facts.ProcessorArchitecture = si.wProcessorArchitecture;
  facts.ProcessorCount = si.dwNumberOfProcessors;
  facts.ServerR2Metric = GetSystemMetrics(kMetricServerR2);

  if (auto productInfo = LookupEntryAs<GetProductInfoFn>(kernel, "GetProductInfo")) {
    DWORD type = 0;
    if (productInfo(info.dwMajorVersion, info.dwMinorVersion, 0, 0, &type)) {
      facts.ProductType = type;
    }
  }
  return true;
}

bool IsNotWow64Process() {
  LibHandle kernel = reinterpret_cast<LibHandle>(GetModuleHandleA("kernel32"));
  auto isWow64 = LookupEntryAs<IsWow64ProcessFn>(kernel, "IsWow64Process");
  if (!isWow64) return true;
  BOOL wow64 = FALSE;
  if (!isWow64(GetCurrentProcess(), &wow64)) return true;
  return !wow64;
}

}  // namespace plat
