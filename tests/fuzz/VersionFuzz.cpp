// The version readers: an ELF file whose version section is looked up, and version information
// whose fixed record and translation table lie wherever the input says (as the Windows
// version-resource query could report them).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/ElfSection.h"
#include "platform/VersionResource.h"
#include "support/FileVersion.h"

namespace {

void Use(const brumel::TFileVersion& v) {
  const unsigned sum =
      v.FileVersionMajor() + v.FileVersionMinor() + v.FileVersionRelease() + v.FileVersionBuild();
  for (uint32_t i = 0; i <= v.TranslationCount + 1; ++i) {
    const brumel::LanguageAndCodePage t = v.Translation(i);
    if (i >= v.TranslationCount && (t.Language || t.CodePage)) std::abort();
  }
  if (!v.Valid && sum != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) {
    const std::vector<uint8_t> file = in.ConsumeRemainingBytes<uint8_t>();
    std::vector<uint8_t> section;
    if (plat::ReadElfSectionFromMemory(file.data(), file.size(), plat::kVersionSectionName,
                                       plat::kVersionSectionMax, section)) {
      if (section.size() > plat::kVersionSectionMax) std::abort();
      plat::VersionData record;
      plat::SplitVersionRecord(std::move(section), record);
      Use(brumel::TFileVersion(std::move(record)));
    }
    return 0;
  }
  plat::VersionData resource;
  resource.HasFixedInfo = in.ConsumeBool();
  resource.FixedInfoOffset = in.ConsumeIntegral<uint16_t>();
  resource.FixedInfoLength = in.ConsumeIntegral<uint16_t>();
  resource.HasTranslation = in.ConsumeBool();
  resource.TranslationOffset = in.ConsumeIntegral<uint16_t>();
  resource.TranslationLength = in.ConsumeIntegral<uint16_t>();
  resource.Bytes = in.ConsumeRemainingBytes<uint8_t>();
  Use(brumel::TFileVersion(std::move(resource)));
  return 0;
}
