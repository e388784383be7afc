// The fault suite at the channel level: the information display over the two links the command
// line does not run it on. USB HID goes through the substitute hidapi beside this executable;
// the serial line, which no option chooses, through the simulator's serial peer on a
// pseudo-terminal. Every fault of the table runs over both links, within its bound, and shows
// in the display's failure forms. (Whole runs over USB and the GPU I2C links are in
// tests/e2e/FaultSuiteTest.cpp.)
#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <tuple>

#include "common/ExpectedTexts.h"
#include "common/TestSupport.h"
#include "isp/ChipLink.h"
#include "isp/ISPLdCMD.h"
#include "isp/RunOptions.h"
#include "sim/model/Scenario.h"
#include "sim/model/SerialPeer.h"

namespace brumel {
namespace {
using test::Clock;
using test::ElapsedMs;
using test::kChipGoneAfterRelease;
using test::kFailedChipLines;
using test::kSimulatedChipLines;
using test::SimulatedChipLinesWith;
using test::TempFolder;

enum class Link { Usb, Serial };

struct DisplayFault {
  const char* name;
  const char* scenario;
  std::string chip;  // what the display shows under "[ Chip - Current]"
  long minMs;        // the bound of the whole display
  long maxMs;
  bool answered;  // at least one query got an accepted reply
};

void PrintTo(const DisplayFault& c, std::ostream* os) { *os << c.name; }

// The mandated pauses on these links: 20 ms before the send and before the receive of the
// flash-mode, configuration and ROM queries, and 100 ms after the ROM query.
constexpr long kPausesMs = 3 * 40 + 100;

const DisplayFault kFaults[] = {
    // A query whose reply never comes waits out its 5000 ms; the next one is answered.
    {"NoReplyToOneQuery", "[Fault]\nKind=noreply\nApplyTo=A6\n",
     SimulatedChipLinesWith("FW Version", "0x00000000"), 5000 + kPausesMs - 10,
     5000 + kPausesMs + 1500, true},
    {"BadChecksum", "[Fault]\nKind=badchecksum\n", kFailedChipLines, kPausesMs - 10,
     kPausesMs + 1000, false},
    // The sync does not check the number: only the queries after it fail.
    {"BadNumber", "[Fault]\nKind=badnumber\n", kFailedChipLines, kPausesMs - 10, kPausesMs + 1000,
     true},
    {"Garbage", "[Fault]\nKind=garbage\n", kFailedChipLines, kPausesMs - 10, kPausesMs + 1000,
     false},
    {"SlowReply", "[Fault]\nDelayMs=300\n", kSimulatedChipLines, 9 * 300 + 100,
     9 * 300 + kPausesMs + 1500, true},
    // Gone after the sync, the version and the release query: the next send fails and closes
    // the link, and every later query fails at once.
    {"Unplugged", "[Fault]\nUnplugAfter=3\n", kChipGoneAfterRelease, 0, 1000, true},
    // One query fails: its line shows the failure form, the others their values.
    {"VersionQueryFails", "[Fault]\nKind=badchecksum\nApplyTo=A6\n",
     SimulatedChipLinesWith("FW Version", "0x00000000"), kPausesMs - 10, kPausesMs + 1000, true},
    {"FlashModeQueryFails", "[Fault]\nKind=badchecksum\nApplyTo=CA\n",
     SimulatedChipLinesWith("Flash Mode", "Unknown (0x00)"), kPausesMs - 10, kPausesMs + 1000,
     true},
    {"ConfigQueryFails", "[Fault]\nKind=badnumber\nApplyTo=A2\n",
     SimulatedChipLinesWith("Config0 : Config1", "0xFFFFFFFF : 0xFFFFFFFF"), kPausesMs - 10,
     kPausesMs + 1000, true},
    // A failed ROM query prints no ROM line at all.
    {"RomQueryFailsPrintsNoRomLine", "[Fault]\nKind=badchecksum\nApplyTo=A5\n",
     SimulatedChipLinesWith("ROM Data", ""), kPausesMs - 10, kPausesMs + 1000, true},
};

class ChannelFault : public ::testing::TestWithParam<std::tuple<Link, DisplayFault>> {
 protected:
  void SetUp() override {
    RunOptions() = RunOptionsRecord{};
    AdapterDisplayName().clear();
    unsetenv("BRUMEL_SIM_LOG");
  }
  void TearDown() override {
    SetControllerChannel(nullptr);  // before the far end goes
    peer_.reset();
    unsetenv("BRUMEL_SIM_SCENARIO");
    RunOptions() = RunOptionsRecord{};
  }

  // Opens the channel over the link to a controller with the given scenario.
  void Connect(Link link, const std::string& scenario) {
    auto channel = std::make_unique<ISPLdCMD>();
    if (link == Link::Usb) {
      // A file of its own per case: the simulator rebuilds the bench when the text changes.
      const std::string path = dir_.File("scenario.ini");
      TempFolder::Write(path, scenario);
      setenv("BRUMEL_SIM_SCENARIO", path.c_str(), 1);
      channel->SetInterface(ISPLdCMD::kUsbHid);
      ASSERT_TRUE(channel->Connect(0x0416A316));
    } else {
      sim::Scenario plan;
      std::string error;
      ASSERT_TRUE(sim::ParseScenario(scenario, plan, error)) << error;
      peer_ = std::make_unique<sim::SerialPeer>(plan);
      ASSERT_TRUE(peer_->Ok()) << peer_->Error();
      channel->SetInterface(ISPLdCMD::kSerial, peer_->SlavePath());
      ASSERT_TRUE(channel->Connect(0));
    }
    SetControllerChannel(std::move(channel));
  }

  TempFolder dir_;
  std::unique_ptr<sim::SerialPeer> peer_;
};

TEST_P(ChannelFault, InformationDisplayShowsTheFaultWithinItsBound) {
  const auto& [link, fault] = GetParam();
  Connect(link, fault.scenario);
  if (HasFatalFailure()) return;

  const auto start = Clock::now();
  ::testing::internal::CaptureStdout();
  const bool answered = PrintChipInformation();
  const std::string out = ::testing::internal::GetCapturedStdout();
  const long ms = ElapsedMs(start);

  const size_t chip = out.find("[ Chip - Current]\n");
  ASSERT_NE(chip, std::string::npos) << out;
  // A display that no query got an answer for says so after its own lines.
  const std::string verdict =
      fault.answered ? "" : "No controller answered on USB: no chip value above was read\n";
  EXPECT_EQ(out.substr(chip), std::string("[ Chip - Current]\n") + fault.chip + "\n" + verdict);
  EXPECT_EQ(answered, fault.answered);
  EXPECT_GE(ms, fault.minMs);
  EXPECT_LE(ms, fault.maxMs);
}

INSTANTIATE_TEST_SUITE_P(Display, ChannelFault,
                         ::testing::Combine(::testing::Values(Link::Usb, Link::Serial),
                                            ::testing::ValuesIn(kFaults)),
                         [](const ::testing::TestParamInfo<std::tuple<Link, DisplayFault>>& info) {
                           return std::string(std::get<0>(info.param) == Link::Usb ? "Usb_"
                                                                                   : "Serial_") +
                                  std::get<1>(info.param).name;
                         });

}  // namespace
}  // namespace brumel
