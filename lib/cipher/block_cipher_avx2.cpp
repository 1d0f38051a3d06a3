// The block cipher on AVX2: eight blocks per 256-bit register, their v0 halves in one
// register and their v1 halves in another, and four such groups interleaved so that the
// processor always has independent work while one round's result is pending.
#include "cipher/block_cipher.h"
#include "cipher/block_cipher_paths.h"
#include "util/simd_mask.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define TARN_AVX2 __attribute__((target("avx2")))

#if defined(__GNUC__) && !defined(__clang__)
// GCC otherwise schedules these rounds only after register allocation, which keeps the groups
// apart and leaves the shift unit idle: a tenth of the kernel's speed or more.
#pragma GCC optimize("schedule-insns", "sched-pressure")
#endif

namespace tarn::cipher {
namespace {

constexpr std::size_t kBlocksPerGroup = 8;
constexpr std::ptrdiff_t kGroupBytes = 64;  // eight 8-byte blocks

struct KeyVectors {
  __m256i k0, k1, k2, k3;
};

TARN_AVX2 inline KeyVectors Broadcast(const KeyWords& key) {
  return {_mm256_set1_epi32(static_cast<int>(key.k0)), _mm256_set1_epi32(static_cast<int>(key.k1)),
          _mm256_set1_epi32(static_cast<int>(key.k2)), _mm256_set1_epi32(static_cast<int>(key.k3))};
}

// Splits 64 bytes (eight blocks) into their v0 and v1 halves.
TARN_AVX2 inline void Load(const unsigned char* p, __m256i* v0, __m256i* v1) {
  const __m256i split = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  const __m256i a =
      _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), split);
  const __m256i b = _mm256_permutevar8x32_epi32(
      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)), split);
  *v0 = _mm256_permute2x128_si256(a, b, 0x20);
  *v1 = _mm256_permute2x128_si256(a, b, 0x31);
}

// The inverse of Load.
TARN_AVX2 inline void Store(unsigned char* p, __m256i v0, __m256i v1) {
  const __m256i join = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  const __m256i a = _mm256_permutevar8x32_epi32(_mm256_permute2x128_si256(v0, v1, 0x20), join);
  const __m256i b = _mm256_permutevar8x32_epi32(_mm256_permute2x128_si256(v0, v1, 0x31), join);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), a);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 32), b);
}

// One half round on every group: target += (v << 4) + kb + (ka ^ v) + ((v >> 5) ^ sum), or -=
// to undo it, where v is the group's other half. The work is written step by step across the
// groups rather than group by group, so that the scheduler finds a shift of some group ready
// for the shift unit: on some processors a single pipe, which four of a round's sixteen
// operations need, the bound on the whole kernel there.
template <bool kAdd>
TARN_AVX2 inline __m256i Apply(__m256i target, __m256i x) {
  return kAdd ? _mm256_add_epi32(target, x) : _mm256_sub_epi32(target, x);
}

template <int N, bool kAdd>
TARN_AVX2 inline void HalfRound(__m256i (&target)[N], const __m256i (&v)[N], __m256i ka, __m256i kb,
                                __m256i sum) {
  __m256i a[N], b[N];
  for (int g = 0; g < N; ++g) a[g] = _mm256_slli_epi32(v[g], 4);
  for (int g = 0; g < N; ++g) b[g] = _mm256_xor_si256(v[g], ka);
  for (int g = 0; g < N; ++g) target[g] = Apply<kAdd>(target[g], kb);
  for (int g = 0; g < N; ++g) a[g] = _mm256_add_epi32(a[g], b[g]);
  for (int g = 0; g < N; ++g) b[g] = _mm256_srli_epi32(v[g], 5);
  for (int g = 0; g < N; ++g) target[g] = Apply<kAdd>(target[g], a[g]);
  for (int g = 0; g < N; ++g) b[g] = _mm256_xor_si256(b[g], sum);
  for (int g = 0; g < N; ++g) target[g] = Apply<kAdd>(target[g], b[g]);
}

template <int N>
TARN_AVX2 inline void EncipherGroups(const KeyVectors& k, unsigned char* p) {
  __m256i v0[N], v1[N];
  for (int g = 0; g < N; ++g) Load(p + kGroupBytes * g, &v0[g], &v1[g]);
  const __m256i delta = _mm256_set1_epi32(static_cast<int>(kDelta));
  __m256i sum = _mm256_setzero_si256();
  for (int round = 0; round < kRounds; ++round) {
    sum = _mm256_add_epi32(sum, delta);
    HalfRound<N, true>(v0, v1, k.k0, k.k1, sum);
    HalfRound<N, true>(v1, v0, k.k2, k.k3, sum);
  }
  for (int g = 0; g < N; ++g) Store(p + kGroupBytes * g, v0[g], v1[g]);
}

template <int N>
TARN_AVX2 inline void DecipherGroups(const KeyVectors& k, unsigned char* p) {
  __m256i v0[N], v1[N];
  for (int g = 0; g < N; ++g) Load(p + kGroupBytes * g, &v0[g], &v1[g]);
  const __m256i delta = _mm256_set1_epi32(static_cast<int>(kDelta));
  __m256i sum = _mm256_set1_epi32(static_cast<int>(kDecipherStart));
  for (int round = 0; round < kRounds; ++round) {
    HalfRound<N, false>(v1, v0, k.k2, k.k3, sum);
    HalfRound<N, false>(v0, v1, k.k0, k.k1, sum);
    sum = _mm256_sub_epi32(sum, delta);
  }
  for (int g = 0; g < N; ++g) Store(p + kGroupBytes * g, v0[g], v1[g]);
}

// Four groups at a time while there are, then single groups, then the last blocks one by one.
template <void (*Four)(const KeyVectors&, unsigned char*),
          void (*One)(const KeyVectors&, unsigned char*),
          void (*Rest)(const KeyWords&, unsigned char*, std::size_t)>
TARN_AVX2 inline void EachGroup(const KeyWords& key, unsigned char* data, std::size_t count) {
  const KeyVectors k = Broadcast(key);
  for (; count >= 4 * kBlocksPerGroup; count -= 4 * kBlocksPerGroup, data += 4 * kGroupBytes) {
    Four(k, data);
  }
  for (; count >= kBlocksPerGroup; count -= kBlocksPerGroup, data += kGroupBytes) One(k, data);
  Rest(key, data, count);
}

}  // namespace

TARN_AVX2 void EncipherBlocksAvx2(const KeyWords& key, unsigned char* data, std::size_t count) {
  EachGroup<EncipherGroups<4>, EncipherGroups<1>, EncipherBlocksScalar>(key, data, count);
}

TARN_AVX2 void DecipherBlocksAvx2(const KeyWords& key, unsigned char* data, std::size_t count) {
  EachGroup<DecipherGroups<4>, DecipherGroups<1>, DecipherBlocksScalar>(key, data, count);
}

bool CipherAvx2Available() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && util::SimdAllowed("avx2");
}

}  // namespace tarn::cipher

#else

namespace tarn::cipher {
void EncipherBlocksAvx2(const KeyWords& key, unsigned char* data, std::size_t count) {
  EncipherBlocksScalar(key, data, count);
}
void DecipherBlocksAvx2(const KeyWords& key, unsigned char* data, std::size_t count) {
  DecipherBlocksScalar(key, data, count);
}
bool CipherAvx2Available() {
  return false;
}
}  // namespace tarn::cipher

#endif
