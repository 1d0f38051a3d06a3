// Scratch files for the file-level fuzz targets, and the console captured instead of printed.
// Each input gets its directory afresh and removes it when it is done (libFuzzer may end the
// process without running exit handlers), so a run leaves nothing behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "strman/strman.h"

namespace tarn::fuzz {

inline const std::filesystem::path& ScratchDir() {
  static const std::filesystem::path dir = [] {
    StrManStartup();
    return std::filesystem::temp_directory_path() /
           ("tarn-fuzz-" + std::to_string(std::random_device{}()));
  }();
  return dir;
}

// The scratch directory for one input, removed when the object goes.
class Scratch {
 public:
  Scratch() { std::filesystem::create_directories(ScratchDir()); }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(ScratchDir(), ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
};

inline std::string& Captured() {
  static std::string console;
  return console;
}

inline int Capture(const char* data, std::size_t n) {
  Captured().append(data, n);
  return 0;
}

inline void WriteFile(const std::filesystem::path& path, const std::uint8_t* data,
                      std::size_t size) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace tarn::fuzz
