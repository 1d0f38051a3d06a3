// What the fuzz targets of the file calls share: a scratch folder of their own, reading a file
// back, and a write that fails part way.
#pragma once

#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "tarn/tarn.h"

namespace tarn::fuzz {

inline const std::filesystem::path& Dir() {
  static const std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      ("tarn-api-fuzz-" + std::to_string(std::random_device{}()));
  return dir;
}

struct Scratch {
  Scratch() { std::filesystem::create_directories(Dir()); }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(Dir(), ignored);
  }
};

inline std::vector<std::uint8_t> Read(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A write that fails part way: the process may write files of fewer bytes than the output
// needs (a limit the input picks), so the call must fail as a write failure, publish nothing
// and leave no unfinished file. The limit is lifted again before anything else writes.
template <typename Call>
void NoRoom(std::size_t size, std::size_t n, const Call& call) {
  rlimit old{};
  Check(getrlimit(RLIMIT_FSIZE, &old) == 0);
  rlimit low = old;
  low.rlim_cur = (size * 977) % n;
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  Check(setrlimit(RLIMIT_FSIZE, &low) == 0);
  const tarn_status status = call();
  Check(setrlimit(RLIMIT_FSIZE, &old) == 0);
  std::signal(SIGXFSZ, previous);
  Check(status == TARN_WRITE_FAILED);
  for (const auto& entry : std::filesystem::directory_iterator(Dir())) {
    Check(entry.path().filename().string().rfind(".tarn-", 0) != 0);
  }
}

}  // namespace tarn::fuzz
