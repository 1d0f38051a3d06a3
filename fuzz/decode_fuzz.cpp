// Fuzz target: the whole decode of an arbitrary byte string taken as a container, judged by the
// model (oracle.h): the decoder must give the model's verdict in its defined lines, and leave an
// output, the model's image, only after "Successfully.".
//
// A custom mutator keeps most inputs consistent after mutating (the size word most often, both
// CRC words often, all from the model), so that inputs of every length get past the header
// checks to the cipher, the tail, both verdicts and success; and it sets the size word 1 to 24
// bytes off the length as often, the containers a byte or a block too short or too long.
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/pipelines.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_files.h"
#include "fuzz/oracle.h"
#include "tarn/tarn.h"

namespace {

using namespace tarn;

constexpr const char* kKeyText = "0123456789ABCDEFFEDCBA9876543210";

const cipher::KeyWords& Key() {
  static const cipher::KeyWords key =
      (fuzz::ScratchDir(), oracle::SelfCheck(), cipher::SetKey(kKeyText));
  return key;
}

const std::uint32_t* ModelKey() {
  static std::uint32_t words[4];
  static const bool parsed = oracle::KeyFromHex(kKeyText, 32, words);
  return parsed ? words : nullptr;
}

// The line that ends a failed decode, for each of the model's verdicts.
const char* LastLine(oracle::Verdict verdict) {
  switch (verdict) {
    case oracle::kNotAContainer:
    case oracle::kUnknownVersion:
    case oracle::kWrongSize:
    case oracle::kPayloadDamaged:
      return "Error: incorrect input file header!";
    case oracle::kImageMismatch:
      return "Error: wrong crc32 of encrypted data!";
    case oracle::kOk:
      break;
  }
  return "Successfully.";
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
  // The size word: the length, or 1 to 24 bytes off it either way.
  const std::uint32_t off = seed / 8 % 3 == 0 ? (seed >> 8) % 24 + 1 : 0;
  PutWord(data + 48, static_cast<std::uint32_t>(seed & 0x10000 ? payload - off : payload + off));
  if (seed % 4 != 0) {
    const std::uint8_t* bytes = data + TARN_HEADER_SIZE;
    PutWord(data + 28, oracle::Crc(bytes, payload));
    const std::vector<std::uint8_t> plain = oracle::Decipher(ModelKey(), bytes, payload);
    PutWord(data + 32, oracle::Crc(plain.data(), payload));
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
  // The model's verdict, in the line that ends the run; an output exists only after success,
  // and then it is the model's image.
  const oracle::Judgement model = oracle::Judge(data, size, ModelKey());
  const std::string last = LastLine(model.verdict) + std::string("\r\n");
  Check(console.size() >= last.size() &&
        console.compare(console.size() - last.size(), last.size(), last) == 0);
  Check(succeeded == (model.verdict == oracle::kOk));
  Check(std::filesystem::exists(out) == succeeded);
  if (succeeded) {
    Check(fuzz::ReadFile(out) == std::string(model.image.begin(), model.image.end()));
  }
  // Nothing else is left in the directory: no temporary file.
  Check(std::distance(std::filesystem::directory_iterator(fuzz::ScratchDir()),
                      std::filesystem::directory_iterator()) == (succeeded ? 2 : 1));
  return 0;
}
