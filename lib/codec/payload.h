// The payload transform: a stretch of one file read once, deciphered and/or enciphered block
// by block, checksummed on the way, and written to another file or to nowhere. Whole 8-byte
// blocks are transformed; the 1 to 7 bytes after the last whole block (the whole stretch when
// it is shorter than 8 bytes) are carried unchanged, so what is written is always exactly as
// long as what is read.
#pragma once

#include <cstdint>

#include "cipher/key.h"
#include "platform/platform.h"
#include "tarn/tarn.h"

namespace tarn::codec {

struct PayloadResult {
  // TARN_OK, or why the pass stopped: TARN_READ_FAILED, TARN_WRITE_FAILED, TARN_NO_MEMORY,
  // TARN_CANCELLED.
  tarn_status status = TARN_OK;
  std::uint32_t in_crc = 0;     // CRC-32 of the bytes read
  std::uint32_t plain_crc = 0;  // CRC-32 after the decipher (the bytes read when none)
  std::uint32_t out_crc = 0;    // CRC-32 of the bytes produced
};

// A place in an open file; a file of kNoFile as the output means the bytes go nowhere.
struct FilePlace {
  platform::FileHandle file;
  std::uint64_t offset;
};

// What happens to each block: a decipher under one key, then an encipher under another; either
// may be left out (nullptr), both for a checksum of the bytes alone.
struct Transform {
  const cipher::KeyWords* decipher = nullptr;
  const cipher::KeyWords* encipher = nullptr;
};

// Called on the calling thread after each stretch, with the bytes done and the bytes in all;
// true stops the transform (TARN_CANCELLED).
struct Progress {
  bool (*report)(void* context, std::uint64_t done, std::uint64_t total) = nullptr;
  void* context = nullptr;
};

// Transforms exactly `size` bytes from `in` to `out`, checksumming on the way. Fails with
// TARN_READ_FAILED when the input does not hold exactly `size` bytes from its place (it was
// cut short or grew), with TARN_WRITE_FAILED when a write fails, with TARN_NO_MEMORY when a
// worker gets no buffer, and with TARN_CANCELLED when the progress report asks to stop. A
// transform that deciphers reads on to the end after a failed write, so that its in_crc is
// still the whole stretch's. Large payloads are shared among the processor's cores; the bytes
// produced are the same.
PayloadResult TransformPayload(const Transform& transform, FilePlace in, FilePlace out,
                               std::uint64_t size, Progress progress = {});

}  // namespace tarn::codec
