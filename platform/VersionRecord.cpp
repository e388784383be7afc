#include "platform/VersionResource.h"

namespace plat {

void SplitVersionRecord(std::vector<uint8_t> bytes, VersionData& data) {
  data = VersionData{};
  data.Bytes = std::move(bytes);
  const size_t size = data.Bytes.size();
  if (size >= kFixedInfoSize) {
    data.HasFixedInfo = true;
    data.FixedInfoOffset = 0;
    data.FixedInfoLength = kFixedInfoSize;
  }
  // Whole language and code-page pairs only.
  const size_t table = size > kFixedInfoSize ? (size - kFixedInfoSize) / 4 * 4 : 0;
  if (table > 0) {
    data.HasTranslation = true;
    data.TranslationOffset = kFixedInfoSize;
    data.TranslationLength = table;
  }
}

}  // namespace plat
