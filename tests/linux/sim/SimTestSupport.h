// Small helpers shared by the simulator tests: ISP request packets and a scratch folder.
#pragma once
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/model/ControllerModel.h"

namespace simtest {

// An ISP request as the tool frames it: command at bytes 0-1, number at h, payload at 2h.
inline brumel::sim::Packet IspRequest(uint16_t code, uint16_t number, unsigned h = 4,
                                      uint32_t payload = 0) {
  brumel::sim::Packet p{};
  p[0] = static_cast<uint8_t>(code);
  p[1] = static_cast<uint8_t>(code >> 8);
  p[h] = static_cast<uint8_t>(number);
  p[h + 1] = static_cast<uint8_t>(number >> 8);
  for (unsigned i = 0; i < 4; ++i) p[2 * h + i] = static_cast<uint8_t>(payload >> (8 * i));
  return p;
}

inline uint16_t Word16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t Word32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void Put32(uint8_t* at, int32_t value) {
  for (int b = 0; b < 4; ++b) at[b] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * b));
}

// The lines of a text file (a simulator's log); none when it cannot be read.
inline std::vector<std::string> FileLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Whether any of the lines holds `text`.
inline bool Logged(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& line : lines)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "brumel-sim-XXXXXX").string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream(File(name), std::ios::binary) << text;
    return File(name);
  }
  bool Ok() const { return !path_.empty(); }

 private:
  std::string path_;
};

}  // namespace simtest
