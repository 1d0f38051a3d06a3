/* The stream objects' contract, compiled as C: for every way of cutting the same bytes into
 * pieces, the bytes out and the verdict are those of the buffer and file calls; each failing
 * status comes at the byte where it must; failures stick; the key leaves the object.
 * Usage: stream_test SCRATCH_DIR (made when missing) */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tarn/tarn.h"
#include "tests/contract.h"

/* The 9-byte image of the known answers and its container under this key. */
static const char* const kKey = "0123456789ABCDEFFEDCBA9876543210";
static const char* const kKnownImage = "123456789";
static const char* const kKnownContainer =
    "0000000071756172626f73744e455500000000000100000000000000c9cc710d2639f4cb0b00000000000000"
    "480100000900000056fe4bd24cc614ff39";

static tarn_key g_key, g_other;
static char g_file[4096];

static unsigned g_seed = 12345;
static unsigned Random(void) {
  g_seed = g_seed * 1103515245u + 12345u;
  return g_seed >> 8;
}

/* Piece sizes: a fixed size, or (size 0) random sizes up to 70000. */
static size_t Piece(size_t fixed) {
  return fixed != 0 ? fixed : Random() % 70000 + 1;
}

/* Encodes `image` in pieces; the container in `out` (its size returned, 0 on a failure). */
static size_t EncodeInPieces(const unsigned char* image, size_t size, size_t piece,
                             unsigned char* out) {
  tarn_encoder enc;
  size_t at = 0, put = TARN_HEADER_SIZE, written;
  if (tarn_encoder_init(&enc, &g_key) != TARN_OK) return 0;
  while (at < size) {
    size_t n = Piece(piece);
    if (n > size - at) n = size - at;
    if (tarn_encoder_update(&enc, image + at, n, out + put, &written) != TARN_OK) return 0;
    CHECK(written % 8 == 0 && written <= n + 7);
    at += n;
    put += written;
  }
  if (tarn_encoder_finish(&enc, out + put, &written, out) != TARN_OK) return 0;
  CHECK(written < 8);
  return put + written;
}

/* Decodes `container` in pieces of `piece` bytes (or the first piece `first`, the rest whole);
 * the image into `out`, *out_size its size; returns the verdict and fills `info`. */
static tarn_status DecodeInPieces(const unsigned char* container, size_t size, size_t first,
                                  size_t piece, const tarn_key* key, unsigned char* out,
                                  size_t* out_size, tarn_info* info) {
  tarn_decoder dec;
  size_t at = 0, written;
  tarn_status status = tarn_decoder_init(&dec, key), first_failure = TARN_OK;
  *out_size = 0;
  while (at < size) {
    size_t n = at == 0 && first != 0 ? first : Piece(piece);
    if (n > size - at) n = size - at;
    status = tarn_decoder_update(&dec, container + at, n, out + *out_size, &written);
    CHECK(status == TARN_OK || written == 0);
    /* A failure sticks: every later piece, and the end, give the same. */
    CHECK(first_failure == TARN_OK || status == first_failure);
    if (first_failure == TARN_OK) first_failure = status;
    *out_size += written;
    at += n;
  }
  status = tarn_decoder_finish(&dec, info);
  CHECK(first_failure == TARN_OK || status == first_failure);
  return status;
}

/* The verdict and info of tarn_verify_file on the same bytes. */
static tarn_status VerifyFile(const unsigned char* bytes, size_t n, const tarn_key* key,
                              tarn_info* info) {
  FILE* f = fopen(g_file, "wb");
  if (n > 0) fwrite(bytes, 1, n, f);
  fclose(f);
  return tarn_verify_file(g_file, key, info, NULL, NULL);
}

static void TestKnownAnswerAtEveryCut(void) {
  unsigned char container[64], out[64];
  const size_t size = FromHex(kKnownContainer, container);
  size_t cut, n;
  tarn_info info;
  CHECK(EncodeInPieces((const unsigned char*)kKnownImage, 9, 1, out) == size &&
        memcmp(out, container, size) == 0);
  for (cut = 0; cut <= size; ++cut) {
    CHECK(DecodeInPieces(container, size, cut, size, &g_key, out, &n, &info) == TARN_OK);
    CHECK(n == 9 && memcmp(out, kKnownImage, 9) == 0 && info.image_ok == 1);
  }
}

static void TestEveryCutAndPieceSizeAgrees(void) {
  static const size_t kPieces[] = {1, 7, 8, 9, 13, 4096, 0};
  static const size_t kSizes[] = {0, 5, 8, 100, (1u << 20) + 3};
  size_t s, p, cut, n;
  for (s = 0; s < sizeof kSizes / sizeof kSizes[0]; ++s) {
    const size_t size = kSizes[s];
    unsigned char* image = malloc(size + 1);
    unsigned char* whole = malloc(size + TARN_HEADER_SIZE);
    unsigned char* pieces = malloc(size + TARN_HEADER_SIZE);
    unsigned char* back = malloc(size + 8);
    tarn_info info;
    for (n = 0; n < size; ++n) image[n] = (unsigned char)Random();
    CHECK(tarn_encode_buffer(image, size, &g_key, whole, size + TARN_HEADER_SIZE) == TARN_OK);
    for (p = 0; p < sizeof kPieces / sizeof kPieces[0]; ++p) {
      if (size > 4096 && kPieces[p] != 0 && kPieces[p] < 4096) continue; /* too slow to matter */
      CHECK(EncodeInPieces(image, size, kPieces[p], pieces) == size + TARN_HEADER_SIZE &&
            memcmp(pieces, whole, size + TARN_HEADER_SIZE) == 0);
      CHECK(DecodeInPieces(whole, size + TARN_HEADER_SIZE, 0, kPieces[p], &g_key, back, &n,
                           &info) == TARN_OK);
      CHECK(n == size && memcmp(back, image, size) == 0);
    }
    for (cut = 0; size <= 100 && cut <= size + TARN_HEADER_SIZE; ++cut) {
      CHECK(DecodeInPieces(whole, size + TARN_HEADER_SIZE, cut, size + TARN_HEADER_SIZE, &g_key,
                           back, &n, &info) == TARN_OK);
      CHECK(n == size && memcmp(back, image, size) == 0);
    }
    free(image);
    free(whole);
    free(pieces);
    free(back);
  }
}

/* Every verdict equals tarn_verify_file's for the same bytes, info included, with and without
 * the key, whole and a byte at a time. */
static void TestVerdictsEqualTheFileCheck(void) {
  unsigned char good[200 + TARN_HEADER_SIZE], bytes[sizeof good + 1], out[sizeof good + 8];
  size_t i, n, v;
  int k;
  for (i = 0; i < 200; ++i) bytes[i] = (unsigned char)Random();
  CHECK(tarn_encode_buffer(bytes, 200, &g_key, good, sizeof good) == TARN_OK);
  for (v = 0; v < 9; ++v) {
    size_t size = sizeof good;
    memcpy(bytes, good, sizeof good);
    switch (v) {
      case 1:
        bytes[100] ^= 0x10;
        break; /* payload damaged */
      case 2:
        bytes[33] ^= 1;
        break; /* the image's CRC damaged */
      case 3:
        size -= 1;
        break; /* short */
      case 4:
        bytes[size++] = 0;
        break; /* long */
      case 5:
        bytes[5] = 'x';
        break; /* magic */
      case 6:
        bytes[44] = 0x49;
        break; /* version */
      case 7:
        size = 30;
        break; /* cut inside the header */
      case 8:
        size = 0;
        break; /* nothing */
    }
    for (k = 0; k < 3; ++k) {
      const tarn_key* key = k == 0 ? NULL : k == 1 ? &g_key : &g_other;
      tarn_info from_file, whole, bytewise;
      const tarn_status expected = VerifyFile(bytes, size, key, &from_file);
      CHECK(DecodeInPieces(bytes, size, 0, size + 1, key, out, &n, &whole) == expected);
      CHECK(DecodeInPieces(bytes, size, 0, 1, key, out, &n, &bytewise) == expected);
      CHECK(memcmp(&whole, &from_file, sizeof whole) == 0);
      CHECK(memcmp(&bytewise, &from_file, sizeof whole) == 0);
      /* Only the sound container passes, and one whose image CRC alone is damaged when no key
       * checks it. */
      CHECK((expected == TARN_OK) == ((v == 0 && k != 2) || (v == 2 && k == 0)));
    }
  }
}

/* Header failures by the 52nd byte, size failures at the first byte too many. */
static void TestStatusesComeAtTheirByte(void) {
  unsigned char c[TARN_HEADER_SIZE + 16], out[8];
  size_t i, written;
  int v;
  CHECK(tarn_encode_buffer("0123456789abcdef", 16, &g_key, c, sizeof c) == TARN_OK);
  for (v = 0; v < 3; ++v) {
    unsigned char bytes[sizeof c + 1];
    tarn_decoder dec;
    const tarn_status want = v == 0   ? TARN_NOT_A_CONTAINER
                             : v == 1 ? TARN_UNKNOWN_VERSION
                                      : TARN_WRONG_SIZE;
    const size_t by = v == 2 ? sizeof c : TARN_HEADER_SIZE - 1; /* the last byte it may take */
    size_t failed_at = sizeof bytes;
    memcpy(bytes, c, sizeof c);
    bytes[sizeof c] = 0;
    if (v == 0) bytes[0] = 1;
    if (v == 1) bytes[36] = 12;
    tarn_decoder_init(&dec, &g_key);
    for (i = 0; i < sizeof bytes && failed_at == sizeof bytes; ++i) {
      if (tarn_decoder_update(&dec, bytes + i, 1, out, &written) != TARN_OK) failed_at = i;
    }
    CHECK(failed_at <= by && (v != 2 || failed_at == by));
    CHECK(tarn_decoder_finish(&dec, NULL) == want);
    CHECK(tarn_decoder_update(&dec, bytes, 1, out, &written) == want);
  }
}

/* No key word is left in an object once it finished or failed; wrong calls are refused. */
static void TestKeysLeaveAndArgumentsAreChecked(void) {
  tarn_encoder enc;
  tarn_decoder dec;
  unsigned char header[TARN_HEADER_SIZE], out[16];
  size_t written;
  tarn_key key;
  tarn_key_from_hex("A5A5A5A5C3C3C3C35A5A5A5A3C3C3C3C", 32, &key);
  CHECK(tarn_encoder_init(&enc, &key) == TARN_OK);
  CHECK(tarn_encoder_update(&enc, "abc", 3, out, &written) == TARN_OK && written == 0);
  CHECK(tarn_encoder_finish(&enc, out, &written, header) == TARN_OK && written == 3);
  CHECK(memcmp(out, "abc", 3) == 0);
  CHECK(memchr(&enc, 0xA5, sizeof enc) == NULL && memchr(&enc, 0xC3, sizeof enc) == NULL);
  CHECK(tarn_encoder_update(&enc, "a", 1, out, &written) == TARN_INVALID_ARGUMENT);
  CHECK(tarn_decoder_init(&dec, &key) == TARN_OK);
  CHECK(tarn_decoder_update(&dec, "not a container", 15, out, &written) == TARN_NOT_A_CONTAINER);
  CHECK(memchr(&dec, 0xA5, sizeof dec) == NULL && memchr(&dec, 0xC3, sizeof dec) == NULL);
  CHECK(tarn_encoder_init(NULL, &key) == TARN_INVALID_ARGUMENT);
  CHECK(tarn_encoder_init(&enc, NULL) == TARN_INVALID_ARGUMENT);
  CHECK(tarn_encoder_update(&enc, NULL, 1, out, &written) == TARN_INVALID_ARGUMENT);
  CHECK(tarn_decoder_init(&dec, &key) == TARN_OK);
  CHECK(tarn_decoder_update(&dec, "x", 1, NULL, &written) == TARN_INVALID_ARGUMENT);
  CHECK(tarn_decoder_update(&dec, "x", 1, out, NULL) == TARN_INVALID_ARGUMENT);
  CHECK(tarn_decoder_finish(NULL, NULL) == TARN_INVALID_ARGUMENT);
  memset(&dec, 0, sizeof dec);
  CHECK(tarn_decoder_finish(&dec, NULL) == TARN_INVALID_ARGUMENT); /* never initialised */
}

/* A decoder fed as an updater feeds it: irregular pieces, a page of output at a time, its state
 * saved after every call and resumed in a fresh object as after a power cut. The pages hold the
 * image, every call makes progress, and the verdict is the uncut run's. */
static void TestStepsPagesAndResumes(void) {
  static unsigned char image[5003], container[sizeof image + TARN_HEADER_SIZE], out[sizeof image];
  static const size_t kPages[] = {1, 7, 64, 1024}, kIn[] = {1, 13, 300, 5000};
  unsigned char blob[TARN_RESUME_SIZE];
  size_t i, p, q, n;
  for (i = 0; i < sizeof image; ++i) image[i] = (unsigned char)Random();
  CHECK(tarn_encode_buffer(image, sizeof image, &g_key, container, sizeof container) == TARN_OK);
  for (p = 0; p < 4; ++p) {
    for (q = 0; q < 4; ++q) {
      tarn_decoder dec;
      size_t at = 0, put = 0, used, written;
      tarn_status status = tarn_decoder_init(&dec, &g_key);
      while (status == TARN_OK && (at < sizeof container || put < sizeof image)) {
        const size_t offer = sizeof container - at < kIn[q] ? sizeof container - at : kIn[q];
        const size_t room = sizeof image - put < kPages[p] ? sizeof image - put : kPages[p];
        if (kIn[q] == 1 && kPages[p] >= 8) { /* a byte an interrupt: update's own short way */
          status = tarn_decoder_update(&dec, container + at, offer, out + put, &written);
          used = offer;
        } else {
          status = tarn_decoder_step(&dec, container + at, offer, &used, out + put, room, &written);
        }
        CHECK(written <= room && used <= offer && (used != 0 || written != 0));
        if (used == 0 && written == 0) break;
        at += used;
        put += written;
        CHECK(tarn_decoder_position(&dec) == at);
        CHECK(tarn_decoder_save(&dec, blob) == TARN_OK);
        memset(&dec, 0x5A, sizeof dec); /* the power cut */
        CHECK(tarn_decoder_resume(&dec, &g_key, blob) == TARN_OK);
      }
      CHECK(status == TARN_OK && at == sizeof container && put == sizeof image);
      CHECK(memcmp(out, image, sizeof image) == 0);
      CHECK(tarn_decoder_finish(&dec, NULL) == TARN_OK);
    }
  }
  /* A torn or foreign blob, or the wrong kind of key, is refused, never resumed. */
  {
    tarn_decoder dec;
    CHECK(tarn_decoder_init(&dec, &g_key) == TARN_OK);
    CHECK(tarn_decoder_update(&dec, container, 100, out, &n) == TARN_OK);
    CHECK(tarn_decoder_save(&dec, blob) == TARN_OK);
    CHECK(tarn_decoder_resume(&dec, NULL, blob) == TARN_INVALID_ARGUMENT);
    for (i = 0; i < sizeof blob; ++i) {
      blob[i] ^= 0x01;
      CHECK(tarn_decoder_resume(&dec, &g_key, blob) == TARN_INVALID_ARGUMENT);
      blob[i] ^= 0x01;
    }
  }
}

/* The re-keyer gives the container tarn_encode_buffer makes under the new key, in any pieces,
 * and nothing but a verdict under a wrong old key. */
static void TestRekeyerAndCrc(void) {
  static unsigned char image[777], old[sizeof image + TARN_HEADER_SIZE], again[sizeof old],
      made[sizeof old + 8];
  size_t i, piece;
  for (i = 0; i < sizeof image; ++i) image[i] = (unsigned char)Random();
  CHECK(tarn_encode_buffer(image, sizeof image, &g_key, old, sizeof old) == TARN_OK);
  CHECK(tarn_encode_buffer(image, sizeof image, &g_other, again, sizeof again) == TARN_OK);
  for (piece = 1; piece < sizeof old; piece = piece * 3 + 1) {
    const tarn_key* old_key = piece == 1 ? &g_other : &g_key;
    tarn_rekeyer rk;
    size_t at = 0, put = TARN_HEADER_SIZE, written;
    CHECK(tarn_rekeyer_init(&rk, old_key, &g_other) == TARN_OK);
    for (; at < sizeof old; at += piece) {
      const size_t n = sizeof old - at < piece ? sizeof old - at : piece;
      CHECK(tarn_rekeyer_update(&rk, old + at, n, made + put, &written) == TARN_OK);
      put += written;
    }
    if (piece == 1) {
      CHECK(tarn_rekeyer_finish(&rk, made, NULL) == TARN_IMAGE_MISMATCH);
      continue;
    }
    CHECK(tarn_rekeyer_finish(&rk, made, NULL) == TARN_OK);
    CHECK(put == sizeof again && memcmp(made, again, sizeof again) == 0);
  }
  /* The format's CRC-32 is zlib's, and chains. */
  CHECK(tarn_crc32(0, "123456789", 9) == 0xCBF43926u);
  CHECK(tarn_crc32(tarn_crc32(0, "1234", 4), "56789", 5) == 0xCBF43926u);
  CHECK(tarn_crc32(7, NULL, 0) == 7);
}

/* Every status has its own word; verdicts are the container's own failures. */
static void TestStatusWords(void) {
  int s, t;
  for (s = TARN_OK; s <= TARN_OTHER_DEVICE; ++s) {
    const int verdict = s <= TARN_IMAGE_MISMATCH || s >= TARN_BAD_SIGNATURE;
    CHECK(strcmp(tarn_status_name((tarn_status)s), "unknown") != 0);
    CHECK(tarn_status_is_verdict((tarn_status)s) == verdict);
    for (t = TARN_OK; t < s; ++t) {
      CHECK(strcmp(tarn_status_name((tarn_status)s), tarn_status_name((tarn_status)t)) != 0);
    }
  }
  CHECK(strcmp(tarn_status_name(TARN_PAYLOAD_DAMAGED), "payload-damaged") == 0);
  CHECK(strcmp(tarn_status_name((tarn_status)(TARN_OTHER_DEVICE + 1)), "unknown") == 0);
  CHECK(!tarn_status_is_verdict((tarn_status)(TARN_OTHER_DEVICE + 1)));
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  MakeDir(argv[1]);
  snprintf(g_file, sizeof g_file, "%s/stream.cnt", argv[1]);
  tarn_key_from_hex(kKey, 32, &g_key);
  tarn_key_from_hex("F38B2FFC80A4DF5A51C9BC701E7EA419", 32, &g_other);
  TestKnownAnswerAtEveryCut();
  TestEveryCutAndPieceSizeAgrees();
  TestVerdictsEqualTheFileCheck();
  TestStatusesComeAtTheirByte();
  TestKeysLeaveAndArgumentsAreChecked();
  TestStepsPagesAndResumes();
  TestRekeyerAndCrc();
  TestStatusWords();
  remove(g_file);
  printf("stream objects: %s\n", failures == 0 ? "all checks hold" : "FAILED");
  return failures == 0 ? 0 : 1;
}
