/* The two hashes a signature check needs: SHA-512 (inside Ed25519) and BLAKE2b-512 (what a
 * prehashed signature signs), both fed a piece at a time from caller memory. */
#include <string.h>

#include "core/core.h"

static uint64_t Load64Be(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
  return v;
}

static uint64_t Rotr64(uint64_t x, unsigned n) {
  return x >> n | x << (64 - n);
}

/* Both start from the same eight words. */
static const uint64_t kIv[8] = {0x6A09E667F3BCC908ULL, 0xBB67AE8584CAA73BULL, 0x3C6EF372FE94F82BULL,
                                0xA54FF53A5F1D36F1ULL, 0x510E527FADE682D1ULL, 0x9B05688C2B3E6C1FULL,
                                0x1F83D9ABFB41BD6BULL, 0x5BE0CD19137E2179ULL};

/* --- SHA-512 */

static const uint64_t kRoundConstants[80] = {
    0x428A2F98D728AE22ULL, 0x7137449123EF65CDULL, 0xB5C0FBCFEC4D3B2FULL, 0xE9B5DBA58189DBBCULL,
    0x3956C25BF348B538ULL, 0x59F111F1B605D019ULL, 0x923F82A4AF194F9BULL, 0xAB1C5ED5DA6D8118ULL,
    0xD807AA98A3030242ULL, 0x12835B0145706FBEULL, 0x243185BE4EE4B28CULL, 0x550C7DC3D5FFB4E2ULL,
    0x72BE5D74F27B896FULL, 0x80DEB1FE3B1696B1ULL, 0x9BDC06A725C71235ULL, 0xC19BF174CF692694ULL,
    0xE49B69C19EF14AD2ULL, 0xEFBE4786384F25E3ULL, 0x0FC19DC68B8CD5B5ULL, 0x240CA1CC77AC9C65ULL,
    0x2DE92C6F592B0275ULL, 0x4A7484AA6EA6E483ULL, 0x5CB0A9DCBD41FBD4ULL, 0x76F988DA831153B5ULL,
    0x983E5152EE66DFABULL, 0xA831C66D2DB43210ULL, 0xB00327C898FB213FULL, 0xBF597FC7BEEF0EE4ULL,
    0xC6E00BF33DA88FC2ULL, 0xD5A79147930AA725ULL, 0x06CA6351E003826FULL, 0x142929670A0E6E70ULL,
    0x27B70A8546D22FFCULL, 0x2E1B21385C26C926ULL, 0x4D2C6DFC5AC42AEDULL, 0x53380D139D95B3DFULL,
    0x650A73548BAF63DEULL, 0x766A0ABB3C77B2A8ULL, 0x81C2C92E47EDAEE6ULL, 0x92722C851482353BULL,
    0xA2BFE8A14CF10364ULL, 0xA81A664BBC423001ULL, 0xC24B8B70D0F89791ULL, 0xC76C51A30654BE30ULL,
    0xD192E819D6EF5218ULL, 0xD69906245565A910ULL, 0xF40E35855771202AULL, 0x106AA07032BBD1B8ULL,
    0x19A4C116B8D2D0C8ULL, 0x1E376C085141AB53ULL, 0x2748774CDF8EEB99ULL, 0x34B0BCB5E19B48A8ULL,
    0x391C0CB3C5C95A63ULL, 0x4ED8AA4AE3418ACBULL, 0x5B9CCA4F7763E373ULL, 0x682E6FF3D6B2B8A3ULL,
    0x748F82EE5DEFB2FCULL, 0x78A5636F43172F60ULL, 0x84C87814A1F0AB72ULL, 0x8CC702081A6439ECULL,
    0x90BEFFFA23631E28ULL, 0xA4506CEBDE82BDE9ULL, 0xBEF9A3F7B2C67915ULL, 0xC67178F2E372532BULL,
    0xCA273ECEEA26619CULL, 0xD186B8C721C0C207ULL, 0xEADA7DD6CDE0EB1EULL, 0xF57D4F7FEE6ED178ULL,
    0x06F067AA72176FBAULL, 0x0A637DC5A2C898A6ULL, 0x113F9804BEF90DAEULL, 0x1B710B35131C471BULL,
    0x28DB77F523047D84ULL, 0x32CAAB7B40C72493ULL, 0x3C9EBE0A15C9BEBCULL, 0x431D67C49C100D4CULL,
    0x4CC5D4BECB3E42B6ULL, 0x597F299CFC657E2AULL, 0x5FCB6FAB3AD6FAECULL, 0x6C44198C4A475817ULL,
};

static void Sha512Block(uint64_t h[8], const uint8_t block[128]) {
  uint64_t w[16], s[8];
  for (size_t i = 0; i < 16; ++i) w[i] = Load64Be(block + 8 * i);
  for (int i = 0; i < 8; ++i) s[i] = h[i];
  for (int i = 0; i < 80; ++i) {
    if (i >= 16) {
      const uint64_t w15 = w[(i + 1) & 15], w2 = w[(i + 14) & 15];
      w[i & 15] += (Rotr64(w15, 1) ^ Rotr64(w15, 8) ^ (w15 >> 7)) + w[(i + 9) & 15] +
                   (Rotr64(w2, 19) ^ Rotr64(w2, 61) ^ (w2 >> 6));
    }
    const uint64_t t1 = s[7] + (Rotr64(s[4], 14) ^ Rotr64(s[4], 18) ^ Rotr64(s[4], 41)) +
                        ((s[4] & s[5]) ^ (~s[4] & s[6])) + kRoundConstants[i] + w[i & 15];
    const uint64_t t2 = (Rotr64(s[0], 28) ^ Rotr64(s[0], 34) ^ Rotr64(s[0], 39)) +
                        ((s[0] & s[1]) ^ (s[0] & s[2]) ^ (s[1] & s[2]));
    for (int j = 7; j > 0; --j) s[j] = s[j - 1];
    s[4] += t1;
    s[0] = t1 + t2;
  }
  for (int i = 0; i < 8; ++i) h[i] += s[i];
}

void tarnc_sha512_init(tarnc_hash* s) {
  memset(s, 0, sizeof *s);
  memcpy(s->h, kIv, sizeof kIv);
}

void tarnc_sha512_update(tarnc_hash* s, const void* data, size_t n) {
  const uint8_t* p = (const uint8_t*)data;
  s->count += n;
  while (n > 0) {
    size_t take = 128 - s->fill;
    if (take > n) take = n;
    memcpy(s->buf + s->fill, p, take);
    s->fill += (uint32_t)take;
    p += take;
    n -= take;
    if (s->fill == 128) {
      Sha512Block(s->h, s->buf);
      s->fill = 0;
    }
  }
}

void tarnc_sha512_final(tarnc_hash* s, uint8_t out[64]) {
  const uint64_t bits = s->count << 3;
  const uint8_t one = 0x80;
  uint8_t length[16] = {0};
  length[7] = (uint8_t)(s->count >> 61);
  for (int i = 0; i < 8; ++i) length[15 - i] = (uint8_t)(bits >> (8 * i));
  tarnc_sha512_update(s, &one, 1);
  while (s->fill != 112) {
    const uint8_t zero = 0;
    tarnc_sha512_update(s, &zero, 1);
  }
  tarnc_sha512_update(s, length, sizeof length);
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 8; ++j) out[8 * i + j] = (uint8_t)(s->h[i] >> (56 - 8 * j));
  }
  tarnc_wipe(s, sizeof *s);
}

/* --- BLAKE2b with 64 bytes of output and no key */

static const uint8_t kSigma[12][16] = {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
                                       {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3},
                                       {11, 8, 12, 0, 5, 2, 15, 13, 10, 14, 3, 6, 7, 1, 9, 4},
                                       {7, 9, 3, 1, 13, 12, 11, 14, 2, 6, 5, 10, 4, 0, 15, 8},
                                       {9, 0, 5, 7, 2, 4, 10, 15, 14, 1, 11, 12, 6, 8, 3, 13},
                                       {2, 12, 6, 10, 0, 11, 8, 3, 4, 13, 7, 5, 15, 14, 1, 9},
                                       {12, 5, 1, 15, 14, 13, 4, 10, 0, 7, 6, 3, 9, 2, 8, 11},
                                       {13, 11, 7, 14, 12, 1, 3, 9, 5, 0, 15, 4, 8, 6, 2, 10},
                                       {6, 15, 14, 9, 11, 3, 0, 8, 12, 2, 13, 7, 1, 4, 10, 5},
                                       {10, 2, 8, 4, 7, 6, 1, 5, 15, 11, 9, 14, 3, 12, 13, 0},
                                       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
                                       {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3}};

/* The columns, then the diagonals, of the 4x4 working words. */
static const uint8_t kMix[8][4] = {{0, 4, 8, 12},  {1, 5, 9, 13},  {2, 6, 10, 14}, {3, 7, 11, 15},
                                   {0, 5, 10, 15}, {1, 6, 11, 12}, {2, 7, 8, 13},  {3, 4, 9, 14}};

static void Blake2bBlock(uint64_t h[8], const uint8_t block[128], uint64_t count, int last) {
  uint64_t v[16], m[16];
  for (size_t i = 0; i < 16; ++i) m[i] = tarnc_le64(block + 8 * i);
  for (int i = 0; i < 8; ++i) {
    v[i] = h[i];
    v[i + 8] = kIv[i];
  }
  v[12] ^= count; /* the count's high word stays 0 below 2^64 bytes */
  if (last) v[14] = ~v[14];
  for (int r = 0; r < 12; ++r) {
    for (size_t g = 0; g < 8; ++g) {
      uint64_t* a = &v[kMix[g][0]];
      uint64_t* b = &v[kMix[g][1]];
      uint64_t* c = &v[kMix[g][2]];
      uint64_t* d = &v[kMix[g][3]];
      *a += *b + m[kSigma[r][2 * g]];
      *d = Rotr64(*d ^ *a, 32);
      *c += *d;
      *b = Rotr64(*b ^ *c, 24);
      *a += *b + m[kSigma[r][2 * g + 1]];
      *d = Rotr64(*d ^ *a, 16);
      *c += *d;
      *b = Rotr64(*b ^ *c, 63);
    }
  }
  for (int i = 0; i < 8; ++i) h[i] ^= v[i] ^ v[i + 8];
}

void tarnc_blake2b_init(tarnc_hash* s) {
  memset(s, 0, sizeof *s);
  memcpy(s->h, kIv, sizeof kIv);
  s->h[0] ^= 0x01010000u | 64u; /* depth 1, fanout 1, no key, 64 bytes out */
}

void tarnc_blake2b_update(tarnc_hash* s, const void* data, size_t n) {
  const uint8_t* p = (const uint8_t*)data;
  while (n > 0) {
    /* The last block is compressed differently: a full buffer waits for more. */
    if (s->fill == 128) {
      Blake2bBlock(s->h, s->buf, s->count, 0);
      s->fill = 0;
    }
    size_t take = 128 - s->fill;
    if (take > n) take = n;
    memcpy(s->buf + s->fill, p, take);
    s->fill += (uint32_t)take;
    s->count += take;
    p += take;
    n -= take;
  }
}

void tarnc_blake2b_final(tarnc_hash* s, uint8_t out[64]) {
  memset(s->buf + s->fill, 0, 128 - s->fill);
  Blake2bBlock(s->h, s->buf, s->count, 1);
  for (size_t i = 0; i < 8; ++i) tarnc_put_le64(out + 8 * i, s->h[i]);
  tarnc_wipe(s, sizeof *s);
}
