// The 64-bit block cipher of the payload: 32 Feistel rounds on two 32-bit halves under the
// four key words. Blocks are independent (no chaining), so many can be processed at once.
//
// A block is 8 bytes: v0 is bytes 0-3 and v1 bytes 4-7, each little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cipher/key.h"

namespace tarn::cipher {

inline constexpr std::size_t kBlockSize = 8;

void EncipherBlock(std::uint32_t& v0, std::uint32_t& v1, const KeyWords& key);
void DecipherBlock(std::uint32_t& v0, std::uint32_t& v1, const KeyWords& key);

// Enciphers or deciphers `count` blocks in place, with the fastest path the processor has.
void EncipherBlocks(const KeyWords& key, unsigned char* data, std::size_t count);
void DecipherBlocks(const KeyWords& key, unsigned char* data, std::size_t count);

}  // namespace tarn::cipher
