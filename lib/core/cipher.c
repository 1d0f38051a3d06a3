/* The block cipher one block at a time: the reference every other path is checked against,
 * and the only path a build for one small processor carries. */
#include "core/core.h"

TARNC_FN void tarnc_encipher_block(uint32_t* v0, uint32_t* v1, const uint32_t key[4]) {
  uint32_t a = *v0, b = *v1, sum = 0;
  int round;
  for (round = 0; round < TARNC_ROUNDS; ++round) {
    sum += TARNC_DELTA;
    a += (b << 4) + (key[0] ^ b) + ((b >> 5) ^ sum) + key[1];
    b += (a << 4) + (key[2] ^ a) + ((a >> 5) ^ sum) + key[3];
  }
  *v0 = a;
  *v1 = b;
}

TARNC_FN void tarnc_decipher_block(uint32_t* v0, uint32_t* v1, const uint32_t key[4]) {
  uint32_t a = *v0, b = *v1, sum = TARNC_DECIPHER_START;
  int round;
  for (round = 0; round < TARNC_ROUNDS; ++round) {
    b -= (a << 4) + (key[2] ^ a) + ((a >> 5) ^ sum) + key[3];
    a -= (b << 4) + (key[0] ^ b) + ((b >> 5) ^ sum) + key[1];
    sum -= TARNC_DELTA;
  }
  *v0 = a;
  *v1 = b;
}

/* The loops over blocks: never inlined, so that their frame, where a processor short of
 * registers spills key words, is wiped by their caller right after. */
static TARNC_NOINLINE void EncipherLoop(const uint32_t key[4], uint8_t* data, size_t blocks) {
  for (; blocks > 0; --blocks, data += TARNC_BLOCK) {
    uint32_t v0 = tarnc_le32(data), v1 = tarnc_le32(data + 4);
    tarnc_encipher_block(&v0, &v1, key);
    tarnc_put_le32(data, v0);
    tarnc_put_le32(data + 4, v1);
  }
}

static TARNC_NOINLINE void DecipherLoop(const uint32_t key[4], uint8_t* data, size_t blocks) {
  for (; blocks > 0; --blocks, data += TARNC_BLOCK) {
    uint32_t v0 = tarnc_le32(data), v1 = tarnc_le32(data + 4);
    tarnc_decipher_block(&v0, &v1, key);
    tarnc_put_le32(data, v0);
    tarnc_put_le32(data + 4, v1);
  }
}

TARNC_FN void tarnc_encipher_scalar(const uint32_t key[4], uint8_t* data, size_t blocks) {
  if (blocks == 0) return;
  EncipherLoop(key, data, blocks);
  tarnc_wipe_below();
}

TARNC_FN void tarnc_decipher_scalar(const uint32_t key[4], uint8_t* data, size_t blocks) {
  if (blocks == 0) return;
  DecipherLoop(key, data, blocks);
  tarnc_wipe_below();
}
