// Reader and writer of INI text files with the rules of the Windows profile-string functions:
// section and key names compared without regard to case, values read up to 2047 characters,
// a section without keys counts as missing. Every write goes straight to disk: the new text
// is written to a new temporary file of its own beside the file and moved over it in one step,
// so a failed write leaves the previous file as it was. Only a regular file of at most 16 MiB
// is read; anything else at the file's name makes reads and writes fail with EIniFileError.
#pragma once
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brumel {

// Raised by a write or erase that could not reach the disk; what() is "Unable to write to "
// followed by the file path.
class EIniFileError : public std::runtime_error {
 public:
  explicit EIniFileError(const std::string& fileName);
};

// Keys and values of one section, in the order they are to be written.
using TIniValues = std::vector<std::pair<std::string, std::string>>;

class TIniFile {
 public:
  // Longest value text a read returns; longer values are cut.
  static constexpr size_t kMaxValueLength = 2047;

  // Binds the accessor to fileName; nothing is read or created yet. An empty name keeps the
  // text in memory only (nothing is ever written to disk).
  explicit TIniFile(std::string fileName);

  const std::string& FileName() const { return FileName_; }

  // The key's value (blanks around it removed, one pair of enclosing quotes removed), or def
  // when the section or key is missing (a missing file has no sections). Reads throw
  // EIniFileError when something other than a regular file of at most 16 MiB is there.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  // The key's value read as a number, or def when it is missing or does not read.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
  // ReadInteger with def as 0/1; any non-zero number is true.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;
  // True when the section lists at least one key.
  bool SectionExists(std::string_view section) const;
  // The key names of the section, in file order.
  std::vector<std::string> ReadSection(std::string_view section) const;

  // Sets the key's value, adding the key (and the section) when missing. Line breaks in
  // names and values are written as blanks so one value stays on one line.
  // Throws EIniFileError when the file cannot be written.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  // Writes the number as signed decimal text.
  void WriteInteger(std::string_view section, std::string_view key, int32_t value);
  // Sets several keys of one section in a single write: the file gets all of them or, when
  // the write fails, none. Missing keys are added in the order given.
  void WriteValues(std::string_view section, const TIniValues& values);
  // Removes the section with all its keys; a missing section is not an error.
  // Throws EIniFileError when the file cannot be written.
  void EraseSection(std::string_view section);
  // Brings the file on disk up to date. Writes are not held back, so there is nothing left to
  // write here; kept so callers can mark the end of a group of writes.
  void UpdateFile();

 private:
  std::string LoadText() const;
  void StoreText(const std::string& text);

  std::string FileName_;
  std::string MemoryText_;  // the text when FileName_ is empty
};

}  // namespace brumel
