// Small aids shared by the unit tests of every room.
#pragma once
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace brumel::test {

using Clock = std::chrono::steady_clock;

// Milliseconds since start.
inline long ElapsedMs(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// A fresh folder under the system temp folder, removed with everything in it at the end.
class TempFolder {
 public:
  TempFolder() {
    std::random_device rd;
    auto stamp = Clock::now().time_since_epoch().count();
    Path_ = std::filesystem::temp_directory_path() /
            ("brumel-test-" + std::to_string(stamp) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(Path_);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(Path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string Folder() const { return Path_.string(); }
  // Path of a file in the folder, as the tool's own code takes it.
  std::string File(const std::string& name) const { return (Path_ / name).string(); }
  // Writes a file in the folder and gives its path.
  std::string WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string path = File(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  static void Write(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static bool Exists(const std::string& path) { return std::filesystem::exists(path); }

 private:
  std::filesystem::path Path_;
};

}  // namespace brumel::test
