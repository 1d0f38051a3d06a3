// CRC-32 by folding with carry-less multiplication (PCLMULQDQ): four 128-bit accumulators
// fold 64 bytes per step, are folded into one, then reduced to 32 bits (crc32_fold.h).
#include "checksum/crc32.h"
#include "checksum/crc32_paths.h"
#include "util/cpu.h"
#include "util/simd_mask.h"

#if defined(__x86_64__) || defined(__i386__)
#include "checksum/crc32_fold.h"

namespace tarn::checksum {

using fold::Fold;
using fold::Load;

TARN_CLMUL std::uint32_t Crc32UpdateClmul(std::uint32_t reg, const void* data, std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
  if (n < 64) return Crc32UpdatePortable(reg, p, n);

  __m128i x3 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
  __m128i x2 = Load(p + 16);
  __m128i x1 = Load(p + 32);
  __m128i x0 = Load(p + 48);
  p += 64;
  n -= 64;

  const __m128i k1k2 = _mm_set_epi64x(fold::kFold512High, fold::kFold512Low);
  while (n >= 64) {
    x3 = Fold(x3, Load(p), k1k2);
    x2 = Fold(x2, Load(p + 16), k1k2);
    x1 = Fold(x1, Load(p + 32), k1k2);
    x0 = Fold(x0, Load(p + 48), k1k2);
    p += 64;
    n -= 64;
  }

  const __m128i k3k4 = _mm_set_epi64x(fold::kFold128High, fold::kFold128Low);
  __m128i x = Fold(x3, x2, k3k4);
  x = Fold(x, x1, k3k4);
  x = Fold(x, x0, k3k4);
  return fold::Finish(x, p, n);
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
