// The one rule for "reads as a number", shared by the command line, the INI reader and the
// update description: optional leading blanks, an optional sign, then decimal digits, or
// hexadecimal digits after "$", "x", "X", "0x" or "0X"; nothing may follow. Decimal values
// must fit 32 signed bits; hexadecimal values may use all 32 bits and read as the signed
// value with the same bits (FFFFFFFF reads as -1).
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace brumel {

std::optional<int32_t> ReadNumber(std::string_view text);
// ReadNumber with default: def when the text does not read.
int32_t ReadNumberOr(std::string_view text, int32_t def);

}  // namespace brumel
