// tarn_encoder_*: an image taken a piece at a time into the payload, and the header last.
#include <cstring>
#include <new>

#include "checksum/crc32.h"
#include "cipher/block_cipher.h"
#include "stream/stream.h"

namespace tarn::stream {
namespace {

EncoderState* Live(tarn_encoder* enc) {
  return stream::Live<EncoderState>(enc, kEncoderLive);
}

// Enciphers n bytes (whole blocks) from `in` into `out`, both checksums on the way.
void Blocks(EncoderState* s, const cipher::KeyWords& key, const std::uint8_t* in, std::size_t n,
            std::uint8_t* out) {
  while (n > 0) {
    const std::size_t m = n < kStretch ? n : kStretch;
    s->plain_reg = checksum::Crc32Update(s->plain_reg, in, m);
    if (out != in) std::memcpy(out, in, m);
    cipher::EncipherBlocks(key, out, m / cipher::kBlockSize);
    s->payload_reg = checksum::Crc32Update(s->payload_reg, out, m);
    in += m;
    out += m;
    n -= m;
  }
}

}  // namespace
}  // namespace tarn::stream

using namespace tarn::stream;

extern "C" {

tarn_status tarn_encoder_init(tarn_encoder* enc, const tarn_key* key) {
  if (enc == nullptr || key == nullptr) return TARN_INVALID_ARGUMENT;
  std::memset(enc, 0, sizeof *enc);
  // Zeroed storage holds a zeroed EncoderState: it is made of integers alone.
  auto* s = std::launder(reinterpret_cast<EncoderState*>(enc->opaque));
  std::memcpy(s->key, key->words, sizeof s->key);
  s->plain_reg = s->payload_reg = tarn::checksum::kCrc32Start;
  s->live = kEncoderLive;
  return TARN_OK;
}

tarn_status tarn_encoder_update(tarn_encoder* enc, const void* in, size_t size, void* out,
                                size_t* written) {
  EncoderState* s = Live(enc);
  if (s == nullptr || written == nullptr || (size != 0 && (in == nullptr || out == nullptr))) {
    return TARN_INVALID_ARGUMENT;
  }
  *written = 0;
  if (s->failed != TARN_OK) return static_cast<tarn_status>(s->failed);
  if (size > tarn::container::kMaxPlainSize - s->size) return Fail(s, TARN_TOO_LARGE);
  s->size += size;
  if (size == 0) return TARN_OK;  // `in` and `out` may be NULL then
  const auto* p = static_cast<const std::uint8_t*>(in);
  auto* o = static_cast<std::uint8_t*>(out);
  const tarn::cipher::KeyWords key = KeyOf(*s);
  if (s->held_count != 0) {
    // Complete the block begun by earlier pieces.
    const std::size_t take = size < 8u - s->held_count ? size : 8u - s->held_count;
    std::memcpy(s->held + s->held_count, p, take);
    s->held_count = static_cast<std::uint8_t>(s->held_count + take);
    p += take;
    size -= take;
    if (s->held_count < 8) return TARN_OK;
    Blocks(s, key, s->held, 8, o);
    Wipe(s->held, sizeof s->held);
    s->held_count = 0;
    o += 8;
  }
  const std::size_t whole = size & ~std::size_t{7};
  Blocks(s, key, p, whole, o);
  o += whole;
  std::memcpy(s->held, p + whole, size - whole);
  s->held_count = static_cast<std::uint8_t>(size - whole);
  *written = static_cast<std::size_t>(o - static_cast<std::uint8_t*>(out));
  return TARN_OK;
}

tarn_status tarn_encoder_finish(tarn_encoder* enc, void* out, size_t* written,
                                uint8_t header[TARN_HEADER_SIZE]) {
  EncoderState* s = Live(enc);
  if (s == nullptr || out == nullptr || written == nullptr || header == nullptr) {
    return TARN_INVALID_ARGUMENT;
  }
  *written = 0;
  if (s->failed != TARN_OK) return static_cast<tarn_status>(s->failed);
  // The last 1 to 7 bytes of the image are its tail: they go out as they are.
  const std::size_t tail = s->held_count;
  std::memcpy(out, s->held, tail);
  s->plain_reg = tarn::checksum::Crc32Update(s->plain_reg, s->held, tail);
  s->payload_reg = tarn::checksum::Crc32Update(s->payload_reg, s->held, tail);
  tarn::container::Header h = tarn::container::HeaderForEncode(static_cast<std::uint32_t>(s->size));
  h.plainCrc = ~s->plain_reg;
  h.payloadCrc = ~s->payload_reg;
  const tarn::container::HeaderBytes bytes = tarn::container::Serialize(h);
  std::memcpy(header, bytes.data(), bytes.size());
  *written = tail;
  Wipe(s, sizeof *s);
  return TARN_OK;
}

}  // extern "C"
