// Fuzz target: the public C interface judged by a model of its own (fuzz/oracle.h). Each input
// is a key and a container; the buffer, file, verify and stream calls must all give the
// verdict the model predicts, with the model's image, the model's info fields and nothing of
// an image left on a failure. The key's text and every status's text are checked too. Images
// larger than the file calls' unit of work are large_fuzz's.
//
// A custom mutator fixes up the size word and, most of the time, the payload's CRC, and half
// the time the image's CRC under the input's key, with the model's CRC and cipher, so that
// inputs reach every verdict rather than stopping at the header.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "fuzz/file_calls.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/oracle.h"
#include "tarn/tarn.h"

namespace {

namespace oracle = tarn::oracle;
using tarn::fuzz::Dir;
using tarn::fuzz::Read;
using tarn::fuzz::Scratch;

// The input: 16 bytes of key words, one byte of choices, then the container.
constexpr std::size_t kKeyBytes = 16, kPrefix = 17;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  oracle::SelfCheck();
  return 0;
}

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t max_size);

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t max_size, unsigned int seed) {
  size = LLVMFuzzerMutate(data, size, max_size);
  if (size < kPrefix + 52 || seed % 8 == 0) return size;  // sometimes left raw
  std::uint8_t* c = data + kPrefix;
  const std::size_t n = size - kPrefix;
  oracle::PutWord(c + 48, static_cast<std::uint32_t>(n - 52));
  if (seed % 4 != 0) oracle::PutWord(c + 28, oracle::Crc(c + 52, n - 52));
  if (seed % 2 != 0) {
    const std::uint32_t k[4] = {oracle::Word(data), oracle::Word(data + 4), oracle::Word(data + 8),
                                oracle::Word(data + 12)};
    const std::vector<std::uint8_t> image = oracle::Decipher(k, c + 52, n - 52);
    oracle::PutWord(c + 32, oracle::Crc(image.data(), image.size()));
  }
  return size;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kPrefix) return 0;
  const Scratch scratch;
  const std::uint8_t choices = data[kKeyBytes];
  const std::uint8_t* c = data + kPrefix;
  const std::size_t n = size - kPrefix;
  tarn_key key;
  for (int w = 0; w < 4; ++w) key.words[w] = oracle::Word(data + 4 * w);
  const bool keyed = (choices & 1) == 0;
  const oracle::Judgement expected = oracle::Judge(c, n, keyed ? key.words : nullptr);
  const auto status = static_cast<tarn_status>(expected.verdict);
  const std::size_t image_size = n > 52 ? n - 52 : 0;

  // The buffer call, with room for the image and with a byte too little.
  if (keyed) {
    std::vector<std::uint8_t> image(image_size + 1, 0);
    std::size_t got = 12345;
    Check(tarn_decode_buffer(c, n, &key, image.data(), image.size(), &got) == status);
    if (status == TARN_OK) {
      Check(got == expected.image.size() &&
            std::equal(expected.image.begin(), expected.image.end(), image.begin()));
    } else {
      Check(std::all_of(image.begin(), image.end(), [](std::uint8_t b) { return b == 0; }));
    }
    // No room at all, as a caller probing for the size passes: never a byte written.
    // The verdicts that need no room come first; then a too small buffer is the verdict.
    const bool before_room = status != TARN_OK && status != TARN_IMAGE_MISMATCH;
    Check(tarn_decode_buffer(c, n, &key, nullptr, 0, &got) ==
          (before_room || image_size == 0 ? status : TARN_TOO_LARGE));
    if (status == TARN_OK && image_size > 0) {
      std::fill(image.begin(), image.end(), 0);
      Check(tarn_decode_buffer(c, n, &key, image.data(), image_size - 1, &got) == TARN_TOO_LARGE);
      Check(std::all_of(image.begin(), image.end(), [](std::uint8_t b) { return b == 0; }));
    }
  }

  // The file calls: the same verdict, the same info, an output only when it is the image.
  const auto in = Dir() / "in.cnt", out = Dir() / "out.bin";
  std::ofstream(in, std::ios::binary)
      .write(reinterpret_cast<const char*>(c), static_cast<std::streamsize>(n));
  tarn_info info;
  Check(tarn_verify_file(in.c_str(), keyed ? &key : nullptr, &info, nullptr, nullptr) == status);
  Check(info.container_size == n && info.payload_checked == expected.payload_checked &&
        info.payload_ok == expected.payload_ok && info.image_checked == expected.image_checked &&
        info.image_ok == expected.image_ok);
  if (n >= 52)
    Check(info.image_size == oracle::Word(c + 48) && info.payload_crc == oracle::Word(c + 28));
  if (keyed) {
    Check(tarn_decode_file(in.c_str(), out.c_str(), &key, nullptr, nullptr) == status);
    Check(std::filesystem::exists(out) == (status == TARN_OK));
    if (status == TARN_OK) Check(Read(out) == expected.image);
  }

  // The stream decoder in pieces the input cuts.
  tarn_decoder dec;
  Check(tarn_decoder_init(&dec, keyed ? &key : nullptr) == TARN_OK);
  std::vector<std::uint8_t> streamed(n + 8);
  std::size_t at = 0, put = 0, piece = (choices >> 1) % 61 + 1;
  while (at < n) {
    const std::size_t take = std::min(piece, n - at);
    std::size_t written = 0;
    const tarn_status s = tarn_decoder_update(&dec, c + at, take, streamed.data() + put, &written);
    Check(s == TARN_OK || s == status);
    put += written;
    at += take;
    piece = piece * 3 % 4099 + 1;
  }
  tarn_info streamed_info;
  Check(tarn_decoder_finish(&dec, &streamed_info) == status);
  Check(std::memcmp(&streamed_info, &info, sizeof info) == 0);
  if (status == TARN_OK && keyed) {
    Check(put == expected.image.size() &&
          std::equal(expected.image.begin(), expected.image.end(), streamed.begin()));
  }

  // The key's text, and a text for every status and beyond.
  std::uint32_t model[4];
  tarn_key parsed;
  const bool hex =
      oracle::KeyFromHex(reinterpret_cast<const char*>(c), std::min<std::size_t>(n, 32), model);
  Check((tarn_key_from_hex(reinterpret_cast<const char*>(c), std::min<std::size_t>(n, 32),
                           &parsed) == TARN_OK) == hex);
  if (hex) Check(std::memcmp(parsed.words, model, sizeof model) == 0);
  const char* text = tarn_status_string(static_cast<tarn_status>(choices % 16));
  Check(text != nullptr && text[0] != '\0');
  return 0;
}
