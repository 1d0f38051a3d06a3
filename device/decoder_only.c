/* The smallest firmware that decodes as an updater does: the stream decoder with its bounded
 * step, its state saved and resumed, linked the way a bootloader links it, so that its share of
 * code, constant data and stack can be measured. */
#include "board.h"
#include "tarn.h"

static unsigned char g_piece[64], g_page[64], g_blob[TARN_RESUME_SIZE];

int main(void) {
  tarn_decoder dec;
  tarn_key key;
  size_t used, written;
  (void)tarn_key_from_bytes(&key, g_piece);
  (void)tarn_decoder_init(&dec, &key);
  (void)tarn_decoder_step(&dec, g_piece, sizeof g_piece, &used, g_page, sizeof g_page, &written);
  (void)tarn_decoder_save(&dec, g_blob);
  (void)tarn_decoder_resume(&dec, &key, g_blob);
  (void)tarn_decoder_update(&dec, g_piece, sizeof g_piece, g_page, &written);
  return tarn_decoder_finish(&dec, 0) != TARN_OK || tarn_decoder_position(&dec) != 0;
}
