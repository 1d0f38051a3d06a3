/* Test firmware: the stream objects on the device as an updater uses them. Every known-answer
 * container and its damaged forms (payload, key, one byte short, one byte long, magic) is fed
 * in pieces of 1, 7, 8, 13 and 512 bytes, written piece by piece into a staging slot and
 * judged; every image is encoded back in the same pieces; single blocks match the known
 * cipher answers; a larger image round-trips. The result goes to the host by semihosting. */
#include <string.h>

#include "board.h"
#include "tarn/tarn.h"
#include "vectors.h"

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
static unsigned char g_slot[8192];
static unsigned char g_container[8192 + TARN_HEADER_SIZE];

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
  static unsigned char bytes[sizeof g_container + 1];
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

static void TestBlocksAndALargerImage(void) {
  static unsigned char image[4099];
  tarn_key key;
  size_t i, p, staged, n;
  for (i = 0; i < sizeof kBlocks / sizeof kBlocks[0]; ++i) {
    Check(tarn_key_from_hex(kBlocks[i].key, 32, &key) == TARN_OK, "block key");
    Check(Encode(kBlocks[i].plain, 8, 8, &key) == TARN_HEADER_SIZE + 8 &&
              memcmp(g_container + TARN_HEADER_SIZE, kBlocks[i].cipher, 8) == 0,
          "known block");
  }
  for (i = 0; i < sizeof image; ++i) image[i] = (unsigned char)(i * 131u + (i >> 7));
  for (p = 0; p < sizeof kPieces / sizeof kPieces[0]; ++p) {
    n = Encode(image, sizeof image, kPieces[p], &key);
    Check(n == sizeof image + TARN_HEADER_SIZE, "larger image encoded");
    Check(Stage(g_container, n, kPieces[sizeof kPieces / sizeof kPieces[0] - 1 - p], &key,
                &staged) == TARN_OK &&
              staged == sizeof image && memcmp(g_slot, image, sizeof image) == 0,
          "larger image decoded");
  }
}

int main(void) {
  TestKnownContainers();
  TestBlocksAndALargerImage();
  BoardWrite(g_failures == 0 ? "device: all checks hold\n" : "device: FAILED\n");
  return g_failures != 0;
}
