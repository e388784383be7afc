// The executable's own version record on systems without Windows resources: the fixed version
// information, kept in its own ELF section where TFileVersion looks for it. This file is compiled
// straight into each executable that carries a version (a record inside a static library would
// be left out by the linker, as nothing refers to it).
#include "BuildVersion.h"
#include "platform/VersionResource.h"

namespace {

#if defined(__has_attribute)
#if __has_attribute(retain)
#define BRUMEL_KEEP __attribute__((used, retain))
#endif
#endif
#ifndef BRUMEL_KEEP
#define BRUMEL_KEEP __attribute__((used))
#endif

BRUMEL_KEEP __attribute__((
    section(BRUMEL_VERSION_SECTION))) constinit const plat::VersionRecord kExecutableVersion =
    plat::MakeVersionRecord(BRUMEL_VERSION_MAJOR, BRUMEL_VERSION_MINOR, BRUMEL_VERSION_RELEASE,
                            BRUMEL_VERSION_BUILD);

}  // namespace
