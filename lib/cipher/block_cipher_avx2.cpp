// The block cipher on AVX2: eight blocks per 256-bit register, their v0 halves in one
// register and their v1 halves in another, and four such groups interleaved so that the
// processor always has independent work while one round's result is pending.
#include "cipher/block_cipher.h"
#include "cipher/block_cipher_paths.h"
#include "util/cpu.h"
#include "util/simd_mask.h"

#include <cstdint>
#include <iterator>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define TARN_AVX2 __attribute__((target("avx2"), TARN_KERNEL_ATTRIBUTES))

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

// All the rounds on N groups, in registers: enciphering, or deciphering when not kEncipher.
template <int N, bool kEncipher>
TARN_AVX2 inline void Rounds(const KeyVectors& k, __m256i (&v0)[N], __m256i (&v1)[N]) {
  const __m256i delta = _mm256_set1_epi32(static_cast<int>(kDelta));
  if constexpr (kEncipher) {
    __m256i sum = _mm256_setzero_si256();
    for (int round = 0; round < kRounds; ++round) {
      sum = _mm256_add_epi32(sum, delta);
      HalfRound<N, true>(v0, v1, k.k0, k.k1, sum);
      HalfRound<N, true>(v1, v0, k.k2, k.k3, sum);
    }
  } else {
    __m256i sum = _mm256_set1_epi32(static_cast<int>(kDecipherStart));
    for (int round = 0; round < kRounds; ++round) {
      HalfRound<N, false>(v1, v0, k.k2, k.k3, sum);
      HalfRound<N, false>(v0, v1, k.k0, k.k1, sum);
      sum = _mm256_sub_epi32(sum, delta);
    }
  }
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// Four groups take all sixteen vector registers: the eight halves, one scratch register per
// group and the four key words, with each round's sum read from a table. Compiled from the
// code above, the same rounds spill the sum, copy registers around the loop and run about a
// tenth slower; written out here they leave only the sixteen operations a round needs.

// The sum of each round, (round + 1) times the constant, in every lane of a vector.
struct RoundSums {
  alignas(32) std::uint32_t lanes[kRounds * kBlocksPerGroup];
};
constexpr RoundSums MakeRoundSums() {
  RoundSums sums{};
  for (std::size_t i = 0; i < std::size(sums.lanes); ++i) {
    sums.lanes[i] = kDelta * static_cast<std::uint32_t>(i / kBlocksPerGroup + 1);
  }
  return sums;
}
constexpr RoundSums kRoundSums = MakeRoundSums();
constexpr std::intptr_t kRoundSumBytes = sizeof(__m256i);
static_assert(kRoundSumBytes == 32, "the loop below steps through the sums 32 bytes at a time");

// One instruction on each of the four groups: `insn src, in<g>, out<g>`, with `src` shared by
// the groups (TARN_EACH) or the group's scratch register (TARN_EACH_SCRATCH).
// clang-format off
#define TARN_EACH(insn, src, in, out)              \
  insn " " src ", %[" in "0], %[" out "0]\n\t"     \
  insn " " src ", %[" in "1], %[" out "1]\n\t"     \
  insn " " src ", %[" in "2], %[" out "2]\n\t"     \
  insn " " src ", %[" in "3], %[" out "3]\n\t"
#define TARN_EACH_SCRATCH(insn, in, out)           \
  insn " %[s0], %[" in "0], %[" out "0]\n\t"       \
  insn " %[s1], %[" in "1], %[" out "1]\n\t"       \
  insn " %[s2], %[" in "2], %[" out "2]\n\t"       \
  insn " %[s3], %[" in "3], %[" out "3]\n\t"
// target op= kb, (v << 4), (ka ^ v), ((v >> 5) ^ sum), where op is add or sub.
#define TARN_HALF_ROUND(op, target, v, ka, kb)     \
  TARN_EACH(op, "%[" kb "]", target, target)       \
  TARN_EACH("vpslld", "$4", v, "s")                \
  TARN_EACH_SCRATCH(op, target, target)            \
  TARN_EACH("vpxor", "%[" ka "]", v, "s")          \
  TARN_EACH_SCRATCH(op, target, target)            \
  TARN_EACH("vpsrld", "$5", v, "s")                \
  TARN_EACH("vpxor", "(%[sums],%[at])", "s", "s")  \
  TARN_EACH_SCRATCH(op, target, target)
// The loop over the rounds; `at` steps through the table of sums.
#define TARN_ROUNDS_ASM(first_half, second_half, step, again)                                \
  __m256i s0, s1, s2, s3;                                                                     \
  asm("1:\n\t" first_half second_half step " $32, %[at]\n\t" again " 1b\n\t"                 \
      : [x0] "+x"(v0[0]), [x1] "+x"(v0[1]), [x2] "+x"(v0[2]), [x3] "+x"(v0[3]),             \
        [y0] "+x"(v1[0]), [y1] "+x"(v1[1]), [y2] "+x"(v1[2]), [y3] "+x"(v1[3]),             \
        [s0] "=&x"(s0), [s1] "=&x"(s1), [s2] "=&x"(s2), [s3] "=&x"(s3), [at] "+r"(at)        \
      : [k0] "x"(k.k0), [k1] "x"(k.k1), [k2] "x"(k.k2), [k3] "x"(k.k3), [sums] "r"(sums),   \
        "m"(kRoundSums)                                                                       \
      : "cc")
// clang-format on

template <>
TARN_AVX2 inline void Rounds<4, true>(const KeyVectors& k, __m256i (&v0)[4], __m256i (&v1)[4]) {
  // From one past the table's end, `at` counts up from minus its size to zero.
  const std::uint32_t* sums = std::end(kRoundSums.lanes);
  std::intptr_t at = -kRounds * kRoundSumBytes;
  TARN_ROUNDS_ASM(TARN_HALF_ROUND("vpaddd", "x", "y", "k0", "k1"),
                  TARN_HALF_ROUND("vpaddd", "y", "x", "k2", "k3"), "add", "jnz");
}

template <>
TARN_AVX2 inline void Rounds<4, false>(const KeyVectors& k, __m256i (&v0)[4], __m256i (&v1)[4]) {
  // From the table's start, `at` counts down from the last round's sum until it is negative.
  const std::uint32_t* sums = std::begin(kRoundSums.lanes);
  std::intptr_t at = (kRounds - 1) * kRoundSumBytes;
  TARN_ROUNDS_ASM(TARN_HALF_ROUND("vpsubd", "y", "x", "k2", "k3"),
                  TARN_HALF_ROUND("vpsubd", "x", "y", "k0", "k1"), "sub", "jns");
}

#undef TARN_ROUNDS_ASM
#undef TARN_HALF_ROUND
#undef TARN_EACH_SCRATCH
#undef TARN_EACH
#endif

template <int N, bool kEncipher>
TARN_AVX2 inline void Groups(const KeyVectors& k, unsigned char* p) {
  __m256i v0[N], v1[N];
  for (int g = 0; g < N; ++g) Load(p + kGroupBytes * g, &v0[g], &v1[g]);
  Rounds<N, kEncipher>(k, v0, v1);
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

// The vector registers keep the key words after the rounds until something else overwrites
// them, and a core dump records them: each call leaves them zeroed.
TARN_AVX2 void EncipherBlocksAvx2(const KeyWords& key, unsigned char* data, std::size_t count) {
  EachGroup<Groups<4, true>, Groups<1, true>, EncipherBlocksScalar>(key, data, count);
  _mm256_zeroall();
}

TARN_AVX2 void DecipherBlocksAvx2(const KeyWords& key, unsigned char* data, std::size_t count) {
  EachGroup<Groups<4, false>, Groups<1, false>, DecipherBlocksScalar>(key, data, count);
  _mm256_zeroall();
}

bool CipherAvx2Available() {
  return util::Cpu().avx2 && util::SimdAllowed("avx2");
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
