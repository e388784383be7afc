// A small INI reader for scenario files: "[Section]" lines, "Key=Value" lines, comments
// starting with ";" or "#" (also after a value). Section and key names compare without regard
// to case; values keep their case with surrounding blanks removed.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace brumel::sim {

struct IniEntry {
  std::string section;  // as written, without brackets
  std::string key;      // as written
  std::string value;
  int line = 0;  // 1-based line number in the text
};

struct IniText {
  std::vector<std::string> sections;  // every section header, in order of appearance
  std::vector<IniEntry> entries;      // every key line, in order of appearance
};

// Parses the text. On a malformed line (no "=", an empty key, a key before any section, an
// unclosed "[") returns false with a message naming the line.
bool ParseIni(std::string_view text, IniText& out, std::string& error);

// Case-insensitive comparison of two ASCII names.
bool SameName(std::string_view a, std::string_view b);

}  // namespace brumel::sim
