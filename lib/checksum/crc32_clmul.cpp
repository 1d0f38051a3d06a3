// CRC-32 by folding with carry-less multiplication (PCLMULQDQ): four 128-bit accumulators
// fold 64 bytes per step, are folded into one, then reduced to 32 bits by a Barrett
// reduction. The constants are powers of x modulo the bit-reflected polynomial.
#include "checksum/crc32.h"
#include "checksum/crc32_paths.h"
#include "util/cpu.h"
#include "util/simd_mask.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace tarn::checksum {
namespace {

constexpr long long kK1 = 0x154442bd4;  // x^(4*128+32) mod P, x^(4*128-32) mod P
constexpr long long kK2 = 0x1c6e41596;
constexpr long long kK3 = 0x1751997d0;  // x^(128+32) mod P, x^(128-32) mod P
constexpr long long kK4 = 0x0ccaa009e;
constexpr long long kK5 = 0x163cd6124;    // x^64 mod P
constexpr long long kPoly = 0x1DB710641;  // P(x), reflected
constexpr long long kMu = 0x1F7011641;    // floor(x^64 / P(x)), reflected

#define TARN_CLMUL __attribute__((target("pclmul,sse4.1")))

TARN_CLMUL inline __m128i Load(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

TARN_CLMUL inline __m128i Fold(__m128i acc, __m128i next, __m128i keys) {
  const __m128i lo = _mm_clmulepi64_si128(acc, keys, 0x00);
  const __m128i hi = _mm_clmulepi64_si128(acc, keys, 0x11);
  return _mm_xor_si128(_mm_xor_si128(next, lo), hi);
}

}  // namespace

TARN_CLMUL std::uint32_t Crc32UpdateClmul(std::uint32_t reg, const void* data, std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
  if (n < 64) return Crc32UpdatePortable(reg, p, n);

  __m128i x3 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
  __m128i x2 = Load(p + 16);
  __m128i x1 = Load(p + 32);
  __m128i x0 = Load(p + 48);
  p += 64;
  n -= 64;

  const __m128i k1k2 = _mm_set_epi64x(kK2, kK1);
  while (n >= 64) {
    x3 = Fold(x3, Load(p), k1k2);
    x2 = Fold(x2, Load(p + 16), k1k2);
    x1 = Fold(x1, Load(p + 32), k1k2);
    x0 = Fold(x0, Load(p + 48), k1k2);
    p += 64;
    n -= 64;
  }

  const __m128i k3k4 = _mm_set_epi64x(kK4, kK3);
  __m128i x = Fold(x3, x2, k3k4);
  x = Fold(x, x1, k3k4);
  x = Fold(x, x0, k3k4);
  while (n >= 16) {
    x = Fold(x, Load(p), k3k4);
    p += 16;
    n -= 16;
  }

  // 128 bits to 64.
  const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
  x = _mm_xor_si128(_mm_clmulepi64_si128(x, k3k4, 0x10), _mm_srli_si128(x, 8));
  x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), _mm_set_epi64x(0, kK5), 0x00),
                    _mm_srli_si128(x, 4));
  // Barrett reduction, 64 bits to 32.
  const __m128i pu = _mm_set_epi64x(kMu, kPoly);
  const __m128i t1 = _mm_clmulepi64_si128(_mm_and_si128(x, low32), pu, 0x10);
  const __m128i t2 = _mm_clmulepi64_si128(_mm_and_si128(t1, low32), pu, 0x00);
  const auto folded = static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t2), 1));
  return Crc32UpdatePortable(folded, p, n);
}

bool Crc32ClmulAvailable() {
  return util::Cpu().pclmul && util::Cpu().sse41 && util::SimdAllowed("clmul");
}

}  // namespace tarn::checksum

#else

namespace tarn::checksum {
std::uint32_t Crc32UpdateClmul(std::uint32_t reg, const void* data, std::size_t n) {
  return Crc32UpdatePortable(reg, data, n);
}
bool Crc32ClmulAvailable() {
  return false;
}
}  // namespace tarn::checksum

#endif
