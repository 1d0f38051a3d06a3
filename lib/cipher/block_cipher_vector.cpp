// The block cipher on the target's own vector unit, written once with the compiler's vector
// extensions: four blocks per 128-bit vector, their v0 halves in one vector and their v1
// halves in another, four such groups interleaved. On x86 that is SSE2, on ARM NEON, on s390x
// the vector facility; where a target has no vector unit the compiler spells the same code
// out lane by lane.
#include <bit>
#include <cstring>

#include "cipher/block_cipher.h"
#include "cipher/block_cipher_paths.h"
#include "util/cpu.h"
#include "util/simd_mask.h"

#if defined(__i386__)
// SSE2 is not part of every 32-bit x86 processor: this path is built for it and chosen only
// where the processor has it.
#define TARN_VECTOR __attribute__((target("sse2"), TARN_KERNEL_ATTRIBUTES))
#else
#define TARN_VECTOR __attribute__((TARN_KERNEL_ATTRIBUTES))
#endif

namespace tarn::cipher {
namespace {

using V4 = std::uint32_t __attribute__((vector_size(16)));
using B16 = std::uint8_t __attribute__((vector_size(16)));
constexpr std::size_t kBlocksPerGroup = 4;
constexpr std::size_t kGroupBytes = 32;

// The container's words are little-endian; a big-endian target turns each word around.
TARN_VECTOR inline V4 FromLittleEndian(V4 v) {
  if constexpr (std::endian::native == std::endian::big) {
    const B16 bytes = reinterpret_cast<B16&>(v);
    const B16 swapped =
        __builtin_shufflevector(bytes, bytes, 3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    return reinterpret_cast<const V4&>(swapped);
  }
  return v;
}

// Splits 32 bytes (four blocks) into their v0 and v1 halves.
TARN_VECTOR inline void Load(const unsigned char* p, V4* v0, V4* v1) {
  V4 a, b;
  std::memcpy(&a, p, sizeof a);
  std::memcpy(&b, p + sizeof a, sizeof b);
  a = FromLittleEndian(a);
  b = FromLittleEndian(b);
  *v0 = __builtin_shufflevector(a, b, 0, 2, 4, 6);
  *v1 = __builtin_shufflevector(a, b, 1, 3, 5, 7);
}

// The inverse of Load.
TARN_VECTOR inline void Store(unsigned char* p, V4 v0, V4 v1) {
  const V4 a = FromLittleEndian(__builtin_shufflevector(v0, v1, 0, 4, 1, 5));
  const V4 b = FromLittleEndian(__builtin_shufflevector(v0, v1, 2, 6, 3, 7));
  std::memcpy(p, &a, sizeof a);
  std::memcpy(p + sizeof a, &b, sizeof b);
}

struct KeyVectors {
  V4 k0, k1, k2, k3;
};

// (v << 4) + (ka ^ v) + ((v >> 5) ^ sum) + kb
TARN_VECTOR inline V4 Mix(V4 v, V4 ka, V4 kb, V4 sum) {
  return ((v << 4) + kb) + (ka ^ v) + ((v >> 5) ^ sum);
}

template <int N>
TARN_VECTOR inline void EncipherGroups(const KeyVectors& k, unsigned char* p) {
  V4 v0[N], v1[N];
  for (int g = 0; g < N; ++g) Load(p + kGroupBytes * g, &v0[g], &v1[g]);
  V4 sum = {0, 0, 0, 0};
  for (int round = 0; round < kRounds; ++round) {
    sum += kDelta;
    for (int g = 0; g < N; ++g) v0[g] += Mix(v1[g], k.k0, k.k1, sum);
    for (int g = 0; g < N; ++g) v1[g] += Mix(v0[g], k.k2, k.k3, sum);
  }
  for (int g = 0; g < N; ++g) Store(p + kGroupBytes * g, v0[g], v1[g]);
}

template <int N>
TARN_VECTOR inline void DecipherGroups(const KeyVectors& k, unsigned char* p) {
  V4 v0[N], v1[N];
  for (int g = 0; g < N; ++g) Load(p + kGroupBytes * g, &v0[g], &v1[g]);
  V4 sum = {kDecipherStart, kDecipherStart, kDecipherStart, kDecipherStart};
  for (int round = 0; round < kRounds; ++round) {
    for (int g = 0; g < N; ++g) v1[g] -= Mix(v0[g], k.k2, k.k3, sum);
    for (int g = 0; g < N; ++g) v0[g] -= Mix(v1[g], k.k0, k.k1, sum);
    sum -= kDelta;
  }
  for (int g = 0; g < N; ++g) Store(p + kGroupBytes * g, v0[g], v1[g]);
}

// Four groups at a time while there are, then single groups, then the last blocks one by one.
template <void (*Four)(const KeyVectors&, unsigned char*),
          void (*One)(const KeyVectors&, unsigned char*),
          void (*Rest)(const KeyWords&, unsigned char*, std::size_t)>
TARN_VECTOR inline void EachGroup(const KeyWords& key, unsigned char* data, std::size_t count) {
  const KeyVectors k{V4{} + key.k0, V4{} + key.k1, V4{} + key.k2, V4{} + key.k3};
  for (; count >= 4 * kBlocksPerGroup; count -= 4 * kBlocksPerGroup, data += 4 * kGroupBytes) {
    Four(k, data);
  }
  for (; count >= kBlocksPerGroup; count -= kBlocksPerGroup, data += kGroupBytes) One(k, data);
  Rest(key, data, count);
}

}  // namespace

// The vector registers keep the key words after the rounds until something else overwrites
// them, and a core dump records them: on x86 each call leaves them zeroed.
TARN_VECTOR inline void ZeroVectorRegisters() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  __asm__ volatile(
      "pxor %%xmm0, %%xmm0\n\tpxor %%xmm1, %%xmm1\n\tpxor %%xmm2, %%xmm2\n\t"
      "pxor %%xmm3, %%xmm3\n\tpxor %%xmm4, %%xmm4\n\tpxor %%xmm5, %%xmm5\n\t"
      "pxor %%xmm6, %%xmm6\n\tpxor %%xmm7, %%xmm7\n\tpxor %%xmm8, %%xmm8\n\t"
      "pxor %%xmm9, %%xmm9\n\tpxor %%xmm10, %%xmm10\n\tpxor %%xmm11, %%xmm11\n\t"
      "pxor %%xmm12, %%xmm12\n\tpxor %%xmm13, %%xmm13\n\tpxor %%xmm14, %%xmm14\n\t"
      "pxor %%xmm15, %%xmm15"
      :
      :
      : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10",
        "xmm11", "xmm12", "xmm13", "xmm14", "xmm15");
#endif
}

TARN_VECTOR void EncipherBlocksVector(const KeyWords& key, unsigned char* data, std::size_t count) {
  EachGroup<EncipherGroups<4>, EncipherGroups<1>, EncipherBlocksScalar>(key, data, count);
  ZeroVectorRegisters();
}

TARN_VECTOR void DecipherBlocksVector(const KeyWords& key, unsigned char* data, std::size_t count) {
  EachGroup<DecipherGroups<4>, DecipherGroups<1>, DecipherBlocksScalar>(key, data, count);
  ZeroVectorRegisters();
}

const char* CipherVectorName() {
#if defined(__i386__) || defined(__x86_64__)
  return "sse2";
#elif defined(__aarch64__) || defined(__ARM_NEON)
  return "neon";
#else
  return "vector";
#endif
}

bool CipherVectorAvailable() {
#if defined(__i386__)
  if (!util::Cpu().sse2) return false;
#endif
  return util::SimdAllowed(CipherVectorName());
}

}  // namespace tarn::cipher
