// The simulator's two outputs for people and tests: the log file named by BRUMEL_SIM_LOG (one
// line per report or packet received) and notices on stderr (what the LEDs show).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace brumel::sim {

// "00 10 00 FF": uppercase hexadecimal pairs separated by one blank.
std::string HexBytes(const uint8_t* bytes, size_t length);

// Appends "<hex bytes> | <meaning>\n" to the log file named by BRUMEL_SIM_LOG, if the variable
// is set and not empty. The file is opened in append mode for each line and the line is written
// with one call, so lines from several threads or processes do not mix.
void LogReceived(const uint8_t* bytes, size_t length, const std::string& meaning);

// Appends one line (a line break is added) to the log file, the same way.
void LogLine(const std::string& line);

// Prints "[sim] <text>" on stderr. Colour notices ("... colour RR GG BB ...") also get a
// coloured swatch when stderr is a terminal.
void ShowNotice(const std::string& text);

}  // namespace brumel::sim
