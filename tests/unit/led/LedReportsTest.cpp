// LED report layouts, byte for byte, and the button byte of the read-buttons reply.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "led/LedReports.h"

namespace brumel {
namespace {

// The report's bytes as "00 10 ..." up to the last non-zero byte; the tail past `head` must be 0.
std::string Head(const LedReport& r, size_t head) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < head; ++i) {
    std::snprintf(buf, sizeof buf, "%02X", r[i]);
    if (!s.empty()) s += ' ';
    s += buf;
  }
  for (size_t i = head; i < r.size(); ++i) {
    if (r[i] != 0) s += " | non-zero byte " + std::to_string(i);
  }
  return s;
}

struct ReportCase {
  const char* name;
  LedReport report;
  const char* head;  // bytes 0.. as hex; every later byte is 0
};

void PrintTo(const ReportCase& c, std::ostream* os) { *os << c.name; }

class LedReportBytes : public ::testing::TestWithParam<ReportCase> {};

TEST_P(LedReportBytes, MatchesLayout) {
  const ReportCase& c = GetParam();
  const size_t n = (std::string(c.head).size() + 1) / 3;
  EXPECT_EQ(Head(c.report, n), c.head);
}

const LightingMode kBlue{0x03, 0x00, 0x00, 0xFF, 0x10};

INSTANTIATE_TEST_SUITE_P(
    LedReports, LedReportBytes,
    ::testing::Values(
        ReportCase{"ZoneForm", LightingModeReport(ModeForm::kZone, {3, 0xFF, 0, 0, 0x50}, 5),
                   "00 10 00 05 03 FF 00 00 50 FF 00"},
        ReportCase{"AllZonesForm", LightingModeReport(ModeForm::kAllZones, kBlue, 6),
                   "00 10 00 00 03 00 00 FF 10 FF 01"},
        ReportCase{"MusicForm",
                   LightingModeReport(ModeForm::kMusic, {kMusicMode, 0, 0, 0, 0}, 0, 100),
                   "00 10 00 04 06 00 00 00 00 FF 00 64"},
        ReportCase{"SetColourWhite", TestControlReport(TestAction::kSetColour, 0xFF, 0xFF, 0xFF),
                   "00 40 00 01 01 FF FF FF"},
        ReportCase{"EndTest", TestControlReport(TestAction::kEndTest, 1, 2, 3),
                   "00 40 00 01 00 00 00 00"},
        ReportCase{"EnterButtonTest", TestControlReport(TestAction::kEnterButtonTest),
                   "00 40 00 01 02 00 00 00"},
        ReportCase{"ReadButtons", ReadButtonsReport(), "00 34 00 05 00"},
        ReportCase{"ClearButton", ClearButtonReport(), "00 35 00 05 00"}),
    [](const ::testing::TestParamInfo<ReportCase>& info) { return info.param.name; });

TEST(LedReports, ButtonByteOfReadButtonsReply) {
  LedReport reply{};
  reply[8] = 0x04;
  EXPECT_EQ(ButtonBitsOf(reply), 0x04);
  EXPECT_EQ(SingleButtonIndex(ButtonBitsOf(reply)), 2);
  EXPECT_STREQ(kButtonNames[2], "1");

  EXPECT_EQ(SingleButtonIndex(0x01), 0);
  EXPECT_EQ(SingleButtonIndex(0x10), 4);
  EXPECT_EQ(SingleButtonIndex(0x00), -1);  // no button
  EXPECT_EQ(SingleButtonIndex(0x05), -1);  // two at once
  EXPECT_EQ(SingleButtonIndex(0x20), -1);  // not a button
  EXPECT_EQ(SingleButtonIndex(0xFF), -1);
}

}  // namespace
}  // namespace brumel
