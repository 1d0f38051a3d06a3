/* The smallest firmware that checks a signature as an updater does: a public key read, the
 * checker fed the container, its state saved and resumed, so that the share of code, constant
 * data and stack that signatures add can be measured. */
#include "board.h"
#include "tarn.h"

static char g_text[300];
static unsigned char g_piece[64], g_blob[TARN_VERIFIER_RESUME_SIZE];

int main(void) {
  tarn_verifier v;
  tarn_public_key key;
  const tarn_signature_policy policy = {1, "board"};
  (void)tarn_public_key_from_text(&key, g_text, 100);
  (void)tarn_verifier_init(&v, &key, g_text, sizeof g_text, &policy, 0);
  (void)tarn_verifier_update(&v, g_piece, sizeof g_piece);
  (void)tarn_verifier_save(&v, g_blob);
  (void)tarn_verifier_resume(&v, &key, g_blob);
  return tarn_verifier_finish(&v, 0) != TARN_OK;
}
