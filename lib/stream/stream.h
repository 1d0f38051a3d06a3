// The incremental codec behind tarn_encoder_* and tarn_decoder_*: the layout of the two
// objects in the caller's memory and what both need. Freestanding, like everything the
// objects reach: no heap, no operating system, no threads, no exceptions, nothing of the C
// library but memcpy and memset, so that the same code runs on a microcontroller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "cipher/key.h"
#include "container/header.h"
#include "tarn/tarn.h"

namespace tarn::stream {

// Marks an object that init prepared and finish has not ended; anything else is refused.
inline constexpr std::uint32_t kEncoderLive = 0x54454E43;  // "TENC"
inline constexpr std::uint32_t kDecoderLive = 0x54444543;  // "TDEC"

// The public objects take `in` and `out` apart. The buffer calls also run them in place, with
// `out` the very pointer `in` is, which works while no bytes of a block are held back: one
// piece after the header, or a first piece of the image.

// Bytes the kernels get at a time: small enough that a stretch is still in the cache between
// the checksum, the cipher and the second checksum.
inline constexpr std::size_t kStretch = std::size_t{64} << 10;

struct EncoderState {
  std::uint64_t size;   // image bytes taken so far
  std::uint32_t live;   // kEncoderLive
  std::int32_t failed;  // a tarn_status that every later call gives, or TARN_OK
  std::uint32_t key[4];
  std::uint32_t plain_reg;    // CRC-32 register over the image
  std::uint32_t payload_reg;  // over the payload written
  std::uint8_t held[8];       // the bytes of a block not yet whole
  std::uint8_t held_count;
};

struct DecoderState {
  std::uint64_t received;  // container bytes taken so far
  std::uint32_t live;      // kDecoderLive
  std::int32_t failed;
  std::uint32_t key[4];
  std::uint32_t payload_reg;
  std::uint32_t plain_reg;
  std::uint8_t header[container::kHeaderSize];
  std::uint8_t held[8];
  std::uint8_t held_count;
  std::uint8_t has_key;
};

static_assert(sizeof(EncoderState) <= sizeof(tarn_encoder), "the encoder outgrew its object");
static_assert(sizeof(DecoderState) <= sizeof(tarn_decoder), "the decoder outgrew its object");
static_assert(alignof(EncoderState) <= alignof(tarn_encoder) &&
              alignof(DecoderState) <= alignof(tarn_decoder));

// Overwrites n bytes in a way the compiler may not drop (the objects are the caller's, and
// may go out of use right after).
inline void Wipe(void* bytes, std::size_t n) {
  auto* p = static_cast<volatile std::uint8_t*>(bytes);
  for (std::size_t i = 0; i < n; ++i) p[i] = 0;
}

// The state in an object's storage when init made it and finish has not ended it; else null.
template <typename State, typename Object>
State* Live(Object* object, std::uint32_t live) {
  if (object == nullptr) return nullptr;
  auto* s = std::launder(reinterpret_cast<State*>(object->opaque));
  return s->live == live ? s : nullptr;
}

// Ends an object in failure: its key and held bytes wiped, the status kept for every later call.
template <typename State>
tarn_status Fail(State* s, tarn_status status) {
  Wipe(s->key, sizeof s->key);
  Wipe(s->held, sizeof s->held);
  s->failed = status;
  return status;
}

template <typename State>
cipher::KeyWords KeyOf(const State& s) {
  return {s.key[0], s.key[1], s.key[2], s.key[3]};
}

}  // namespace tarn::stream
