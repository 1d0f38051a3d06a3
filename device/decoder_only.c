/* The smallest firmware that decodes: the stream decoder alone, linked the way a bootloader
 * links it, so that its share of code and constant data can be measured. */
#include "board.h"
#include "tarn/tarn.h"

static unsigned char g_piece[64], g_slot[64];

int main(void) {
  tarn_decoder dec;
  tarn_key key = {{1, 2, 3, 4}};
  size_t written;
  (void)tarn_decoder_init(&dec, &key);
  (void)tarn_decoder_update(&dec, g_piece, sizeof g_piece, g_slot, &written);
  return tarn_decoder_finish(&dec, 0) != TARN_OK;
}
