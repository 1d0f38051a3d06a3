// The parts of the C interface that need nothing of the system: the version, the texts of the
// statuses and the key parser. Freestanding, with the stream objects.
#include "cipher/key.h"
#include "stream/stream.h"
#include "tarn/tarn.h"

#define TARN_STRINGIFY2(x) #x
#define TARN_STRINGIFY(x) TARN_STRINGIFY2(x)

extern "C" {

const char* tarn_version(void) {
  return TARN_STRINGIFY(TARN_VERSION_MAJOR) "." TARN_STRINGIFY(
      TARN_VERSION_MINOR) "." TARN_STRINGIFY(TARN_VERSION_PATCH);
}

const char* tarn_status_string(tarn_status status) {
  switch (status) {
    case TARN_OK:
      return "ok";
    case TARN_NOT_A_CONTAINER:
      return "not a container (unknown magic)";
    case TARN_UNKNOWN_VERSION:
      return "unknown container version";
    case TARN_WRONG_SIZE:
      return "wrong file size";
    case TARN_PAYLOAD_DAMAGED:
      return "payload damaged (wrong crc32 of crypted data)";
    case TARN_IMAGE_MISMATCH:
      return "image does not match (wrong key or damaged header)";
    case TARN_TOO_LARGE:
      return "too large";
    case TARN_BAD_KEY:
      return "bad key (not 32 hexadecimal digits)";
    case TARN_CANT_OPEN_INPUT:
      return "can't open input file";
    case TARN_CANT_CREATE_OUTPUT:
      return "can't create output file";
    case TARN_READ_FAILED:
      return "can't read input file";
    case TARN_WRITE_FAILED:
      return "can't write output file";
    case TARN_NO_MEMORY:
      return "out of memory";
    case TARN_CANCELLED:
      return "cancelled";
    case TARN_INVALID_ARGUMENT:
      return "invalid argument";
    case TARN_INTERNAL_ERROR:
      return "internal error";
  }
  return "unknown status";
}

tarn_status tarn_key_from_hex(const char* hex, size_t length, tarn_key* key) {
  if (key == nullptr) return TARN_INVALID_ARGUMENT;
  tarn::cipher::KeyWords words;
  if (!tarn::cipher::ParseHexKey(hex, length, &words)) return TARN_BAD_KEY;
  *key = tarn_key{{words.k0, words.k1, words.k2, words.k3}};
  tarn::stream::Wipe(&words, sizeof words);
  return TARN_OK;
}

}  // extern "C"
