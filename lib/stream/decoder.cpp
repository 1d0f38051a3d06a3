// tarn_decoder_*: a container taken a piece at a time: the header checked as soon as its words
// are in, the payload checksummed and deciphered as it passes, the verdict at the end.
#include <cstring>
#include <new>

#include "checksum/crc32.h"
#include "cipher/block_cipher.h"
#include "stream/stream.h"

namespace tarn::stream {
namespace {

using container::kHeaderSize;

DecoderState* Live(tarn_decoder* dec) {
  return stream::Live<DecoderState>(dec, kDecoderLive);
}

// The header as far as the stream brought it, the words beyond that zero.
container::Header HeaderOf(const DecoderState& s, std::uint64_t have) {
  return container::Parse(s.header,
                          have < kHeaderSize ? static_cast<std::size_t>(have) : kHeaderSize);
}

// The checks the header's words allow once `have` of its bytes are in: the magic from the
// 12th byte on, the versions from the 48th.
tarn_status CheckSoFar(const DecoderState& s, std::uint64_t have) {
  const tarn_status check = container::CheckFields(HeaderOf(s, have), 0);
  if (have >= 12 && check == TARN_NOT_A_CONTAINER) return check;
  if (have >= 48 && check == TARN_UNKNOWN_VERSION) return check;
  return TARN_OK;
}

// The payload's bytes from `offset` (within the payload) on: checksummed, and with a key
// deciphered into `out` as whole blocks up to `blocks_end` and a tail carried as it is.
// Returns the bytes written.
std::size_t Payload(DecoderState* s, std::uint64_t blocks_end, std::uint64_t offset,
                    const std::uint8_t* in, std::size_t n, std::uint8_t* out) {
  const cipher::KeyWords key = KeyOf(*s);
  std::uint8_t* const start = out;
  while (n > 0) {
    if (!s->has_key) {
      const std::size_t m = n < kStretch ? n : kStretch;
      s->payload_reg = checksum::Crc32Update(s->payload_reg, in, m);
      in += m;
      n -= m;
      continue;
    }
    if (s->held_count != 0 || (offset < blocks_end && n < 8)) {
      // A block split between pieces: gather it, then decipher it whole.
      const std::size_t take = n < 8u - s->held_count ? n : 8u - s->held_count;
      s->payload_reg = checksum::Crc32Update(s->payload_reg, in, take);
      std::memcpy(s->held + s->held_count, in, take);
      s->held_count = static_cast<std::uint8_t>(s->held_count + take);
      in += take;
      n -= take;
      offset += take;
      if (s->held_count == 8) {
        std::memcpy(out, s->held, 8);
        cipher::DecipherBlocks(key, out, 1);
        s->plain_reg = checksum::Crc32Update(s->plain_reg, out, 8);
        Wipe(s->held, sizeof s->held);
        s->held_count = 0;
        out += 8;
      }
      continue;
    }
    // Whole blocks while they last, then the tail as it is.
    std::size_t m = n < kStretch ? n : kStretch;
    const bool blocks = offset < blocks_end;
    if (blocks) {
      if (m > blocks_end - offset) m = static_cast<std::size_t>(blocks_end - offset);
      m &= ~std::size_t{7};
    }
    s->payload_reg = checksum::Crc32Update(s->payload_reg, in, m);
    if (out != in) std::memcpy(out, in, m);
    if (blocks) cipher::DecipherBlocks(key, out, m / cipher::kBlockSize);
    s->plain_reg = checksum::Crc32Update(s->plain_reg, out, m);
    in += m;
    out += m;
    n -= m;
    offset += m;
  }
  return static_cast<std::size_t>(out - start);
}

}  // namespace
}  // namespace tarn::stream

using namespace tarn::stream;

extern "C" {

tarn_status tarn_decoder_init(tarn_decoder* dec, const tarn_key* key) {
  if (dec == nullptr) return TARN_INVALID_ARGUMENT;
  std::memset(dec, 0, sizeof *dec);
  // Zeroed storage holds a zeroed DecoderState: it is made of integers alone.
  auto* s = std::launder(reinterpret_cast<DecoderState*>(dec->opaque));
  if (key != nullptr) {
    std::memcpy(s->key, key->words, sizeof s->key);
    s->has_key = 1;
  }
  s->payload_reg = s->plain_reg = tarn::checksum::kCrc32Start;
  s->live = kDecoderLive;
  return TARN_OK;
}

tarn_status tarn_decoder_update(tarn_decoder* dec, const void* in, size_t size, void* out,
                                size_t* written) {
  DecoderState* s = Live(dec);
  if (s == nullptr || written == nullptr || (size != 0 && in == nullptr) ||
      (size != 0 && s->has_key && s->failed == TARN_OK && out == nullptr)) {
    return TARN_INVALID_ARGUMENT;
  }
  *written = 0;
  const auto* p = static_cast<const std::uint8_t*>(in);
  std::uint64_t at = s->received;
  s->received += size;  // counted after a failure too: finish describes the whole stream
  if (size == 0) return static_cast<tarn_status>(s->failed);  // `in` may be NULL then
  if (at < kHeaderSize) {
    // The header's bytes are kept even after a failure, for the words finish reports.
    const std::size_t take =
        size < kHeaderSize - at ? size : static_cast<std::size_t>(kHeaderSize - at);
    std::memcpy(s->header + at, p, take);
    p += take;
    size -= take;
    at += take;
    if (s->failed != TARN_OK) return static_cast<tarn_status>(s->failed);
    if (const tarn_status early = CheckSoFar(*s, at); early != TARN_OK) return Fail(s, early);
    if (size == 0) return TARN_OK;
  }
  if (s->failed != TARN_OK) return static_cast<tarn_status>(s->failed);
  const std::uint64_t plain_size = HeaderOf(*s, at).plainSize;
  if (s->received > plain_size + kHeaderSize) return Fail(s, TARN_WRONG_SIZE);
  *written = Payload(s, plain_size & ~std::uint64_t{7}, at - kHeaderSize, p, size,
                     static_cast<std::uint8_t*>(out));
  return TARN_OK;
}

tarn_status tarn_decoder_finish(tarn_decoder* dec, tarn_info* info) {
  DecoderState* s = Live(dec);
  if (s == nullptr) return TARN_INVALID_ARGUMENT;
  const tarn::container::Header h = HeaderOf(*s, s->received);
  tarn_status status = static_cast<tarn_status>(s->failed);
  if (status == TARN_OK) status = tarn::container::CheckFields(h, s->received);
  const bool payload_checked =
      status == TARN_OK || status == TARN_PAYLOAD_DAMAGED || status == TARN_IMAGE_MISMATCH;
  const bool payload_ok = payload_checked && ~s->payload_reg == h.payloadCrc;
  const bool image_checked = payload_ok && s->has_key;
  const bool image_ok = image_checked && ~s->plain_reg == h.plainCrc;
  if (status == TARN_OK && !payload_ok) status = TARN_PAYLOAD_DAMAGED;
  if (status == TARN_OK && image_checked && !image_ok) status = TARN_IMAGE_MISMATCH;
  if (info != nullptr) {
    std::memset(info, 0, sizeof *info);
    tarn::container::DescribeHeader(h, s->received, info);
    info->payload_checked = payload_checked ? 1 : 0;
    info->payload_ok = payload_ok ? 1 : 0;
    info->image_checked = image_checked ? 1 : 0;
    info->image_ok = image_ok ? 1 : 0;
  }
  if (status != TARN_OK) return Fail(s, status);
  Wipe(s, sizeof *s);
  return TARN_OK;
}

}  // extern "C"
