// The command line and the number rule, given any arguments.
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "app/Options.h"
#include "config/NumberText.h"
#include "isp/RunOptions.h"
#include "isp/UpdateIni.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::QuietStdout();
  const std::string text(reinterpret_cast<const char*>(data), size);

  // The number rule: plain decimal digits that fit read as themselves.
  const auto number = brumel::ReadNumber(text);
  if (!text.empty() && text.size() <= 9 &&
      text.find_first_not_of("0123456789") == std::string::npos) {
    int32_t expected = 0;
    std::from_chars(text.data(), text.data() + text.size(), expected);
    if (!number || *number != expected) std::abort();
  }

  // Arguments: the input split at line breaks (an empty line is an empty argument).
  std::vector<std::string> args{"BrumelISP"};
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\n') {
      args.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  brumel::RunOptions() = brumel::RunOptionsRecord{};
  const bool usable = brumel::ParseArguments(static_cast<int>(args.size()), argv.data());
  const brumel::RunOptionsRecord& o = brumel::RunOptions();
  // A usable command line never stands with an option error, and an accepted interface is 0-3.
  if (usable && o.ArgumentError) std::abort();
  if (o.HasInterface && (o.InterfaceNumber < 0 || o.InterfaceNumber > 3)) std::abort();
  brumel::ReleaseUpdateDescription();
  return 0;
}
