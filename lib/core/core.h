/* The core of libtarn, in C99 and freestanding: the header's words and checks, the key's text,
 * the block cipher one block at a time, the CRC-32 by table, the one pass every payload goes
 * through, the one verdict, and the stream objects. Nothing here allocates, touches a file or
 * a thread, or uses the C library beyond <string.h>'s copying, filling and comparing, so the same
 * code is the device's whole library and the heart of every hosted front end.
 *
 * The core reaches the kernels through one seam, declared last: a build for one small processor
 * fills it with the portable paths (portable_kernels.c), a hosted build with the dispatch
 * between its accelerated paths. Names here are the library's own (tarnc_); the public ones are
 * in tarn/tarn.h. */
#ifndef TARN_CORE_CORE_H
#define TARN_CORE_CORE_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "tarn/tarn.h"

/* Internal functions are external in the library and static in the two-file amalgamation, which
 * also defines TARNC_CORE_ONLY: it leaves out what only the hosted build's kernels and file
 * calls use. */
#ifndef TARNC_FN
#define TARNC_FN
#endif

/* What the core asks of the compiler where it can say so: a helper always inlined, a function
 * never inlined (so that its frame is its own). */
#if defined(__GNUC__) || defined(__clang__)
#define TARNC_INLINE static inline __attribute__((always_inline))
#define TARNC_NOINLINE __attribute__((noinline))
#else
#define TARNC_INLINE static inline
#define TARNC_NOINLINE
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Little-endian 32-bit words in bytes: the byte order of the format on every host. */
TARNC_INLINE uint32_t tarnc_le32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
TARNC_INLINE void tarnc_put_le32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}
/* And 64-bit ones, as two 32-bit words, the low one first. */
TARNC_INLINE uint64_t tarnc_le64(const uint8_t* p) {
  return (uint64_t)tarnc_le32(p) | (uint64_t)tarnc_le32(p + 4) << 32;
}
TARNC_INLINE void tarnc_put_le64(uint8_t* p, uint64_t v) {
  tarnc_put_le32(p, (uint32_t)v);
  tarnc_put_le32(p + 4, (uint32_t)(v >> 32));
}

/* --- The header: thirteen little-endian 32-bit words in front of the payload. */
#define TARNC_HEADER_WORDS 13
enum tarnc_word {
  TARNC_W_ZERO,
  TARNC_W_MAGIC1,
  TARNC_W_MAGIC2,
  TARNC_W_TAG,
  TARNC_W_RESERVED1,
  TARNC_W_ONE,
  TARNC_W_RESERVED2,
  TARNC_W_PAYLOAD_CRC, /* CRC-32 of the container from byte 52 to its end */
  TARNC_W_IMAGE_CRC,   /* CRC-32 of the whole plain image */
  TARNC_W_VERSION_A,
  TARNC_W_RESERVED3,
  TARNC_W_VERSION_B,
  TARNC_W_IMAGE_SIZE /* the plain image's size in bytes */
};
/* Where word w is stored. */
#define TARNC_WORD_AT(w) ((size_t)4 * (size_t)(w))
#define TARNC_MAGIC1 0x72617571u /* "quar" */
#define TARNC_MAGIC2 0x74736F62u /* "bost" */
#define TARNC_TAG 0x0055454Eu    /* "NEU" and a zero byte */
#define TARNC_VERSION_A 11u
#define TARNC_VERSION_B 328u

typedef struct tarnc_header {
  uint32_t w[TARNC_HEADER_WORDS];
} tarnc_header;

/* The header an encode starts with: the fixed words, both CRCs 0. */
TARNC_FN void tarnc_header_for_encode(tarnc_header* h, uint32_t image_size);
/* The header of a re-keyed container: an encode's header for the same image (its size and CRC
 * from `old`), with the new payload's CRC. */
TARNC_FN void tarnc_header_rekeyed(tarnc_header* h, const tarnc_header* old, uint32_t payload_crc);
/* The first n bytes (at most 52); the words beyond them zero. */
TARNC_FN void tarnc_header_parse(tarnc_header* h, const uint8_t* bytes, size_t n);
TARNC_FN void tarnc_header_store(const tarnc_header* h, uint8_t bytes[TARN_HEADER_SIZE]);
/* The checks that the first `have` bytes of a header allow as they arrive: the magic once 12
 * are in (TARN_NOT_A_CONTAINER), the versions once 48 are (TARN_UNKNOWN_VERSION). */
TARNC_FN tarn_status tarnc_header_check_prefix(const uint8_t* bytes, size_t have);
/* The checks made before any CRC, in their order: the magic, the versions, and that the
 * container is image size + 52 bytes long. */
TARNC_FN tarn_status tarnc_header_check(const tarnc_header* h, uint64_t container_size);
/* The words, sizes and CRCs of `info`; its verdict fields are left as they are. */
TARNC_FN void tarnc_header_describe(const tarnc_header* h, uint64_t container_size,
                                    tarn_info* info);

/* --- The key's text: 32 hexadecimal digits into four words, most significant digit first.
 * 1 on success; 0, with `words` untouched, for anything else. */
TARNC_FN int tarnc_parse_hex(const char* text, size_t length, uint32_t words[4]);

/* --- The block cipher: 32 Feistel rounds on two 32-bit halves (bytes 0-3 and 4-7 of a block,
 * each little-endian) under four key words. */
#define TARNC_BLOCK 8
#define TARNC_ROUNDS 32
#define TARNC_DELTA 0x9E3779B9u
#define TARNC_DECIPHER_START 0xC6EF3720u /* TARNC_ROUNDS times TARNC_DELTA */
TARNC_FN void tarnc_encipher_block(uint32_t* v0, uint32_t* v1, const uint32_t key[4]);
TARNC_FN void tarnc_decipher_block(uint32_t* v0, uint32_t* v1, const uint32_t key[4]);
/* `blocks` blocks in place, one at a time: the reference of every faster path. */
TARNC_FN void tarnc_encipher_scalar(const uint32_t key[4], uint8_t* data, size_t blocks);
TARNC_FN void tarnc_decipher_scalar(const uint32_t key[4], uint8_t* data, size_t blocks);

/* --- CRC-32 by one table look-up per byte: a register starts at TARNC_CRC_START and is
 * complemented at the end. The reference of every faster path. */
#define TARNC_CRC_START 0xFFFFFFFFu
#ifndef TARNC_CORE_ONLY
TARNC_FN uint32_t tarnc_crc32_bytewise(uint32_t reg, const void* data, size_t n);
#endif
#ifndef TARNC_CORE_ONLY
/* Joining finished CRC-32 values of two stretches, for work split between workers: the shift
 * for the second stretch's length, x^(8n) modulo the polynomial (worked out once, by squaring),
 * then the CRC-32 of both stretches from each one's. */
TARNC_FN uint32_t tarnc_crc32_shift(uint64_t n);
TARNC_FN uint32_t tarnc_crc32_join(uint32_t shift, uint32_t crc1, uint32_t crc2);
#endif
/* The same with a 64-byte table, two look-ups a byte: the portable kernels' path, for devices
 * where a kilobyte of table costs more than the extra steps. */
TARNC_FN uint32_t tarnc_crc32_nibblewise(uint32_t reg, const void* data, size_t n);

/* --- The one pass: n bytes from `in` into `out` (the same pointer, or apart): the CRC of what
 * comes in, deciphered under `decipher` (NULL: not), the CRC of that, enciphered under
 * `encipher` (NULL: not), the CRC of what goes out. Whole blocks are transformed; the last n % 8
 * bytes are carried as they are, so n is a multiple of 8 but for the end of a payload. Without
 * `out` (NULL) only the CRC of what comes in is taken. The registers of a step left out follow
 * the one before: the image's is what comes in without a decipher, what goes out the image's
 * without an encipher. */
enum { TARNC_CRC_IN, TARNC_CRC_PLAIN, TARNC_CRC_OUT };
TARNC_FN void tarnc_crcs_start(uint32_t crcs[3]);
TARNC_FN void tarnc_pass(const uint32_t* decipher, const uint32_t* encipher, uint32_t crcs[3],
                         const uint8_t* in, uint8_t* out, size_t n);

/* --- The one verdict on a container: from its header, its length and what a pass found. */
typedef struct tarnc_findings {
  tarn_status early;         /* what stopped the run before the CRCs count (an early header
                                verdict, a failed read), else TARN_OK */
  uint32_t payload_crc;      /* finished CRC-32 of the payload */
  uint32_t image_crc;        /* finished CRC-32 of the deciphered image */
  int has_image;             /* image_crc was taken under a key */
  tarn_status after_payload; /* wins once the payload is sound, before the image is judged
                                (a failed write), else TARN_OK */
} tarnc_findings;
/* The verdict in its one order: early failure, magic, versions, size, payload CRC, what comes
 * after the payload, image CRC. Fills `info` (may be NULL) whole. */
TARNC_FN tarn_status tarnc_judge(const tarnc_header* h, uint64_t container_size,
                                 const tarnc_findings* f, tarn_info* info);

/* A container's verdict with what befell the output once the payload proved sound (`after`, a
 * failed write, else TARN_OK): the header's and the payload's verdicts come first, then the
 * output's failure, then the image's verdict. Every front end that writes reports in this
 * order; tarnc_judge does too. */
TARNC_FN tarn_status tarnc_after_payload(tarn_status verdict, tarn_status after);

/* Overwrites the TARNC_STACK_WIPE bytes of stack just below the caller's frame, where a cipher
 * loop it called left key words it spilled: the one-block paths call it after their loop (whose
 * frame is smaller: the device stage looks for key words below every call), so that no key word
 * stays in the stack. Never inlined, so that its frame lies where the loop's did. */
#define TARNC_STACK_WIPE 64
TARNC_FN void tarnc_wipe_below(void);

/* Overwrites n bytes in a way the compiler may not drop. */
TARNC_FN void tarnc_wipe(void* bytes, size_t n);

/* --- Saved states (the decoder's, the signature checker's): three letters that say whose and
 * the layout's version in the first four bytes, the CRC-32 of all before them in the last four,
 * so that a torn or foreign blob is refused. Seal writes the frame around what is filled in. */
TARNC_INLINE void tarnc_seal(uint8_t* blob, size_t size, const char mark[3], uint8_t version) {
  memcpy(blob, mark, 3);
  blob[3] = version;
  tarnc_put_le32(blob + size - 4, tarn_crc32(0, blob, size - 4));
}
TARNC_INLINE int tarnc_sealed(const uint8_t* blob, size_t size, const char mark[3],
                              uint8_t version) {
  return memcmp(blob, mark, 3) == 0 && blob[3] == version &&
         tarnc_le32(blob + size - 4) == tarn_crc32(0, blob, size - 4);
}

/* --- What a signature check needs: SHA-512 and BLAKE2b-512 a piece at a time (final wipes the
 * state), and Ed25519 checked over a message given whole or a piece at a time (start, the
 * message into the SHA-512 state, finish). 1 when the signature holds, else 0; finish also
 * refuses S not below the group order, R or A of small order and A not canonical. */
typedef tarn_hash_state_ tarnc_hash;
TARNC_FN void tarnc_sha512_init(tarnc_hash* s);
TARNC_FN void tarnc_sha512_update(tarnc_hash* s, const void* data, size_t n);
TARNC_FN void tarnc_sha512_final(tarnc_hash* s, uint8_t out[64]);
TARNC_FN void tarnc_blake2b_init(tarnc_hash* s);
TARNC_FN void tarnc_blake2b_update(tarnc_hash* s, const void* data, size_t n);
TARNC_FN void tarnc_blake2b_final(tarnc_hash* s, uint8_t out[64]);
TARNC_FN void tarnc_ed25519_start(tarnc_hash* h, const uint8_t sig[64], const uint8_t pk[32]);
TARNC_FN int tarnc_ed25519_finish(tarnc_hash* h, const uint8_t sig[64], const uint8_t pk[32]);
/* A device name as a signature's trusted comment carries it: 1 to TARN_DEVICE_NAME_MAX
 * letters, digits, '.', '_' and '-'. */
TARNC_FN int tarnc_is_device_name(const char* name, size_t n);
#ifndef TARNC_CORE_ONLY
TARNC_FN int tarnc_ed25519_verify(const uint8_t sig[64], const void* message, size_t n,
                                  const uint8_t pk[32]);
#endif

/* --- The seam to the kernels: `blocks` blocks in place, and n bytes into a CRC register. */
TARNC_FN void tarnc_encipher(const uint32_t key[4], uint8_t* data, size_t blocks);
TARNC_FN void tarnc_decipher(const uint32_t key[4], uint8_t* data, size_t blocks);
TARNC_FN uint32_t tarnc_crc32_update(uint32_t reg, const void* data, size_t n);

#ifdef __cplusplus
}
#endif

#endif /* TARN_CORE_CORE_H */
