#include "led/Vireonrun.h"

#include <cstdio>
#include <string_view>
#include <utility>

#include "isp/ChipLink.h"
#include "isp/ISPLdCMD.h"
#include "led/Random.h"
#include "platform/Console.h"
#include "platform/Time.h"
#include "support/Console.h"

namespace brumel {

namespace {

// One glyph row per line, as the glyphs look on screen.
// clang-format off
constexpr std::array<Glyph, 10> kDigitGlyphs{
    Glyph{"                 ",
          "    000000000    ",
          "    00     00    ",
          "    00     00    ",
          "    00     00    ",
          "    000000000    ",
          "                 "},
    Glyph{"                 ",
          "       111       ",
          "       111       ",
          "       111       ",
          "       111       ",
          "       111       ",
          "                 "},
    Glyph{"                 ",
          "    222222222    ",
          "           22    ",
          "    222222222    ",
          "    22           ",
          "    222222222    ",
          "                 "},
    Glyph{"                 ",
          "    333333333    ",
          "           33    ",
          "      3333333    ",
          "           33    ",
          "    333333333    ",
          "                 "},
    Glyph{"                 ",
          "    44     44    ",
          "    44     44    ",
          "    444444444    ",
          "           44    ",
          "           44    ",
          "                 "},
    Glyph{"                 ",
          "    555555555    ",
          "    55           ",
          "    555555555    ",
          "           55    ",
          "    555555555    ",
          "                 "},
    Glyph{"                 ",
          "    666666666    ",
          "    66           ",
          "    666666666    ",
          "    66     66    ",
          "    666666666    ",
          "                 "},
    Glyph{"                 ",
          "    777777777    ",
          "           77    ",
          "         777     ",
          "       77        ",
          "       77        ",
          "                 "},
    Glyph{"                 ",
          "    888888888    ",
          "    88     88    ",
          "    888888888    ",
          "    88     88    ",
          "    888888888    ",
          "                 "},
    Glyph{"                 ",
          "    999999999    ",
          "    99     99    ",
          "    999999999    ",
          "           99    ",
          "    999999999    ",
          "                 "}};

constexpr Glyph kPlusGlyph{"                 ",
          "        +        ",
          "        +        ",
          "    +++++++++    ",
          "        +        ",
          "        +        ",
          "                 "};
constexpr Glyph kMinusGlyph{"                 ",
          "                 ",
          "                 ",
          "    ---------    ",
          "                 ",
          "                 ",
          "                 "};
// clang-format on

constexpr bool GlyphsAreWellFormed() {
  for (const Glyph& g : kDigitGlyphs)
    for (const char* row : g)
      if (std::string_view(row).size() != kGlyphWidth) return false;
  for (const Glyph* g : {&kPlusGlyph, &kMinusGlyph})
    for (const char* row : *g)
      if (std::string_view(row).size() != kGlyphWidth) return false;
  return true;
}
static_assert(GlyphsAreWellFormed(), "every glyph row is 17 characters");

// Draws a round makes before it looks at what it has; it keeps drawing past them only until
// four different values stand in the slots.
constexpr int kRoundDraws = 30;
// Safety bound for the drawing beyond kRoundDraws. The generator reaches every value long before
// this; should it not, the empty slots take the smallest values not yet drawn.
constexpr int kDrawLimit = 100000;

constexpr uint8_t kNoButtonChannel = 0xFF;
constexpr unsigned kPollIntervalMs = 1000;
constexpr int kPlainAttr = 7;

std::function<int()> g_keySource;
std::function<void(unsigned)> g_pollWait;
std::function<uint32_t()> g_seedSource;

int ReadKey() { return g_keySource ? g_keySource() : plat::ConsoleReadKey(); }
void PollWait(unsigned ms) {
  if (g_pollWait) {
    g_pollWait(ms);
  } else {
    plat::SleepMs(ms);
  }
}
uint32_t RoundSeed() { return g_seedSource ? g_seedSource() : TimeAndProcessSeed(); }

bool Full(const std::array<int32_t, 4>& slots) {
  for (int32_t v : slots)
    if (v < 0) return false;
  return true;
}

// Fills the empty slots of `slots` with different values 0..range-1 in order of first
// appearance among the generator's draws; `stored(slot, value)` is told of each one stored.
template <typename Stored>
void DrawDistinct(TRandom& rng, int32_t range, std::array<int32_t, 4>& slots, Stored stored) {
  for (int n = 0; n < kDrawLimit && (n < kRoundDraws || !Full(slots)); ++n) {
    const int32_t value = ScaleDraw(rng.Next(), range);
    for (size_t slot = 0; slot < slots.size(); ++slot) {
      if (slots[slot] == value) break;
      if (slots[slot] < 0) {
        slots[slot] = value;
        stored(slot, value);
        break;
      }
    }
  }
  for (size_t slot = 0; slot < slots.size(); ++slot) {
    if (slots[slot] >= 0) continue;
    for (int32_t value = 0; value < range; ++value) {
      bool used = false;
      for (int32_t s : slots) used = used || s == value;
      if (!used) {
        slots[slot] = value;
        stored(slot, value);
        break;
      }
    }
  }
}

}  // namespace

uint8_t TVireon::TestedColors = 0;
std::array<int32_t, 4> TVireon::Digits{-1, -1, -1, -1};
std::array<int32_t, 4> TVireon::Colors{-1, -1, -1, -1};
std::map<int32_t, int32_t> TVireon::ColorToDigit;
int32_t TVireon::LastInterface = 0;
int32_t TVireon::ButtonIndex = 0;

const std::array<Glyph, 10> TVireon::DigitGlyphs = kDigitGlyphs;
const std::array<Glyph, kButtonCount> TVireon::ButtonGlyphs{
    kPlusGlyph, kMinusGlyph, kDigitGlyphs[1], kDigitGlyphs[2], kDigitGlyphs[3]};
const std::array<const char*, kButtonCount> TVireon::ButtonNames{
    kButtonNames[0], kButtonNames[1], kButtonNames[2], kButtonNames[3], kButtonNames[4]};
const std::array<uint16_t, kColorCount> TVireon::TileAttributes{206, 160, 158, 240};
const std::array<std::array<uint8_t, 3>, kColorCount> TVireon::LedColors{{
    {0xFF, 0x00, 0x00},
    {0x00, 0xFF, 0x00},
    {0x00, 0x00, 0xFF},
    {0xFF, 0xFF, 0xFF},
}};

TVireon::TVireon() {
  TestedColors = 0;
  Digits.fill(-1);
  Colors.fill(-1);
}

TVireon* GetVireon() {
  static TVireon* instance = new TVireon;
  return instance;
}

void TVireon::SetKeySource(std::function<int()> source) { g_keySource = std::move(source); }
void TVireon::SetPollWait(std::function<void(unsigned)> wait) { g_pollWait = std::move(wait); }
void TVireon::SetSeedSource(std::function<uint32_t()> seed) { g_seedSource = std::move(seed); }

void TVireon::ResetState() {
  TestedColors = 0;
  Digits.fill(-1);
  Colors.fill(-1);
  ColorToDigit.clear();
  LastInterface = 0;
  ButtonIndex = 0;
}

void TVireon::MakeColorCode() {
  TRandom rng(RoundSeed());
  DrawDistinct(rng, 10, Digits, [](size_t, int32_t) {});

  ColorToDigit.clear();
  // The same seed again: within one second the colours come from the digits' sequence.
  rng.Seed(RoundSeed());
  DrawDistinct(rng, kColorCount, Colors,
               [](size_t slot, int32_t colour) { ColorToDigit[colour] = Digits[slot]; });

  for (int row = 0; row < kGlyphRows; ++row) {
    for (const auto& [colour, digit] : ColorToDigit) {
      TConsole::SetTextAttr(TileAttributes[static_cast<size_t>(colour)]);
      std::printf("%s", DigitGlyphs[static_cast<size_t>(digit)][static_cast<size_t>(row)]);
    }
    std::printf("\n");
  }
  TConsole::SetTextAttr(kPlainAttr);
  for (int row = 0; row < kGlyphRows; ++row) {
    for (const auto& [colour, digit] : ColorToDigit) {
      std::printf("%s", DigitGlyphs[static_cast<size_t>(digit)][static_cast<size_t>(row)]);
    }
    std::printf("\n");
  }
}

bool TVireon::ColorTest(int32_t interface, int32_t tries) {
  LastInterface = interface;
  Digits.fill(-1);
  Colors.fill(-1);
  MakeColorCode();

  for (size_t slot = 0; slot < Colors.size(); ++slot) {
    const int32_t colour = Colors[slot];
    if (colour < 0 || (TestedColors & (1u << colour)) != 0) continue;
    TestedColors = static_cast<uint8_t>(TestedColors | (1u << colour));
    if (interface == 0) {
      const auto& led = LedColors[static_cast<size_t>(colour)];
      SetLedColor(led[0], led[1], led[2]);
    }
    for (int32_t used = 1; used <= tries; ++used) {
      std::printf("Please enter COLOR CODE: ");
      const int key = ReadKey();  // -1 at end of input: a wrong key
      if (key - '0' == Digits[slot]) return true;
      TConsole::SetTextAttr(192);
      std::printf("PLEASE TRY AGAIN (Remaining: %d)\n", tries - used);
      TConsole::SetTextAttr(7);
    }
    return false;
  }
  return false;
}

// SendLedReport sends nothing while there is no channel.
void TVireon::SetLedColor(uint8_t red, uint8_t green, uint8_t blue) {
  SendLedReport(TestControlReport(TestAction::kSetColour, red, green, blue));
}

void TVireon::EndTest() { SendLedReport(TestControlReport(TestAction::kEndTest)); }

void TVireon::EnterButtonMode() { SendLedReport(TestControlReport(TestAction::kEnterButtonTest)); }

void TVireon::ClearButton() { SendLedReport(ClearButtonReport()); }

namespace {

// Presses can only be reported over an open USB link.
bool ButtonLinkUsable() {
  const ISPLdCMD* channel = ControllerChannel();
  return channel && channel->GetInterface() == ISPLdCMD::kUsbHid && channel->IsConnected();
}

struct Poll {
  bool sent = false;  // the controller took the request
  uint8_t bits = 0;
};

// One read-buttons exchange over a usable link. A failed read leaves the request in the buffer,
// whose button byte is 0: no press yet.
Poll PollOnce(ISPLdCMD& channel) {
  LedReport report = ReadButtonsReport();
  Poll poll;
  poll.sent = channel.SendCommand(report.data(), static_cast<uint32_t>(report.size()));
  uint32_t length = 0;
  channel.ReadReply(report.data(), &length);
  poll.bits = ButtonBitsOf(report);
  return poll;
}

void SayNoController() {
  TConsole::SetTextAttr(12);
  std::printf("No controller answers: the button test cannot run\n");
  TConsole::SetTextAttr(7);
}

}  // namespace

uint8_t TVireon::PollButtons() {
  // Without an open USB link no press can ever be reported; such a poll reads as every button
  // at once, as without a channel.
  if (!ButtonLinkUsable()) return kNoButtonChannel;
  return PollOnce(*ControllerChannel()).bits;
}

bool TVireon::ButtonTest(int32_t interface, int32_t tries) {
  LastInterface = interface;
  EnterButtonMode();
  const size_t asked = static_cast<size_t>(ButtonIndex);

  TConsole::SetTextAttr(224);
  for (const char* row : ButtonGlyphs[asked]) std::printf("%s\n", row);
  std::printf("\n");
  TConsole::SetTextAttr(240);
  std::printf("Please press button [ %s ]\n", ButtonNames[asked]);
  TConsole::SetTextAttr(7);

  bool passed = false;
  int32_t left = tries;
  // Without a link no press can ever come: the round ends at once, and says why rather than
  // counting polls against the operator.
  const bool linkUsable = ButtonLinkUsable();
  if (!linkUsable) SayNoController();
  while (linkUsable) {
    const Poll poll = PollOnce(*ControllerChannel());
    // A controller that takes no request any more (unplugged) can never report a press: the
    // round ends as without a link. One that takes requests but stays silent is polled on.
    if (!poll.sent) {
      SayNoController();
      break;
    }
    const uint8_t bits = poll.bits;
    if (bits != 0) {
      if (bits == (1u << asked)) {
        ClearButton();
        passed = true;
        break;
      }
      TConsole::SetTextAttr(192);
      std::printf("PLEASE TRY AGAIN (Remaining: %d)\n", left - 1);
      TConsole::SetTextAttr(7);
      ClearButton();
      if (--left <= 0) break;
    }
    PollWait(kPollIntervalMs);
  }

  ButtonIndex = ButtonIndex >= kButtonCount - 1 ? 0 : ButtonIndex + 1;
  return passed;
}

}  // namespace brumel
