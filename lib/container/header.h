// The 52-byte container header: thirteen little-endian 32-bit words in front of the
// enciphered payload.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "tarn/tarn.h"

namespace tarn::container {

inline constexpr std::size_t kHeaderSize = 52;
inline constexpr std::size_t kHeaderWords = kHeaderSize / 4;
inline constexpr std::uint32_t kMagic1 = 0x72617571;  // "quar"
inline constexpr std::uint32_t kMagic2 = 0x74736F62;  // "bost"
inline constexpr std::uint32_t kTag = 0x0055454E;     // "NEU" and a zero byte
inline constexpr std::uint32_t kVersionA = 11;
inline constexpr std::uint32_t kVersionB = 328;
// The largest image whose container still fits the format's 32-bit sizes.
inline constexpr std::uint64_t kMaxPlainSize = 0xFFFFFFFFull - kHeaderSize;
static_assert(kHeaderSize == TARN_HEADER_SIZE && kMaxPlainSize == TARN_MAX_IMAGE_SIZE,
              "the C interface's sizes are the format's");

struct Header {
  std::uint32_t zeroWord = 0;
  std::uint32_t magic1 = 0;
  std::uint32_t magic2 = 0;
  std::uint32_t tag = 0;
  std::uint32_t reserved1 = 0;
  std::uint32_t constOne = 0;
  std::uint32_t reserved2 = 0;
  std::uint32_t payloadCrc = 0;  // CRC-32 of the container from offset 52 to its end
  std::uint32_t plainCrc = 0;    // CRC-32 of the whole plain image
  std::uint32_t versionA = 0;
  std::uint32_t reserved3 = 0;
  std::uint32_t versionB = 0;
  std::uint32_t plainSize = 0;  // size of the plain image in bytes
};

using HeaderBytes = std::array<unsigned char, kHeaderSize>;

// The header an encode starts with: the fixed words, both CRCs 0.
Header HeaderForEncode(std::uint32_t plain_size);

HeaderBytes Serialize(const Header& header);

// Reads the first n bytes (at most 52); the words beyond them stay zero.
Header Parse(const unsigned char* bytes, std::size_t n);

// The checks made before any CRC pass, in their order: the magic (TARN_NOT_A_CONTAINER), the
// versions (TARN_UNKNOWN_VERSION) and that the container is plainSize + 52 bytes long
// (TARN_WRONG_SIZE); TARN_OK when all pass.
tarn_status CheckFields(const Header& header, std::uint64_t container_size);

// Fills the fields of `info` that the header and the container's size give: its words, the
// sizes and the two CRCs. The verdict fields are left as they are.
void DescribeHeader(const Header& header, std::uint64_t container_size, tarn_info* info);

}  // namespace tarn::container
