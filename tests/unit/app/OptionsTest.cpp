#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/Options.h"
#include "common/TestSupport.h"
#include "isp/RunOptions.h"

namespace brumel {
namespace {

// Runs the parser on a command line written as words; {A} and {B} stand for two files that
// exist, {MISSING} for one that does not.
class ParseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fileA_ = dir_.File("a.bin");
    fileB_ = dir_.File("b.bin");
    test::TempFolder::Write(fileA_, "");
    test::TempFolder::Write(fileB_, "");
  }
  void TearDown() override { RunOptions() = RunOptionsRecord{}; }

  bool Parse(const std::vector<std::string>& words, std::string* printed = nullptr) {
    RunOptions() = RunOptionsRecord{};
    std::vector<std::string> args = {"BrumelISP.exe"};
    for (const std::string& w : words) {
      if (w == "{A}")
        args.push_back(fileA_);
      else if (w == "{B}")
        args.push_back(fileB_);
      else if (w == "{MISSING}")
        args.push_back(dir_.File("missing.bin"));
      else
        args.push_back(w);
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    ::testing::internal::CaptureStdout();
    bool usable = ParseArguments(static_cast<int>(argv.size()), argv.data());
    std::string out = ::testing::internal::GetCapturedStdout();
    if (printed) *printed = out;
    return usable;
  }

  test::TempFolder dir_;
  std::string fileA_, fileB_;
};

struct Case {
  std::vector<std::string> words;
  bool usable;
  bool error;
  std::function<void(const RunOptionsRecord&)> check;
};

TEST_F(ParseTest, CommandLinesAndVerdicts) {
  const auto none = [](const RunOptionsRecord&) {};
  const std::vector<Case> cases = {
      // Interface values.
      {{"/I", "0"},
       true,
       false,
       [](auto& o) {
         EXPECT_TRUE(o.HasInterface);
         EXPECT_EQ(o.InterfaceNumber, 0);
       }},
      {{"/i", "3"}, true, false, [](auto& o) { EXPECT_EQ(o.InterfaceNumber, 3); }},
      {{"/I", "4"}, false, true, none},
      {{"/I", "-1"}, false, true, none},
      {{"/I", "x"}, false, true, none},
      {{"/I"}, false, true, none},
      // Test options do not count, but clear an earlier error.
      {{"/TEST:COLOR"}, false, false, [](auto& o) { EXPECT_TRUE(o.WantColorTest); }},
      {{"/I", "0", "/TEST:COLOR"}, true, false, [](auto& o) { EXPECT_TRUE(o.WantColorTest); }},
      {{"/I", "9", "/I", "0", "/TEST:BUTTON"},
       true,
       false,
       [](auto& o) {
         EXPECT_TRUE(o.WantButtonTest);
         EXPECT_EQ(o.InterfaceNumber, 0);
       }},
      {{"/I", "9", "/MODE", "2", "/I", "0"}, true, false, none},
      {{"/TEST:BUTTON", "/I", "9"}, false, true, none},
      // File options.
      {{"/UA", "{A}"}, true, false, [](auto& o) { EXPECT_TRUE(o.HasApromFile); }},
      {{"/UL", "{A}"}, false, false, [](auto& o) { EXPECT_TRUE(o.HasLdromFile); }},
      {{"/UD", "{B}"}, true, false, [](auto& o) { EXPECT_TRUE(o.HasDataFile); }},
      {{"/UA", "{MISSING}"}, false, true, none},
      {{"/UA"}, false, true, none},
      {{"/E", "ALL", "/UA", "{A}"}, false, true, none},
      {{"/UA", "{A}", "/E", "all"},
       true,
       false,
       [](auto& o) {
         EXPECT_TRUE(o.EraseRequested);
         EXPECT_EQ(o.EraseTarget, "ALL");
       }},
      {{"/E", "aprom"}, true, false, [](auto& o) { EXPECT_EQ(o.EraseTarget, "APROM"); }},
      {{"/E", "rom"}, false, true, none},
      {{"/E"}, false, true, none},
      // Config words: both read as hexadecimal; cfg0 must not read as 0, cfg1 not as -1.
      {{"/UC", "FFFFFF7F", "000FFFFF"},
       true,
       false,
       [](auto& o) {
         EXPECT_EQ(static_cast<uint32_t>(o.Config0), 0xFFFFFF7Fu);
         EXPECT_EQ(o.Config1, 0x000FFFFF);
       }},
      {{"/UC", "0x10", "0X20"},
       true,
       false,
       [](auto& o) {
         EXPECT_EQ(o.Config0, 0x10);
         EXPECT_EQ(o.Config1, 0x20);
       }},
      {{"/UC", "0", "1"}, false, true, none},
      {{"/UC", "12", "FFFFFFFF"}, false, true, none},
      {{"/UC", "12"}, false, true, none},
      {{"/E", "DATA", "/UC", "1", "2"}, false, true, none},
      // Reboot option.
      {{"/I", "0", "/BS", "2"}, true, false, none},
      {{"/I", "0", "/BS", "3"}, false, true, none},
      {{"/I", "0", "/BS", "z"}, false, true, none},
      // Device id: hexadecimal, with or without its prefix.
      {{"/I", "0", "/ID", "0416A316"},
       true,
       false,
       [](auto& o) {
         EXPECT_TRUE(o.HasDeviceId);
         EXPECT_EQ(o.DeviceId, 0x0416A316);
       }},
      {{"/I", "0", "/ID", "0x0416a316"},
       true,
       false,
       [](auto& o) { EXPECT_EQ(o.DeviceId, 0x0416A316); }},
      {{"/I", "0", "/ID", "FFFFFFFF"}, false, true, none},
      {{"/I", "0", "/ID", "nothex"}, false, true, none},
      {{"/E", "ALL", "/ID", "1"}, false, true, none},
      // Command bytes count; each value must read as a number.
      {{"/CMD", "1", "0x2", "$3"}, true, false, [](auto& o) { EXPECT_TRUE(o.HasCommandBytes); }},
      {{"/CMD", "1", "two"}, false, true, [](auto& o) { EXPECT_FALSE(o.HasCommandBytes); }},
      {{"/CMD"}, false, true, none},
      // A value that spells an option name is taken as that option as well.
      {{"/ID", "/I", "0"},
       false,
       true,
       [](auto& o) {
         EXPECT_FALSE(o.HasDeviceId);
         EXPECT_TRUE(o.HasInterface);
       }},
      {{"/INFO", "/I", "1"}, true, false, [](auto& o) { EXPECT_EQ(o.InterfaceNumber, 1); }},
      // Lighting mode fields.
      {{"/I", "0", "/MODE", "2"},
       true,
       false,
       [](auto& o) {
         EXPECT_TRUE(o.HasMode);
         EXPECT_EQ(o.Mode, 2);
         EXPECT_EQ(o.Red, 0xFF);
         EXPECT_EQ(o.Green, 0);
         EXPECT_EQ(o.Blue, 0);
         EXPECT_EQ(o.Param, 0x50);
         EXPECT_EQ(o.AllZones, 0);
       }},
      {{"/I", "0", "/MODE", "1:0:FF:0:20:1"},
       true,
       false,
       [](auto& o) {
         EXPECT_EQ(o.Mode, 1);
         EXPECT_EQ(o.Red, 0);
         EXPECT_EQ(o.Green, 0xFF);
         EXPECT_EQ(o.Blue, 0);
         EXPECT_EQ(o.Param, 0x20);
         EXPECT_EQ(o.AllZones, 1);
       }},
      {{"/I", "0", "/MODE", "6:1:2"},
       true,
       false,
       [](auto& o) {
         EXPECT_EQ(o.Mode, 6);
         EXPECT_EQ(o.Red, 0xFF);
         EXPECT_EQ(o.Green, 0);
       }},
      {{"/I", "0", "/MODE", "1:10:20:30"},
       true,
       false,
       [](auto& o) {
         EXPECT_EQ(o.Red, 0x10);
         EXPECT_EQ(o.Green, 0x20);
         EXPECT_EQ(o.Blue, 0x30);
         EXPECT_EQ(o.Param, 0x50);
       }},
      {{"/I", "0", "/MODE", "0x5"}, true, false, [](auto& o) { EXPECT_EQ(o.Mode, 0x1E); }},
      {{"/I", "0", "/MODE", "123"}, true, false, [](auto& o) { EXPECT_EQ(o.Mode, 0x23); }},
      {{"/I", "0", "/MODE", "1 2 3 4 5"},
       true,
       false,
       [](auto& o) {
         EXPECT_EQ(o.Blue, 4);
         EXPECT_EQ(o.Param, 5);
       }},
      {{"/I", "0", "/MODE"},
       true,
       false,
       [](auto& o) {
         EXPECT_FALSE(o.HasMode);
         EXPECT_EQ(o.Mode, 0x1E);
         EXPECT_EQ(o.Param, 0x50);
       }},
      {{"/I", "0", "/MODE", ""}, false, true, [](auto& o) { EXPECT_FALSE(o.HasMode); }},
      {{"/E", "ALL", "/MODE", "3"}, true, false, [](auto& o) { EXPECT_FALSE(o.HasMode); }},
      // Nothing that counts.
      {{"/ID", "0416A316", "/MODE", "3"}, false, false, none},
      {{"/INFO"}, false, false, none},
      {{"unknown"}, false, false, none},
  };

  for (const Case& c : cases) {
    std::string line;
    for (const std::string& w : c.words) line += w + " ";
    SCOPED_TRACE(line);
    std::string printed;
    EXPECT_EQ(Parse(c.words, &printed), c.usable);
    EXPECT_EQ(RunOptions().ArgumentError, c.error);
    EXPECT_EQ(printed.find("*** Arguments Fail ***\n") != std::string::npos, c.error);
    c.check(RunOptions());
  }
}

TEST(ModeFields, SplitAtColonsAndBlanksOutsideQuotes) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitModeFields(""), V{});
  EXPECT_EQ(SplitModeFields("   "), V{});
  EXPECT_EQ(SplitModeFields("1:0:FF"), (V{"1", "0", "FF"}));
  EXPECT_EQ(SplitModeFields("1::2"), (V{"1", "", "2"}));
  EXPECT_EQ(SplitModeFields("1 2  3"), (V{"1", "2", "3"}));
  EXPECT_EQ(SplitModeFields("\"1 2\":3"), (V{"1 2", "3"}));
}

}  // namespace
}  // namespace brumel
