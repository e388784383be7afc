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

#include "led/LedReports.h"

namespace brumel {

// A big symbol: 7 rows of exactly 17 characters.
inline constexpr int kGlyphRows = 7;
inline constexpr int kGlyphWidth = 17;
using Glyph = std::array<const char*, kGlyphRows>;

inline constexpr int kColorCount = 4;  // 0 red, 1 green, 2 blue, 3 white

class TVireon {
 public:
  // One colour round: lights the first colour of this round that no earlier round lit and reads
  // up to `tries` keys. True when the operator typed the digit shown in the lit colour.
  bool ColorTest(int32_t interface, int32_t tries);
  // One button round: asks for button ButtonIndex and polls until it is pressed (true),
  // `tries` wrong presses were reported, or no controller can take a poll (false). ButtonIndex
  // moves on either way.
  bool ButtonTest(int32_t interface, int32_t tries);

  // Draws the digits and colours of a round and prints the tiles, then a plain copy.
  void MakeColorCode();
  void SetLedColor(uint8_t red, uint8_t green, uint8_t blue);
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
  static int32_t ButtonIndex;  // button asked for in the next round, 0-4

  static const std::array<Glyph, 10> DigitGlyphs;
  static const std::array<Glyph, kButtonCount> ButtonGlyphs;
  static const std::array<const char*, kButtonCount> ButtonNames;
  // Per colour: the tile's console attribute and the LED colour.
  static const std::array<uint16_t, kColorCount> TileAttributes;
  static const std::array<std::array<uint8_t, 3>, kColorCount> LedColors;

  // Seams for tests; an empty function restores the default. Keys come from the console
  // (-1 at end of input), the wait between polls sleeps, a round is seeded with the current
  // time in whole seconds plus the process id.
  static void SetKeySource(std::function<int()> source);
  static void SetPollWait(std::function<void(unsigned ms)> wait);
  static void SetSeedSource(std::function<uint32_t()> seed);
  // Back to the state of program start (tests only; a run never resets).
  static void ResetState();

 private:
  friend TVireon* GetVireon();
  TVireon();
};

// The one instance, created on the first call.
TVireon* GetVireon();

}  // namespace brumel
