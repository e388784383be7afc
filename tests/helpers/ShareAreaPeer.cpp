// brumel_share_peer BASE EXPECTED NEW
//
// Opens the HID sharing area named after BASE, as another process that selects the same device
// does, and looks at the record under the area's lock: when it holds EXPECTED, NEW is left in it
// (exit 0); otherwise 0xBAD (exit 1). Exit 2: the area could not be opened; 3: bad arguments.
// Numbers are decimal.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "transport/HidShare.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: brumel_share_peer BASE EXPECTED NEW\n");
    return 3;
  }
  const unsigned long expected = std::strtoul(argv[2], nullptr, 10);
  const unsigned long next = std::strtoul(argv[3], nullptr, 10);

  brumel::ShareArea<brumel::CHidShare> area;
  area.SetName(argv[1]);
  area.Open();
  brumel::CHidShare* record = area.Lock();
  if (!record) {
    area.Unlock();
    std::fprintf(stderr, "share area not opened\n");
    return 2;
  }
  const bool same = record->Value == expected;
  if (!same)
    std::fprintf(stderr, "found %lu, expected %lu\n", static_cast<unsigned long>(record->Value),
                 expected);
  record->Value = same ? static_cast<uint32_t>(next) : 0xBADu;
  area.Unlock();
  return same ? 0 : 1;
}
