/* Test firmware: the core on the device as a bootloader uses it. Every known-answer container
 * and its damaged forms (payload, key, one byte short, one byte long, magic) fed in pieces of 1,
 * 7, 8, 13 and 512 bytes into a staging slot and judged; every image encoded back in the same
 * pieces; single blocks against the known cipher answers; a larger image round-tripped; keys
 * from bytes and the CRC-32 for the boot-time check; no key word left in the stack below the
 * caller after any call; the instructions a byte costs with 1 KiB and 1-byte pieces; and, where
 * the board has the memory, the reference updater through power cuts. The result goes to the
 * host by semihosting. */
#include <string.h>

#include "board.h"
#include "tarn.h"
#include "vectors.h"
#if TARN_WITH_UPDATER
#include "updater_test.h"
#endif

#ifndef TARN_TEST_BYTES
#define TARN_TEST_BYTES 16384 /* the larger image; a board with little memory takes less */
#endif

static unsigned g_failures;

static void Check(int holds, const char* what) {
  if (!holds) {
    BoardWrite("FAILED: ");
    BoardWrite(what);
    BoardWrite("\n");
    ++g_failures;
  }
}

static const size_t kPieces[] = {1, 7, 8, 13, 512};

/* The staging slot: where an updater writes the image before it may mark it bootable. */
static unsigned char g_slot[TARN_TEST_BYTES + 8];
static unsigned char g_container[TARN_TEST_BYTES + TARN_HEADER_SIZE];

/* Feeds `n` container bytes in pieces into the slot; the verdict of finish. */
static tarn_status Stage(const unsigned char* bytes, size_t n, size_t piece, const tarn_key* key,
                         size_t* staged) {
  tarn_decoder dec;
  size_t at = 0, written = 0;
  tarn_status status = tarn_decoder_init(&dec, key);
  *staged = 0;
  while (status == TARN_OK && at < n) {
    const size_t take = n - at < piece ? n - at : piece;
    status = tarn_decoder_update(&dec, bytes + at, take, g_slot + *staged, &written);
    *staged += written;
    at += take;
  }
  /* Only a finish that says TARN_OK makes the slot bootable; after a failed piece it repeats
   * that failure. */
  return tarn_decoder_finish(&dec, NULL);
}

/* Encodes `n` image bytes in pieces; the container's size, 0 on a failure. */
static size_t Encode(const unsigned char* image, size_t n, size_t piece, const tarn_key* key) {
  tarn_encoder enc;
  size_t at = 0, put = TARN_HEADER_SIZE, written;
  if (tarn_encoder_init(&enc, key) != TARN_OK) return 0;
  while (at < n) {
    const size_t take = n - at < piece ? n - at : piece;
    if (tarn_encoder_update(&enc, image + at, take, g_container + put, &written) != TARN_OK) {
      return 0;
    }
    put += written;
    at += take;
  }
  if (tarn_encoder_finish(&enc, g_container + put, &written, g_container) != TARN_OK) return 0;
  return put + written;
}

static void TestKnownContainers(void) {
  static unsigned char bytes[64 + 1];
  tarn_key key, other;
  size_t v, p, staged;
  Check(tarn_key_from_hex("F38B2FFC80A4DF5A51C9BC701E7EA419", 32, &other) == TARN_OK, "key");
  for (v = 0; v < sizeof kVectors / sizeof kVectors[0]; ++v) {
    const struct Vector* k = &kVectors[v];
    Check(tarn_key_from_hex(k->key, 32, &key) == TARN_OK, "known key");
    for (p = 0; p < sizeof kPieces / sizeof kPieces[0]; ++p) {
      const size_t n = k->container_size;
      Check(Stage(k->container, n, kPieces[p], &key, &staged) == TARN_OK, "sound container");
      Check(staged == k->image_size && memcmp(g_slot, k->image, staged) == 0, "staged image");
      Check(Stage(k->container, n, kPieces[p], NULL, &staged) == TARN_OK && staged == 0,
            "payload check without a key");
      Check(Encode(k->image, k->image_size, kPieces[p], &key) == n &&
                memcmp(g_container, k->container, n) == 0,
            "encoded back");
      memcpy(bytes, k->container, n);
      Check(Stage(bytes, n - 1, kPieces[p], &key, &staged) == TARN_WRONG_SIZE, "short");
      bytes[n] = 0;
      Check(Stage(bytes, n + 1, kPieces[p], &key, &staged) == TARN_WRONG_SIZE, "long");
      bytes[5] ^= 1;
      Check(Stage(bytes, n, kPieces[p], &key, &staged) == TARN_NOT_A_CONTAINER, "bad magic");
      bytes[5] ^= 1;
      if (k->image_size == 0) continue;
      Check(Stage(bytes, n, kPieces[p], &other, &staged) == TARN_IMAGE_MISMATCH, "wrong key");
      bytes[n - 1] ^= 0x80;
      Check(Stage(bytes, n, kPieces[p], &key, &staged) == TARN_PAYLOAD_DAMAGED, "damaged");
    }
  }
}

static unsigned char g_image[TARN_TEST_BYTES];

static void TestBlocksAndALargerImage(void) {
  tarn_key key;
  size_t i, p, staged, n;
  for (i = 0; i < sizeof kBlocks / sizeof kBlocks[0]; ++i) {
    Check(tarn_key_from_hex(kBlocks[i].key, 32, &key) == TARN_OK, "block key");
    Check(Encode(kBlocks[i].plain, 8, 8, &key) == TARN_HEADER_SIZE + 8 &&
              memcmp(g_container + TARN_HEADER_SIZE, kBlocks[i].cipher, 8) == 0,
          "known block");
  }
  for (i = 0; i < sizeof g_image; ++i) g_image[i] = (unsigned char)(i * 131u + (i >> 7));
  for (p = 0; p < sizeof kPieces / sizeof kPieces[0]; ++p) {
    n = Encode(g_image, sizeof g_image - 3, kPieces[p], &key);
    Check(n == sizeof g_image - 3 + TARN_HEADER_SIZE, "larger image encoded");
    Check(Stage(g_container, n, kPieces[sizeof kPieces / sizeof kPieces[0] - 1 - p], &key,
                &staged) == TARN_OK &&
              staged == sizeof g_image - 3 && memcmp(g_slot, g_image, staged) == 0,
          "larger image decoded");
  }
}

/* Keys from one-time-programmable memory: the bytes in the order of the key's text. And the
 * CRC-32 a bootloader checks an installed image with: zlib's, chainable. */
static void TestKeyBytesAndCrc(void) {
  static const uint8_t otp[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                  0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
  tarn_key from_bytes, from_hex;
  Check(tarn_key_from_bytes(&from_bytes, otp) == TARN_OK &&
            tarn_key_from_hex("0123456789ABCDEFFEDCBA9876543210", 32, &from_hex) == TARN_OK &&
            memcmp(&from_bytes, &from_hex, sizeof from_hex) == 0,
        "key from bytes");
  Check(tarn_crc32(0, "123456789", 9) == 0xCBF43926u, "crc32 of the check string");
  Check(tarn_crc32(tarn_crc32(0, "1234", 4), "56789", 5) == 0xCBF43926u, "crc32 chained");
}

/* --- No key word below the caller ------------------------------------------------------------
 * The stack below this frame is painted, a call made, and the paint scanned for any of the key's
 * words, at any byte offset. (What an interrupt pushes during a call is the firmware's own
 * matter: none is enabled here.) */
#define PAINTED 1024
static const tarn_key kSecret = {{0x5EC2E701u, 0x5EC2E702u, 0x5EC2E703u, 0x5EC2E704u}};

/* Both run in the caller's frame (never called): the stack below it is the calls' own. */
static inline __attribute__((always_inline)) void Paint(void) {
  volatile uint8_t* below = (volatile uint8_t*)BoardStackPointer();
  size_t i;
  for (i = 1; i <= PAINTED; ++i) below[-(ptrdiff_t)i] = 0xA5;
}

static inline __attribute__((always_inline)) int KeyBelow(void) {
  const volatile uint8_t* below = (const volatile uint8_t*)BoardStackPointer();
  size_t i, w;
  for (i = 0; i + 4 <= PAINTED; ++i) {
    const volatile uint8_t* p = below - i - 4;
    const uint32_t v =
        (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
    for (w = 0; w < 4; ++w) {
      if (v == kSecret.words[w]) return 1;
    }
  }
  return 0;
}

/* The key words reach the key object through a call of their own, so that the caller's own
 * registers, which the calls below may save on the stack, never held them. */
static __attribute__((noinline)) void SetSecret(tarn_key* key) {
  *key = kSecret;
}

static void TestNoKeyBelow(void) {
  static tarn_decoder dec;
  static tarn_encoder enc;
  static tarn_rekeyer rk;
  static uint8_t blob[TARN_RESUME_SIZE], header[TARN_HEADER_SIZE];
  static tarn_key key;
  const size_t image = sizeof g_image - 11, first = image / 3, second = image / 5;
  size_t n, used, written, n_byte;
  SetSecret(&key);
  n = Encode(g_image, image, 1000, &key);
  Paint();
  (void)tarn_decoder_init(&dec, &key);
  Check(!KeyBelow(), "key below after init");
  Paint();
  (void)tarn_decoder_update(&dec, g_container, first, g_slot, &written);
  Check(!KeyBelow(), "key below after update");
  Paint();
  (void)tarn_decoder_step(&dec, g_container + first, second, &used, g_slot, 512, &written);
  Check(!KeyBelow(), "key below after step");
  (void)tarn_decoder_save(&dec, blob);
  Paint();
  (void)tarn_decoder_resume(&dec, &key, blob);
  Check(!KeyBelow(), "key below after resume");
  for (n_byte = 0; n_byte < 8; ++n_byte) { /* a byte a call: one of them completes a block */
    Paint();
    (void)tarn_decoder_update(&dec, g_container + first + used++, 1, g_slot, &written);
    Check(!KeyBelow(), "key below after a byte");
  }
  Paint();
  (void)tarn_decoder_update(&dec, g_container + first + used, n - first - used, g_slot, &written);
  Check(!KeyBelow(), "key below after the last update");
  Paint();
  Check(tarn_decoder_finish(&dec, NULL) == TARN_OK, "decoded under the painted stack");
  Check(!KeyBelow(), "key below after finish");
  Paint();
  (void)tarn_encoder_init(&enc, &key);
  (void)tarn_encoder_update(&enc, g_image, first + 1, g_slot, &written);
  Check(!KeyBelow(), "key below after encoding");
  Paint();
  (void)tarn_encoder_finish(&enc, g_slot, &written, header);
  Check(!KeyBelow(), "key below after the encoder's finish");
  Paint();
  (void)tarn_rekeyer_init(&rk, &key, &key);
  (void)tarn_rekeyer_update(&rk, g_container, n, g_slot, &written);
  (void)tarn_rekeyer_finish(&rk, header, NULL);
  Check(!KeyBelow(), "key below after re-keying");
  Paint();
  (void)tarn_key_from_bytes(&key, (const uint8_t*)kSecret.words);
  (void)tarn_key_from_hex("5EC2E7015EC2E7025EC2E7035EC2E704", 32, &key);
  Check(!KeyBelow(), "key below after reading a key");
}

/* --- What a byte costs --------------------------------------------------------------------- */
static uint32_t DecodeCost(size_t n, size_t piece, const tarn_key* key) {
  tarn_decoder dec;
  size_t at = 0, staged = 0, written;
  const uint32_t start = BoardInstructions();
  (void)tarn_decoder_init(&dec, key);
  for (; at < n; at += piece) {
    (void)tarn_decoder_update(&dec, g_container + at, n - at < piece ? n - at : piece,
                              g_slot + staged, &written);
    staged += written;
  }
  Check(tarn_decoder_finish(&dec, NULL) == TARN_OK, "decoded while counted");
  /* Tenths of an instruction a byte. */
  return (uint32_t)((uint64_t)(BoardInstructions() - start) * 10u / n);
}

static void TestCost(void) {
  tarn_key key;
  const size_t n = Encode(g_image, sizeof g_image, 4096, &kSecret);
  uint32_t kib, byte;
  key = kSecret;
  if (BoardInstructions() == 0 && BoardInstructions() == 0) {
    BoardWrite("instructions: no timer runs on this board in the emulator\n");
    return;
  }
  kib = DecodeCost(n, 1024, &key);
  byte = DecodeCost(n, 1, &key);
  BoardWriteNumber("instructions a byte x10, 1 KiB pieces: ", kib);
  BoardWriteNumber(", 1-byte pieces: ", byte);
  BoardWrite("\n");
#ifdef TARN_COST_LIMITS
  Check(kib <= 1000, "at most 100 instructions a byte with 1 KiB pieces");
  Check(byte <= 1600, "at most 160 instructions a byte with 1-byte pieces");
#endif
}

int main(void) {
  TestKnownContainers();
  TestBlocksAndALargerImage();
  TestKeyBytesAndCrc();
  TestNoKeyBelow();
  TestCost();
#if TARN_WITH_UPDATER
  g_failures += TestUpdater();
#endif
  BoardWrite(g_failures == 0 ? "device: all checks hold\n" : "device: FAILED\n");
  return g_failures != 0;
}
