/* The seam to the kernels filled for the page's WebAssembly with 128-bit SIMD: the cipher on
 * four blocks a vector, four vectors interleaved (as the AVX2 kernel runs its groups), the
 * rest one block at a time; the CRC-32 eight bytes a step with eight 1 KiB tables, made at first
 * use, in two chains side by side over a long stretch. The page loads this build where the
 * browser validates SIMD, the portable kernels' build elsewhere. */
#include <wasm_simd128.h>

#include "core/core.h"

/* --- The cipher: lanes hold the first halves of four blocks, and their second halves; four
 * such groups (sixteen blocks) go through each round together, so that their independent
 * chains of additions overlap. */
#define TARNC_LANES 4
#define TARNC_GROUPS 4
#define TARNC_STEP (8 * TARNC_LANES * TARNC_GROUPS) /* bytes a step */

typedef struct Halves {
  v128_t a, b;
} Halves;

/* Four blocks' halves from 32 bytes, and back. */
static Halves Split(const uint8_t* p) {
  const v128_t x = wasm_v128_load(p), y = wasm_v128_load(p + 16);
  Halves h;
  h.a = wasm_i32x4_shuffle(x, y, 0, 2, 4, 6);
  h.b = wasm_i32x4_shuffle(x, y, 1, 3, 5, 7);
  return h;
}

static void Join(uint8_t* p, Halves h) {
  wasm_v128_store(p, wasm_i32x4_shuffle(h.a, h.b, 0, 4, 1, 5));
  wasm_v128_store(p + 16, wasm_i32x4_shuffle(h.a, h.b, 2, 6, 3, 7));
}

/* (x << 4) + (k ^ x) + ((x >> 5) ^ sum) + k2: one half's round function. */
#define TARNC_F(x, k, sum, k2)                                                    \
  wasm_i32x4_add(wasm_i32x4_add(wasm_i32x4_shl((x), 4), wasm_v128_xor((k), (x))), \
                 wasm_i32x4_add(wasm_v128_xor(wasm_u32x4_shr((x), 5), (sum)), (k2)))

TARNC_FN void tarnc_encipher(const uint32_t key[4], uint8_t* data, size_t blocks) {
  const v128_t k0 = wasm_i32x4_splat((int32_t)key[0]), k1 = wasm_i32x4_splat((int32_t)key[1]);
  const v128_t k2 = wasm_i32x4_splat((int32_t)key[2]), k3 = wasm_i32x4_splat((int32_t)key[3]);
  for (; blocks >= TARNC_LANES * TARNC_GROUPS; blocks -= TARNC_LANES * TARNC_GROUPS) {
    Halves g[TARNC_GROUPS];
    uint32_t sum = 0;
    for (int i = 0; i < TARNC_GROUPS; ++i) g[i] = Split(data + 32 * i);
    for (int round = 0; round < TARNC_ROUNDS; ++round) {
      sum += TARNC_DELTA;
      const v128_t s = wasm_i32x4_splat((int32_t)sum);
      for (int i = 0; i < TARNC_GROUPS; ++i)
        g[i].a = wasm_i32x4_add(g[i].a, TARNC_F(g[i].b, k0, s, k1));
      for (int i = 0; i < TARNC_GROUPS; ++i)
        g[i].b = wasm_i32x4_add(g[i].b, TARNC_F(g[i].a, k2, s, k3));
    }
    for (int i = 0; i < TARNC_GROUPS; ++i) Join(data + 32 * i, g[i]);
    data += TARNC_STEP;
  }
  tarnc_encipher_scalar(key, data, blocks);
}

TARNC_FN void tarnc_decipher(const uint32_t key[4], uint8_t* data, size_t blocks) {
  const v128_t k0 = wasm_i32x4_splat((int32_t)key[0]), k1 = wasm_i32x4_splat((int32_t)key[1]);
  const v128_t k2 = wasm_i32x4_splat((int32_t)key[2]), k3 = wasm_i32x4_splat((int32_t)key[3]);
  for (; blocks >= TARNC_LANES * TARNC_GROUPS; blocks -= TARNC_LANES * TARNC_GROUPS) {
    Halves g[TARNC_GROUPS];
    uint32_t sum = TARNC_DECIPHER_START;
    for (int i = 0; i < TARNC_GROUPS; ++i) g[i] = Split(data + 32 * i);
    for (int round = 0; round < TARNC_ROUNDS; ++round) {
      const v128_t s = wasm_i32x4_splat((int32_t)sum);
      for (int i = 0; i < TARNC_GROUPS; ++i)
        g[i].b = wasm_i32x4_sub(g[i].b, TARNC_F(g[i].a, k2, s, k3));
      for (int i = 0; i < TARNC_GROUPS; ++i)
        g[i].a = wasm_i32x4_sub(g[i].a, TARNC_F(g[i].b, k0, s, k1));
      sum -= TARNC_DELTA;
    }
    for (int i = 0; i < TARNC_GROUPS; ++i) Join(data + 32 * i, g[i]);
    data += TARNC_STEP;
  }
  tarnc_decipher_scalar(key, data, blocks);
}

/* --- The CRC-32, slicing by eight. */
static uint32_t kSlices[8][256];
static int g_sliced;

static void MakeSlices(void) {
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = c & 1 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    kSlices[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; ++i) {
    for (int t = 1; t < 8; ++t) {
      const uint32_t prev = kSlices[t - 1][i];
      kSlices[t][i] = (prev >> 8) ^ kSlices[0][prev & 0xFF];
    }
  }
  g_sliced = 1;
}

/* One step of eight bytes of one register's chain. */
static uint32_t Step8(uint32_t reg, const uint8_t* p) {
  const uint32_t lo = reg ^ tarnc_le32(p), hi = tarnc_le32(p + 4);
  return kSlices[7][lo & 0xFF] ^ kSlices[6][(lo >> 8) & 0xFF] ^ kSlices[5][(lo >> 16) & 0xFF] ^
         kSlices[4][lo >> 24] ^ kSlices[3][hi & 0xFF] ^ kSlices[2][(hi >> 8) & 0xFF] ^
         kSlices[1][(hi >> 16) & 0xFF] ^ kSlices[0][hi >> 24];
}

/* Below this, one chain. */
#define TARNC_TWO_CHAINS_FROM 4096

TARNC_FN uint32_t tarnc_crc32_update(uint32_t reg, const void* data, size_t n) {
  const uint8_t* p = (const uint8_t*)data;
  if (!g_sliced) MakeSlices();
  if (n >= TARNC_TWO_CHAINS_FROM) {
    /* Each step waits on the one before through the register: two halves, each with a
     * register of its own (the second from 0), run side by side in one loop, and the halves'
     * registers are joined as two finished CRCs are. The shift is kept for the next call, which
     * is most often as long. */
    static size_t g_shifted;
    static uint32_t g_shift;
    const size_t half = n / 16 * 8;
    uint32_t second = 0;
    size_t i;
    for (i = 0; i < half; i += 8) {
      reg = Step8(reg, p + i);
      second = Step8(second, p + half + i);
    }
    if (g_shifted != half) {
      g_shift = tarnc_crc32_shift(half);
      g_shifted = half;
    }
    reg = tarnc_crc32_join(g_shift, reg, second);
    p += 2 * half;
    n -= 2 * half;
  }
  for (; n >= 8; n -= 8, p += 8) reg = Step8(reg, p);
  for (; n > 0; --n, ++p) reg = (reg >> 8) ^ kSlices[0][(reg ^ *p) & 0xFF];
  return reg;
}
