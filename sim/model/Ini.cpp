#include "sim/model/Ini.h"

#include <cctype>

namespace brumel::sim {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::string_view StripComment(std::string_view s) {
  const size_t cut = s.find_first_of(";#");
  return cut == std::string_view::npos ? s : s.substr(0, cut);
}

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

bool ParseIni(std::string_view text, IniText& out, std::string& error) {
  out = IniText{};
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::string section;
  bool haveSection = false;
  int lineNo = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    ++lineNo;
    const size_t end = text.find('\n', pos);
    std::string_view line =
        text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    pos = end == std::string_view::npos ? text.size() : end + 1;
    line = Trim(StripComment(line));
    if (line.empty()) continue;
    const std::string where = "line " + std::to_string(lineNo) + ": ";
    if (line.front() == '[') {
      if (line.back() != ']') {
        error = where + "section header without \"]\"";
        return false;
      }
      section = std::string(Trim(line.substr(1, line.size() - 2)));
      if (section.empty()) {
        error = where + "empty section name";
        return false;
      }
      haveSection = true;
      out.sections.push_back(section);
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      error = where + "expected Key=Value or [Section]";
      return false;
    }
    const std::string_view key = Trim(line.substr(0, eq));
    if (key.empty()) {
      error = where + "empty key";
      return false;
    }
    if (!haveSection) {
      error = where + "key \"" + std::string(key) + "\" outside any section";
      return false;
    }
    out.entries.push_back(
        IniEntry{section, std::string(key), std::string(Trim(line.substr(eq + 1))), lineNo});
  }
  return true;
}

}  // namespace brumel::sim
