// What the folding CRC-32 paths share (x86 only; included by crc32_clmul.cpp and
// crc32_vpclmul.cpp): the 128-bit fold, and the end of every fold, from one accumulator of 128
// bits through the last 16-byte steps and the reductions to the 32-bit register. The
// constants are powers of x modulo the bit-reflected polynomial: for a fold over D bits,
// x^(D+32) and x^(D-32), reflected and shifted left by one.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "checksum/crc32_paths.h"

#define TARN_CLMUL __attribute__((target("pclmul,sse4.1")))

namespace tarn::checksum::fold {

inline constexpr long long kFold512Low = 0x154442bd4;   // x^(4*128+32) mod P
inline constexpr long long kFold512High = 0x1c6e41596;  // x^(4*128-32) mod P
inline constexpr long long kFold128Low = 0x1751997d0;   // x^(128+32) mod P
inline constexpr long long kFold128High = 0x0ccaa009e;  // x^(128-32) mod P
inline constexpr long long kX64 = 0x163cd6124;          // x^64 mod P
inline constexpr long long kPoly = 0x1DB710641;         // P(x), reflected
inline constexpr long long kMu = 0x1F7011641;           // floor(x^64 / P(x)), reflected

TARN_CLMUL inline __m128i Load(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

TARN_CLMUL inline __m128i Fold(__m128i acc, __m128i next, __m128i keys) {
  const __m128i lo = _mm_clmulepi64_si128(acc, keys, 0x00);
  const __m128i hi = _mm_clmulepi64_si128(acc, keys, 0x11);
  return _mm_xor_si128(_mm_xor_si128(next, lo), hi);
}

// The register after the accumulator `x` and the n bytes left at p.
TARN_CLMUL inline std::uint32_t Finish(__m128i x, const unsigned char* p, std::size_t n) {
  const __m128i k3k4 = _mm_set_epi64x(kFold128High, kFold128Low);
  for (; n >= 16; p += 16, n -= 16) x = Fold(x, Load(p), k3k4);
  // 128 bits to 64.
  const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
  x = _mm_xor_si128(_mm_clmulepi64_si128(x, k3k4, 0x10), _mm_srli_si128(x, 8));
  x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), _mm_set_epi64x(0, kX64), 0x00),
                    _mm_srli_si128(x, 4));
  // Barrett reduction, 64 bits to 32.
  const __m128i pu = _mm_set_epi64x(kMu, kPoly);
  const __m128i t1 = _mm_clmulepi64_si128(_mm_and_si128(x, low32), pu, 0x10);
  const __m128i t2 = _mm_clmulepi64_si128(_mm_and_si128(t1, low32), pu, 0x00);
  const auto folded = static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t2), 1));
  return Crc32UpdatePortable(folded, p, n);
}

}  // namespace tarn::checksum::fold
