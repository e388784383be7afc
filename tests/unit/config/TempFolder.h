// A fresh folder under the system temp folder, removed with everything in it at the end.
#pragma once
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace brumel::test {

class TempFolder {
 public:
  TempFolder() {
    std::random_device rd;
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    Path_ = std::filesystem::temp_directory_path() /
            ("brumel-config-" + std::to_string(stamp) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(Path_);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(Path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Path of a file in the folder, as the tool's own code takes it.
  std::string File(const std::string& name) const { return (Path_ / name).string(); }

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
