// The colour and button rounds without a controller: what the operator sees and how keys and
// presses are judged. The rounds against the simulated controller are in tests/linux/led.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "isp/ChipLink.h"
#include "isp/ISPLdCMD.h"
#include "led/Random.h"
#include "led/Vireonrun.h"

namespace brumel {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Keys of a scripted operator: kRight types the digit of the lit colour, kWrongDigit another
// digit; anything else is typed as it is (-1: end of input).
constexpr int kRight = 1000;
constexpr int kWrongDigit = 1001;

class Vireon : public ::testing::Test {
 protected:
  void SetUp() override {
    SetControllerChannel(nullptr);
    TVireon::ResetState();
    TVireon::SetSeedSource([this] { return seed_; });
    TVireon::SetPollWait([this](unsigned ms) {
      waits_.push_back(ms);
      return -1;
    });
    TVireon::SetKeySource([this] { return NextKey(); });
    // A controller that takes every LED report, unless a case says otherwise.
    TVireon::SetLedSink([this](const LedReport& report) {
      sent_.push_back(report);
      return sendWorks_;
    });
  }
  void TearDown() override {
    TVireon::SetKeySource({});
    TVireon::SetPollWait({});
    TVireon::SetSeedSource({});
    TVireon::SetLedSink({});
    TVireon::ResetState();
  }

  std::string Captured(const std::function<void()>& run) {
    ::testing::internal::CaptureStdout();
    run();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
  }

  // Runs one colour round; `lit_` is the colour it lit (-1 when none).
  bool ColourRound(std::vector<int> keys, std::string* out = nullptr) {
    keys_ = std::move(keys);
    keysRead_ = 0;
    before_ = TVireon::TestedColors;
    bool passed = false;
    const std::string text = Captured([&] { passed = GetVireon()->ColorTest(0, 3); });
    if (out) *out = text;
    const uint8_t fresh = static_cast<uint8_t>(TVireon::TestedColors & ~before_);
    lit_ = -1;
    for (int c = 0; c < kColorCount; ++c)
      if (fresh == (1u << c)) lit_ = c;
    return passed;
  }

  int NextKey() {
    const size_t i = keysRead_++;
    if (i >= keys_.size()) return -1;
    const uint8_t fresh = static_cast<uint8_t>(TVireon::TestedColors & ~before_);
    int right = -1;
    for (int c = 0; c < kColorCount; ++c)
      if (fresh == (1u << c)) right = TVireon::ColorToDigit.at(c);
    if (keys_[i] == kRight) return '0' + right;
    if (keys_[i] == kWrongDigit) return '0' + (right + 1) % 10;
    return keys_[i];
  }

  uint32_t seed_ = 12345;
  std::vector<int> keys_;
  size_t keysRead_ = 0;
  uint8_t before_ = 0;
  int lit_ = -1;
  std::vector<unsigned> waits_;
  std::vector<LedReport> sent_;
  bool sendWorks_ = true;
};

// ---- colour code ------------------------------------------------------------------------------

TEST_F(Vireon, EveryRoundShowsFourDifferentDigitsOnFourDifferentColours) {
  std::vector<uint32_t> seeds{0, 1, 2, 41, 12345, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
  for (uint32_t s = 1000; s < 1500; ++s) seeds.push_back(s * 7919u);
  // Seeds whose first 30 colour draws miss a colour: the round draws on until all four are in.
  int short30 = 0;
  for (uint32_t s = 0; s < 20000 && short30 < 3; ++s) {
    TRandom rng(s);
    std::set<int32_t> seen;
    for (int i = 0; i < 30; ++i) seen.insert(ScaleDraw(rng.Next(), kColorCount));
    if (seen.size() < 4) {
      seeds.push_back(s);
      ++short30;
    }
  }
  ASSERT_GT(short30, 0);

  for (uint32_t seed : seeds) {
    seed_ = seed;
    TVireon::Digits.fill(-1);
    TVireon::Colors.fill(-1);
    Captured([] { GetVireon()->MakeColorCode(); });
    std::set<int32_t> digits(TVireon::Digits.begin(), TVireon::Digits.end());
    std::set<int32_t> colours(TVireon::Colors.begin(), TVireon::Colors.end());
    ASSERT_EQ(digits.size(), 4u) << "seed " << seed;
    ASSERT_EQ(colours, (std::set<int32_t>{0, 1, 2, 3})) << "seed " << seed;
    ASSERT_GE(*digits.begin(), 0) << "seed " << seed;
    ASSERT_LE(*digits.rbegin(), 9) << "seed " << seed;
    ASSERT_EQ(TVireon::ColorToDigit.size(), 4u);
    for (size_t slot = 0; slot < 4; ++slot) {
      ASSERT_EQ(TVireon::ColorToDigit.at(TVireon::Colors[slot]), TVireon::Digits[slot]);
    }
  }
}

TEST_F(Vireon, TheSameSeedGivesTheSameRound) {
  seed_ = 1614643200u + 4242u;
  TVireon::Digits.fill(-1);
  TVireon::Colors.fill(-1);
  const std::string first = Captured([] { GetVireon()->MakeColorCode(); });
  const auto digits = TVireon::Digits;
  const auto colours = TVireon::Colors;
  TVireon::Digits.fill(-1);
  TVireon::Colors.fill(-1);
  const std::string second = Captured([] { GetVireon()->MakeColorCode(); });
  EXPECT_EQ(TVireon::Digits, digits);
  EXPECT_EQ(TVireon::Colors, colours);
  EXPECT_EQ(second, first);
}

TEST_F(Vireon, TilesRunRedGreenBlueWhiteThenAPlainCopy) {
  TVireon::Digits.fill(-1);
  TVireon::Colors.fill(-1);
  const std::vector<std::string> lines = Lines(Captured([] { GetVireon()->MakeColorCode(); }));
  ASSERT_EQ(lines.size(), 14u);
  for (int row = 0; row < kGlyphRows; ++row) {
    std::string expected;
    for (int colour = 0; colour < kColorCount; ++colour) {
      expected += TVireon::DigitGlyphs[TVireon::ColorToDigit.at(colour)][row];
    }
    EXPECT_EQ(lines[row].size(), 68u);
    EXPECT_EQ(lines[row], expected) << "row " << row;
    EXPECT_EQ(lines[kGlyphRows + row], expected) << "plain row " << row;
  }
}

TEST_F(Vireon, GlyphsAreSevenRowsOfSeventeenWithBlankFirstAndLastRows) {
  const std::string blank(kGlyphWidth, ' ');
  for (const Glyph& g : TVireon::DigitGlyphs) {
    EXPECT_EQ(g[0], blank);
    EXPECT_EQ(g[6], blank);
  }
  EXPECT_EQ(std::string(TVireon::DigitGlyphs[8][3]), "    888888888    ");
  EXPECT_EQ(std::string(TVireon::DigitGlyphs[7][3]), "         777     ");
  EXPECT_EQ(std::string(TVireon::ButtonGlyphs[0][3]), "    +++++++++    ");
  EXPECT_EQ(std::string(TVireon::ButtonGlyphs[1][3]), "    ---------    ");
  for (int k = 2; k < kButtonCount; ++k) {
    for (int row = 0; row < kGlyphRows; ++row)
      EXPECT_STREQ(TVireon::ButtonGlyphs[k][row], TVireon::DigitGlyphs[k - 1][row]);
  }
}

// ---- colour rounds ----------------------------------------------------------------------------

TEST_F(Vireon, ThreeWrongKeysFailTheRoundCountingDown) {
  std::string out;
  EXPECT_FALSE(ColourRound({'x', kWrongDigit, -1}, &out));
  EXPECT_EQ(keysRead_, 3u);
  const std::string prompt = "Please enter COLOR CODE: ";
  const size_t tiles = out.find(prompt);
  ASSERT_NE(tiles, std::string::npos) << out;
  EXPECT_EQ(out.substr(tiles), prompt + "PLEASE TRY AGAIN (Remaining: 2)\n" + prompt +
                                   "PLEASE TRY AGAIN (Remaining: 1)\n" + prompt +
                                   "PLEASE TRY AGAIN (Remaining: 0)\n");
  EXPECT_NE(lit_, -1);
}

TEST_F(Vireon, EndOfInputFailsTheRoundWithoutWaiting) {
  // No key will ever come: each read gives -1 at once, a wrong key.
  EXPECT_FALSE(ColourRound({}));
  EXPECT_EQ(keysRead_, 3u);
}

TEST_F(Vireon, RightKeyAtTheSecondTryPassesAfterOneRetryMessage) {
  std::string out;
  EXPECT_TRUE(ColourRound({kWrongDigit, kRight}, &out));
  EXPECT_EQ(keysRead_, 2u);
  const std::string prompt = "Please enter COLOR CODE: ";
  EXPECT_EQ(out.substr(out.find(prompt)), prompt + "PLEASE TRY AGAIN (Remaining: 2)\n" + prompt);
}

TEST_F(Vireon, FourRoundsLightFourDifferentColoursAndAFifthHasNoneLeft) {
  std::set<int> lit;
  for (int round = 0; round < 4; ++round) {
    seed_ = 777u + static_cast<uint32_t>(round);  // a new second each round
    ASSERT_TRUE(ColourRound({kRight})) << "round " << round;
    lit.insert(lit_);
  }
  EXPECT_EQ(lit, (std::set<int>{0, 1, 2, 3}));
  EXPECT_EQ(TVireon::TestedColors, 0x0F);
  EXPECT_FALSE(ColourRound({kRight}));
  EXPECT_EQ(keysRead_, 0u);
}

TEST_F(Vireon, AFailedRoundKeepsItsColourLit) {
  seed_ = 1;
  EXPECT_FALSE(ColourRound({}));
  const int failed = lit_;
  ASSERT_NE(failed, -1);
  seed_ = 1;  // the very same round order again
  EXPECT_TRUE(ColourRound({kRight}));
  EXPECT_NE(lit_, failed);
  EXPECT_EQ(TVireon::TestedColors, (1u << failed) | (1u << lit_));
}

// No usable link (no channel, no link chosen, a USB link that never opened, a round over
// another interface): the round ends before the tiles, reads no key, and says why in one line.
TEST_F(Vireon, AColourRoundWithoutALinkEndsBeforeItsTiles) {
  TVireon::SetLedSink({});
  for (int kind = 0; kind < 4; ++kind) {
    SCOPED_TRACE(kind);
    if (kind == 1 || kind == 2) {
      auto channel = std::make_unique<ISPLdCMD>();
      if (kind == 2) channel->SetInterface(ISPLdCMD::kUsbHid);
      SetControllerChannel(std::move(channel));
    }
    keys_ = {kRight};
    keysRead_ = 0;
    bool passed = true;
    const int32_t interface = kind == 3 ? 1 : 0;
    const std::string out = Captured([&] { passed = GetVireon()->ColorTest(interface, 3); });
    EXPECT_FALSE(passed);
    EXPECT_EQ(out, "No controller answers: the colour test cannot run\n");
    EXPECT_EQ(keysRead_, 0u);
    EXPECT_EQ(TVireon::TestedColors, 0);
    EXPECT_EQ(TVireon::LastRoundEnd, TRoundEnd::NoController);
    EXPECT_FALSE(TVireon::CanRun(true, interface));
  }
  SetControllerChannel(nullptr);
}

// The controller goes away: the set-colour report is not taken, so the round fails before it
// asks, whatever the operator would type.
TEST_F(Vireon, AColourThatCannotBeLitFailsTheRoundAtOnce) {
  sendWorks_ = false;
  std::string out;
  EXPECT_FALSE(ColourRound({kRight}, &out));
  EXPECT_EQ(keysRead_, 0u);
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(sent_[0][4], 0x01);  // the set-colour report was tried
  EXPECT_TRUE(out.ends_with("No controller answers: the colour test cannot run\n")) << out;
  EXPECT_EQ(out.find("Please enter COLOR CODE"), std::string::npos) << out;
  EXPECT_EQ(TVireon::LastRoundEnd, TRoundEnd::NoController);
  EXPECT_EQ(TVireon::LastAsked, TVireon::ColorNames[static_cast<size_t>(lit_)]);
}

// Esc ends the round at once; a key before it still costs its try.
TEST_F(Vireon, EscLeavesTheColourRound) {
  std::string out;
  EXPECT_FALSE(ColourRound({kWrongDigit, kEscapeKey, kRight}, &out));
  EXPECT_EQ(keysRead_, 2u);
  const std::string prompt = "Please enter COLOR CODE: ";
  EXPECT_EQ(out.substr(out.find(prompt)), prompt + "PLEASE TRY AGAIN (Remaining: 2)\n" + prompt);
  EXPECT_EQ(TVireon::LastRoundEnd, TRoundEnd::Aborted);
  // The verdict ends the open prompt line first.
  EXPECT_EQ(Captured([] { TVireon::PrintVerdict(true, 1, 4, false); }),
            std::string("\nColour test: ABORTED in round 1 of 4 (Esc; asked for ") +
                TVireon::ColorNames[static_cast<size_t>(lit_)] + ")\n");
}

TEST_F(Vireon, TheVerdictNamesTheTestTheRoundAndWhatWasAsked) {
  const struct {
    bool colour;
    TRoundEnd end;
    const char* asked;
    int round;
    bool passed;
    const char* line;
  } cases[] = {
      {true, TRoundEnd::Passed, "white", 4, true, "Colour test: PASS\n"},
      {false, TRoundEnd::Passed, "button [ 3 ]", 5, true, "Button test: PASS\n"},
      {true, TRoundEnd::Failed, "green", 2, false,
       "Colour test: FAIL in round 2 of 4 (asked for green)\n"},
      {false, TRoundEnd::Failed, "button [ 1 ]", 3, false,
       "Button test: FAIL in round 3 of 5 (asked for button [ 1 ])\n"},
      {false, TRoundEnd::Aborted, "button [ - ]", 2, false,
       "Button test: ABORTED in round 2 of 5 (Esc; asked for button [ - ])\n"},
      {true, TRoundEnd::NoController, "", 1, false,
       "Colour test: FAIL in round 1 of 4 (no controller answers)\n"},
      {true, TRoundEnd::NoController, "blue", 3, false,
       "Colour test: FAIL in round 3 of 4 (asked for blue; no controller answers)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    TVireon::LastRoundEnd = c.end;
    TVireon::LastAsked = c.asked;
    EXPECT_EQ(
        Captured([&] { TVireon::PrintVerdict(c.colour, c.round, c.colour ? 4 : 5, c.passed); }),
        c.line);
  }
}

// ---- button rounds without a controller -------------------------------------------------------

// Without a usable link no press can ever come: the round shows what it asks for, says in one
// line that no controller answers, and fails without polling or blaming the operator.
TEST_F(Vireon, WithoutAUsableLinkTheRoundEndsAtOnceAndSaysWhy) {
  std::string expected;
  for (const char* row : TVireon::ButtonGlyphs[0]) expected += std::string(row) + "\n";
  expected +=
      "\nPlease press button [ + ]\n"
      "No controller answers: the button test cannot run\n";
  // No channel, no link chosen (an /I 0 run without a device id), a USB link that never opened.
  for (int kind = 0; kind < 3; ++kind) {
    SCOPED_TRACE(kind);
    if (kind > 0) {
      auto channel = std::make_unique<ISPLdCMD>();
      if (kind == 2) channel->SetInterface(ISPLdCMD::kUsbHid);
      SetControllerChannel(std::move(channel));
    }
    uint8_t bits = 0;
    Captured([&] { bits = GetVireon()->PollButtons(); });
    EXPECT_EQ(bits, 0xFF);
    TVireon::ButtonIndex = 0;
    waits_.clear();
    const std::string out = Captured([] { EXPECT_FALSE(GetVireon()->ButtonTest(0, 3)); });
    // (A USB link that never opened has the enter-button report's exchange say "ReadFile Fail".)
    EXPECT_TRUE(out.ends_with(expected)) << out;
    EXPECT_EQ(out.find("PLEASE TRY AGAIN"), std::string::npos) << out;
    EXPECT_TRUE(waits_.empty());
    EXPECT_EQ(TVireon::ButtonIndex, 1);
  }
  SetControllerChannel(nullptr);
}

TEST_F(Vireon, FiveButtonRoundsAskForEachButtonInOrderThenStartOver) {
  for (int round = 0; round < 5; ++round) {
    const std::string out = Captured([] { GetVireon()->ButtonTest(7, 3); });
    EXPECT_NE(
        out.find(std::string("Please press button [ ") + TVireon::ButtonNames[round] + " ]\n"),
        std::string::npos)
        << out;
    EXPECT_NE(out.find(std::string(TVireon::ButtonGlyphs[round][3]) + "\n"), std::string::npos);
  }
  EXPECT_EQ(TVireon::ButtonIndex, 0);
  EXPECT_EQ(TVireon::LastInterface, 7);
}

}  // namespace
}  // namespace brumel
