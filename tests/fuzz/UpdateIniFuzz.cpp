// The update description, read from any file text.
#include <cstdint>
#include <cstdlib>

#include "FuzzSupport.h"
#include "isp/UpdateIni.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::WriteScratchFile("UpdateFW.ini", data, size);
  brumel::TUpdateIni description(path);
  if (!description.HasFile()) std::abort();
  // Every text is read through the 2047-character value buffer.
  const brumel::TUpdateCheck& c = description.GetCheck();
  for (const std::string* s : {&c.LD_FILE, &c.AP_FILE, &c.DATA_FILE, &c.ISP_FILE}) {
    if (s->size() > brumel::TIniFile::kMaxValueLength) std::abort();
  }
  return 0;
}
