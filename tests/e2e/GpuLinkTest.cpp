// The GPU I2C links (/I 2 and /I 3) as a whole run shows them: the substitute display library
// beside the tool presents a graphics card with the simulated controller on its I2C lines; its
// log tells which calls the tool made. Runs on Linux and, with atiadlxx.dll, under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "Harness.h"
#include "common/ExpectedTexts.h"

namespace e2e {
namespace {
using brumel::test::AdapterSectionKeys;
using brumel::test::BenchCardDisplay;
using brumel::test::kFailedChipLines;
using brumel::test::kSimulatedChipLines;
using brumel::test::NoAnswerLine;
using brumel::test::NoDisplayLibraryLine;

const char kCardName[] = "Bench Radeon Graphics";
const char kModeNeedsUsb[] =
    "The lighting mode needs the USB link (/I 0): LED reports do not travel over ADL_I2C_OEM";
const char kSection[] = "3_PCI_VEN_1002&DEV_73BF&SUBSYS_0E3A1002&REV_C1_4&BENCH&0&01";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

class GpuLinkRun : public ToolRun {
 protected:
  // The request of a run with the substitute display library beside the tool.
  RunSpec OnBench(std::vector<std::string> args, const std::string& scenario = {}) {
    return BenchRequest(std::move(args), DisplayLibraryFileName(), scenario, log_);
  }
  // The I2C calls of the library's log.
  std::vector<std::string> I2cCalls() {
    std::vector<std::string> out;
    for (const std::string& line : Lines(folder_.Read(log_)))
      if (line.rfind("ADL2_Display_WriteAndReadI2C ", 0) == 0) out.push_back(line);
    return out;
  }

  std::string log_ = "sim.log";
};

TEST_F(GpuLinkRun, InformationDisplayOverEitherLine) {
  const struct {
    const char* option;
    const char* name;
    const char* line;
  } cases[] = {{"2", "ADL_I2C_OEM", "line=1 "}, {"3", "ADL_I2C_OEM3", "line=4 "}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log_ = std::string("sim") + c.option + ".log";
    RunResult r = RunTool(OnBench({"/I", c.option}));
    ASSERT_FALSE(r.Crashed()) << r.Describe();
    EXPECT_EQ(r.exitCode, 0) << r.Describe();
    EXPECT_EQ(r.out, BenchCardDisplay(c.name, kSimulatedChipLines)) << r.Describe();
    // Nine queries: one write and one read each, all to the controller on the chosen line.
    const auto calls = I2cCalls();
    EXPECT_EQ(calls.size(), 18u) << folder_.Read(log_);
    for (const std::string& call : calls) {
      EXPECT_NE(call.find(std::string("adapter=0 ") + c.line + "address=6C "), std::string::npos)
          << call;
      EXPECT_NE(call.find("result=0"), std::string::npos) << call;
    }
    EXPECT_FALSE(r.Left("BrumelISP.ini")) << r.Describe();
  }
}

// No display library beside the tool (nor one the system finds): no adapter, said in red with
// the reason, every chip value in its failure form, then the line that no controller answered;
// exit code 1.
TEST_F(GpuLinkRun, WithoutDisplayLibrary) {
  RunResult r = RunTool({"/I", "2"});
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 1) << r.Describe();
  const std::string second = UnderWine() ? "atiadlxy.dll" : "libatiadlxy.so";
  EXPECT_EQ(r.out, "Can't find adapter\n" + NoDisplayLibraryLine(DisplayLibraryFileName(), second, !UnderWine()) +
                       "\n"
                       "[ Configuration ]\n"
                       "Program Interface ...... ADL_I2C_OEM\n\n"
                       "[ Chip - Current]\n" +
                       std::string(kFailedChipLines) + "\n" + NoAnswerLine("ADL_I2C_OEM"))
      << r.Describe();
  EXPECT_FALSE(r.Left("BrumelISP.ini")) << r.Describe();
}

// A card listed as logical adapters of another generation only: the library is there, no
// adapter is kept, and the reason says what the library reported.
TEST_F(GpuLinkRun, CardOfAnotherGenerationIsNotUsed) {
  RunResult r = RunTool(OnBench({"/I", "3"}, "[Card1]\nOverdrive=6\n"));
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 1) << r.Describe();
  EXPECT_EQ(r.out.rfind("Can't find adapter\nThe display library " + DisplayLibraryFileName() +
                            " reports no adapter with overdrive support (generation 7 or 8): 4 "
                            "adapters listed, generation 6 reported\n",
                        0),
            0u)
      << r.Describe();
  EXPECT_TRUE(I2cCalls().empty());
}

// BRUMEL_DEBUG=1: the diagnostic log goes to standard error (the loader's lines, each refused
// reply with its reason, the library's failed results), and the job's own output stays as it
// is. Without the variable nothing at all is written there.
TEST_F(GpuLinkRun, TheDiagnosticLogGoesToStandardErrorOnlyWhenAskedFor) {
  RunSpec request = OnBench({"/I", "2"}, "[Fault]\nKind=badchecksum\n");
  request.env["BRUMEL_DEBUG"] = "1";
  RunResult logged = RunTool(request);
  ASSERT_FALSE(logged.Crashed()) << logged.Describe();
  EXPECT_EQ(logged.exitCode, 1) << logged.Describe();
  const std::string display =
      BenchCardDisplay("ADL_I2C_OEM", kFailedChipLines) + NoAnswerLine("ADL_I2C_OEM");
  EXPECT_EQ(logged.out, display) << logged.Describe();
  for (const char* line : {
           // An entry point the bench's library lacks, and the loader's count.
           "ADL2_Adapter_Speed_Caps ... [Fail]\n",
           "AdlInitialize ... [Number of Adapters = 4]\n",
           // The first query's reply, refused, and why.
           "ISP reply ... [SyncPacketNumber (A4) rejected: checksum echo 0x",
           "ISP reply ... [GetVersion (A6) rejected: checksum echo 0x",
       }) {
    EXPECT_NE(logged.err.find(line), std::string::npos) << line << "\n" << logged.err;
  }

  request.env["BRUMEL_DEBUG"] = std::nullopt;
  RunResult quiet = RunTool(request);
  EXPECT_EQ(quiet.exitCode, 1) << quiet.Describe();
  EXPECT_EQ(quiet.out, display) << quiet.Describe();
  EXPECT_EQ(quiet.err, "") << quiet.Describe();
}

// The "Key=Value" lines of a section of INI text, in file order.
std::vector<std::string> SectionLines(const std::string& text, const std::string& section) {
  const std::vector<std::string> lines = Lines(text);
  auto at = std::find(lines.begin(), lines.end(), "[" + section + "]");
  std::vector<std::string> out;
  if (at == lines.end()) return out;
  for (++at; at != lines.end() && !at->empty() && at->front() != '['; ++at) out.push_back(*at);
  return out;
}

// The seeded values of a section: clocks and voltages, the fan mode, every limit.
std::string Seeded(int gpuClock, int gpuVoltage, int memoryClock, int memoryVoltage, int power,
                   int temperature) {
  std::string text = "UserGpuClock=" + std::to_string(gpuClock) +
                     " UserGpuVoltage=" + std::to_string(gpuVoltage) +
                     " UserMemClock=" + std::to_string(memoryClock) +
                     " UserMemVoltage=" + std::to_string(memoryVoltage) + " FanMode=0";
  for (int k = 0; k < 3; ++k) {
    text += " PowerLimit" + std::to_string(k) + "=" + std::to_string(power) + " TempLimit" +
            std::to_string(k) + "=" + std::to_string(temperature);
  }
  return text;
}

std::string SeededOf(const std::vector<std::string>& section) {
  std::string text;
  for (const std::string& line : section) {
    const std::string key = line.substr(0, line.find('='));
    if (key.rfind("User", 0) == 0 || key == "FanMode" || key.rfind("PowerLimit", 0) == 0 ||
        key.rfind("TempLimit", 0) == 0)
      text += (text.empty() ? "" : " ") + line;
  }
  return text;
}

const char kOverdrive8Card[] =
    "[Card1]\nOverdrive=8\n"
    "[Card1.Overdrive8]\nFeature0=800, 2200, 2050\nFeature3=700, 1150, 775\n"
    "Feature8=600, 1000, 950\nFeature9=-40, 40, 15\nFeature12=30, 100, 88\n";

// While a lighting mode waits for its key, the configuration file holds the adapter's section
// (and the adapter list) with the defaults the card reports; once the run is over the file is
// gone. Cards of both tuning generations, and a library that lacks some entry points.
TEST_F(GpuLinkRun, NewAdapterSectionHoldsTheCardsDefaults) {
  const struct {
    const char* what;
    std::string scenario;
    bool shortLibrary;  // the build that lacks some entry points
    std::string seeded;
    const char* logged;  // a call of the library's log
  } cases[] = {
      {"generation 7, default card", "", false, Seeded(1800, 1150, 1000, 850, 100, 90),
       "ADL2_Overdrive5_ThermalDevices_Enum adapter=0 controller=1 result=-100"},
      {"generation 7",
       "[Card1.OverdriveN]\nVddc=1, 700, 1250, 5, 1200\nPower=1, -25, 40, 1, 12\n"
       "PowerTuneTemperature=1, 50, 100, 1, 84\n"
       "[Card1.Levels]\nGpuDefault=30000:750, 140000:1000, 201000:1175\n"
       "MemoryDefault=20000:700, 87500:900\n",
       false, Seeded(2010, 1175, 875, 900, 12, 84),
       "ADL2_OverdriveN_SystemClocksX2_Get adapter=0 size=140 mode=1 levels=8 result=0 | "
       "30000/750/1/0 140000/1000/1/0 201000/1175/1/0"},
      // Without the thermal controllers' enumeration the adapter's start-up stops before its
      // ranges: nothing to seed.
      {"generation 7, short library", "", true, Seeded(-1, -1, -1, -1, -1, -1),
       "ADL2_OverdriveN_MemoryClocksX2_Get adapter=0 size=140 mode=1 levels=8 result=0"},
      {"generation 8", kOverdrive8Card, false, Seeded(2050, 775, 950, 775, 15, 88),
       "ADL2_Overdrive8_Init_SettingX2_Get adapter=0 count=29 result=0 | capabilities 7F, list "
       "of 29 features handed out"},
      {"generation 8, record form", kOverdrive8Card, true, Seeded(2050, 775, 950, 775, 15, 88),
       "ADL2_Overdrive8_Init_Setting_Get adapter=0 result=0 | capabilities 7F, count 29"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    log_ = std::string("sim-") + (c.shortLibrary ? "short-" : "") + std::to_string(&c - cases) +
           ".log";
    RunSpec request = OnBench({"/I", "2", "/MODE", "1"}, c.scenario);
    if (c.shortLibrary) {
      const std::string library = SimFile("short/" + DisplayLibraryFileName());
      ASSERT_FALSE(library.empty()) << "short build of " << DisplayLibraryFileName();
      request.files[0] = ExtraFile::Copy(DisplayLibraryFileName(), library);
    }
    auto tool = StartTool(request);
    ASSERT_NE(tool, nullptr);
    ASSERT_NE(tool->WaitForText("Press any key to continue", 0, DefaultTimeLimit()),
              std::string::npos)
        << tool->OutputSoFar();
    const std::string ini = folder_.Read("BrumelISP.ini");
    const std::vector<std::string> section = SectionLines(ini, kSection);
    ASSERT_EQ(section.size(), 45u) << ini;
    EXPECT_EQ(section[0], "Bus=3");
    EXPECT_EQ(section[2], std::string("AdapterName=") + kCardName);
    EXPECT_EQ(SeededOf(section), c.seeded);
    EXPECT_EQ(SectionLines(ini, "Adapters"),
              std::vector<std::string>{std::string("0=") + kSection});
    const std::string log = folder_.Read(log_);
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;

    ASSERT_TRUE(tool->Write("k"));
    // LED reports travel over USB only: the mode over I2C was not sent.
    EXPECT_EQ(tool->Wait(DefaultTimeLimit()), 1) << tool->OutputSoFar();
    EXPECT_NE(tool->OutputSoFar().find(kModeNeedsUsb), std::string::npos) << tool->OutputSoFar();
    EXPECT_FALSE(folder_.Exists("BrumelISP.ini"));
  }
}

// A section left by an earlier run whose user clock is set stays as it was; only the adapter
// list is written anew.
TEST_F(GpuLinkRun, ExistingAdapterSectionIsLeftAsItWas) {
  std::string text = "[Adapters]\r\n0=9_GONE\r\n[" + std::string(kSection) + "]\r\n";
  std::vector<std::string> lines;
  int n = 0;
  for (const std::string& key : AdapterSectionKeys()) {
    std::string value = std::to_string(200 + n++);
    if (key == "Bus") value = "3";
    if (key == "UDID") value = std::string(kSection).substr(2);
    if (key == "AdapterName") value = "Named By Hand";
    if (key == "UserGpuClock") value = "1234";
    lines.push_back(key + "=" + value);
    text += lines.back() + "\r\n";
  }
  RunSpec request = OnBench({"/I", "2", "/MODE", "1"});
  request.files.push_back(ExtraFile::Text("BrumelISP.ini", text));
  auto tool = StartTool(request);
  ASSERT_NE(tool, nullptr);
  ASSERT_NE(tool->WaitForText("Press any key to continue", 0, DefaultTimeLimit()),
            std::string::npos)
      << tool->OutputSoFar();
  const std::string ini = folder_.Read("BrumelISP.ini");
  EXPECT_EQ(SectionLines(ini, kSection), lines) << ini;
  EXPECT_EQ(SectionLines(ini, "Adapters"), std::vector<std::string>{std::string("0=") + kSection});
  ASSERT_TRUE(tool->Write("k"));
  EXPECT_EQ(tool->Wait(DefaultTimeLimit()), 1) << tool->OutputSoFar();  // the mode was not sent
}

// A whole run on a card of generation 8: the lists the library hands out are the tool's to
// free (the sanitizer build reports any it keeps), and the run ends well.
TEST_F(GpuLinkRun, CardOfGeneration8) {
  RunResult r = RunTool(OnBench({"/I", "3"}, kOverdrive8Card));
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 0) << r.Describe();
  EXPECT_EQ(r.out, BenchCardDisplay("ADL_I2C_OEM3", kSimulatedChipLines)) << r.Describe();
  const std::string log = folder_.Read(log_);
  EXPECT_NE(log.find("ADL2_Overdrive8_Init_SettingX2_Get adapter=0 count=29 result=0"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("ADL2_Overdrive8_Current_SettingX2_Get adapter=0 count=29 result=0"),
            std::string::npos)
      << log;
}

// A card of generation 8 whose driver was built with a longer feature table (77 entries, as
// later libraries have it): the record forms write and read that many entries whatever the
// tool's records hold. The tool's records have room for them (a shorter one is overrun, which
// the sanitizer build reports and a 32-bit build may not survive), and it reads its own 29.
TEST_F(GpuLinkRun, CardOfANewerDriver) {
  RunSpec request =
      OnBench({"/I", "3", "/MODE", "1"}, std::string(kOverdrive8Card) + "Table=77\nCount=77\n");
  const std::string library = SimFile("short/" + DisplayLibraryFileName());
  ASSERT_FALSE(library.empty()) << "short build of " << DisplayLibraryFileName();
  request.files[0] = ExtraFile::Copy(DisplayLibraryFileName(), library);  // the record forms
  auto tool = StartTool(request);
  ASSERT_NE(tool, nullptr);
  ASSERT_NE(tool->WaitForText("Press any key to continue", 0, DefaultTimeLimit()),
            std::string::npos)
      << tool->OutputSoFar();
  const std::string ini = folder_.Read("BrumelISP.ini");
  EXPECT_EQ(SeededOf(SectionLines(ini, kSection)), Seeded(2050, 775, 950, 775, 15, 88)) << ini;
  const std::string log = folder_.Read(log_);
  EXPECT_NE(log.find("ADL2_Overdrive8_Init_Setting_Get adapter=0 result=0 | capabilities 7F, "
                     "count 77, table of 77 entries"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("ADL2_Overdrive8_Current_Setting_Get adapter=0 result=0 | count 77, table "
                     "of 77 entries"),
            std::string::npos)
      << log;
  ASSERT_TRUE(tool->Write("k"));
  // The lighting mode only holds the run open: its reports do not travel over I2C, so it ends
  // with 1.
  EXPECT_EQ(tool->Wait(DefaultTimeLimit()), 1) << tool->OutputSoFar();
  EXPECT_NE(tool->OutputSoFar().find("Adapter: Bench Radeon Graphics"), std::string::npos)
      << tool->OutputSoFar();
  EXPECT_FALSE(folder_.Exists("BrumelISP.ini"));
}

}  // namespace
}  // namespace e2e
