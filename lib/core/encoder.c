/* tarn_encoder_*: an image taken a piece at a time into the payload, and the header last. */
#include <string.h>

#include "core/objects.h"

TARNC_FN tarnc_state* tarnc_live(tarn_stream_state_* s, uint32_t live) {
  return s->live == live ? s : NULL;
}

TARNC_FN tarn_status tarnc_fail(tarnc_state* s, tarn_status status) {
  tarnc_wipe(s->key, sizeof s->key);
  tarnc_wipe(s->new_key, sizeof s->new_key);
  tarnc_wipe(s->held, sizeof s->held);
  s->held_count = 0;
  s->pending = 0;
  s->gather = 0;
  s->failed = (uint32_t)status;
  return status;
}

static tarnc_state* EncoderLive(tarn_encoder* enc) {
  return enc != NULL ? tarnc_live(&enc->u_.state_, TARNC_ENCODER_LIVE) : NULL;
}

/* The pass's registers kept in the object: what comes in is the image, what goes out the payload.
 */
static void EncoderPass(tarnc_state* s, const uint8_t* in, uint8_t* out, size_t n) {
  tarnc_pass(NULL, s->key, s->crc, in, out, n);
}

tarn_status tarn_encoder_init(tarn_encoder* enc, const tarn_key* key) {
  tarnc_state* s;
  if (enc == NULL || key == NULL) return TARN_INVALID_ARGUMENT;
  memset(enc, 0, sizeof *enc);
  s = &enc->u_.state_;
  memcpy(s->key, key->words, sizeof s->key);
  tarnc_crcs_start(s->crc);
  s->live = TARNC_ENCODER_LIVE;
  return TARN_OK;
}

tarn_status tarn_encoder_update(tarn_encoder* enc, const void* in, size_t size, void* out,
                                size_t* written) {
  tarnc_state* s = EncoderLive(enc);
  const uint8_t* p = (const uint8_t*)in;
  uint8_t* o = (uint8_t*)out;
  size_t whole;
  if (s == NULL || written == NULL || (size != 0 && (in == NULL || out == NULL))) {
    return TARN_INVALID_ARGUMENT;
  }
  *written = 0;
  if (s->failed != TARN_OK) return (tarn_status)s->failed;
  if (size > TARN_MAX_IMAGE_SIZE - s->position) return tarnc_fail(s, TARN_TOO_LARGE);
  if (size == 0) return TARN_OK; /* `in` and `out` may be NULL then */
  /* What goes out: the held bytes and these, in whole blocks. */
  if (p != o && (uintptr_t)p < (uintptr_t)o + s->held_count + size &&
      (uintptr_t)o < (uintptr_t)p + size) {
    return TARN_INVALID_ARGUMENT; /* overlapping, and not in place */
  }
  if (p == o && s->held_count != 0) return TARN_INVALID_ARGUMENT; /* output would run ahead */
  s->position += size;
  if (s->held_count != 0) {
    /* Complete the block begun by earlier pieces. */
    const size_t take = size < 8u - s->held_count ? size : 8u - s->held_count;
    memcpy(s->held + s->held_count, p, take);
    s->held_count = (uint8_t)(s->held_count + take);
    p += take;
    size -= take;
    if (s->held_count < 8) return TARN_OK;
    EncoderPass(s, s->held, o, 8);
    tarnc_wipe(s->held, sizeof s->held);
    s->held_count = 0;
    o += 8;
  }
  whole = size & ~(size_t)7;
  EncoderPass(s, p, o, whole);
  o += whole;
  memcpy(s->held, p + whole, size - whole);
  s->held_count = (uint8_t)(size - whole);
  *written = (size_t)(o - (uint8_t*)out);
  return TARN_OK;
}

tarn_status tarn_encoder_finish(tarn_encoder* enc, void* out, size_t* written,
                                uint8_t header[TARN_HEADER_SIZE]) {
  tarnc_state* s = EncoderLive(enc);
  tarnc_header h;
  size_t tail;
  if (s == NULL || out == NULL || written == NULL || header == NULL) return TARN_INVALID_ARGUMENT;
  *written = 0;
  if (s->failed != TARN_OK) return (tarn_status)s->failed;
  /* The last 1 to 7 bytes of the image are its tail: they go out as they are. */
  tail = s->held_count;
  EncoderPass(s, s->held, (uint8_t*)out, tail);
  tarnc_header_for_encode(&h, (uint32_t)s->position);
  h.w[TARNC_W_IMAGE_CRC] = ~s->crc[TARNC_CRC_IN];
  h.w[TARNC_W_PAYLOAD_CRC] = ~s->crc[TARNC_CRC_OUT];
  tarnc_header_store(&h, header);
  *written = tail;
  tarnc_wipe(s, sizeof *s);
  return TARN_OK;
}
