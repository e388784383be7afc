// What the simulated bench looks like: the devices present, the controller's identity values,
// the buttons an imaginary operator presses, and the faults the controller shows. Read from an
// INI file (see sim/README.md); a default scenario is a healthy controller 0416:A316.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace brumel::sim {

// Values the controller returns to the ISP queries.
struct Identity {
  uint32_t version = 0x00010203;    // GetVersion (0xA6)
  uint32_t release = 0x00000007;    // GetRelease (0xA7)
  uint32_t hardware = 0x00000002;   // GetHardwareVersion (0xA8)
  uint32_t feature = 0x00000001;    // GetFeature (0xA9)
  uint32_t deviceId = 0x00235100;   // GetDeviceID (0xB1)
  uint32_t flashMode = 0x00000020;  // GetFlashMode (0xCA): 0x20 runs from APROM
  uint32_t config0 = 0xFFFFFF7F;    // ReadConfig (0xA2), first word
  uint32_t config1 = 0x0001F000;    // ReadConfig, second word
  uint32_t ldromWord = 0x00000000;  // ReadRomState (0xA5), first word; all ones means empty
  uint32_t apromWord = 0x00000000;  // ReadRomState, second word
};

enum class FaultKind { kNone, kNoReply, kBadChecksum, kBadNumber, kGarbage };

// Which received reports a fault (and the reply delay) applies to.
enum class FaultTarget { kAll, kIsp, kLed, kCommand };

struct FaultPlan {
  FaultKind kind = FaultKind::kNone;
  FaultTarget target = FaultTarget::kAll;
  uint8_t command = 0;       // with kCommand: the command byte that matches
  uint32_t from = 1;         // the first matching report affected, counting from 1
  uint32_t count = 0;        // how many matching reports are affected; 0: all from `from` on
  uint32_t delayMs = 0;      // replies to affected reports come this late
  uint32_t unplugAfter = 0;  // the device goes away after this many reports; 0: never
};

struct DeviceSpec {
  uint16_t vendorId = 0x0416;
  uint16_t productId = 0xA316;
};

// ---- What a card's tuning interfaces report -----------------------------------------------

// An Overdrive-N parameter range: mode, minimum, maximum, step, default.
struct OdnRange {
  int32_t mode = 1, min = 0, max = 0, step = 1, def = 0;
  bool operator==(const OdnRange&) const = default;
};

// The ten ranges of the Overdrive-N capabilities, in the record's order.
enum OdnRangeId {
  kOdnEngineClock,
  kOdnMemoryClock,
  kOdnVddc,
  kOdnPower,
  kOdnPowerTuneTemperature,
  kOdnFanTemperature,
  kOdnFanSpeed,
  kOdnMinimumPerformanceClock,
  kOdnThrottleNotification,
  kOdnAutoSystemClock,
  kOdnRanges
};
extern const char* const kOdnRangeNames[kOdnRanges];

// One performance level: clock (10 kHz units), voltage (mV), enabled, control.
struct OdnLevel {
  int32_t clock = 0, voltage = 0, enabled = 1, control = 0;
  bool operator==(const OdnLevel&) const = default;
};

// The fields of the Overdrive-N fan-control record, in its order.
inline constexpr int kFanControlFields = 8;
extern const char* const kFanControlNames[kFanControlFields];

// One entry of the Overdrive-8 feature table.
struct Od8Feature {
  int32_t min = 0, max = 0, def = 0, current = 0;
  bool operator==(const Od8Feature&) const = default;
};
inline constexpr int kOd8Features = 29;
inline constexpr int kOd8MaxTable = 256;

// A result the library forces for an entry point on the card's adapters: on every adapter of
// the card (adapter -1) or one library adapter index; from the from-th call of the entry point
// on that adapter (counting from 1), count calls (0: all from there on).
struct ResultRule {
  std::string entryPoint;
  int32_t result = 0;
  int32_t adapter = -1;
  uint32_t from = 1;
  uint32_t count = 0;
};

struct TuningPlan {
  // Overdrive-N capabilities and level tables (the current tables start as the defaults).
  int32_t maxLevels = 8;
  OdnRange ranges[kOdnRanges];
  std::vector<OdnLevel> gpuDefault, gpuCurrent, memoryDefault, memoryCurrent;
  // Thermal controllers by index: domain (1: GPU), fan speed and flags each reports.
  std::vector<int32_t> thermalDomains = {1};
  std::vector<int32_t> fanSpeeds = {1200};  // RPM
  std::vector<int32_t> fanPercents = {35};  // the same fan in percent
  std::vector<int32_t> fanFlags = {0};
  int32_t fanControl[kFanControlFields] = {1, 1, 1, 1200, 1200, 85, 50000, 500};
  // Power-limit record: mode, TDP limit (percent), maximum operating temperature.
  int32_t powerMode = 1, tdpLimit = 100, maxOperatingTemperature = 90;
  // Performance status and other readings.
  int32_t coreClock = 175000, memoryClock = 100000, gpuActivity = 35;
  int32_t temperature = 62000;  // thousandths of a degree
  int32_t vramUsage = 1536;
  // Overdrive-8: capability bits, the number of features the reads report, the table.
  int32_t od8Capabilities = 0x7F;
  int32_t od8Count = kOd8Features;
  Od8Feature od8[kOd8Features];
  // The table length the library was built with: the record forms write and read this many
  // entries, whatever the caller's records hold (a newer driver's is longer than 29). The
  // entries past the 29 features are zero and must never be requested.
  int32_t od8Table = kOd8Features;
  // Power-management log: sensor index -> value of the supported sensors.
  std::map<int, int32_t> pmLog;
  std::vector<ResultRule> results;
};

// Plausible values for every setting and sensor (see sim/README.md).
TuningPlan DefaultTuning();

// One graphics card of the substitute display library, with the controller on its I2C bus.
struct CardPlan {
  uint32_t bus = 3;
  uint32_t device = 0;
  uint32_t function = 0;
  std::string udid;       // at most 256 characters; 256 fill the record's field with no terminator
  std::string name;       // likewise
  int32_t overdrive = 7;  // tuning generation ADL2_Overdrive_Caps reports
  uint32_t logicalEntries = 4;             // library adapter entries of the card
  std::vector<int32_t> i2cLines = {1, 4};  // lines the controller answers on; empty: none
  uint8_t i2cAddress = 0x6C;               // the controller's address in the library's form
  TuningPlan tuning = DefaultTuning();
};

// Defaults of card number n (1-based): bus 2 + n, device 0, function 0, its own UDID and name.
CardPlan DefaultCard(unsigned n);

inline constexpr unsigned kMaxCards = 4;
inline constexpr unsigned kMaxLogicalEntries = 16;

// What the substitute display library presents.
struct DisplayPlan {
  std::vector<CardPlan> cards = {DefaultCard(1)};
  // The card (position in cards) of each library adapter index, in library order.
  std::vector<unsigned> adapterCards = {0, 0, 0, 0};
  // Entry point -> the result every call of it returns, doing nothing else.
  std::map<std::string, int32_t> results;
};

// The entry points of the substitute display library.
extern const char* const kDisplayEntryPoints[];
extern const size_t kDisplayEntryPointCount;

struct Scenario {
  std::vector<DeviceSpec> devices = std::vector<DeviceSpec>(1);  // one or two HID devices
  unsigned usageEntries = 2;  // enumeration records per device (one per top-level usage)
  int openError = 0;          // non-zero: hid_open_path of a present device fails with this errno
  Identity identity;
  std::map<uint32_t, uint8_t> buttons;  // n-th read-buttons report (from 1) -> button bits
  FaultPlan fault;
  DisplayPlan display;
};

// Reads scenario text over the defaults. Unknown sections or keys, repeated keys and values
// that do not read are errors; `error` then names the line and the problem.
bool ParseScenario(std::string_view text, Scenario& out, std::string& error);

// Reads a scenario file; false with a message when it cannot be read or parsed.
bool LoadScenarioFile(const std::string& path, Scenario& out, std::string& error);

// Reads the whole file into `out`; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& out);

// Environment variables of the simulator.
inline constexpr const char* kScenarioVariable = "BRUMEL_SIM_SCENARIO";
inline constexpr const char* kLogVariable = "BRUMEL_SIM_LOG";

}  // namespace brumel::sim
