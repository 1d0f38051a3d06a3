/* Ed25519 signatures checked, never made: only public data goes through here, so the code is
 * plain and variable-time. Field elements are sixteen 16-bit limbs (radix 2^16, carried in
 * 64-bit sums); points are extended coordinates (X:Y:Z:T). What is accepted is exactly what
 * the reference library of the hosts accepts: S below the group order, R and A not of small
 * order, A canonical, and the encoding of [S]B - [h]A equal to R's bytes. */
#include <string.h>

#include "core/core.h"

typedef int32_t Fe[16];
typedef Fe Point[4]; /* X, Y, Z, T */

static const Fe kD = {0x78A3, 0x1359, 0x4DCA, 0x75EB, 0xD8AB, 0x4141, 0x0A4D, 0x0070,
                      0xE898, 0x7779, 0x4079, 0x8CC7, 0xFE73, 0x2B6F, 0x6CEE, 0x5203};
static const Fe kD2 = {0xF159, 0x26B2, 0x9B94, 0xEBD6, 0xB156, 0x8283, 0x149A, 0x00E0,
                       0xD130, 0xEEF3, 0x80F2, 0x198E, 0xFCE7, 0x56DF, 0xD9DC, 0x2406};
static const Fe kSqrtM1 = {0xA0B0, 0x4A0E, 0x1B27, 0xC4EE, 0xE478, 0xAD2F, 0x1806, 0x2F43,
                           0xD7A7, 0x3DFB, 0x0099, 0x2B4D, 0xDF0B, 0x4FC1, 0x2480, 0x2B83};
static const Point kBase = {{0xD51A, 0x8F25, 0x2D60, 0xC956, 0xA7B2, 0x9525, 0xC760, 0x692C, 0xDC5C,
                             0xFDD6, 0xE231, 0xC0A4, 0x53FE, 0xCD6E, 0x36D3, 0x2169},
                            {0x6658, 0x6666, 0x6666, 0x6666, 0x6666, 0x6666, 0x6666, 0x6666, 0x6666,
                             0x6666, 0x6666, 0x6666, 0x6666, 0x6666, 0x6666, 0x6666},
                            {1},
                            {0xDDA3, 0xA5B7, 0x8AB3, 0x6DDE, 0x52F5, 0x7751, 0x9F80, 0x20F0, 0xE37D,
                             0x64AB, 0x4E8E, 0x66EA, 0x7665, 0xD78B, 0x5F0F, 0x6787}};

/* The group order L, little-endian. */
static const uint8_t kOrder[32] = {0xED, 0xD3, 0xF5, 0x5C, 0x1A, 0x63, 0x12, 0x58, 0xD6, 0x9C, 0xF7,
                                   0xA2, 0xDE, 0xF9, 0xDE, 0x14, 0,    0,    0,    0,    0,    0,
                                   0,    0,    0,    0,    0,    0,    0,    0,    0,    0x10};

/* Each limb into [0, 2^16), the carry out of the top one folded back in as 38 (2^256 is 38
 * modulo p). Arithmetic shifts of negative sums floor them, as wanted. */
static void Carry(int64_t t[16]) {
  for (int i = 0; i < 16; ++i) {
    t[i] += 65536;
    const int64_t c = t[i] >> 16;
    t[i] -= c * 65536;
    if (i < 15) {
      t[i + 1] += c - 1;
    } else {
      t[0] += 38 * (c - 1);
    }
  }
}

static void FeAdd(Fe o, const Fe a, const Fe b) {
  for (int i = 0; i < 16; ++i) o[i] = a[i] + b[i];
}

static void FeSub(Fe o, const Fe a, const Fe b) {
  for (int i = 0; i < 16; ++i) o[i] = a[i] - b[i];
}

static void FeMul(Fe o, const Fe a, const Fe b) {
  /* Limb products past the top fold back at once, times 38: the sums stay below 2^47. */
  int64_t t[16];
  memset(t, 0, sizeof t);
  for (int i = 0; i < 16; ++i) {
    for (int j = 0; j < 16; ++j) {
      const int64_t product = (int64_t)a[i] * b[j];
      if (i + j < 16) {
        t[i + j] += product;
      } else {
        t[i + j - 16] += 38 * product;
      }
    }
  }
  Carry(t);
  Carry(t);
  for (int i = 0; i < 16; ++i) o[i] = (int32_t)t[i];
}

static void FeSquare(Fe o, const Fe a) {
  FeMul(o, a, a);
}

/* a^(p-2) = 1/a. */
static void FeInvert(Fe o, const Fe a) {
  Fe c;
  memcpy(c, a, sizeof c);
  for (int i = 253; i >= 0; --i) {
    FeSquare(c, c);
    if (i != 2 && i != 4) FeMul(c, c, a);
  }
  memcpy(o, c, sizeof c);
}

/* a^((p-5)/8), the step of a square root. */
static void FePow2523(Fe o, const Fe a) {
  Fe c;
  memcpy(c, a, sizeof c);
  for (int i = 250; i >= 0; --i) {
    FeSquare(c, c);
    if (i != 1) FeMul(c, c, a);
  }
  memcpy(o, c, sizeof c);
}

/* The canonical 32 bytes of a: fully reduced below p. */
static void FePack(uint8_t out[32], const Fe a) {
  int64_t t[16], m[16];
  for (int i = 0; i < 16; ++i) t[i] = a[i];
  Carry(t);
  Carry(t);
  Carry(t);
  for (int pass = 0; pass < 2; ++pass) {
    m[0] = t[0] - 0xFFED;
    for (int i = 1; i < 15; ++i) {
      m[i] = t[i] - 0xFFFF - ((m[i - 1] >> 16) & 1);
      m[i - 1] &= 0xFFFF;
    }
    m[15] = t[15] - 0x7FFF - ((m[14] >> 16) & 1);
    m[14] &= 0xFFFF;
    if (((m[15] >> 16) & 1) == 0) memcpy(t, m, sizeof t); /* t - p did not go below 0 */
  }
  for (size_t i = 0; i < 16; ++i) {
    out[2 * i] = (uint8_t)t[i];
    out[2 * i + 1] = (uint8_t)(t[i] >> 8);
  }
}

/* 255 bits of a field element (the top bit of byte 31 is left out). */
static void FeUnpack(Fe o, const uint8_t in[32]) {
  for (size_t i = 0; i < 16; ++i) o[i] = (int32_t)in[2 * i] | (int32_t)in[2 * i + 1] << 8;
  o[15] &= 0x7FFF;
}

static int FeEqual(const Fe a, const Fe b) {
  uint8_t x[32], y[32];
  FePack(x, a);
  FePack(y, b);
  return memcmp(x, y, 32) == 0;
}

static int FeParity(const Fe a) {
  uint8_t x[32];
  FePack(x, a);
  return x[0] & 1;
}

/* p += q (the unified formula: q may be p), in five temporaries. */
static void PointAdd(Point p, const Point q) {
  Fe a, b, c, d, t;
  FeSub(a, p[1], p[0]);
  FeSub(t, q[1], q[0]);
  FeMul(a, a, t); /* (Y1 - X1)(Y2 - X2) */
  FeAdd(b, p[0], p[1]);
  FeAdd(t, q[0], q[1]);
  FeMul(b, b, t); /* (Y1 + X1)(Y2 + X2) */
  FeMul(c, p[3], q[3]);
  FeMul(c, c, kD2); /* 2d T1 T2 */
  FeMul(d, p[2], q[2]);
  FeAdd(d, d, d); /* 2 Z1 Z2 */
  FeSub(t, b, a); /* e */
  FeAdd(a, b, a); /* h */
  FeSub(b, d, c); /* f */
  FeAdd(c, d, c); /* g */
  FeMul(p[0], t, b);
  FeMul(p[1], a, c);
  FeMul(p[2], c, b);
  FeMul(p[3], t, a);
}

static void PointPack(uint8_t out[32], const Point p) {
  Fe zi, x, y;
  FeInvert(zi, p[2]);
  FeMul(x, p[0], zi);
  FeMul(y, p[1], zi);
  FePack(out, y);
  out[31] ^= (uint8_t)(FeParity(x) << 7);
}

/* -A from its encoding; 0 when the bytes are no point. */
static int PointUnpackNegated(Point r, const uint8_t in[32]) {
  Fe num, den, den2, t, check;
  memset(r[2], 0, sizeof(Fe));
  r[2][0] = 1;
  FeUnpack(r[1], in);
  FeSquare(num, r[1]);
  FeMul(den, num, kD);
  FeSub(num, num, r[2]); /* y^2 - 1 */
  FeAdd(den, r[2], den); /* d y^2 + 1 */
  /* x = num den^3 (num den^7)^((p-5)/8) */
  FeSquare(den2, den);
  FeSquare(t, den2);
  FeMul(t, t, den2);
  FeMul(t, t, num);
  FeMul(t, t, den);
  FePow2523(t, t);
  FeMul(t, t, num);
  FeMul(t, t, den);
  FeMul(t, t, den);
  FeMul(r[0], t, den);
  FeSquare(check, r[0]);
  FeMul(check, check, den);
  if (!FeEqual(check, num)) FeMul(r[0], r[0], kSqrtM1);
  FeSquare(check, r[0]);
  FeMul(check, check, den);
  if (!FeEqual(check, num)) return 0;
  if (FeParity(r[0]) == (in[31] >> 7)) {
    memset(t, 0, sizeof t);
    FeSub(r[0], t, r[0]);
  }
  FeMul(r[3], r[0], r[1]);
  return 1;
}

/* The 64-byte hash as a number modulo L, little-endian in 32 bytes. */
static TARNC_NOINLINE void ReduceModOrder(uint8_t out[32], const uint8_t hash[64]) {
  int64_t x[64];
  for (int i = 0; i < 64; ++i) x[i] = hash[i];
  for (int i = 63; i >= 32; --i) {
    int64_t carry = 0;
    int j;
    for (j = i - 32; j < i - 12; ++j) {
      x[j] += carry - 16 * x[i] * kOrder[j - (i - 32)];
      carry = (x[j] + 128) >> 8;
      x[j] -= carry * 256;
    }
    x[j] += carry;
    x[i] = 0;
  }
  int64_t carry = 0;
  for (int j = 0; j < 32; ++j) {
    x[j] += carry - (x[31] >> 4) * kOrder[j];
    carry = x[j] >> 8;
    x[j] &= 255;
  }
  for (int j = 0; j < 32; ++j) x[j] -= carry * kOrder[j];
  for (int i = 0; i < 32; ++i) {
    x[i + 1] += x[i] >> 8;
    out[i] = (uint8_t)(x[i] & 255);
  }
}

/* S < L, compared from the top byte down. */
static int ScalarIsCanonical(const uint8_t s[32]) {
  for (int i = 31; i >= 0; --i) {
    if (s[i] != kOrder[i]) return s[i] < kOrder[i];
  }
  return 0;
}

/* The encodings of the eight points of small order (and of 0 and 1 above p), sign bit aside. */
static const uint8_t kSmallOrder[7][32] = {
    {0},
    {1},
    {0x26, 0xE8, 0x95, 0x8F, 0xC2, 0xB2, 0x27, 0xB0, 0x45, 0xC3, 0xF4,
     0x89, 0xF2, 0xEF, 0x98, 0xF0, 0xD5, 0xDF, 0xAC, 0x05, 0xD3, 0xC6,
     0x33, 0x39, 0xB1, 0x38, 0x02, 0x88, 0x6D, 0x53, 0xFC, 0x05},
    {0xC7, 0x17, 0x6A, 0x70, 0x3D, 0x4D, 0xD8, 0x4F, 0xBA, 0x3C, 0x0B,
     0x76, 0x0D, 0x10, 0x67, 0x0F, 0x2A, 0x20, 0x53, 0xFA, 0x2C, 0x39,
     0xCC, 0xC6, 0x4E, 0xC7, 0xFD, 0x77, 0x92, 0xAC, 0x03, 0x7A},
    {0xEC, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
     0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
     0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
    {0xED, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
     0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
     0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
    {0xEE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
     0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
     0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}};

static int HasSmallOrder(const uint8_t p[32]) {
  for (int k = 0; k < 7; ++k) {
    if (memcmp(p, kSmallOrder[k], 31) == 0 && (p[31] & 0x7F) == kSmallOrder[k][31]) return 1;
  }
  return 0;
}

/* y below p, the sign bit aside. */
static int PointIsCanonical(const uint8_t p[32]) {
  if ((p[31] & 0x7F) != 0x7F) return 1;
  for (int i = 30; i > 0; --i) {
    if (p[i] != 0xFF) return 1;
  }
  return p[0] < 0xED;
}

/* What is refused before any arithmetic: S not below the group order, R or A of small order, A
 * not canonical. */
static int Acceptable(const uint8_t sig[64], const uint8_t pk[32]) {
  return ScalarIsCanonical(sig + 32) && !HasSmallOrder(sig) && PointIsCanonical(pk) &&
         !HasSmallOrder(pk);
}

void tarnc_ed25519_start(tarnc_hash* h, const uint8_t sig[64], const uint8_t pk[32]) {
  tarnc_sha512_init(h);
  tarnc_sha512_update(h, sig, 32);
  tarnc_sha512_update(h, pk, 32);
}

/* [S]B + [k](-A) by one pass over the bits of both scalars (Straus). Its own frame: the caller's
 * hash state is no longer live when the points are. */
static TARNC_NOINLINE int Check(const uint8_t sig[64], const uint8_t pk[32], const uint8_t k[32]) {
  Point a, sum;
  if (!PointUnpackNegated(a, pk)) return 0;
  memset(sum, 0, sizeof sum);
  sum[1][0] = 1;
  sum[2][0] = 1;
  for (int i = 255; i >= 0; --i) {
    PointAdd(sum, (const Fe*)sum);
    if ((k[i >> 3] >> (i & 7)) & 1) PointAdd(sum, (const Fe*)a);
    if ((sig[32 + (i >> 3)] >> (i & 7)) & 1) PointAdd(sum, kBase);
  }
  uint8_t r[32];
  PointPack(r, (const Fe*)sum);
  return memcmp(r, sig, 32) == 0;
}

int tarnc_ed25519_finish(tarnc_hash* h, const uint8_t sig[64], const uint8_t pk[32]) {
  uint8_t digest[64], k[32];
  tarnc_sha512_final(h, digest);
  ReduceModOrder(k, digest);
  return Acceptable(sig, pk) && Check(sig, pk, k);
}

#ifndef TARNC_CORE_ONLY
int tarnc_ed25519_verify(const uint8_t sig[64], const void* message, size_t n,
                         const uint8_t pk[32]) {
  tarnc_hash h;
  tarnc_ed25519_start(&h, sig, pk);
  tarnc_sha512_update(&h, message, n);
  return tarnc_ed25519_finish(&h, sig, pk);
}
#endif
