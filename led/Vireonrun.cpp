#include "led/Vireonrun.h"

#include <cstdio>
#include <string_view>
#include <utility>

#include "isp/ChipLink.h"
#include "isp/ISPLdCMD.h"
#include "led/Random.h"
#include "platform/Console.h"
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
constexpr int kRetryAttr = 192;

std::function<int()> g_keySource;
std::function<int(unsigned)> g_pollWait;
std::function<uint32_t()> g_seedSource;
std::function<bool(const LedReport&)> g_ledSink;
// A colour prompt was printed and its line is not ended yet.
bool g_promptOpen = false;

int ReadKey() { return g_keySource ? g_keySource() : plat::ConsoleReadKey(); }
// Waits the time between polls; a key pressed meanwhile ends the wait and is given back.
int PollWait(unsigned ms) { return g_pollWait ? g_pollWait(ms) : plat::ConsoleWaitKey(ms); }
uint32_t RoundSeed() { return g_seedSource ? g_seedSource() : TimeAndProcessSeed(); }

bool SendTestReport(const LedReport& report) {
  return g_ledSink ? g_ledSink(report) : SendLedReport(report);
}

// Presses can only be reported, and colours only lit, over an open USB link.
bool UsbLinkUsable() {
  const ISPLdCMD* channel = ControllerChannel();
  return channel && channel->GetInterface() == ISPLdCMD::kUsbHid && channel->IsConnected();
}

bool ColourLinkUsable(int32_t interface) {
  return interface == 0 && (g_ledSink || UsbLinkUsable());
}

void SayNoController(bool colourTest) {
  TConsole::SetTextAttr(kVerdictFailAttr);
  std::printf("No controller answers: the %s test cannot run\n", colourTest ? "colour" : "button");
  TConsole::SetTextAttr(kPlainAttr);
}

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
TRoundEnd TVireon::LastRoundEnd = TRoundEnd::Failed;
std::string TVireon::LastAsked;

const std::array<Glyph, 10> TVireon::DigitGlyphs = kDigitGlyphs;
const std::array<Glyph, kButtonCount> TVireon::ButtonGlyphs{
    kPlusGlyph, kMinusGlyph, kDigitGlyphs[1], kDigitGlyphs[2], kDigitGlyphs[3]};
const std::array<const char*, kButtonCount> TVireon::ButtonNames{
    kButtonNames[0], kButtonNames[1], kButtonNames[2], kButtonNames[3], kButtonNames[4]};
const std::array<uint16_t, kColorCount> TVireon::TileAttributes{206, 160, 158, 240};
const std::array<const char*, kColorCount> TVireon::ColorNames{"red", "green", "blue", "white"};
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
void TVireon::SetPollWait(std::function<int(unsigned)> wait) { g_pollWait = std::move(wait); }
void TVireon::SetSeedSource(std::function<uint32_t()> seed) { g_seedSource = std::move(seed); }
void TVireon::SetLedSink(std::function<bool(const LedReport&)> sink) {
  g_ledSink = std::move(sink);
}

void TVireon::ResetState() {
  TestedColors = 0;
  Digits.fill(-1);
  Colors.fill(-1);
  ColorToDigit.clear();
  LastInterface = 0;
  ButtonIndex = 0;
  LastRoundEnd = TRoundEnd::Failed;
  LastAsked.clear();
  g_promptOpen = false;
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
  LastRoundEnd = TRoundEnd::Failed;
  LastAsked.clear();
  // A round starts on a cleared screen: an earlier round's prompt line is gone with it.
  g_promptOpen = false;
  // Tiles without a lit LED would let a guess pass: without a link the round ends before them.
  if (!CanRun(true, interface)) return false;
  Digits.fill(-1);
  Colors.fill(-1);
  MakeColorCode();

  for (size_t slot = 0; slot < Colors.size(); ++slot) {
    const int32_t colour = Colors[slot];
    if (colour < 0 || (TestedColors & (1u << colour)) != 0) continue;
    TestedColors = static_cast<uint8_t>(TestedColors | (1u << colour));
    LastAsked = ColorNames[static_cast<size_t>(colour)];
    const auto& led = LedColors[static_cast<size_t>(colour)];
    // A round passes only when its colour was lit: a controller that went away fails it here.
    if (!SetLedColor(led[0], led[1], led[2])) {
      SayNoController(true);
      LastRoundEnd = TRoundEnd::NoController;
      return false;
    }
    for (int32_t used = 1; used <= tries; ++used) {
      std::printf("Please enter COLOR CODE: ");
      g_promptOpen = true;
      const int key = ReadKey();  // -1 at end of input: a wrong key
      if (key == kEscapeKey) {
        LastRoundEnd = TRoundEnd::Aborted;
        return false;
      }
      if (key - '0' == Digits[slot]) {
        LastRoundEnd = TRoundEnd::Passed;
        return true;
      }
      TConsole::SetTextAttr(kRetryAttr);
      std::printf("PLEASE TRY AGAIN (Remaining: %d)\n", tries - used);
      TConsole::SetTextAttr(kPlainAttr);
      g_promptOpen = false;
    }
    return false;
  }
  return false;
}

bool TVireon::CanRun(bool colourTest, int32_t interface) {
  const bool usable = colourTest ? ColourLinkUsable(interface) : UsbLinkUsable();
  if (!usable) {
    SayNoController(colourTest);
    LastRoundEnd = TRoundEnd::NoController;
    LastAsked.clear();
  }
  return usable;
}

void TVireon::EndPromptLine() {
  if (!g_promptOpen) return;
  std::printf("\n");
  g_promptOpen = false;
}

void TVireon::PrintVerdict(bool colourTest, int32_t round, int32_t rounds, bool passed) {
  EndPromptLine();
  const char* test = colourTest ? "Colour test" : "Button test";
  if (passed) {
    TConsole::SetTextAttr(kVerdictPassAttr);
    std::printf("%s: PASS\n", test);
    TConsole::SetTextAttr(kPlainAttr);
    return;
  }
  const bool aborted = LastRoundEnd == TRoundEnd::Aborted;
  std::string why;
  if (aborted) why = "Esc";
  if (!LastAsked.empty()) why += (why.empty() ? "" : "; ") + ("asked for " + LastAsked);
  if (LastRoundEnd == TRoundEnd::NoController) {
    why += (why.empty() ? "" : "; ") + std::string("no controller answers");
  }
  TConsole::SetTextAttr(kVerdictFailAttr);
  std::printf("%s: %s in round %d of %d", test, aborted ? "ABORTED" : "FAIL", round, rounds);
  if (!why.empty()) std::printf(" (%s)", why.c_str());
  std::printf("\n");
  TConsole::SetTextAttr(kPlainAttr);
}

// SendLedReport sends nothing while there is no channel.
bool TVireon::SetLedColor(uint8_t red, uint8_t green, uint8_t blue) {
  return SendTestReport(TestControlReport(TestAction::kSetColour, red, green, blue));
}

void TVireon::EndTest() { SendTestReport(TestControlReport(TestAction::kEndTest)); }

void TVireon::EnterButtonMode() { SendTestReport(TestControlReport(TestAction::kEnterButtonTest)); }

void TVireon::ClearButton() { SendTestReport(ClearButtonReport()); }

namespace {

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

}  // namespace

uint8_t TVireon::PollButtons() {
  // Without an open USB link no press can ever be reported; such a poll reads as every button
  // at once, as without a channel.
  if (!UsbLinkUsable()) return kNoButtonChannel;
  return PollOnce(*ControllerChannel()).bits;
}

bool TVireon::ButtonTest(int32_t interface, int32_t tries) {
  LastInterface = interface;
  LastRoundEnd = TRoundEnd::Failed;
  EnterButtonMode();
  const size_t asked = static_cast<size_t>(ButtonIndex);
  LastAsked = std::string("button [ ") + ButtonNames[asked] + " ]";

  TConsole::SetTextAttr(224);
  for (const char* row : ButtonGlyphs[asked]) std::printf("%s\n", row);
  std::printf("\n");
  TConsole::SetTextAttr(240);
  std::printf("Please press button [ %s ]\n", ButtonNames[asked]);
  TConsole::SetTextAttr(kPlainAttr);

  bool passed = false;
  int32_t left = tries;
  // Without a link no press can ever come: the round ends at once, and says why rather than
  // counting polls against the operator.
  const bool linkUsable = UsbLinkUsable();
  if (!linkUsable) {
    SayNoController(false);
    LastRoundEnd = TRoundEnd::NoController;
  }
  while (linkUsable) {
    const Poll poll = PollOnce(*ControllerChannel());
    // A controller that takes no request any more (unplugged) can never report a press: the
    // round ends as without a link. One that takes requests but stays silent is polled on.
    if (!poll.sent) {
      SayNoController(false);
      LastRoundEnd = TRoundEnd::NoController;
      break;
    }
    const uint8_t bits = poll.bits;
    if (bits != 0) {
      if (bits == (1u << asked)) {
        ClearButton();
        passed = true;
        LastRoundEnd = TRoundEnd::Passed;
        break;
      }
      TConsole::SetTextAttr(kRetryAttr);
      std::printf("PLEASE TRY AGAIN (Remaining: %d)\n", left - 1);
      TConsole::SetTextAttr(kPlainAttr);
      ClearButton();
      if (--left <= 0) break;
    }
    // The operator may leave the test between polls; every other key is ignored.
    if (PollWait(kPollIntervalMs) == kEscapeKey) {
      LastRoundEnd = TRoundEnd::Aborted;
      break;
    }
  }

  ButtonIndex = ButtonIndex >= kButtonCount - 1 ? 0 : ButtonIndex + 1;
  return passed;
}

}  // namespace brumel
