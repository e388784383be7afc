// The command line as the operator or a test script meets it: the usage text, argument errors
// and a plain run over USB.
#include <gtest/gtest.h>

#include "Harness.h"

namespace e2e {
namespace {

const char kUsage[] =
    "Usage:\n"
    "  BrumelISP.exe <command> [options]\n"
    "\n"
    "Commands\n"
    "------------------\n"
    "   /UA <file>                Update APROM with specific file (.bin)\n"
    "   /UL <file>                Update LDROM with specific file (.bin)\n"
    "   /UD <file>                Update data flash with specific file (.bin)\n"
    "   /UC <cfg0> <cfg1>         Update Config\n"
    "   /BS <opt>                 Reboot\n"
    "                             (Default 0 - Reset, 1 - LDROM, 2 - APROM)\n"
    "   /E  <all | aprom | data>  Erase APROM and data flash\n"
    "   /I  <interface>           Interface\n"
    "                             (Default 0 - USB, 1 - I2C, 2 - ADL_I2C_OEM, 3 - ADL_I2C_OEM3)\n"
    "   /ID                       Specify an USB Device ID\n"
    "   /INFO                     Display information\n"
    "   /?                        Usage help\n"
    "\n"
    "Example\n"
    "------------------\n"
    "Update APROM through USB\n"
    "  BrumelISP.exe /UA APROM.bin\n\n"
    "Update APROM through ADL_I2C\n"
    "  BrumelISP.exe /UA APROM.bin /I 2\n\n"
    "Update APROM and data flash\n"
    "  BrumelISP.exe /UA APROM.bin /UD DATA.bin\n\n"
    "Update config\n"
    "  BrumelISP.exe /UC FFFFFF7F 000FFFFF\n\n"
    "Erase all\n"
    "  BrumelISP.exe /E\n";

const char kArgumentsFail[] = "*** Arguments Fail ***\n";

struct UsageCase {
  const char* name;
  std::vector<std::string> args;
  bool argumentError;  // "*** Arguments Fail ***" comes before the usage
  std::vector<ExtraFile> files = {};
};

void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.name; }

class UsageRun : public ToolRun, public ::testing::WithParamInterface<UsageCase> {};

// Every command line that selects no usable job ends with the usage text and exit code 1, and
// the run still removes its configuration file.
TEST_P(UsageRun, PrintsUsageAndEndsWith1) {
  const UsageCase& c = GetParam();
  RunSpec request;
  request.args = c.args;
  request.files = c.files;
  RunResult r = RunTool(request);
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.out, (c.argumentError ? std::string(kArgumentsFail) : std::string()) + kUsage)
      << r.Describe();
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exitCode, 1) << r.Describe();
  EXPECT_FALSE(r.Left("BrumelISP.ini")) << r.Describe();
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, UsageRun,
    ::testing::Values(UsageCase{"NoArguments", {}, false},
                      UsageCase{"HelpAfterUsableOptions", {"/I", "1", "/?"}, false},
                      UsageCase{"TestOptionAlone", {"/TEST:COLOR"}, false},
                      UsageCase{"InterfaceOutOfRange", {"/I", "4"}, true},
                      UsageCase{"InterfaceNotANumber", {"/I", "x"}, true},
                      UsageCase{"InterfaceValueMissing", {"/I"}, true},
                      UsageCase{"ApromFileMissing", {"/UA", "A.BIN"}, true},
                      UsageCase{"LdromFileDoesNotCount",
                                {"/UL", "A.BIN"},
                                false,
                                {ExtraFile::Text("A.BIN", std::string(64, '\xFF'))}},
                      UsageCase{"ConfigWordReadsAsZero", {"/UC", "0", "1"}, true}),
    [](const ::testing::TestParamInfo<UsageCase>& info) { return info.param.name; });

// A usable command line over USB with no controller present: the run finishes normally and
// takes its configuration file away.
TEST_F(ToolRun, UsbRunWithoutControllerEndsWith0AndRemovesIniFile) {
  RunResult r = RunTool({"/I", "0"});
  ASSERT_FALSE(r.Crashed()) << r.Describe();
  EXPECT_EQ(r.exitCode, 0) << r.Describe();
  EXPECT_FALSE(r.Left("BrumelISP.ini")) << r.Describe();
}

}  // namespace
}  // namespace e2e
