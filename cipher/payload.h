// The payload transforms: the plain image enciphered block by block into the container after
// its header, and back. Whole 8-byte blocks are enciphered; the 1 to 7 bytes after the last
// whole block (the whole image when it is shorter than 8 bytes) are carried unchanged, so the
// payload is always exactly as long as the image.
#pragma once

#include <cstdint>

#include "cipher/key_schedule.h"
#include "platform/platform.h"

namespace tarn::cipher {

enum class PayloadStatus { kOk, kReadFailed, kWriteFailed, kNoMemory };

struct PayloadResult {
  PayloadStatus status = PayloadStatus::kOk;
  std::uint32_t in_crc = 0;   // CRC-32 of the bytes read (also after a failed decipher write)
  std::uint32_t out_crc = 0;  // CRC-32 of the bytes written
};

// A place in an open file.
struct FilePlace {
  platform::FileHandle file;
  std::uint64_t offset;
};

enum class Direction { kEncipher, kDecipher };

// Transforms exactly `size` bytes from `in` to `out`, checksumming both sides on the way.
// Fails with kReadFailed when the input does not hold exactly `size` bytes from its place
// (it was cut short or grew), with kWriteFailed when a write fails, and with kNoMemory when a
// worker gets no buffer. A decipher reads on to the end after a failed write, so that its
// in_crc is still the whole payload's. Large payloads are shared among the processor's cores;
// the bytes written are the same.
PayloadResult TransformPayload(Direction direction, const KeyWords& key, FilePlace in,
                               FilePlace out, std::uint64_t size);

// The plain image (input from offset 0) into the container (output after the header).
PayloadResult EncipherPayload(const KeyWords& key, platform::FileHandle in,
                              platform::FileHandle out, std::uint64_t plain_size);

// The container's payload (input after the header) into the plain image (output from 0).
PayloadResult DecipherPayload(const KeyWords& key, platform::FileHandle in,
                              platform::FileHandle out, std::uint64_t plain_size);

}  // namespace tarn::cipher
