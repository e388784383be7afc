// Identity of one graphics adapter as the adapter enumerator registers it in the
// configuration file.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brumel {

struct TAdapterRegInfo {
  int32_t Bus = -1;         // PCI bus number
  std::string UDID;         // unique device identifier from the display library
  std::string AdapterName;  // adapter name from the display library
};

// The registrations of one enumeration, in adapter order; the list owns its records.
// An entry may be null: TConfig::UpdateAdapters skips it (its position keeps its number).
using TAdapterRegInfos = std::vector<std::unique_ptr<TAdapterRegInfo>>;

}  // namespace brumel
