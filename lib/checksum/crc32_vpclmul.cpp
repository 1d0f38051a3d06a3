// CRC-32 by folding with carry-less multiplication on 512-bit registers (VPCLMULQDQ): four
// registers of four 128-bit lanes each fold 256 bytes per step, are folded into one register,
// whose four lanes then end as the 128-bit path ends (crc32_fold.h, which says how the
// constants are made).
#include "checksum/crc32.h"
#include "checksum/crc32_paths.h"
#include "util/cpu.h"
#include "util/simd_mask.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include "checksum/crc32_fold.h"

#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's broadcast intrinsics for zmm registers pass an undefined vector as the unused merge
// source, which its own flow analysis then reports as maybe uninitialized.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace tarn::checksum {
namespace {

constexpr long long kFold2048Low = 0x11542778a;   // x^(2048+32) mod P
constexpr long long kFold2048High = 0x1322d1430;  // x^(2048-32) mod P
using fold::kFold512High;
using fold::kFold512Low;

// Below this the 128-bit path is as fast: the set-up and the reduction of four wide registers
// cost what a few hundred bytes do.
constexpr std::size_t kWideFrom = 1024;

#define TARN_VPCLMUL __attribute__((target("avx512f,avx512bw,avx512vl,vpclmulqdq,pclmul,sse4.1")))

TARN_VPCLMUL inline __m512i Fold(__m512i acc, __m512i next, __m512i keys) {
  const __m512i lo = _mm512_clmulepi64_epi128(acc, keys, 0x00);
  const __m512i hi = _mm512_clmulepi64_epi128(acc, keys, 0x11);
  return _mm512_ternarylogic_epi32(next, lo, hi, 0x96);  // next ^ lo ^ hi
}

TARN_VPCLMUL inline __m512i Keys(long long low, long long high) {
  return _mm512_broadcast_i32x4(_mm_set_epi64x(high, low));
}

}  // namespace

TARN_VPCLMUL std::uint32_t Crc32UpdateVpclmul(std::uint32_t reg, const void* data, std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
  if (n < kWideFrom) return Crc32UpdateClmul(reg, p, n);

  __m512i x0 = _mm512_xor_si512(_mm512_loadu_si512(p),
                                _mm512_castsi128_si512(_mm_cvtsi32_si128(static_cast<int>(reg))));
  __m512i x1 = _mm512_loadu_si512(p + 64);
  __m512i x2 = _mm512_loadu_si512(p + 128);
  __m512i x3 = _mm512_loadu_si512(p + 192);
  p += 256;
  n -= 256;
  const __m512i far = Keys(kFold2048Low, kFold2048High);
  while (n >= 256) {
    x0 = Fold(x0, _mm512_loadu_si512(p), far);
    x1 = Fold(x1, _mm512_loadu_si512(p + 64), far);
    x2 = Fold(x2, _mm512_loadu_si512(p + 128), far);
    x3 = Fold(x3, _mm512_loadu_si512(p + 192), far);
    p += 256;
    n -= 256;
  }
  const __m512i near = Keys(kFold512Low, kFold512High);
  __m512i x = Fold(x0, x1, near);
  x = Fold(x, x2, near);
  x = Fold(x, x3, near);
  while (n >= 64) {
    x = Fold(x, _mm512_loadu_si512(p), near);
    p += 64;
    n -= 64;
  }

  // Four lanes to one, then the end of the 128-bit path.
  const __m128i k3k4 = _mm_set_epi64x(fold::kFold128High, fold::kFold128Low);
  __m128i y = fold::Fold(_mm512_extracti32x4_epi32(x, 0), _mm512_extracti32x4_epi32(x, 1), k3k4);
  y = fold::Fold(y, _mm512_extracti32x4_epi32(x, 2), k3k4);
  y = fold::Fold(y, _mm512_extracti32x4_epi32(x, 3), k3k4);
  return fold::Finish(y, p, n);
}

bool Crc32VpclmulAvailable() {
  return util::Cpu().vpclmul && util::SimdAllowed("vpclmul") && Crc32ClmulAvailable();
}

}  // namespace tarn::checksum

#else

namespace tarn::checksum {
std::uint32_t Crc32UpdateVpclmul(std::uint32_t reg, const void* data, std::size_t n) {
  return Crc32UpdatePortable(reg, data, n);
}
bool Crc32VpclmulAvailable() {
  return false;
}
}  // namespace tarn::checksum

#endif
