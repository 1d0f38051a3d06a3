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

/* Each status but TARN_OK, TARN_NO_MEMORY, TARN_CANCELLED, TARN_INVALID_ARGUMENT and
 * TARN_INTERNAL_ERROR is one of the console program's verdicts; tarn_status_string gives a short
 * text for each. */
typedef enum tarn_status {
  TARN_OK = 0,
  TARN_NOT_A_CONTAINER,    /* the magic words are not there ("unknown magic") */
  TARN_UNKNOWN_VERSION,    /* a container of another format version */
  TARN_WRONG_SIZE,         /* shorter or longer than its header says */
  TARN_PAYLOAD_DAMAGED,    /* the payload's CRC-32 is not the header's */
  TARN_IMAGE_MISMATCH,     /* the deciphered image's CRC-32 is not the header's: wrong key or
                              damaged header */
  TARN_TOO_LARGE,          /* an image over TARN_MAX_IMAGE_SIZE, or a buffer too small */
  TARN_BAD_KEY,            /* not 32 hexadecimal digits */
  TARN_CANT_OPEN_INPUT,    /* missing, unreadable, not a regular file or block device, held
                              by a writer */
  TARN_CANT_CREATE_OUTPUT, /* the input itself, a directory or device, an existing file this
                              user could not overwrite, a directory that takes no new file */
  TARN_READ_FAILED,        /* a read failed, or the input changed while it was read */
  TARN_WRITE_FAILED,       /* a write or the final sync failed (disk full, size limit) */
  TARN_NO_MEMORY,
  TARN_CANCELLED,        /* the progress callback asked to stop */
  TARN_INVALID_ARGUMENT, /* a NULL pointer where one is needed */
  TARN_INTERNAL_ERROR    /* a fault of the library itself: please report it */
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
TARN_API const char* tarn_version(void);

/* A short English text for a status; never NULL (unknown values give "unknown status"). */
TARN_API const char* tarn_status_string(tarn_status status);

/* 32 hexadecimal digits in either case, nothing else, into a key: TARN_BAD_KEY otherwise. */
TARN_API tarn_status tarn_key_from_hex(const char* hex, size_t length, tarn_key* key);

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

/* Caller-owned state of fixed size: no allocation, no OS, no threads. */
typedef struct tarn_encoder {
  uint64_t opaque[TARN_STREAM_WORDS];
} tarn_encoder;
typedef struct tarn_decoder {
  uint64_t opaque[TARN_STREAM_WORDS];
} tarn_decoder;

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
/* The verdict tarn_verify_file gives for the same bytes (a stream cut short, its header
 * included, is judged as a file of that length); fills `info` (may be NULL) the same way. */
TARN_API tarn_status tarn_decoder_finish(tarn_decoder* dec, tarn_info* info);

#ifdef __cplusplus
}
#endif

#endif /* TARN_TARN_H */
