// The GPU I2C links (/I 2 and /I 3) as a whole run shows them: the substitute display library
// beside the tool presents a graphics card with the simulated controller on its I2C lines; its
// log tells which calls the tool made. Runs on Linux and, with atiadlxx.dll, under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "Harness.h"

namespace e2e {
namespace {

const char kCardName[] = "Bench Radeon Graphics";
const char kSection[] = "3_PCI_VEN_1002&DEV_73BF&SUBSYS_0E3A1002&REV_C1_4&BENCH&0&01";

std::string Display(const char* interfaceName, const std::string& chip) {
  return std::string("[ Configuration ]\n") + "Program Interface ...... " + interfaceName + "\n" +
         "Adapter ................ " + kCardName + "\n\n[ Chip - Current]\n" + chip + "\n";
}

const char kHealthyChip[] =
    "FW Version ............. 0x00010203\n"
    "FW Release ............. 0x00000007\n"
    "FW Feature ............. 0x00000001\n"
    "HW Version ............. 0x00000002\n"
    "Device ID .............. 0x00235100\n"
    "Flash Mode ............. APROM (0x20)\n"
    "Config0 : Config1 ...... 0xFFFFFF7F : 0x0001F000\n"
    "ROM Data ............... LDROM[ OK ] APROM[ OK ]\n";

const char kFailedChip[] =
    "FW Version ............. 0x00000000\n"
    "FW Release ............. 0x00000000\n"
    "FW Feature ............. 0x00000000\n"
    "HW Version ............. 0x00000000\n"
    "Device ID .............. 0x00000000\n"
    "Flash Mode ............. Unknown (0x00)\n"
    "Config0 : Config1 ...... 0xFFFFFFFF : 0xFFFFFFFF\n";

std::string AdapterLines() {
  return std::string("Adapter: ") + kCardName + "\n" + "Adapter                           [ " +
         kCardName + " ]\n";
}

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
    RunSpec request;
    request.args = std::move(args);
    const std::string library = SimFile(DisplayLibraryFileName());
    EXPECT_FALSE(library.empty()) << "substitute " << DisplayLibraryFileName() << " not built";
    request.files.push_back(ExtraFile::Copy(DisplayLibraryFileName(), library));
    request.env["BRUMEL_SIM_LOG"] = folder_.PathOf(log_);
    if (scenario.empty()) {
      request.env["BRUMEL_SIM_SCENARIO"] = std::nullopt;
    } else {
      request.files.push_back(ExtraFile::Text("scenario.ini", scenario));
      request.env["BRUMEL_SIM_SCENARIO"] = folder_.PathOf("scenario.ini");
    }
    return request;
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
    EXPECT_EQ(r.out, AdapterLines() + "\n" + Display(c.name, kHealthyChip)) << r.Describe();
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

// No display library beside the tool (nor one the system finds): no adapter, every chip value
// in its failure form, and the run still ends well.
TEST_F(GpuLinkRun, WithoutDisplayLibrary) {
  RunResult r = RunTool({"/I", "2"});
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 0) << r.Describe();
  EXPECT_EQ(r.out,
            "Can't find adapter\n\n"
            "[ Configuration ]\n"
            "Program Interface ...... ADL_I2C_OEM\n\n"
            "[ Chip - Current]\n" +
                std::string(kFailedChip) + "\n")
      << r.Describe();
  EXPECT_FALSE(r.Left("BrumelISP.ini")) << r.Describe();
}

// A card listed as logical adapters of another generation only: the library is there, no
// adapter is kept.
TEST_F(GpuLinkRun, CardOfAnotherGenerationIsNotUsed) {
  RunResult r = RunTool(OnBench({"/I", "3"}, "[Card1]\nOverdrive=6\n"));
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 0) << r.Describe();
  EXPECT_EQ(r.out.rfind("Can't find adapter\n", 0), 0u) << r.Describe();
  EXPECT_TRUE(I2cCalls().empty());
}

// While a lighting mode waits for its key, the configuration file holds the adapter's section
// (and the adapter list); once the run is over the file is gone.
TEST_F(GpuLinkRun, ConfigurationFileHoldsTheAdapterWhileTheRunLasts) {
  auto tool = StartTool(OnBench({"/I", "2", "/MODE", "1"}));
  ASSERT_NE(tool, nullptr);
  ASSERT_NE(tool->WaitForText("Press any key to continue", 0, DefaultTimeLimit()),
            std::string::npos)
      << tool->OutputSoFar();
  const std::vector<std::string> ini = Lines(folder_.Read("BrumelISP.ini"));
  const auto at = std::find(ini.begin(), ini.end(), std::string("[") + kSection + "]");
  ASSERT_NE(at, ini.end()) << folder_.Read("BrumelISP.ini");
  ASSERT_GE(ini.end() - at, 46);
  EXPECT_EQ(at[1], "Bus=3");
  EXPECT_EQ(at[3], std::string("AdapterName=") + kCardName);
  EXPECT_EQ(at[5], "UserGpuClock=-1");  // nothing the adapter can tune yet
  EXPECT_EQ(at[9], "FanMode=0");
  EXPECT_EQ(at[45], "TempLimit2=-1");
  EXPECT_NE(std::find(ini.begin(), ini.end(), std::string("0=") + kSection), ini.end());

  ASSERT_TRUE(tool->Write("k"));
  EXPECT_EQ(tool->Wait(DefaultTimeLimit()), 0) << tool->OutputSoFar();
  EXPECT_FALSE(folder_.Exists("BrumelISP.ini"));
}

}  // namespace
}  // namespace e2e
