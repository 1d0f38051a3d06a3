/* The one table of statuses: each one's stable word, its short text, and whether it is a
 * verdict on a container. tarntool's lines and JSON, Python's exceptions and the page all take
 * their words from here. */
#include "core/core.h"

typedef struct StatusRow {
  const char* name;
  const char* text;
  int verdict;
} StatusRow;

/* In the order of tarn_status's values. */
static const StatusRow kStatuses[] = {
    {"ok", "ok", 1},
    {"not-a-container", "not a container (unknown magic)", 1},
    {"unknown-version", "unknown container version", 1},
    {"wrong-size", "wrong file size", 1},
    {"payload-damaged", "payload damaged (wrong crc32 of crypted data)", 1},
    {"image-mismatch", "image does not match (wrong key or damaged header)", 1},
    {"too-large", "too large", 0},
    {"bad-key", "bad key (not 32 hexadecimal digits)", 0},
    {"cant-open-input", "can't open input file", 0},
    {"cant-create-output", "can't create output file", 0},
    {"read-failed", "can't read input file", 0},
    {"write-failed", "can't write output file", 0},
    {"no-memory", "out of memory", 0},
    {"cancelled", "cancelled", 0},
    {"invalid-argument", "invalid argument", 0},
    {"internal-error", "internal error", 0},
    {"bad-signature", "bad signature", 1},
    {"no-signature", "no signature", 1},
    {"older-version", "older version than required", 1},
    {"other-device", "made for another device", 1},
};

static const StatusRow* StatusRowOf(tarn_status status) {
  const unsigned i = (unsigned)status;
  return i < sizeof kStatuses / sizeof kStatuses[0] ? &kStatuses[i] : NULL;
}

const char* tarn_status_string(tarn_status status) {
  const StatusRow* row = StatusRowOf(status);
  return row != NULL ? row->text : "unknown status";
}

const char* tarn_status_name(tarn_status status) {
  const StatusRow* row = StatusRowOf(status);
  return row != NULL ? row->name : "unknown";
}

int tarn_status_is_verdict(tarn_status status) {
  const StatusRow* row = StatusRowOf(status);
  return row != NULL && row->verdict;
}

#define TARNC_STRINGIFY2(x) #x
#define TARNC_STRINGIFY(x) TARNC_STRINGIFY2(x)

const char* tarn_version(void) {
  return TARNC_STRINGIFY(TARN_VERSION_MAJOR) "." TARNC_STRINGIFY(
      TARN_VERSION_MINOR) "." TARNC_STRINGIFY(TARN_VERSION_PATCH);
}
