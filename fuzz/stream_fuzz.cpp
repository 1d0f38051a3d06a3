// Fuzz target: the stream objects against the buffer calls. An image from the input is encoded
// in pieces whose sizes the input picks and must equal tarn_encode_buffer's container; that
// container, damaged as the input says (a byte changed, cut short, a byte added, another key,
// no key), is decoded in pieces and must get tarn_decode_buffer's verdict and image.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "tarn/tarn.h"

namespace {

// Piece sizes from a seed: mostly small, sometimes large, never zero.
struct Pieces {
  std::uint32_t state;
  std::size_t Next() {
    state = state * 1103515245u + 12345u;
    const std::uint32_t r = state >> 8;
    return (r & 3) == 0 ? r % 70000 + 1 : r % 17 + 1;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  tarn_key key{}, other{};
  for (std::uint32_t& w : key.words) w = provider.ConsumeIntegral<std::uint32_t>();
  other = key;
  other.words[provider.ConsumeIntegralInRange(0, 3)] ^= 1u
                                                        << provider.ConsumeIntegralInRange(0, 31);
  Pieces pieces{provider.ConsumeIntegral<std::uint32_t>()};
  const int damage = provider.ConsumeIntegralInRange(0, 5);
  const std::uint32_t where = provider.ConsumeIntegral<std::uint32_t>();
  const std::vector<std::uint8_t> image = provider.ConsumeRemainingBytes<std::uint8_t>();

  std::vector<std::uint8_t> whole(image.size() + TARN_HEADER_SIZE);
  Check(tarn_encode_buffer(image.data(), image.size(), &key, whole.data(), whole.size()) ==
        TARN_OK);
  std::vector<std::uint8_t> streamed(whole.size() + 8);
  tarn_encoder enc;
  Check(tarn_encoder_init(&enc, &key) == TARN_OK);
  std::size_t put = TARN_HEADER_SIZE, written = 0;
  for (std::size_t at = 0, n; at < image.size(); at += n) {
    n = std::min(pieces.Next(), image.size() - at);
    Check(tarn_encoder_update(&enc, image.data() + at, n, streamed.data() + put, &written) ==
          TARN_OK);
    put += written;
  }
  Check(tarn_encoder_finish(&enc, streamed.data() + put, &written, streamed.data()) == TARN_OK);
  Check(put + written == whole.size() &&
        std::memcmp(streamed.data(), whole.data(), whole.size()) == 0);

  std::vector<std::uint8_t> c = whole;
  const tarn_key* decode_key = &key;
  switch (damage) {
    case 1:
      c[where % c.size()] ^= static_cast<std::uint8_t>(where >> 24 | 1);
      break;
    case 2:
      c.resize(where % c.size());
      break;
    case 3:
      c.push_back(static_cast<std::uint8_t>(where));
      break;
    case 4:
      decode_key = &other;
      break;
    case 5:
      decode_key = nullptr;
      break;
    default:
      break;
  }
  std::vector<std::uint8_t> back(image.size() + 8), in_pieces(c.size() + 8);
  std::size_t back_size = 0;
  const tarn_status expected = decode_key == nullptr
                                   ? TARN_OK
                                   : tarn_decode_buffer(c.data(), c.size(), decode_key, back.data(),
                                                        back.size(), &back_size);
  tarn_decoder dec;
  Check(tarn_decoder_init(&dec, decode_key) == TARN_OK);
  std::size_t got = 0;
  for (std::size_t at = 0, n; at < c.size(); at += n) {
    n = std::min(pieces.Next(), c.size() - at);
    const tarn_status s =
        tarn_decoder_update(&dec, c.data() + at, n, in_pieces.data() + got, &written);
    Check(s == TARN_OK || written == 0);
    got += written;
  }
  tarn_info info{};
  const tarn_status verdict = tarn_decoder_finish(&dec, &info);
  if (decode_key == nullptr) {
    Check(got == 0 && verdict == TARN_OK && info.payload_ok == 1 && info.image_checked == 0);
    return 0;
  }
  Check(verdict == expected);
  if (verdict == TARN_OK) {
    Check(got == back_size && std::equal(back.begin(), back.begin() + got, in_pieces.begin()));
    Check(back_size == image.size() && std::equal(image.begin(), image.end(), back.begin()));
  }
  return 0;
}
