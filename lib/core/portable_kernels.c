/* The seam to the kernels filled for one small processor: the cipher one block at a time and
 * the CRC-32 by its 64-byte table. Hosted builds fill it with the dispatch between accelerated
 * paths. */
#include "core/core.h"

TARNC_FN void tarnc_encipher(const uint32_t key[4], uint8_t* data, size_t blocks) {
  tarnc_encipher_scalar(key, data, blocks);
}

TARNC_FN void tarnc_decipher(const uint32_t key[4], uint8_t* data, size_t blocks) {
  tarnc_decipher_scalar(key, data, blocks);
}

TARNC_FN uint32_t tarnc_crc32_update(uint32_t reg, const void* data, size_t n) {
  return tarnc_crc32_nibblewise(reg, data, n);
}
