// A display library inside the test process, handed to TADL in place of the system's loader.
// It serves the logical adapters a test lists, can lack any entry point, records the loads,
// calls and I2C requests it sees, and answers ISP packets written over I2C the way the
// controller does (checksum and number echoes, then a payload). Each adapter index has tuning
// values of its own (Overdrive-N, thermal controllers, Overdrive-8, power-management log);
// every tuning call is recorded with the record the tool passed.
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

// What the tuning entry points of one adapter index report. Tables of levels, lists and
// records are returned as given; `results` makes an entry point return that code (and do
// nothing else) on every call.
struct FakeTuning {
  // Overdrive-N
  ADLODNCapabilitiesX2 capabilities{};
  std::vector<ADLODNPerformanceLevelX2> gpuDefault, gpuCurrent, memoryDefault, memoryCurrent;
  std::optional<int> levelCountReported;  // number of levels written into a levels record
  ADLODNFanControl fan{};
  ADLODNPowerLimitSetting power{};
  ADLODNPerformanceStatus status{};
  int temperature = 0;  // thousandths of a degree
  int vram = 0;
  // Thermal controllers by index: the domain of each (past the last: -100), the result of
  // an enumeration that fails (nothing written), and what FanSpeed_Get returns.
  std::vector<int> thermalDomains;
  std::map<int, int> thermalResults;
  std::map<int, ADLFanSpeedValue> fanSpeeds;
  // Overdrive-8: the lists of the X2 form (and, in the record form, the same values); the
  // count reported (default: the list's size); a success with no list.
  int od8Capabilities = 0;
  std::vector<ADLOD8SingleInitSetting> od8Init;
  std::optional<int> od8InitCount;
  bool od8InitNoList = false;
  std::vector<int> od8Current;
  std::optional<int> od8CurrentCount;
  bool od8CurrentNoList = false;
  ADLPMLogDataOutput pmLog{};
  std::map<std::string, int> results;
};

// Plausible tuning values of a card of each generation: Overdrive-N with up to 8 levels (GPU
// top level 1500 MHz at 1100 mV, memory top level 1000 MHz at 850 mV), one GPU thermal
// controller behind a controller of another domain; Overdrive-8 with every capability bit.
FakeTuning OverdriveNCard();
FakeTuning Overdrive8Card();

// One tuning call: its entry point, adapter, thermal controller (-1: none) and the 32-bit
// words of the record it passed (as passed, before the library wrote anything).
struct FakeCall {
  std::string entry;
  int adapter = -1;
  int controller = -1;
  std::vector<int32_t> record;
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

  // Tuning values per adapter index.
  std::map<int, FakeTuning> tuning;
  FakeTuning& Tuning(int adapter = 0) { return tuning[adapter]; }
  // Tuning calls, in order.
  std::vector<FakeCall> calls;
  std::vector<FakeCall> CallsOf(const std::string& entry) const;
  size_t CountOf(const std::string& entry) const { return CallsOf(entry).size(); }
  // Lists handed out through the tool's allocation callback.
  int listsHandedOut = 0;
  AdlMallocCallback allocate = nullptr;

 private:
  std::vector<uint8_t> reply_;  // the answer to the last write, read from register 0
};

}  // namespace brumel::test
