// The Linux tool on graphics cards as the kernel shows them with amdgpu, through umockdev: no
// display library anywhere, the cards and their buses in sysfs, the i2c-dev nodes answered from
// this process (the simulated controller behind the OEM bus). Every open of a node and every
// request on it is logged, so a case can tell which buses the tool touched.
#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "Harness.h"
#include "I2cTestbed.h"
#include "common/ExpectedTexts.h"

namespace {

using brumel::test::CardDisplay;
using brumel::test::kFailedChipLines;
using brumel::test::NoAnswerLine;
using brumel::test::kSimulatedChipLines;
using i2ctb::BusSpec;
using i2ctb::CardSpec;
using i2ctb::Event;

// What the card is called: from the system's PCI id database, or by its ids without one.
const char* const kCardNames[] = {"Radeon RX 6900 XT", "Graphics adapter 1002:73BF at 0000:03:00.0"};

// A Linux 6.15 card with the display core: two connectors, an aux bus, the OEM bus, two EEPROM
// buses.
CardSpec NewKernelCard(int oem = 4) {
  CardSpec card;
  card.buses = {{0, "AMDGPU DM i2c hw bus 0"}, {1, "AMDGPU DM i2c hw bus 1"},
                {2, "AMDGPU DM aux hw bus 0"}, {oem, "AMDGPU DM i2c OEM bus"},
                {oem + 1, "AMDGPU SMU"},       {oem + 2, "AMDGPU SMU 1"}};
  return card;
}

// The "Key=Value" lines of a section of INI text, in file order.
std::vector<std::string> SectionLines(const std::string& text, const std::string& section) {
  std::vector<std::string> out;
  bool in = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') {
      in = line == "[" + section + "]";
    } else if (in && !line.empty()) {
      out.push_back(line);
    }
  }
  return out;
}

std::string KernelRelease() {
  struct utsname u {};
  return uname(&u) == 0 ? u.release : "";
}

class I2cDevRun : public e2e::ToolRun {
 protected:
  // A fresh test bed (one at a time: the tool finds the latest through its environment).
  i2ctb::Testbed& NewBed() {
    bed_.reset();
    bed_ = std::make_unique<i2ctb::Testbed>();
    return *bed_;
  }

  // The card name the run printed first ("Adapter: NAME"), checked against what it may be.
  std::string CardName(const e2e::RunResult& r) {
    const std::string first = r.out.substr(0, r.out.find('\n'));
    const std::string name = first.rfind("Adapter: ", 0) == 0 ? first.substr(9) : first;
    EXPECT_NE(std::find(std::begin(kCardNames), std::end(kCardNames), name), std::end(kCardNames))
        << r.Describe();
    return name;
  }

  // Checks the requests on the controller's node: I2C_FUNCS before the first transfer, then
  // writes (one message: the register byte and the data) and reads (the register byte, then
  // the reply after a repeated start), all to 0x36. Returns the number of transfers.
  size_t CheckTransfers(const std::string& node) {
    bool asked = false;
    size_t transfers = 0;
    for (const Event& e : bed_->Events()) {
      if (e.node != node || e.what == "open") continue;
      if (e.what == "funcs") {
        asked = true;
        continue;
      }
      EXPECT_EQ(e.what, "rdwr");
      EXPECT_TRUE(asked) << "a transfer before the bus's functions were asked";
      ++transfers;
      for (const i2ctb::Message& m : e.messages) EXPECT_EQ(m.address, 0x36);
      const bool read = e.messages.size() == 2;
      if (read) {
        EXPECT_FALSE(e.messages[0].read);
        EXPECT_EQ(e.messages[0].written, std::vector<uint8_t>{0x00});
        EXPECT_TRUE(e.messages[1].read);
      } else {
        EXPECT_EQ(e.messages.size(), 1u);
        EXPECT_FALSE(e.messages.empty() || e.messages[0].read);
      }
    }
    return transfers;
  }

  std::unique_ptr<i2ctb::Testbed> bed_;
};

TEST_F(I2cDevRun, InformationDisplayOverTheOemBus) {
  i2ctb::Testbed& bed = NewBed();
  bed.AddCard(NewKernelCard());
  bed.Attach(4);
  e2e::RunResult r = RunTool({"/I", "2"});
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 0) << r.Describe();
  EXPECT_EQ(r.out, CardDisplay(CardName(r), "ADL_I2C_OEM", kSimulatedChipLines)) << r.Describe();
  EXPECT_EQ(r.err, "");
  // The OEM bus alone is opened, once; nine queries of one write and one read each.
  EXPECT_EQ(bed.Opens(), std::vector<std::string>{"/dev/i2c-4"});
  EXPECT_EQ(CheckTransfers("/dev/i2c-4"), 18u);
  EXPECT_FALSE(r.Left("BrumelISP.ini")) << r.Describe();
}

// While a lighting mode waits for its key, the configuration file holds the card's section:
// named after its bus and identity, with every tuning value unset.
TEST_F(I2cDevRun, TheCardGetsItsAdapterSection) {
  i2ctb::Testbed& bed = NewBed();
  bed.AddCard(NewKernelCard());
  bed.Attach(4);
  e2e::RunSpec request;
  request.args = {"/I", "2", "/MODE", "1"};
  auto tool = StartTool(request);
  ASSERT_NE(tool, nullptr);
  ASSERT_NE(tool->WaitForText("Press any key to continue", 0, e2e::DefaultTimeLimit()),
            std::string::npos)
      << tool->OutputSoFar();
  const std::string ini = folder_.Read("BrumelISP.ini");
  const std::string section = "3_PCI_VEN_1002&DEV_73BF&SUBSYS_0E3A1002&REV_C1_0000:03:00.0";
  EXPECT_EQ(SectionLines(ini, "Adapters"), std::vector<std::string>{"0=" + section}) << ini;
  const std::vector<std::string> lines = SectionLines(ini, section);
  ASSERT_EQ(lines.size(), 45u) << ini;
  EXPECT_EQ(lines[0], "Bus=3");
  const std::string name = lines[2].substr(lines[2].find('=') + 1);
  EXPECT_NE(std::find(std::begin(kCardNames), std::end(kCardNames), name), std::end(kCardNames))
      << lines[2];
  for (const char* line : {"UserGpuClock=-1", "UserGpuVoltage=-1", "UserMemClock=-1",
                           "UserMemVoltage=-1", "FanMode=0", "PowerLimit0=-1", "TempLimit2=-1"})
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line << "\n" << ini;
  ASSERT_TRUE(tool->Write("k"));
  // The lighting mode only holds the run open: LED reports do not travel over I2C, so it ends
  // with 1.
  EXPECT_EQ(tool->Wait(e2e::DefaultTimeLimit()), 1) << tool->OutputSoFar();
  EXPECT_FALSE(folder_.Exists("BrumelISP.ini"));
}

// Two AMD cards and an NVIDIA card: the first AMD card in PCI order is the active adapter and
// only its OEM bus is opened, though the other card's has the lower number.
TEST_F(I2cDevRun, OnlyTheActiveCardsOemBusIsOpened) {
  CardSpec nvidia;
  nvidia.address = "0000:01:00.0";
  nvidia.vendor = 0x10DE;
  nvidia.device = 0x2484;
  nvidia.subsystemVendor = 0x10DE;
  nvidia.driver = "nvidia";
  nvidia.buses = {{0, "NVIDIA i2c adapter 1 at 1:00.0"}};
  CardSpec second = NewKernelCard(10);
  second.address = "0000:0a:00.0";
  for (BusSpec& bus : second.buses) bus.number = bus.number < 10 ? bus.number + 20 : bus.number;
  second.buses[3].number = 1;  // its OEM bus: i2c-1
  CardSpec first;
  first.buses = {{5, "AMDGPU DM i2c hw bus 0"}, {6, "AMDGPU DM i2c OEM bus"}, {7, "AMDGPU SMU"}};
  i2ctb::Testbed& bed = NewBed();
  bed.AddCard(nvidia);
  bed.AddCard(second);
  bed.AddCard(first);
  bed.Attach(6);
  e2e::RunResult r = RunTool({"/I", "2"});
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.out, CardDisplay(CardName(r), "ADL_I2C_OEM", kSimulatedChipLines)) << r.Describe();
  EXPECT_EQ(bed.Opens(), std::vector<std::string>{"/dev/i2c-6"});
  EXPECT_EQ(CheckTransfers("/dev/i2c-6"), 18u);
}

// Where the line cannot work, one line after the adapter's says why, the display shows every
// query failed and ends with the line that no controller answered (exit 1), and no bus node is
// opened that need not be.
TEST_F(I2cDevRun, ALineThatCannotWorkFailsClearly) {
  const struct {
    const char* what;
    CardSpec card;
    const char* line;
    const char* name;
    bool plainI2c;
    std::vector<std::string> opened;
    std::vector<std::string> reasonHas;
  } cases[] = {
      {"line 4", NewKernelCard(), "3", "ADL_I2C_OEM3", true, {},
       {"Line 4 (/I 3, the display library's third OEM line) has no counterpart under Linux"}},
      {"a kernel without the OEM bus",
       CardSpec{"0000:03:00.0", 0x1002, 0x73BF, 0x1002, 0x0E3A, "amdgpu",
                {{0, "AMDGPU DM i2c hw bus 0"}, {1, "AMDGPU DM aux hw bus 0"}, {2, "AMDGPU SMU"}}},
       "2", "ADL_I2C_OEM", true, {},
       {"(0000:03:00.0) has no OEM I2C bus under Linux " + KernelRelease() + ";",
        "its buses: i2c-0 \"AMDGPU DM i2c hw bus 0\", i2c-1 \"AMDGPU DM aux hw bus 0\", i2c-2 "
        "\"AMDGPU SMU\".",
        "Linux 6.15 or later"}},
      {"i2c-dev not loaded",
       CardSpec{"0000:03:00.0", 0x1002, 0x73BF, 0x1002, 0x0E3A, "amdgpu",
                {{0, "AMDGPU DM i2c hw bus 0", false}, {1, "AMDGPU DM i2c OEM bus", false}}},
       "2", "ADL_I2C_OEM", true, {},
       {"the i2c-dev module is not loaded", "modprobe i2c-dev"}},
      {"a bus without plain I2C", NewKernelCard(), "2", "ADL_I2C_OEM", false, {"/dev/i2c-4"},
       {"/dev/i2c-4 (the \"AMDGPU DM i2c OEM bus\" bus of ",
        "does not offer plain I2C transfers."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    i2ctb::Testbed& bed = NewBed();
    bed.AddCard(c.card);
    bed.plainI2c = c.plainI2c;
    bed.Attach(4);
    e2e::RunResult r = RunTool({"/I", c.line});
    ASSERT_FALSE(r.Crashed()) << r.Describe();
    EXPECT_EQ(r.exitCode, 1) << r.Describe();
    // The reason is the third line, after the adapter's two.
    size_t start = r.out.find('\n');
    start = start == std::string::npos ? start : r.out.find('\n', start + 1);
    ASSERT_NE(start, std::string::npos) << r.Describe();
    const size_t end = r.out.find('\n', start + 1);
    ASSERT_NE(end, std::string::npos) << r.Describe();
    const std::string reason = r.out.substr(start + 1, end - start - 1);
    for (const std::string& part : c.reasonHas)
      EXPECT_NE(reason.find(part), std::string::npos) << reason << "\nlacks: " << part;
    EXPECT_EQ(r.out.substr(0, start + 1) + r.out.substr(end + 1),
              CardDisplay(CardName(r), c.name, kFailedChipLines) + NoAnswerLine(c.name))
        << r.Describe();
    EXPECT_EQ(r.err, "") << "said once, on the screen";
    EXPECT_EQ(bed.Opens(), c.opened);
    for (const Event& e : bed.Events()) EXPECT_NE(e.what, "rdwr") << e.node;
  }
}

// No acknowledge on the OEM bus (no controller there): every transfer fails as a refused library
// call, without a reason of the bus's own; the display ends with the line that no controller
// answered.
TEST_F(I2cDevRun, NoAcknowledgeFailsTheQueriesQuietly) {
  i2ctb::Testbed& bed = NewBed();
  bed.AddCard(NewKernelCard());
  bed.acknowledge = false;
  bed.Attach(4);
  e2e::RunResult r = RunTool({"/I", "2"});
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.out, CardDisplay(CardName(r), "ADL_I2C_OEM", kFailedChipLines) +
                       NoAnswerLine("ADL_I2C_OEM"))
      << r.Describe();
  EXPECT_EQ(r.exitCode, 1) << r.Describe();
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(bed.Opens(), std::vector<std::string>{"/dev/i2c-4"});
  EXPECT_GT(CheckTransfers("/dev/i2c-4"), 0u);
}

}  // namespace
