#include "config/IniFile.h"

#include <cstdint>

#include "config/NumberText.h"
#include "platform/Files.h"

namespace brumel {

namespace {

const std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// Names and values are written on one line: line breaks become blanks.
std::string OneLine(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out;
}

enum class LineKind { Other, Section, Key };

struct Line {
  std::string text;  // the line as it stands in the file, without its line break
  LineKind kind = LineKind::Other;
  std::string name;   // section or key name, blanks around it removed
  std::string value;  // key value, blanks around it removed
};

Line ParseLine(std::string text) {
  Line line;
  line.text = std::move(text);
  std::string_view t = Trim(line.text);
  if (t.empty() || t.front() == ';') return line;
  if (t.front() == '[') {
    size_t close = t.rfind(']');
    if (close != std::string_view::npos && close > 0) {
      line.kind = LineKind::Section;
      line.name = std::string(Trim(t.substr(1, close - 1)));
    }
    return line;
  }
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return line;
  line.kind = LineKind::Key;
  line.name = std::string(Trim(t.substr(0, eq)));
  line.value = std::string(Trim(t.substr(eq + 1)));
  return line;
}

// The file as a list of lines. Lines before the first section header belong to no section.
struct Document {
  bool bom = false;
  std::vector<Line> lines;

  static Document Parse(std::string_view text) {
    Document doc;
    if (text.substr(0, kBom.size()) == kBom) {
      doc.bom = true;
      text.remove_prefix(kBom.size());
    }
    while (!text.empty()) {
      size_t nl = text.find('\n');
      std::string_view raw = text.substr(0, nl);
      text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
      if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
      doc.lines.push_back(ParseLine(std::string(raw)));
    }
    return doc;
  }

  std::string Text() const {
    std::string out;
    if (bom) out += kBom;
    for (const Line& line : lines) {
      out += line.text;
      out += "\r\n";
    }
    return out;
  }

  // [begin, end) of every section with the given name: the header and the lines up to the
  // next header.
  std::vector<std::pair<size_t, size_t>> Sections(std::string_view name) const {
    std::vector<std::pair<size_t, size_t>> found;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].kind != LineKind::Section || !SameName(lines[i].name, name)) continue;
      size_t end = i + 1;
      while (end < lines.size() && lines[end].kind != LineKind::Section) ++end;
      found.emplace_back(i, end);
    }
    return found;
  }

  // Index of the first key of that name in a section of that name, or npos.
  size_t FindKey(std::string_view section, std::string_view key) const {
    for (auto [begin, end] : Sections(section))
      for (size_t i = begin + 1; i < end; ++i)
        if (lines[i].kind == LineKind::Key && SameName(lines[i].name, key)) return i;
    return std::string::npos;
  }
};

// Far above anything the tool writes; a larger file is not read.
constexpr uint64_t kMaxFileBytes = 16u * 1024 * 1024;

}  // namespace

EIniFileError::EIniFileError(const std::string& fileName)
    : std::runtime_error("Unable to write to " + fileName) {}

TIniFile::TIniFile(std::string fileName) : FileName_(std::move(fileName)) {}

std::string TIniFile::LoadText() const {
  if (FileName_.empty()) return MemoryText_;
  std::string text;
  switch (plat::ReadRegularFile(FileName_, kMaxFileBytes, text)) {
    case plat::FileRead::Ok:
      return text;
    case plat::FileRead::Missing:
      return {};  // created by the first write
    default:
      // A folder, a FIFO, a device, a file too large or one that cannot be opened: the file
      // can be neither read nor written.
      throw EIniFileError(FileName_);
  }
}

void TIniFile::StoreText(const std::string& text) {
  if (FileName_.empty()) {
    MemoryText_ = text;
    return;
  }
  if (!plat::WriteFileReplacing(FileName_, text)) throw EIniFileError(FileName_);
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const {
  Document doc = Document::Parse(LoadText());
  size_t i = doc.FindKey(section, key);
  std::string_view value = i == std::string::npos ? def : std::string_view(doc.lines[i].value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return std::string(value.substr(0, kMaxValueLength));
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key, int32_t def) const {
  return ReadNumberOr(ReadString(section, key, ""), def);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::SectionExists(std::string_view section) const {
  Document doc = Document::Parse(LoadText());
  for (auto [begin, end] : doc.Sections(section))
    for (size_t i = begin + 1; i < end; ++i)
      if (doc.lines[i].kind == LineKind::Key) return true;
  return false;
}

std::vector<std::string> TIniFile::ReadSection(std::string_view section) const {
  Document doc = Document::Parse(LoadText());
  std::vector<std::string> keys;
  for (auto [begin, end] : doc.Sections(section))
    for (size_t i = begin + 1; i < end; ++i)
      if (doc.lines[i].kind == LineKind::Key) keys.push_back(doc.lines[i].name);
  return keys;
}

namespace {

// Sets one key in the document; false when the file would not change.
bool SetValue(Document& doc, std::string_view section, std::string_view key,
              std::string_view value) {
  const std::string sectionName = OneLine(Trim(section));
  const std::string keyName = OneLine(Trim(key));
  const std::string text = OneLine(value);

  size_t i = doc.FindKey(sectionName, keyName);
  if (i != std::string::npos) {
    std::string newText = doc.lines[i].name + "=" + text;
    if (newText == doc.lines[i].text) return false;
    doc.lines[i] = ParseLine(std::move(newText));
    return true;
  }
  auto sections = doc.Sections(sectionName);
  Line keyLine = ParseLine(keyName + "=" + text);
  if (!sections.empty()) {
    // After the last line of the first such section that is not blank.
    auto [begin, end] = sections.front();
    size_t at = end;
    while (at > begin + 1 && doc.lines[at - 1].kind == LineKind::Other &&
           Trim(doc.lines[at - 1].text).empty())
      --at;
    doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(keyLine));
  } else {
    if (!doc.lines.empty() && !Trim(doc.lines.back().text).empty())
      doc.lines.push_back(ParseLine(""));
    doc.lines.push_back(ParseLine("[" + sectionName + "]"));
    doc.lines.push_back(std::move(keyLine));
  }
  return true;
}

}  // namespace

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  Document doc = Document::Parse(LoadText());
  if (SetValue(doc, section, key, value)) StoreText(doc.Text());
}

void TIniFile::WriteValues(std::string_view section, const TIniValues& values) {
  Document doc = Document::Parse(LoadText());
  bool changed = false;
  for (const auto& [key, value] : values) changed = SetValue(doc, section, key, value) || changed;
  if (changed) StoreText(doc.Text());
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::EraseSection(std::string_view section) {
  Document doc = Document::Parse(LoadText());
  auto sections = doc.Sections(Trim(section));
  if (sections.empty()) return;
  auto blank = [&](size_t i) {
    return doc.lines[i].kind == LineKind::Other && Trim(doc.lines[i].text).empty();
  };
  // Every range is taken from the file as it stands; lines are marked first and removed in one
  // pass, so no range can reach into a line that belongs to another section.
  std::vector<bool> drop(doc.lines.size(), false);
  for (auto [begin, end] : sections) {
    // Blank lines after the section separate it from the next one: keep them, and take the
    // blank line that separated this section from the one before instead.
    while (end > begin + 1 && blank(end - 1)) --end;
    if (begin > 0 && blank(begin - 1)) {
      --begin;
    } else if (begin == 0) {
      while (end < doc.lines.size() && blank(end)) ++end;
    }
    for (size_t i = begin; i < end; ++i) drop[i] = true;
  }
  std::vector<Line> kept;
  for (size_t i = 0; i < doc.lines.size(); ++i)
    if (!drop[i]) kept.push_back(std::move(doc.lines[i]));
  doc.lines = std::move(kept);
  StoreText(doc.Text());
}

void TIniFile::UpdateFile() {}

}  // namespace brumel
