/* The one pass every payload goes through and the one verdict on a container: the stream
 * objects, the buffer calls and the file calls all run their bytes through tarnc_pass and
 * judge through tarnc_judge. */
#include <string.h>

#include "core/core.h"

/* Bytes the kernels get at a time: small enough that a stretch is still in the cache between
 * the checksum, the cipher and the second checksum. */
#define TARNC_STRETCH ((size_t)64 << 10)

TARNC_NOINLINE TARNC_FN void tarnc_wipe_below(void) {
  volatile uint32_t area[TARNC_STACK_WIPE / 4];
  size_t i;
  for (i = 0; i < sizeof area / sizeof area[0]; i += 4) {
    area[i] = 0;
    area[i + 1] = 0;
    area[i + 2] = 0;
    area[i + 3] = 0;
  }
}

TARNC_FN void tarnc_wipe(void* bytes, size_t n) {
  volatile uint8_t* p = (volatile uint8_t*)bytes;
  size_t i;
  for (i = 0; i < n; ++i) p[i] = 0;
}

TARNC_FN void tarnc_crcs_start(uint32_t crcs[3]) {
  crcs[0] = crcs[1] = crcs[2] = TARNC_CRC_START;
}

TARNC_FN void tarnc_pass(const uint32_t* decipher, const uint32_t* encipher, uint32_t crcs[3],
                         const uint8_t* in, uint8_t* out, size_t n) {
  while (n > 0) {
    const size_t m = n < TARNC_STRETCH ? n : TARNC_STRETCH;
    /* Only the last stretch of a pass may end in a tail: the others are whole blocks. */
    const size_t blocks = m / TARNC_BLOCK;
    crcs[TARNC_CRC_IN] = tarnc_crc32_update(crcs[TARNC_CRC_IN], in, m);
    if (out != NULL) {
      if (out != in) memcpy(out, in, m);
      if (decipher != NULL) {
        tarnc_decipher(decipher, out, blocks);
        crcs[TARNC_CRC_PLAIN] = tarnc_crc32_update(crcs[TARNC_CRC_PLAIN], out, m);
      } else {
        crcs[TARNC_CRC_PLAIN] = crcs[TARNC_CRC_IN];
      }
      if (encipher != NULL) {
        tarnc_encipher(encipher, out, blocks);
        crcs[TARNC_CRC_OUT] = tarnc_crc32_update(crcs[TARNC_CRC_OUT], out, m);
      } else {
        crcs[TARNC_CRC_OUT] = crcs[TARNC_CRC_PLAIN];
      }
      out += m;
    }
    in += m;
    n -= m;
  }
}

TARNC_FN tarn_status tarnc_after_payload(tarn_status verdict, tarn_status after) {
  return after != TARN_OK && (verdict == TARN_OK || verdict == TARN_IMAGE_MISMATCH) ? after
                                                                                    : verdict;
}

TARNC_FN tarn_status tarnc_judge(const tarnc_header* h, uint64_t container_size,
                                 const tarnc_findings* f, tarn_info* info) {
  tarn_status status = f->early;
  int payload_checked, payload_ok, image_checked, image_ok;
  if (status == TARN_OK) status = tarnc_header_check(h, container_size);
  payload_checked = status == TARN_OK;
  payload_ok = payload_checked && f->payload_crc == h->w[TARNC_W_PAYLOAD_CRC];
  if (payload_checked && !payload_ok) status = TARN_PAYLOAD_DAMAGED;
  image_checked = status == TARN_OK && f->has_image && f->after_payload == TARN_OK;
  image_ok = image_checked && f->image_crc == h->w[TARNC_W_IMAGE_CRC];
  if (image_checked && !image_ok) status = TARN_IMAGE_MISMATCH;
  status = tarnc_after_payload(status, f->after_payload);
  if (info != NULL) {
    memset(info, 0, sizeof *info);
    tarnc_header_describe(h, container_size, info);
    info->payload_checked = payload_checked;
    info->payload_ok = payload_ok;
    info->image_checked = image_checked;
    info->image_ok = image_ok;
  }
  return status;
}
