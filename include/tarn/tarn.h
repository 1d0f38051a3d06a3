/* libtarn: firmware image containers.
 *
 * A container is a 52-byte header holding two CRC-32 values (of the enciphered payload and of
 * the plain image), followed by the image enciphered in independent 64-bit blocks under a
 * 128-bit key; the last 1 to 7 bytes of an image whose size is not a multiple of 8 follow
 * unenciphered, so a container is always exactly 52 bytes longer than its image.
 *
 * Every function returns a status and never prints, exits or throws. The library keeps no
 * state between calls but its choice of processor paths, made once; calls on different files
 * may run on several threads at once. A file function on 1 MiB or more shares the work with
 * one thread of its own, started and joined within the call; on Linux that thread is asked
 * onto another processor than the caller's, among those the caller may use.
 *
 * File functions give the guarantees of the console program: the input is read once and held
 * against writers while it is read, and must not change meanwhile; the output is written
 * under no name (or a short hidden one) in its directory and takes its name only when the
 * whole run succeeded, with its data and its name synced to stable storage first; an existing
 * output keeps its permissions and is replaced only when this user could overwrite it in
 * place; a refusal comes before anything is created; a failure or cancellation leaves nothing
 * behind and an existing output as it was. Paths are narrow strings: bytes as the system
 * takes them on POSIX (UTF-8 on most systems), the ANSI code page on Windows.
 *
 * Written in C99; usable from C++. */
#ifndef TARN_TARN_H
#define TARN_TARN_H

#include <stddef.h>
#include <stdint.h>

#if defined(TARN_STATIC)
#define TARN_API
#elif defined(_WIN32)
#if defined(TARN_BUILDING_LIBRARY)
#define TARN_API __declspec(dllexport)
#else
#define TARN_API __declspec(dllimport)
#endif
#else
#define TARN_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define TARN_HEADER_SIZE 52
/* The largest image whose container fits the format's 32-bit sizes. */
#define TARN_MAX_IMAGE_SIZE 4294967243u

typedef struct tarn_key {
  uint32_t words[4];
} tarn_key;

/* tarn_status_name gives each status a stable word for scripts and logs; tarn_status_is_verdict
 * tells the verdicts on a container (the bytes are not a sound container under this key, or
 * not the one wanted) from the trouble that kept a run from reaching one. Values never change:
 * new statuses are appended. */
typedef enum tarn_status {
  TARN_OK = 0,             /* "ok" */
  TARN_NOT_A_CONTAINER,    /* "not-a-container": the magic words are not there */
  TARN_UNKNOWN_VERSION,    /* "unknown-version": a container of another format version */
  TARN_WRONG_SIZE,         /* "wrong-size": shorter or longer than its header says */
  TARN_PAYLOAD_DAMAGED,    /* "payload-damaged": the payload's CRC-32 is not the header's */
  TARN_IMAGE_MISMATCH,     /* "image-mismatch": the deciphered image's CRC-32 is not the
                              header's: wrong key or damaged header */
  TARN_TOO_LARGE,          /* "too-large": an image over TARN_MAX_IMAGE_SIZE, or a buffer too
                              small */
  TARN_BAD_KEY,            /* "bad-key": not 32 hexadecimal digits */
  TARN_CANT_OPEN_INPUT,    /* "cant-open-input": missing, unreadable, not a regular file or
                              block device, held by a writer */
  TARN_CANT_CREATE_OUTPUT, /* "cant-create-output": the input itself, a directory or device, an
                              existing file this user could not overwrite, a directory that
                              takes no new file */
  TARN_READ_FAILED,        /* "read-failed": a read failed, or the input changed meanwhile */
  TARN_WRITE_FAILED,       /* "write-failed": a write or the final sync failed */
  TARN_NO_MEMORY,          /* "no-memory" */
  TARN_CANCELLED,          /* "cancelled": the progress callback asked to stop */
  TARN_INVALID_ARGUMENT,   /* "invalid-argument": a NULL pointer where one is needed, an object
                              used out of turn, a saved state that is not one */
  TARN_INTERNAL_ERROR,     /* "internal-error": a fault of the library itself: please report it */
  TARN_BAD_SIGNATURE,      /* "bad-signature": the signature does not hold for these bytes */
  TARN_NO_SIGNATURE,       /* "no-signature": none where one is required */
  TARN_OLDER_VERSION,      /* "older-version": signed as a lower version than required */
  TARN_OTHER_DEVICE        /* "other-device": signed for another device */
} tarn_status;

/* What a container says about itself and what was checked. */
typedef struct tarn_info {
  uint32_t words[13]; /* the header as stored (as far as the file holds it) */
  uint64_t image_size, container_size;
  uint32_t image_crc, payload_crc; /* as stored in the header */
  int payload_checked, payload_ok; /* payload CRC recomputed from the file (no key needed) */
  int image_checked, image_ok;     /* deciphered image's CRC recomputed (key given) */
} tarn_info;

/* Called from the calling thread as the data goes through, with the bytes done so far and the
 * bytes in all; a non-zero return cancels the run (TARN_CANCELLED). May be NULL. */
typedef int (*tarn_progress_fn)(void* user, uint64_t done, uint64_t total);

/* The library's version, "MAJOR.MINOR.PATCH". */
#define TARN_VERSION_MAJOR 0
#define TARN_VERSION_MINOR 2
#define TARN_VERSION_PATCH 0
TARN_API const char* tarn_version(void);

/* A short English text for a status; never NULL (unknown values give "unknown status"). */
TARN_API const char* tarn_status_string(tarn_status status);

/* The status's stable word ("ok", "payload-damaged", ...; the list above); "unknown" for a
 * value this version does not know. */
TARN_API const char* tarn_status_name(tarn_status status);

/* 1 for a verdict on a container (TARN_OK and every way a container can fail its checks:
 * header, CRCs, signature, version, device), 0 for trouble that kept a run from reaching one
 * (a file, memory, an argument, a cancellation). */
TARN_API int tarn_status_is_verdict(tarn_status status);

/* Keys. The text of a key is 32 hexadecimal digits: four groups of eight, each group one key
 * word, its most significant digit first. As bytes, byte i is digits 2i and 2i+1, so word i is
 * bytes 4i..4i+3 read big-endian: "0123456789ABCDEF..." is words 0x01234567, 0x89ABCDEF, ...
 * and bytes 0x01, 0x23, 0x45, ... */

/* 32 hexadecimal digits in either case, nothing else, into a key: TARN_BAD_KEY otherwise. */
TARN_API tarn_status tarn_key_from_hex(const char* hex, size_t length, tarn_key* key);

/* A key file's text into a key: at most TARN_MAX_KEY_TEXT bytes; an optional UTF-8 byte-order
 * mark, then spaces and tabs, the 32 digits, then any spaces, tabs, CRs and LFs (empty lines
 * included); nothing else (TARN_BAD_KEY). */
#define TARN_MAX_KEY_TEXT 4096
TARN_API tarn_status tarn_key_from_text(const char* text, size_t length, tarn_key* key);

/* 16 bytes in the order of the key's text (byte i is digits 2i, 2i+1) into a key: for keys kept
 * in one-time-programmable memory or a secure element. */
TARN_API tarn_status tarn_key_from_bytes(tarn_key* key, const uint8_t bytes[16]);

/* The format's CRC-32 (IEEE 802.3, reflected, as zlib's crc32): `crc` is the value so far, 0 to
 * start; tarn_crc32(tarn_crc32(0, a, n), b, m) is the CRC-32 of a then b. For checking an
 * installed image against tarn_info's image_crc at boot. `data` may be NULL when size is 0. */
TARN_API uint32_t tarn_crc32(uint32_t crc, const void* data, size_t size);

/* --- Files and buffers (hosted builds: not in the core a device compiles) ---------------- */
/* hosted-only: begin */

/* The plain image at `input` into a container at `output`. */
TARN_API tarn_status tarn_encode_file(const char* input, const char* output, const tarn_key* key,
                                      tarn_progress_fn progress, void* user);

/* The container at `input` checked and turned back into the plain image at `output`, which is
 * published only when both CRCs match. */
TARN_API tarn_status tarn_decode_file(const char* input, const char* output, const tarn_key* key,
                                      tarn_progress_fn progress, void* user);

/* Checks the container at `input` without writing anything: the header, the payload's CRC,
 * and with a key (not NULL) the deciphered image's CRC. Fills `info` (may be NULL) as far as
 * it got: a file that fails the magic check still has its words. */
TARN_API tarn_status tarn_verify_file(const char* input, const tarn_key* key, tarn_info* info,
                                      tarn_progress_fn progress, void* user);

/* The container under `old_key` at `input` into the same image's container under `new_key`
 * at `output`, in one pass, without the plain image ever reaching a file; published only when
 * the old key's image CRC matched. The result equals tarn_encode_file of the image. */
TARN_API tarn_status tarn_rekey_file(const char* input, const char* output, const tarn_key* old_key,
                                     const tarn_key* new_key, tarn_progress_fn progress,
                                     void* user);

/* Why the last file call (tarn_*_file) on the calling thread failed, beyond its status: the
 * system's error code (errno on POSIX, GetLastError on Windows; 0 when none stood behind it)
 * and a short English text of the cause, the system's ("No such file or directory",
 * "Permission denied") or the library's ("is the input itself", "another user's file",
 * "held by a writer", "changed while it was read"); "" when the status says all (a verdict on
 * a container, a cancellation). Each thread sees its own calls; each file call starts afresh. */
typedef struct tarn_cause {
  int system_error;
  char text[120];
} tarn_cause;
TARN_API void tarn_last_cause(tarn_cause* cause);

/* An image in memory into a container in memory: `capacity` must be at least
 * size + TARN_HEADER_SIZE (TARN_TOO_LARGE otherwise). */
TARN_API tarn_status tarn_encode_buffer(const void* image, size_t size, const tarn_key* key,
                                        void* container, size_t capacity);

/* A container in memory checked and turned back into the image: `capacity` must hold the
 * image (size - TARN_HEADER_SIZE); *image_size gets its size. On any failure nothing is
 * left in `image`. */
TARN_API tarn_status tarn_decode_buffer(const void* container, size_t size, const tarn_key* key,
                                        void* image, size_t capacity, size_t* image_size);

/* Streams of bytes: the same runs over a pipe, a socket or a file already open, given as a
 * descriptor (POSIX) or a HANDLE (Windows). `in` is read from where it stands to its end: a
 * regular file where it is, shared between two workers as a named file is; anything else first
 * into an unnamed temporary file (in $TMPDIR, or the user's temporary folder). The result goes
 * to an unnamed temporary file and reaches `out` (from where it stands) only once the run has
 * succeeded: nothing is written to `out` before the verdict. The key words live in locked
 * memory and the stack below the call is wiped, as for the file calls. Neither is closed.
 * TARN_CANT_OPEN_INPUT for an `in` that is not open, TARN_CANT_CREATE_OUTPUT when no
 * temporary file can be had (the cause names $TMPDIR when it is the trouble). */
typedef intptr_t tarn_handle;
TARN_API tarn_status tarn_encode_handles(tarn_handle in, tarn_handle out, const tarn_key* key,
                                         tarn_progress_fn progress, void* user);
TARN_API tarn_status tarn_decode_handles(tarn_handle in, tarn_handle out, const tarn_key* key,
                                         tarn_progress_fn progress, void* user);
TARN_API tarn_status tarn_rekey_handles(tarn_handle in, tarn_handle out, const tarn_key* old_key,
                                        const tarn_key* new_key, tarn_progress_fn progress,
                                        void* user);
TARN_API tarn_status tarn_verify_handle(tarn_handle in, const tarn_key* key, tarn_info* info,
                                        tarn_progress_fn progress, void* user);

/* hosted-only: end */

/* --- Streams -----------------------------------------------------------------------------
 * The same containers, made and checked a piece at a time: for pipes, sockets and the device
 * that receives a container over a serial line. The objects live in the caller's memory, of
 * fixed size; the calls allocate nothing, touch no file, start no thread and take no lock, so
 * they build for a microcontroller too. One object is for one thread at a time; different
 * objects may be used on different threads at once. `in` and `out` must not overlap.
 *
 * Lifecycle: init, any number of updates, finish. After finish the object must be initialised
 * again (other calls give TARN_INVALID_ARGUMENT), except that an object that failed keeps
 * giving its failure. The key words in an object are wiped by finish and by every failure; an
 * object abandoned before that is wiped by calling finish on it (or by overwriting its bytes,
 * e.g. with memset, in a way the compiler keeps). NULL pointers give TARN_INVALID_ARGUMENT. */

#define TARN_STREAM_WORDS 16

/* The objects' insides are the library's alone: their layout may change from one version to
 * the next, their size does not. A caller allocates an object (on the stack, statically, in a
 * struct of its own) and passes its address; nothing else. */
typedef struct tarn_stream_state_ {
  uint64_t position;                /* container or image bytes taken so far */
  uint32_t live, failed;            /* which object, while live; a status kept */
  uint32_t key[4], new_key[4];      /* the key words; a re-key's second key */
  uint32_t crc[3];                  /* CRC-32 registers of what comes in, of the image and
                                       of what goes out */
  uint32_t image_size;              /* the header's, once the header is whole */
  uint8_t header[TARN_HEADER_SIZE]; /* the header as it came in */
  uint8_t held[8];                  /* bytes of a block not yet whole, or made and not given */
  uint8_t held_count, pending, has_key;
  uint8_t gather; /* the bytes that complete a decoder's gathered block */
} tarn_stream_state_;

/* Caller-owned state of fixed size (TARN_STREAM_WORDS 64-bit words): no allocation, no OS, no
 * threads. */
typedef struct tarn_encoder {
  union {
    uint64_t opaque[TARN_STREAM_WORDS];
    tarn_stream_state_ state_;
  } u_;
} tarn_encoder;
typedef struct tarn_decoder {
  union {
    uint64_t opaque[TARN_STREAM_WORDS];
    tarn_stream_state_ state_;
  } u_;
} tarn_decoder;
typedef struct tarn_rekeyer {
  union {
    uint64_t opaque[TARN_STREAM_WORDS];
    tarn_stream_state_ state_;
  } u_;
} tarn_rekeyer;

TARN_API tarn_status tarn_encoder_init(tarn_encoder* enc, const tarn_key* key);
/* The next `size` image bytes, enciphered, into `out` (room for size + 7 bytes); *written gets
 * the count. Whole blocks go out at once; up to 7 bytes wait for the next call or the end. */
TARN_API tarn_status tarn_encoder_update(tarn_encoder* enc, const void* in, size_t size, void* out,
                                         size_t* written);
/* The end of the image: the held bytes (0-7, unenciphered when they are the tail) into `out`
 * (room for 7), and the 52-byte header that goes before the payload into `header`.
 * TARN_TOO_LARGE once the image passed TARN_MAX_IMAGE_SIZE (also from update). */
TARN_API tarn_status tarn_encoder_finish(tarn_encoder* enc, void* out, size_t* written,
                                         uint8_t header[TARN_HEADER_SIZE]);

/* key NULL: the payload's CRC alone is checked and no image bytes come out (out may be NULL). */
TARN_API tarn_status tarn_decoder_init(tarn_decoder* dec, const tarn_key* key);
/* The next `size` container bytes; deciphered image bytes into `out` (room for size + 7).
 * Returns TARN_NOT_A_CONTAINER or TARN_UNKNOWN_VERSION no later than the call that brings the
 * 52nd byte, TARN_WRONG_SIZE no later than the call that brings a byte beyond the size the
 * header announces; after a failure every later call returns the same status, and a failing
 * call writes nothing (*written 0). Image bytes are unverified until finish says TARN_OK: write
 * them where nothing uses them before that (a staging slot, an unnamed file). */
TARN_API tarn_status tarn_decoder_update(tarn_decoder* dec, const void* in, size_t size, void* out,
                                         size_t* written);
/* As update, but the output is bounded: takes no more of the `in_size` bytes offered
 * (*in_used gets how many) than the image bytes they make fit in `out_capacity` (*written gets
 * how many), so that `out` can be a flash page filled exactly. Bytes of a block not yet whole
 * may be taken and held; a block made and not yet given goes out first on the next call. Every
 * call makes progress while there is input to take or output to give and room for it. The same
 * statuses as update; offering bytes beyond the container's announced size is TARN_WRONG_SIZE. */
TARN_API tarn_status tarn_decoder_step(tarn_decoder* dec, const void* in, size_t in_size,
                                       size_t* in_used, void* out, size_t out_capacity,
                                       size_t* written);
/* The verdict tarn_verify_file gives for the same bytes (a stream cut short, its header
 * included, is judged as a file of that length); fills `info` (may be NULL) the same way.
 * TARN_INVALID_ARGUMENT while a step still holds image bytes not given out. */
TARN_API tarn_status tarn_decoder_finish(tarn_decoder* dec, tarn_info* info);
/* How many container bytes the decoder has taken: where the transport resumes after a power
 * cut. 0 for an object that is not live. */
TARN_API uint64_t tarn_decoder_position(const tarn_decoder* dec);

/* Resuming after a power cut: save writes the decoder's state, without the key, into `blob`
 * (TARN_RESUME_SIZE bytes, with a version and a check word) for flash; resume makes a decoder
 * from such a blob and the same key again (NULL if it was made without one). A torn, foreign
 * or damaged blob, or a key where there was none (or none where there was one), is
 * TARN_INVALID_ARGUMENT and never resumed. The resumed decoder gives the bytes and the verdict
 * of the decoder saved, from tarn_decoder_position on. */
#define TARN_RESUME_SIZE 96
TARN_API tarn_status tarn_decoder_save(const tarn_decoder* dec, uint8_t blob[TARN_RESUME_SIZE]);
TARN_API tarn_status tarn_decoder_resume(tarn_decoder* dec, const tarn_key* key,
                                         const uint8_t blob[TARN_RESUME_SIZE]);

/* A container under `old_key` into the same image's container under `new_key`, a piece at a
 * time, without the image ever leaving the object but deciphered and enciphered again block by
 * block. update takes container bytes and gives the new payload (room for size + 7; the
 * header's bytes give nothing); finish gives the verdict of tarn_decoder_finish under the old
 * key and, only when it is TARN_OK, the new header, which goes before the new payload. */
TARN_API tarn_status tarn_rekeyer_init(tarn_rekeyer* rk, const tarn_key* old_key,
                                       const tarn_key* new_key);
TARN_API tarn_status tarn_rekeyer_update(tarn_rekeyer* rk, const void* in, size_t size, void* out,
                                         size_t* written);
TARN_API tarn_status tarn_rekeyer_finish(tarn_rekeyer* rk, uint8_t header[TARN_HEADER_SIZE],
                                         tarn_info* info);

/* --- Signatures ---------------------------------------------------------------------------
 * Who made a container, and for which version and device: a detached signature beside it, in
 * minisign's format, made with an Ed25519 key: over the BLAKE2b-512 hash of the container
 * ("ED", what tarntool makes) or over the container itself (the legacy "Ed"), with a trusted
 * comment that a second signature covers. The comment's signed fields are its tokens,
 * separated by spaces or tabs, that begin `version=` (a decimal number below 2^64) or
 * `device=` (1 to TARN_DEVICE_NAME_MAX letters, digits, '.', '_', '-'), each at most once;
 * other tokens are the signer's own (minisign's default "file:version=9" is no version).
 * Checking needs public data alone and is in the core a device compiles; making signatures
 * needs the secret key and is in the hosted library alone. A signature proves who signed the
 * bytes; it keeps nothing secret (the cipher's key does), and a stolen signing key signs
 * anything. */

typedef struct tarn_public_key {
  uint8_t id[8];   /* the key id as stored: 16 hexadecimal digits of its little-endian value */
  uint8_t key[32]; /* the Ed25519 public key */
} tarn_public_key;

/* A public key file's text (an "untrusted comment: " line, then the base64 line) or the base64
 * line alone, with or without line endings: TARN_INVALID_ARGUMENT for anything else. */
TARN_API tarn_status tarn_public_key_from_text(tarn_public_key* key, const char* text,
                                               size_t length);
/* A key id as 16 upper-case hexadecimal digits of its little-endian value (the number minisign
 * shows, there without leading zeros) into `text`, ended by a NUL. */
TARN_API void tarn_key_id_text(const uint8_t id[8], char text[17]);

#define TARN_DEVICE_NAME_MAX 63
/* What a signature says, and why it was refused. */
typedef struct tarn_signature_info {
  uint8_t key_id[8]; /* of the key that made it */
  int prehashed;     /* 1: "ED", over the container's BLAKE2b-512 hash; 0: legacy "Ed" */
  int has_version;   /* the trusted comment holds version= */
  uint64_t version;
  char device[TARN_DEVICE_NAME_MAX + 1]; /* its device=, "" when none */
  const char* reason; /* a few words on a refusal ("signed by another key", "the bytes are not
                         those signed", ...); "" otherwise */
} tarn_signature_info;

/* What a signature must also say to be accepted: a version of at least `min_version` (when not
 * 0: a signature without a version is refused as older, TARN_OLDER_VERSION) and the device
 * `device` (when not NULL: one for another device or none is TARN_OTHER_DEVICE). */
typedef struct tarn_signature_policy {
  uint64_t min_version;
  const char* device;
} tarn_signature_policy;

/* The checker's insides, the library's alone (their layout may change, the size does not). */
typedef struct tarn_hash_state_ {
  uint64_t h[8];
  uint64_t count;
  uint32_t fill, reserved_;
  uint8_t buf[128];
} tarn_hash_state_;
typedef struct tarn_verifier_state_ {
  tarn_hash_state_ hash;
  uint8_t signature[64];
  uint8_t public_key[32];
  tarn_signature_info info;
  uint32_t live, failed;
} tarn_verifier_state_;

#define TARN_VERIFIER_WORDS 56
/* Caller-owned state of fixed size, like the stream objects: a signature checked as the
 * container's bytes arrive, in the same pass that decodes them. */
typedef struct tarn_verifier {
  union {
    uint64_t opaque[TARN_VERIFIER_WORDS];
    tarn_verifier_state_ state_;
  } u_;
} tarn_verifier;

/* Reads the signature file's text (4 lines: "untrusted comment: ...", the signature, "trusted
 * comment: ...", the comment's signature; CRLF line ends too), and checks before any container
 * byte what needs none: that `key` made it, that the trusted comment is the one signed, its
 * fields, then `policy` (may be NULL). TARN_BAD_SIGNATURE (a text that is no signature file
 * too), TARN_OLDER_VERSION or TARN_OTHER_DEVICE, with `info` (may be NULL) saying why; the
 * object then keeps that status. */
TARN_API tarn_status tarn_verifier_init(tarn_verifier* v, const tarn_public_key* key,
                                        const char* signature, size_t length,
                                        const tarn_signature_policy* policy,
                                        tarn_signature_info* info);
/* The next `size` bytes of the container. */
TARN_API tarn_status tarn_verifier_update(tarn_verifier* v, const void* data, size_t size);
/* TARN_OK when the signature holds for all the bytes given, else TARN_BAD_SIGNATURE; fills
 * `info` (may be NULL). The object must be initialised again after. */
TARN_API tarn_status tarn_verifier_finish(tarn_verifier* v, tarn_signature_info* info);
/* The checker's state for flash after a page, as tarn_decoder_save: public data only, with a
 * version and a check word; resume needs the same public key again (TARN_INVALID_ARGUMENT for
 * a torn, foreign or damaged blob, or another key). */
#define TARN_VERIFIER_RESUME_SIZE 360
TARN_API tarn_status tarn_verifier_save(const tarn_verifier* v,
                                        uint8_t blob[TARN_VERIFIER_RESUME_SIZE]);
TARN_API tarn_status tarn_verifier_resume(tarn_verifier* v, const tarn_public_key* key,
                                          const uint8_t blob[TARN_VERIFIER_RESUME_SIZE]);

/* --- Making and checking signatures of files (hosted builds) ---------------------------- */
/* hosted-only: begin */

/* The largest texts of a public key file, a secret key file and a signature file this library
 * writes or reads. */
#define TARN_PUBLIC_KEY_TEXT_MAX 160
#define TARN_SECRET_KEY_TEXT_MAX 320
#define TARN_SIGNATURE_TEXT_MAX 2048
/* The most a password-protected secret key may ask of its key derivation (scrypt): more is
 * refused (TARN_BAD_KEY) before any memory is taken. These are also what a new key asks. */
#define TARN_KDF_OPS_MAX 33554432u
#define TARN_KDF_MEMORY_MAX 1073741824u

/* Whether this build can make signatures and keys (built with libsodium): 1 or 0. Without,
 * tarn_sign_keygen and tarn_sign_file give TARN_INTERNAL_ERROR with that cause; checking works
 * in every build. */
TARN_API int tarn_can_sign(void);

/* A new signing key pair as the texts of its two files (NUL-terminated), in minisign's format.
 * With a password (NULL: none, `password_length` bytes otherwise) the secret key is encrypted
 * under it. */
TARN_API tarn_status tarn_sign_keygen(const char* password, size_t password_length,
                                      char public_text[TARN_PUBLIC_KEY_TEXT_MAX],
                                      char secret_text[TARN_SECRET_KEY_TEXT_MAX]);

/* What a signature says beside the bytes: the trusted comment is "timestamp:T", "file:NAME"
 * (the file's last path component, its blanks and control bytes made '?'), then version=N and
 * device=NAME when given, then `comment` (may be NULL), separated by tabs. */
typedef struct tarn_sign_options {
  int has_version;
  uint64_t version;
  const char* device;  /* NULL: none; else 1 to TARN_DEVICE_NAME_MAX letters, digits, . _ - */
  const char* comment; /* NULL: none; else one line of at most 512 bytes, no version= or
                          device= in it */
} tarn_sign_options;

/* The signature file's text (NUL-terminated) for the file at `input`, prehashed ("ED").
 * TARN_INVALID_ARGUMENT for options that are not as above; TARN_BAD_KEY for a secret key text
 * that is not one, a wrong or missing password, or a key derivation above the limits (the
 * cause says which); the file errors of tarn_verify_file. */
TARN_API tarn_status tarn_sign_file(const char* input, const char* secret_text,
                                    size_t secret_length, const char* password,
                                    size_t password_length, const tarn_sign_options* options,
                                    char signature_text[TARN_SIGNATURE_TEXT_MAX]);

/* Checks the signature `signature` (the text of a signature file) of the file at `input` under
 * `key`, with tarn_verifier's statuses and `info`, and the file errors of tarn_verify_file. */
TARN_API tarn_status tarn_verify_signature_file(const char* input, const tarn_public_key* key,
                                                const char* signature, size_t length,
                                                const tarn_signature_policy* policy,
                                                tarn_signature_info* info);

/* hosted-only: end */

#ifdef __cplusplus
}
#endif

#endif /* TARN_TARN_H */
