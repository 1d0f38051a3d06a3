// The block cipher on AVX-512: sixteen blocks per 512-bit register, their v0 halves in one
// register and their v1 halves in another, and eight such groups interleaved. The 32 vector
// registers hold the sixteen halves, a scratch register per group and the four key words, so
// the compiled rounds need no spill (the AVX2 path, with 16 registers, needed hand-written
// assembly for that).
#include "cipher/block_cipher.h"
#include "cipher/block_cipher_paths.h"
#include "util/cpu.h"
#include "util/simd_mask.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#define TARN_AVX512 \
  __attribute__((target("avx512f,avx512bw,avx512vl,avx2"), TARN_KERNEL_ATTRIBUTES))

#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's shift intrinsics for zmm registers pass an undefined vector as the unused merge
// source, which its own flow analysis then reports as maybe uninitialized.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace tarn::cipher {
namespace {

constexpr std::size_t kBlocksPerGroup = 16;
constexpr std::size_t kGroupBytes = 128;
constexpr int kGroups = 8;

struct KeyVectors {
  __m512i k0, k1, k2, k3;
};

// Splits 128 bytes (sixteen blocks) into their v0 and v1 halves, and back.
TARN_AVX512 inline void Load(const unsigned char* p, __m512i* v0, __m512i* v1) {
  const __m512i a = _mm512_loadu_si512(p);
  const __m512i b = _mm512_loadu_si512(p + 64);
  const __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
  const __m512i odd = _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
  *v0 = _mm512_permutex2var_epi32(a, even, b);
  *v1 = _mm512_permutex2var_epi32(a, odd, b);
}

TARN_AVX512 inline void Store(unsigned char* p, __m512i v0, __m512i v1) {
  const __m512i low = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
  const __m512i high =
      _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
  _mm512_storeu_si512(p, _mm512_permutex2var_epi32(v0, low, v1));
  _mm512_storeu_si512(p + 64, _mm512_permutex2var_epi32(v0, high, v1));
}

template <bool kAdd>
TARN_AVX512 inline __m512i Apply(__m512i target, __m512i x) {
  return kAdd ? _mm512_add_epi32(target, x) : _mm512_sub_epi32(target, x);
}

// target op= (v << 4) + kb + (ka ^ v) + ((v >> 5) ^ sum) on every group, step by step across
// the groups so that independent work is always ready.
template <int N, bool kAdd>
TARN_AVX512 inline void HalfRound(__m512i (&target)[N], const __m512i (&v)[N], __m512i ka,
                                  __m512i kb, __m512i sum) {
  __m512i a[N], b[N];
  for (int g = 0; g < N; ++g) a[g] = _mm512_slli_epi32(v[g], 4);
  for (int g = 0; g < N; ++g) target[g] = Apply<kAdd>(target[g], kb);
  for (int g = 0; g < N; ++g) b[g] = _mm512_xor_si512(v[g], ka);
  for (int g = 0; g < N; ++g) target[g] = Apply<kAdd>(target[g], a[g]);
  for (int g = 0; g < N; ++g) a[g] = _mm512_srli_epi32(v[g], 5);
  for (int g = 0; g < N; ++g) target[g] = Apply<kAdd>(target[g], b[g]);
  for (int g = 0; g < N; ++g) a[g] = _mm512_xor_si512(a[g], sum);
  for (int g = 0; g < N; ++g) target[g] = Apply<kAdd>(target[g], a[g]);
}

template <int N, bool kEncipher>
TARN_AVX512 inline void Groups(const KeyVectors& k, unsigned char* p) {
  __m512i v0[N], v1[N];
  for (int g = 0; g < N; ++g) Load(p + kGroupBytes * g, &v0[g], &v1[g]);
  const __m512i delta = _mm512_set1_epi32(static_cast<int>(kDelta));
  if constexpr (kEncipher) {
    __m512i sum = _mm512_setzero_si512();
    for (int round = 0; round < kRounds; ++round) {
      sum = _mm512_add_epi32(sum, delta);
      HalfRound<N, true>(v0, v1, k.k0, k.k1, sum);
      HalfRound<N, true>(v1, v0, k.k2, k.k3, sum);
    }
  } else {
    __m512i sum = _mm512_set1_epi32(static_cast<int>(kDecipherStart));
    for (int round = 0; round < kRounds; ++round) {
      HalfRound<N, false>(v1, v0, k.k2, k.k3, sum);
      HalfRound<N, false>(v0, v1, k.k0, k.k1, sum);
      sum = _mm512_sub_epi32(sum, delta);
    }
  }
  for (int g = 0; g < N; ++g) Store(p + kGroupBytes * g, v0[g], v1[g]);
}

// Eight groups at a time while there are, then single groups; the last blocks (fewer than
// sixteen) go to the AVX2 path.
template <bool kEncipher>
TARN_AVX512 inline void EachGroup(const KeyWords& key, unsigned char* data, std::size_t count) {
  const KeyVectors k{
      _mm512_set1_epi32(static_cast<int>(key.k0)), _mm512_set1_epi32(static_cast<int>(key.k1)),
      _mm512_set1_epi32(static_cast<int>(key.k2)), _mm512_set1_epi32(static_cast<int>(key.k3))};
  for (; count >= kGroups * kBlocksPerGroup;
       count -= kGroups * kBlocksPerGroup, data += kGroups * kGroupBytes) {
    Groups<kGroups, kEncipher>(k, data);
  }
  for (; count >= kBlocksPerGroup; count -= kBlocksPerGroup, data += kGroupBytes) {
    Groups<1, kEncipher>(k, data);
  }
  if (kEncipher) {
    EncipherBlocksAvx2(key, data, count);
  } else {
    DecipherBlocksAvx2(key, data, count);
  }
}

}  // namespace

// The registers the rounds used keep the key words until something else overwrites them, and
// a core dump records them: each call leaves them zeroed (the AVX2 path it ends with zeroes
// the first sixteen).
TARN_AVX512 inline void ZeroUpperRegisters() {
  // clang-format off
  __asm__ volatile(
      "vpxord %%zmm16, %%zmm16, %%zmm16\n\tvpxord %%zmm17, %%zmm17, %%zmm17\n\t"
      "vpxord %%zmm18, %%zmm18, %%zmm18\n\tvpxord %%zmm19, %%zmm19, %%zmm19\n\t"
      "vpxord %%zmm20, %%zmm20, %%zmm20\n\tvpxord %%zmm21, %%zmm21, %%zmm21\n\t"
      "vpxord %%zmm22, %%zmm22, %%zmm22\n\tvpxord %%zmm23, %%zmm23, %%zmm23\n\t"
      "vpxord %%zmm24, %%zmm24, %%zmm24\n\tvpxord %%zmm25, %%zmm25, %%zmm25\n\t"
      "vpxord %%zmm26, %%zmm26, %%zmm26\n\tvpxord %%zmm27, %%zmm27, %%zmm27\n\t"
      "vpxord %%zmm28, %%zmm28, %%zmm28\n\tvpxord %%zmm29, %%zmm29, %%zmm29\n\t"
      "vpxord %%zmm30, %%zmm30, %%zmm30\n\tvpxord %%zmm31, %%zmm31, %%zmm31"
      : : : "xmm16", "xmm17", "xmm18", "xmm19", "xmm20", "xmm21", "xmm22", "xmm23", "xmm24",
        "xmm25", "xmm26", "xmm27", "xmm28", "xmm29", "xmm30", "xmm31");
  // clang-format on
}

TARN_AVX512 void EncipherBlocksAvx512(const KeyWords& key, unsigned char* data, std::size_t count) {
  EachGroup<true>(key, data, count);
  ZeroUpperRegisters();
}

TARN_AVX512 void DecipherBlocksAvx512(const KeyWords& key, unsigned char* data, std::size_t count) {
  EachGroup<false>(key, data, count);
  ZeroUpperRegisters();
}

bool CipherAvx512Available() {
  return util::Cpu().avx512 && util::SimdAllowed("avx512") && CipherAvx2Available();
}

}  // namespace tarn::cipher

#else

namespace tarn::cipher {
void EncipherBlocksAvx512(const KeyWords& key, unsigned char* data, std::size_t count) {
  EncipherBlocksScalar(key, data, count);
}
void DecipherBlocksAvx512(const KeyWords& key, unsigned char* data, std::size_t count) {
  DecipherBlocksScalar(key, data, count);
}
bool CipherAvx512Available() {
  return false;
}
}  // namespace tarn::cipher

#endif
