// Fuzz target: the whole decode of an arbitrary byte string taken as a container. Whatever the
// bytes, the decoder must end with one of its defined verdicts, print only its defined lines,
// and leave an output only after "Successfully.".
//
// A custom mutator keeps most inputs consistent after mutating (the size word always, both
// CRC words often), so that inputs of every length get past the header checks to the cipher,
// the tail, both verdicts and success rather than stopping at the size check.
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/pipelines.h"
#include "checksum/crc32.h"
#include "cipher/block_cipher.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_files.h"
#include "tarn/tarn.h"

namespace {

using namespace tarn;

constexpr const char* kKeyText = "0123456789ABCDEFFEDCBA9876543210";

const cipher::KeyWords& Key() {
  static const cipher::KeyWords key = (fuzz::ScratchDir(), cipher::SetKey(kKeyText));
  return key;
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

void PutWord(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t max_size);

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t max_size, unsigned int seed) {
  size = LLVMFuzzerMutate(data, size, max_size);
  if (size < TARN_HEADER_SIZE || seed % 8 == 0) return size;  // sometimes left raw
  const std::size_t payload = size - TARN_HEADER_SIZE;
  PutWord(data + 48, static_cast<std::uint32_t>(payload));
  if (seed % 4 != 0) {
    std::uint8_t* bytes = data + TARN_HEADER_SIZE;
    PutWord(data + 28, checksum::Crc32(bytes, payload));
    std::vector<std::uint8_t> plain(bytes, bytes + payload);
    cipher::DecipherBlocks(Key(), plain.data(), payload / cipher::kBlockSize);
    PutWord(data + 32, checksum::Crc32(plain.data(), payload));
  }
  return size;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::Scratch scratch;
  const auto in = fuzz::ScratchDir() / "in.cnt", out = fuzz::ScratchDir() / "out.bin";
  fuzz::WriteFile(in, data, size);

  fuzz::Captured().clear();
  int status;
  {
    app::RunState state(false, fuzz::Capture);
    state.key_words.emplace(platform::Secret::Holding(Key()));
    Check(codec::OpenInput(state.files, in.string().c_str()) == TARN_OK &&
          codec::CreateOutput(state.files, out.string().c_str()) == TARN_OK);
    status = app::RunDecode(state);
    state.console.Flush();
  }
  const std::string& console = fuzz::Captured();

  // Only defined lines, each ended by CR LF.
  std::size_t at = 0;
  while (at < console.size()) {
    const std::size_t end = console.find("\r\n", at);
    Check(end != std::string::npos && kLines.count(console.substr(at, end - at)) == 1);
    at = end + 2;
  }
  const bool succeeded =
      console.size() >= 15 && console.compare(console.size() - 15, 15, "Successfully.\r\n") == 0;
  Check(status == (succeeded ? 0 : 1));
  // An output exists only after success, and then it is the image: 52 bytes shorter, with
  // the tail carried as it was.
  Check(std::filesystem::exists(out) == succeeded);
  if (succeeded) {
    const std::string image = fuzz::ReadFile(out);
    Check(image.size() + TARN_HEADER_SIZE == size);
    const std::size_t tail = image.size() % cipher::kBlockSize;
    Check(std::memcmp(image.data() + image.size() - tail, data + size - tail, tail) == 0);
  }
  // Nothing else is left in the directory: no temporary file.
  Check(std::distance(std::filesystem::directory_iterator(fuzz::ScratchDir()),
                      std::filesystem::directory_iterator()) == (succeeded ? 2 : 1));
  return 0;
}
