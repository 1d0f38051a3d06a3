// Fuzz target: the whole decode of an arbitrary byte string taken as a container. Whatever the
// bytes, the decoder must end with one of its defined verdicts, print only its defined lines,
// and leave an output only after "Successfully.".
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>

#include "app/pipelines.h"
#include "strman/strman.h"

namespace {

namespace fs = std::filesystem;
using namespace tarn;

std::string g_console;
int Capture(const char* data, std::size_t n) {
  g_console.append(data, n);
  return 0;
}

const fs::path& WorkDir() {
  static const fs::path dir = [] {
    fs::path d =
        fs::temp_directory_path() / ("tarn-decode-fuzz-" + std::to_string(std::random_device{}()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

const std::set<std::string> kLines = {
    "Error: unknown magic!",
    "Error: unknown input file version!",
    "Error: wrong file size!",
    "Error: incorrect input file header!",
    "Checking crc... FAILED",
    "Checking crc... OK",
    "Error: wrong crc32 of crypted data!",
    "Error: wrong crc32 of encrypted data!",
    "Decrypting. Please wait... Done",
    "Successfully.",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool started = (StrManStartup(), true);
  (void)started;
  const fs::path in = WorkDir() / "in.cnt", out = WorkDir() / "out.bin";
  std::ofstream(in, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  g_console.clear();
  app::RunState state(false, Capture);
  state.key = cipher::SetKey("0123456789ABCDEFFEDCBA9876543210");
  if (!state.input.Open(in.string()) || !state.output.Create(out.string(), state.input.handle())) {
    __builtin_trap();
  }
  const int status = app::RunDecode(state);
  state.console.Flush();

  // Only defined lines, each ended by CR LF.
  std::size_t at = 0;
  while (at < g_console.size()) {
    const std::size_t end = g_console.find("\r\n", at);
    if (end == std::string::npos || kLines.count(g_console.substr(at, end - at)) == 0)
      __builtin_trap();
    at = end + 2;
  }
  const bool succeeded = g_console.size() >= 15 &&
                         g_console.compare(g_console.size() - 15, 15, "Successfully.\r\n") == 0;
  if (status != (succeeded ? 0 : 1)) __builtin_trap();
  // An output exists only after success, and then it is the image: 52 bytes shorter.
  if (fs::exists(out) != succeeded) __builtin_trap();
  if (succeeded && fs::file_size(out) + 52 != size) __builtin_trap();
  if (std::distance(fs::directory_iterator(WorkDir()), fs::directory_iterator()) !=
      (succeeded ? 2 : 1)) {
    __builtin_trap();  // a temporary file was left behind
  }
  fs::remove(out);
  return 0;
}
