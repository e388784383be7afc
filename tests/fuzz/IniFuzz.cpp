// The INI reader and writer, given any file text, then one write and one erase. What the reader
// reports of every other section and key must be the same after each of them.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>

#include "FuzzSupport.h"
#include "config/IniFile.h"

namespace {

using Snapshot = std::map<std::pair<std::string, std::string>, std::string>;

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return std::string();
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// Every name that a line of the text could open a section with; the reader decides which are
// sections. Section names are compared without regard to case or surrounding blanks, so the
// key of each is its trimmed, upper-cased form.
std::map<std::string, std::string> SectionCandidates(const std::string& text) {
  std::map<std::string, std::string> names;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    const size_t open = line.find_first_not_of(" \t");
    if (open != std::string::npos && line[open] == '[') {
      const size_t close = line.find(']', open);
      const std::string name =
          line.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
      for (const std::string& n : {Trim(name), Trim(std::string(name.c_str()))}) {
        names.emplace(Upper(n), n);
      }
    }
    pos = end + 1;
  }
  return names;
}

Snapshot Take(const brumel::TIniFile& ini, const std::map<std::string, std::string>& sections) {
  Snapshot s;
  for (const auto& [upper, name] : sections) {
    for (const std::string& key : ini.ReadSection(name)) {
      s.emplace(std::make_pair(upper, Upper(key)), ini.ReadString(name, key, "\x01missing"));
    }
  }
  return s;
}

// A name or value the oracle can compare without the reader's trimming and quoting rules.
std::string Plain(FuzzedDataProvider& in, size_t maxLength) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_";
  const size_t n = in.ConsumeIntegralInRange<size_t>(1, maxLength);
  std::string s;
  for (size_t i = 0; i < n; ++i) s += kAlphabet[in.ConsumeIntegralInRange<size_t>(0, 62)];
  return s;
}

void CheckUnchanged(const Snapshot& before, const Snapshot& after, const std::string& skipSection,
                    const std::string& skipKey) {
  for (const auto& [where, value] : before) {
    if (where.first == skipSection && (skipKey.empty() || where.second == skipKey)) continue;
    const auto it = after.find(where);
    if (it == after.end() || it->second != value) {
      std::fprintf(stderr, "[%s] %s was \"%s\", now %s\n", where.first.c_str(),
                   where.second.c_str(), value.c_str(),
                   it == after.end() ? "gone" : ("\"" + it->second + "\"").c_str());
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string section = Plain(in, 12);
  const std::string key = Plain(in, 12);
  const std::string value = Plain(in, 40);
  const size_t eraseChoice = in.ConsumeIntegral<size_t>();
  const std::string text = in.ConsumeRemainingBytesAsString();
  const std::string path = fuzz::WriteScratchFile(
      "fuzz.ini", reinterpret_cast<const uint8_t*>(text.data()), text.size());

  brumel::TIniFile ini(path);
  auto sections = SectionCandidates(text);
  sections.emplace(Upper(section), section);
  const Snapshot original = Take(ini, sections);

  // One write: the key reads back as written, nothing else changes.
  if (std::getenv("BRUMEL_FUZZ_TRACE")) {
    std::fprintf(stderr, "write [%s] %s=%s\n", section.c_str(), key.c_str(), value.c_str());
  }
  ini.WriteString(section, key, value);
  if (ini.ReadString(section, key, "") != value) std::abort();
  const Snapshot written = Take(ini, sections);
  CheckUnchanged(original, written, Upper(section), Upper(key));

  // One erase, of a section of the file or of the one written: it is gone, nothing else changes.
  auto pick = sections.begin();
  std::advance(pick, static_cast<long>(eraseChoice % sections.size()));
  const std::string erased = pick->second;
  if (std::getenv("BRUMEL_FUZZ_TRACE")) std::fprintf(stderr, "erase [%s]\n", erased.c_str());
  ini.EraseSection(erased);
  if (ini.SectionExists(erased)) std::abort();
  CheckUnchanged(written, Take(ini, sections), Upper(erased), "");
  return 0;
}
