// The command line: parsing into the run options and the usage text.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace brumel {

// Fills RunOptions() from the arguments after the program name; true when the command line
// is usable. Prints "*** Arguments Fail ***" when an option error stands at the end.
bool ParseArguments(int argc, char** argv);
void PrintUsage();

// ASCII upper case, as the option names and values are compared.
std::string UpperCase(std::string_view text);
// The fields of a "/MODE" value: split at ":" and at blanks outside double quotes.
std::vector<std::string> SplitModeFields(std::string_view value);

}  // namespace brumel
