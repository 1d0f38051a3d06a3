/* The key from its text, from a key file's text and from bytes. */
#include "core/core.h"

static int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

TARNC_FN int tarnc_parse_hex(const char* text, size_t length, uint32_t words[4]) {
  size_t i;
  if (text == NULL || length != 32) return 0;
  for (i = 0; i < 32; ++i) {
    if (DigitValue(text[i]) < 0) return 0;
  }
  /* Straight into the caller's words, so that no copy of the key is left on the stack. */
  for (i = 0; i < 32; ++i) {
    words[i / 8] = (i % 8 == 0 ? 0 : words[i / 8] << 4) | (uint32_t)DigitValue(text[i]);
  }
  return 1;
}

tarn_status tarn_key_from_hex(const char* hex, size_t length, tarn_key* key) {
  if (key == NULL) return TARN_INVALID_ARGUMENT;
  return tarnc_parse_hex(hex, length, key->words) ? TARN_OK : TARN_BAD_KEY;
}

static int IsBlank(char c) {
  return c == ' ' || c == '\t';
}

tarn_status tarn_key_from_text(const char* text, size_t length, tarn_key* key) {
  size_t begin = 0, end = length;
  if (key == NULL || (text == NULL && length != 0)) return TARN_INVALID_ARGUMENT;
  if (length > TARN_MAX_KEY_TEXT) return TARN_BAD_KEY;
  /* Editors on Windows begin a UTF-8 file with a byte-order mark. */
  if (length >= 3 && (uint8_t)text[0] == 0xEF && (uint8_t)text[1] == 0xBB &&
      (uint8_t)text[2] == 0xBF) {
    begin = 3;
  }
  while (begin < end && IsBlank(text[begin])) ++begin;
  /* Blanks and line endings after the key: any number of empty lines. */
  while (end > begin &&
         (IsBlank(text[end - 1]) || text[end - 1] == '\n' || text[end - 1] == '\r')) {
    --end;
  }
  return tarn_key_from_hex(text == NULL ? "" : text + begin, end - begin, key);
}

tarn_status tarn_key_from_bytes(tarn_key* key, const uint8_t bytes[16]) {
  size_t i;
  if (key == NULL || bytes == NULL) return TARN_INVALID_ARGUMENT;
  for (i = 0; i < 4; ++i) {
    key->words[i] = (uint32_t)bytes[4 * i] << 24 | (uint32_t)bytes[4 * i + 1] << 16 |
                    (uint32_t)bytes[4 * i + 2] << 8 | (uint32_t)bytes[4 * i + 3];
  }
  return TARN_OK;
}
