// The two operator tests of the LED controller: the colour test (four big coloured digits on the
// console, one colour lit on the LEDs, the operator types the digit shown in that colour) and the
// button test (one button asked for per round, the controller polled once a second).
//
// TVireon holds no data in the instance: all its state is class-wide and lives for the whole
// process, so the rounds of one run light different colours and ask for the buttons in order.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "led/LedReports.h"

namespace brumel {

// A big symbol: 7 rows of exactly 17 characters.
inline constexpr int kGlyphRows = 7;
inline constexpr int kGlyphWidth = 17;
using Glyph = std::array<const char*, kGlyphRows>;

inline constexpr int kColorCount = 4;  // 0 red, 1 green, 2 blue, 3 white

// The key that leaves an operator test.
inline constexpr int kEscapeKey = 0x1B;

// Console attributes of the tests' own lines.
inline constexpr int32_t kVerdictPassAttr = 10;  // bright green
inline constexpr int32_t kVerdictFailAttr = 12;  // bright red

// How the latest round ended.
enum class TRoundEnd {
  Passed,
  Failed,        // the tries were used up (or nothing was left to ask)
  Aborted,       // Esc
  NoController,  // no usable link, or the controller stopped taking reports
};

class TVireon {
 public:
  // One colour round: lights the first colour of this round that no earlier round lit and reads
  // up to `tries` keys. True when the operator typed the digit shown in the lit colour, and only
  // when that colour was sent: without a usable link, or when the set-colour report cannot be
  // sent, the round fails at once with one line that says so. Esc ends the round as aborted.
  bool ColorTest(int32_t interface, int32_t tries);
  // One button round: asks for button ButtonIndex and polls until it is pressed (true),
  // `tries` wrong presses were reported, no controller can take a poll, or Esc is pressed
  // between polls (false). Other keys are ignored. ButtonIndex moves on either way.
  bool ButtonTest(int32_t interface, int32_t tries);

  // Before the first round of a test: whether its link can carry it. When it cannot, says so in
  // one line (the colour test needs interface 0 as well) and records the round as ended for
  // want of a controller.
  static bool CanRun(bool colourTest, int32_t interface);
  // Ends the prompt line a colour round left open (its prompt has no line break).
  static void EndPromptLine();
  // The verdict of a whole test, after the end-test report: pass in attribute 10; otherwise,
  // in attribute 12, fail or aborted with the round and what it asked for, from LastRoundEnd
  // and LastAsked.
  static void PrintVerdict(bool colourTest, int32_t round, int32_t rounds, bool passed);

  // Draws the digits and colours of a round and prints the tiles, then a plain copy.
  void MakeColorCode();
  // True when the report was sent.
  bool SetLedColor(uint8_t red, uint8_t green, uint8_t blue);
  void EndTest();
  void EnterButtonMode();
  // The button byte of one read-buttons exchange: 0 no press (or no reply), 0xFF without a
  // controller channel or without an open USB link.
  uint8_t PollButtons();
  void ClearButton();

  // Class-wide state.
  static uint8_t TestedColors;                     // bit c: colour c was lit in this run
  static std::array<int32_t, 4> Digits;            // this round's digits, -1 = empty
  static std::array<int32_t, 4> Colors;            // this round's colours, -1 = empty
  static std::map<int32_t, int32_t> ColorToDigit;  // colour -> digit shown in its tile
  static int32_t LastInterface;
  static int32_t ButtonIndex;     // button asked for in the next round, 0-4
  static TRoundEnd LastRoundEnd;  // of the latest round
  static std::string LastAsked;   // what it asked for: "green", "button [ + ]"; empty: nothing

  static const std::array<Glyph, 10> DigitGlyphs;
  static const std::array<Glyph, kButtonCount> ButtonGlyphs;
  static const std::array<const char*, kButtonCount> ButtonNames;
  // Per colour: the tile's console attribute and the LED colour.
  static const std::array<uint16_t, kColorCount> TileAttributes;
  static const std::array<std::array<uint8_t, 3>, kColorCount> LedColors;
  static const std::array<const char*, kColorCount> ColorNames;

  // Seams for tests; an empty function restores the default. Keys come from the console
  // (-1 at end of input); the wait between polls waits for a key at the console for at most
  // its time and gives the key, or -1 when none came; a round is seeded with the current time
  // in whole seconds plus the process id; the tests' LED reports go through the controller
  // channel. A stand-in for the LED reports counts as a usable link for the colour test and
  // says whether each report was sent.
  static void SetKeySource(std::function<int()> source);
  static void SetPollWait(std::function<int(unsigned ms)> wait);
  static void SetSeedSource(std::function<uint32_t()> seed);
  static void SetLedSink(std::function<bool(const LedReport&)> sink);
  // Back to the state of program start (tests only; a run never resets).
  static void ResetState();

 private:
  friend TVireon* GetVireon();
  TVireon();
};

// The one instance, created on the first call.
TVireon* GetVireon();

}  // namespace brumel
