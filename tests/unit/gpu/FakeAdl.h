// A display library inside the test process, handed to TADL in place of the system's loader.
// It serves the logical adapters a test lists, can lack any entry point, records the loads,
// calls and I2C requests it sees, and answers ISP packets written over I2C the way the
// controller does (checksum and number echoes, then a payload).
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "gpu/ADL.h"
#include "gpu/AdlInterface.h"

namespace brumel::test {

struct FakeAdapter {
  int32_t bus = 3;
  int32_t device = 0;
  int32_t function = 0;
  std::string udid = "PCI_VEN_1002&DEV_73BF&UNIT";
  std::string name = "Test Radeon";
  int overdrive = 7;  // what ADL2_Overdrive_Caps reports
  int capsResult = 0;
};

// One I2C request as the library received it.
struct I2cRequest {
  int32_t adapter = -1;
  int32_t size = 0;  // the record's size field
  int32_t line = 0;
  int32_t address = 0;
  int32_t offset = 0;
  int32_t action = 0;
  int32_t speed = 0;
  int32_t dataSize = 0;
  std::vector<uint8_t> written;  // the data of a write
  bool operator==(const I2cRequest&) const = default;
};

class FakeAdl {
 public:
  FakeAdl();
  ~FakeAdl();
  FakeAdl(const FakeAdl&) = delete;
  FakeAdl& operator=(const FakeAdl&) = delete;

  // What the library is.
  std::vector<FakeAdapter> adapters = {FakeAdapter{}};
  std::optional<int> reportedCount;  // the count it reports (default: adapters.size())
  std::set<std::string> missing;     // entry points it lacks
  int createResult = 0;
  int infoResult = 0;
  int i2cResult = 0;  // non-zero: every I2C transfer fails with it
  std::map<uint8_t, uint32_t> replies = {{0xA6, 0x00010203}, {0xA7, 7},        {0xA8, 2},
                                         {0xA9, 1},          {0xB1, 0x235100}, {0xCA, 0x20}};
  std::pair<uint32_t, uint32_t> words = {0xFFFFFF7F, 0x0001F000};  // ReadConfig, ReadRomState

  // Where it can be found, by file name.
  std::set<std::string> besideExecutable;
  std::set<std::string> bySearch;

  // What it saw.
  std::vector<std::string> loads;  // "beside NAME" / "search NAME", in order
  int frees = 0;
  int destroys = 0;
  int infoCalls = 0;
  std::vector<I2cRequest> i2c;

  // A loader that finds this library as the two sets above say; lines go to logLines.
  std::unique_ptr<TADL> Load();
  // Found beside the executable under the first name.
  std::unique_ptr<TADL> LoadBeside();

  struct Line {
    std::string label, value;
    uint16_t colour;
    bool operator==(const Line&) const = default;
  };
  std::vector<Line> logLines;

  // The test's library; the entry points reach it through this.
  static FakeAdl* Current();

  // Handles an I2C request (called by the entry point).
  int Transfer(int adapter, ADLI2C* request);

 private:
  std::vector<uint8_t> reply_;  // the answer to the last write, read from register 0
};

}  // namespace brumel::test
