/* The container's header: its words, how they are stored and the checks they allow. */
#include <string.h>

#include "core/core.h"

TARNC_FN void tarnc_header_for_encode(tarnc_header* h, uint32_t image_size) {
  memset(h, 0, sizeof *h);
  h->w[TARNC_W_MAGIC1] = TARNC_MAGIC1;
  h->w[TARNC_W_MAGIC2] = TARNC_MAGIC2;
  h->w[TARNC_W_TAG] = TARNC_TAG;
  h->w[TARNC_W_ONE] = 1;
  h->w[TARNC_W_VERSION_A] = TARNC_VERSION_A;
  h->w[TARNC_W_VERSION_B] = TARNC_VERSION_B;
  h->w[TARNC_W_IMAGE_SIZE] = image_size;
}

TARNC_FN void tarnc_header_rekeyed(tarnc_header* h, const tarnc_header* old, uint32_t payload_crc) {
  const uint32_t image_crc = old->w[TARNC_W_IMAGE_CRC];
  tarnc_header_for_encode(h, old->w[TARNC_W_IMAGE_SIZE]);
  h->w[TARNC_W_IMAGE_CRC] = image_crc;
  h->w[TARNC_W_PAYLOAD_CRC] = payload_crc;
}

TARNC_FN void tarnc_header_parse(tarnc_header* h, const uint8_t* bytes, size_t n) {
  size_t i;
  memset(h, 0, sizeof *h);
  for (i = 0; i < n && i < TARN_HEADER_SIZE; ++i)
    h->w[i / 4] |= (uint32_t)bytes[i] << (8 * (i % 4));
}

TARNC_FN void tarnc_header_store(const tarnc_header* h, uint8_t bytes[TARN_HEADER_SIZE]) {
  size_t w;
  for (w = 0; w < TARNC_HEADER_WORDS; ++w) tarnc_put_le32(bytes + 4 * w, h->w[w]);
}

/* The two checks, on the words as they are stored. */
static int MagicHolds(uint32_t zero, uint32_t magic1, uint32_t magic2) {
  return zero == 0 && magic1 == TARNC_MAGIC1 && magic2 == TARNC_MAGIC2;
}

static int VersionHolds(uint32_t version_a, uint32_t version_b) {
  return version_a == TARNC_VERSION_A && version_b == TARNC_VERSION_B;
}

TARNC_FN tarn_status tarnc_header_check_prefix(const uint8_t* bytes, size_t have) {
  if (have >= 12 && !MagicHolds(tarnc_le32(bytes), tarnc_le32(bytes + 4), tarnc_le32(bytes + 8))) {
    return TARN_NOT_A_CONTAINER;
  }
  if (have >= 48 && !VersionHolds(tarnc_le32(bytes + TARNC_WORD_AT(TARNC_W_VERSION_A)),
                                  tarnc_le32(bytes + TARNC_WORD_AT(TARNC_W_VERSION_B)))) {
    return TARN_UNKNOWN_VERSION;
  }
  return TARN_OK;
}

TARNC_FN tarn_status tarnc_header_check(const tarnc_header* h, uint64_t container_size) {
  if (!MagicHolds(h->w[TARNC_W_ZERO], h->w[TARNC_W_MAGIC1], h->w[TARNC_W_MAGIC2])) {
    return TARN_NOT_A_CONTAINER;
  }
  if (!VersionHolds(h->w[TARNC_W_VERSION_A], h->w[TARNC_W_VERSION_B])) {
    return TARN_UNKNOWN_VERSION;
  }
  if (container_size != (uint64_t)h->w[TARNC_W_IMAGE_SIZE] + TARN_HEADER_SIZE) {
    return TARN_WRONG_SIZE;
  }
  return TARN_OK;
}

TARNC_FN void tarnc_header_describe(const tarnc_header* h, uint64_t container_size,
                                    tarn_info* info) {
  memcpy(info->words, h->w, sizeof info->words);
  info->image_size = h->w[TARNC_W_IMAGE_SIZE];
  info->container_size = container_size;
  info->image_crc = h->w[TARNC_W_IMAGE_CRC];
  info->payload_crc = h->w[TARNC_W_PAYLOAD_CRC];
}
