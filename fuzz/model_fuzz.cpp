// Fuzz target: everything that works in memory, judged by the model (oracle.h) and fast. The
// first byte picks what the rest is:
//   0: a container under the key of bytes 1-16: the buffer decode, the decoder in pieces (its
//      update, and its bounded step with its state saved and resumed at points the input
//      picks), the check without a key, and the re-keyer to a second key, against the model's
//      verdict, image and container;
//   1: an image: the buffer encode and the encoder in pieces against the model's container;
//   2: a key's text: the hexadecimal and key-file readers and the console program's key
//      schedule against the model's reading.
// A custom mutator sets a container's size word to its length or 1 to 24 bytes off it, and
// often both CRC words right, so that every verdict and a byte or a block too many or too few
// come up often.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/key_schedule.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/oracle.h"
#include "strman/strman.h"
#include "tarn/tarn.h"

namespace {

using namespace tarn;

constexpr std::size_t kPrefix = 1 + 16 + 4;  // mode, key, a seed for pieces and pages

struct Input {
  int mode;
  tarn_key key, other;
  std::uint32_t seed;
  const std::uint8_t* rest;
  std::size_t n;
};

Input Read(const std::uint8_t* data, std::size_t size) {
  Input in{};
  in.mode = data[0] % 3;
  for (int w = 0; w < 4; ++w) in.key.words[w] = oracle::Word(data + 1 + 4 * w);
  in.other = in.key;
  in.other.words[data[1] % 4] ^= 0x80000000u >> (data[2] % 32);
  in.seed = oracle::Word(data + 17);
  in.rest = data + kPrefix;
  in.n = size - kPrefix;
  return in;
}

// Sizes from a seed: mostly small, sometimes large, never zero.
struct Sizes {
  std::uint32_t state;
  std::size_t Next() {
    state = state * 1103515245u + 12345u;
    const std::uint32_t r = state >> 8;
    return (r & 7) == 0 ? r % 5000 + 1 : r % 19 + 1;
  }
};

tarn_status StatusOf(oracle::Verdict verdict) {
  return static_cast<tarn_status>(verdict);
}

void Containers(const Input& in) {
  const std::uint8_t* c = in.rest;
  const std::size_t n = in.n;
  const oracle::Judgement model = oracle::Judge(c, n, in.key.words);
  const oracle::Judgement keyless = oracle::Judge(c, n, nullptr);

  // The buffer call.
  std::vector<std::uint8_t> image(n + 8);
  std::size_t image_size = 0;
  Check(tarn_decode_buffer(c, n, &in.key, image.data(), image.size(), &image_size) ==
        StatusOf(model.verdict));
  if (model.verdict == oracle::kOk) {
    Check(image_size == model.image.size() &&
          std::equal(model.image.begin(), model.image.end(), image.begin()));
  }

  // The decoder a step at a time into pages, its state saved and resumed now and then; and the
  // check without a key by update.
  Sizes sizes{in.seed};
  tarn_decoder dec, bare;
  Check(tarn_decoder_init(&dec, &in.key) == TARN_OK &&
        tarn_decoder_init(&bare, nullptr) == TARN_OK);
  std::vector<std::uint8_t> out(n + 8);
  std::size_t at = 0, put = 0;
  tarn_status status = TARN_OK;
  for (int turn = 0; status == TARN_OK && turn < 100000; ++turn) {
    const std::size_t offer = std::min(sizes.Next(), n - at);
    const std::size_t room = std::min(sizes.Next(), out.size() - put);
    std::size_t used = 0, written = 0;
    status = tarn_decoder_step(&dec, c + at, offer, &used, out.data() + put, room, &written);
    Check(used <= offer && written <= room);
    if (status == TARN_OK) Check(tarn_decoder_position(&dec) == at + used);
    std::size_t none = 0;
    (void)tarn_decoder_update(&bare, c + at, used, nullptr, &none);
    at += used;
    put += written;
    if (at == n && used == 0 && written == 0) break;
    if (status == TARN_OK && sizes.Next() % 5 == 0) {
      std::uint8_t blob[TARN_RESUME_SIZE];
      Check(tarn_decoder_save(&dec, blob) == TARN_OK);
      std::memset(&dec, 0xA5, sizeof dec);
      Check(tarn_decoder_resume(&dec, &in.key, blob) == TARN_OK);
    }
  }
  tarn_info info, bare_info;
  const tarn_status verdict = tarn_decoder_finish(&dec, &info);
  Check(verdict == StatusOf(model.verdict));
  Check(info.payload_checked == model.payload_checked &&
        info.image_checked == model.image_checked && info.payload_ok == model.payload_ok &&
        info.image_ok == model.image_ok);
  if (verdict == TARN_OK) {
    Check(put == model.image.size() &&
          std::equal(model.image.begin(), model.image.end(), out.begin()));
  }
  Check(tarn_decoder_finish(&bare, &bare_info) == StatusOf(keyless.verdict));

  // The re-keyer: the model's container of the same image under the other key.
  tarn_rekeyer rk;
  Check(tarn_rekeyer_init(&rk, &in.key, &in.other) == TARN_OK);
  std::vector<std::uint8_t> again(n + 8);
  std::size_t front = 0;
  for (at = 0; at < n;) {
    const std::size_t take = std::min(sizes.Next(), n - at);
    std::size_t written = 0;
    if (tarn_rekeyer_update(&rk, c + at, take, again.data() + TARN_HEADER_SIZE + front, &written) !=
        TARN_OK) {
      break;
    }
    front += written;
    at += take;
  }
  Check(tarn_rekeyer_finish(&rk, again.data(), nullptr) == StatusOf(model.verdict));
  if (model.verdict == oracle::kOk) {
    const std::vector<std::uint8_t> expected =
        oracle::Encode(in.other.words, model.image.data(), model.image.size());
    Check(front + TARN_HEADER_SIZE == expected.size() &&
          std::equal(expected.begin(), expected.end(), again.begin()));
  }
}

void Images(const Input& in) {
  const std::vector<std::uint8_t> model = oracle::Encode(in.key.words, in.rest, in.n);
  std::vector<std::uint8_t> whole(model.size());
  Check(tarn_encode_buffer(in.rest, in.n, &in.key, whole.data(), whole.size()) == TARN_OK);
  Check(whole == model);
  Sizes sizes{in.seed};
  tarn_encoder enc;
  Check(tarn_encoder_init(&enc, &in.key) == TARN_OK);
  std::vector<std::uint8_t> streamed(model.size() + 8);
  std::size_t put = TARN_HEADER_SIZE, written = 0;
  for (std::size_t at = 0, n; at < in.n; at += n) {
    n = std::min(sizes.Next(), in.n - at);
    Check(tarn_encoder_update(&enc, in.rest + at, n, streamed.data() + put, &written) == TARN_OK);
    put += written;
  }
  Check(tarn_encoder_finish(&enc, streamed.data() + put, &written, streamed.data()) == TARN_OK);
  Check(put + written == model.size() && std::equal(model.begin(), model.end(), streamed.begin()));
}

// A key file's text as the model reads it: an optional byte-order mark, blanks, the digits,
// then blanks and line endings; at most 4 KiB.
bool ModelKeyText(const std::uint8_t* text, std::size_t n, std::uint32_t k[4]) {
  if (n > 4096) return false;
  std::size_t begin = 0, end = n;
  if (n >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF) begin = 3;
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && std::strchr(" \t\r\n", text[end - 1]) != nullptr && text[end - 1] != 0) {
    --end;
  }
  return oracle::KeyFromHex(reinterpret_cast<const char*>(text + begin), end - begin, k);
}

void Keys(const Input& in) {
  const char* text = reinterpret_cast<const char*>(in.rest);
  std::uint32_t model[4] = {};
  tarn_key parsed{};
  const bool hex = oracle::KeyFromHex(text, in.n, model);
  Check((tarn_key_from_hex(text, in.n, &parsed) == TARN_OK) == hex);
  if (hex) Check(std::memcmp(parsed.words, model, sizeof model) == 0);
  const bool file = ModelKeyText(in.rest, in.n, model);
  Check((tarn_key_from_text(text, in.n, &parsed) == TARN_OK) == file);
  if (file) Check(std::memcmp(parsed.words, model, sizeof model) == 0);
  // The console program's schedule, for the 32 characters its command line checks.
  if (in.n == 32) {
    bool schedule_ok = true;
    cipher::KeyWords words;
    try {
      words = cipher::SetKey(std::string(text, 32));
    } catch (...) {
      schedule_ok = false;
    }
    Check(schedule_ok == hex);
    if (hex)
      Check(words.k0 == model[0] && words.k1 == model[1] && words.k2 == model[2] &&
            words.k3 == model[3]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  oracle::SelfCheck();
  tarn::StrManStartup();  // the console program's toolkit, for its key schedule
  return 0;
}

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t max_size);

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t max_size, unsigned int seed) {
  size = LLVMFuzzerMutate(data, size, max_size);
  if (size < kPrefix + 52 || data[0] % 3 != 0 || seed % 8 == 0) return size;  // left raw
  std::uint8_t* c = data + kPrefix;
  const std::size_t payload = size - kPrefix - 52;
  // The size word: the length, or 1 to 24 bytes off it either way.
  const std::uint32_t off = seed / 8 % 2 == 0 ? (seed >> 8) % 24 + 1 : 0;
  oracle::PutWord(c + 48,
                  static_cast<std::uint32_t>(seed & 0x10000 ? payload - off : payload + off));
  if (seed % 4 != 0) oracle::PutWord(c + 28, oracle::Crc(c + 52, payload));
  if (seed % 2 != 0) {
    const Input in = Read(data, size);
    const std::vector<std::uint8_t> image = oracle::Decipher(in.key.words, c + 52, payload);
    oracle::PutWord(c + 32, oracle::Crc(image.data(), image.size()));
  }
  return size;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kPrefix) return 0;
  const Input in = Read(data, size);
  if (in.mode == 0) Containers(in);
  if (in.mode == 1) Images(in);
  if (in.mode == 2) Keys(in);
  return 0;
}
