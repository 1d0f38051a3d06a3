// The individual paths of the block cipher, behind the one dispatch point in block_cipher.h;
// for that dispatch, the tests that check every path and the benchmarks. Each path has the
// contract of EncipherBlocks and DecipherBlocks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cipher/key.h"
#include "core/core.h"

namespace tarn::cipher {

// The round constant and the sum a decipher starts from (32 times the constant).
inline constexpr std::uint32_t kDelta = TARNC_DELTA;
inline constexpr std::uint32_t kDecipherStart = TARNC_DECIPHER_START;
inline constexpr int kRounds = TARNC_ROUNDS;

void EncipherBlocksScalar(const KeyWords& key, unsigned char* data, std::size_t count);
void DecipherBlocksScalar(const KeyWords& key, unsigned char* data, std::size_t count);
// Only when CipherVectorAvailable() is true: four blocks per 128-bit vector of the target's
// own vector unit (SSE2, NEON, ...), named by CipherVectorName().
void EncipherBlocksVector(const KeyWords& key, unsigned char* data, std::size_t count);
void DecipherBlocksVector(const KeyWords& key, unsigned char* data, std::size_t count);
bool CipherVectorAvailable();
const char* CipherVectorName();
// Only when CipherAvx2Available() is true.
void EncipherBlocksAvx2(const KeyWords& key, unsigned char* data, std::size_t count);
void DecipherBlocksAvx2(const KeyWords& key, unsigned char* data, std::size_t count);
bool CipherAvx2Available();
// Only when CipherAvx512Available() is true (x86-64 with AVX-512 F, BW and VL); the last
// blocks go through the AVX2 path.
void EncipherBlocksAvx512(const KeyWords& key, unsigned char* data, std::size_t count);
void DecipherBlocksAvx512(const KeyWords& key, unsigned char* data, std::size_t count);
bool CipherAvx512Available();

}  // namespace tarn::cipher
