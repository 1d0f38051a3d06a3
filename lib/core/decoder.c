/* tarn_decoder_* and tarn_rekeyer_*: a container taken a piece at a time: the header checked as
 * soon as its words are in, the payload run through the pass as it arrives (deciphered, and for
 * a re-key enciphered again), the verdict at the end; and the decoder's state saved for flash
 * and resumed after a power cut. */
#include <string.h>

#include "core/objects.h"

static tarnc_state* LiveDecoder(tarn_decoder* dec) {
  return dec != NULL ? tarnc_live(&dec->u_.state_, TARNC_DECODER_LIVE) : NULL;
}

static tarnc_state* LiveRekeyer(tarn_rekeyer* rk) {
  return rk != NULL ? tarnc_live(&rk->u_.state_, TARNC_REKEYER_LIVE) : NULL;
}

static void DecoderStart(tarnc_state* s, uint32_t live, const tarn_key* key,
                         const tarn_key* new_key) {
  memset(s, 0, sizeof *s);
  if (key != NULL) {
    memcpy(s->key, key->words, sizeof s->key);
    s->has_key = 1;
  }
  if (new_key != NULL) memcpy(s->new_key, new_key->words, sizeof s->new_key);
  tarnc_crcs_start(s->crc);
  s->live = live;
}

/* n payload bytes through the pass with the object's keys and registers. */
static void DecoderPass(tarnc_state* s, const uint8_t* in, uint8_t* out, size_t n) {
  tarnc_pass(s->has_key ? s->key : NULL, s->live == TARNC_REKEYER_LIVE ? s->new_key : NULL, s->crc,
             in, out, n);
}

static int DecoderOverlap(const void* a, size_t a_size, const void* b, size_t b_size) {
  const uintptr_t x = (uintptr_t)a, y = (uintptr_t)b;
  return a_size != 0 && b_size != 0 && x < y + b_size && y < x + a_size;
}

/* The bytes that complete the block being gathered (0: none that update may gather alone): a
 * block of the payload's whole blocks, with a key, nothing pending and no failure. Kept in the
 * object so that the common case of small pieces, a byte an interrupt, checks one byte. */
static void DecoderGatherRoom(tarnc_state* s) {
  const uint64_t block = s->position - TARN_HEADER_SIZE - s->held_count;
  s->gather = s->has_key && s->failed == TARN_OK && s->pending == 0 &&
                      s->position >= TARN_HEADER_SIZE && block < (s->image_size & ~(uint32_t)7)
                  ? (uint8_t)(8u - s->held_count)
                  : 0;
}

/* The common case of small pieces, a byte an interrupt: bytes of a block gathered and, when they
 * complete it, the block run straight into `out`. 1 when it was that case. */
TARNC_INLINE int DecoderGather(tarnc_state* s, const uint8_t* in, size_t size, uint8_t* out,
                               size_t* written) {
  const unsigned room = s->gather;
  size_t i;
  if (size > room || room == 0 || in == NULL || out == NULL ||
      (size == room && DecoderOverlap(in, size, out, 8))) {
    return 0;
  }
  /* (The mask repeats for the compiler what the room ensures: the index stays below 8.) */
  for (i = 0; i < size; ++i) s->held[(s->held_count + i) & 7u] = in[i];
  s->position += size;
  *written = 0;
  if (size < room) {
    s->held_count = (uint8_t)(s->held_count + size);
    s->gather = (uint8_t)(room - size);
    return 1;
  }
  /* The block is whole: through the pass, and the next one may be gathered if it is whole too. */
  s->held_count = 0;
  memcpy(out, s->held, 8); /* (the pass in place then copies nothing) */
  tarnc_pass(s->key, NULL, s->crc, out, out, 8);
  *written = 8;
  s->gather = s->position - TARN_HEADER_SIZE < (s->image_size & ~(uint32_t)7) ? 8 : 0;
  return 1;
}

/* Takes up to `size` container bytes (*used gets how many) and gives at most `room` bytes of
 * output (*written), as the decoder's and the re-keyer's calls have it. */
static tarn_status DecoderTake(tarnc_state* s, const uint8_t* in, size_t size, size_t* used,
                               uint8_t* out, size_t room, size_t* written) {
  const int gives = s->has_key;
  uint64_t at = s->position, blocks_end, offset;
  size_t put = 0, n = size, i;
  *used = 0;
  *written = 0;
  if (size != 0 && in == NULL) return TARN_INVALID_ARGUMENT;
  if (gives && s->failed == TARN_OK && (size != 0 || s->pending != 0)) {
    /* The payload's part of the input must not overlap the output, but in place (the same
     * pointer) while output keeps pace with input: nothing held, nothing pending. */
    const size_t header =
        at < TARN_HEADER_SIZE
            ? (size < TARN_HEADER_SIZE - at ? size : (size_t)(TARN_HEADER_SIZE - at))
            : 0;
    const uint8_t* payload = header != 0 ? in + header : in;
    const size_t most = s->pending + s->held_count + (size - header); /* what can go out */
    const size_t reach = room < most ? room : most;
    if (out == NULL) return TARN_INVALID_ARGUMENT;
    if (DecoderOverlap(payload, size - header, out, reach) &&
        !(payload == out && s->held_count == 0 && s->pending == 0)) {
      return TARN_INVALID_ARGUMENT;
    }
  }
  if (at < TARN_HEADER_SIZE && n != 0) {
    /* The header's bytes are kept even after a failure, for the words finish reports. */
    const size_t take = n < TARN_HEADER_SIZE - at ? n : (size_t)(TARN_HEADER_SIZE - at);
    memcpy(s->header + at, in, take);
    in += take;
    n -= take;
    at += take;
    s->position = at;
    if (s->failed == TARN_OK) {
      const tarn_status early = tarnc_header_check_prefix(s->header, (size_t)at);
      if (early != TARN_OK) {
        s->position += n;
        *used = size;
        return tarnc_fail(s, early);
      }
      if (at == TARN_HEADER_SIZE)
        s->image_size = tarnc_le32(s->header + TARNC_WORD_AT(TARNC_W_IMAGE_SIZE));
    }
  }
  if (s->failed != TARN_OK) {
    /* Counted all the same: finish describes the whole stream. */
    s->position += n;
    *used = size;
    return (tarn_status)s->failed;
  }
  if (n > (uint64_t)s->image_size + TARN_HEADER_SIZE - at) {
    s->position += n;
    *used = size;
    return tarnc_fail(s, TARN_WRONG_SIZE);
  }
  blocks_end = s->image_size & ~(uint64_t)7;
  offset = at - TARN_HEADER_SIZE;
  if (at < TARN_HEADER_SIZE) offset = 0; /* still in the header: n is 0 */
  while (gives) {
    if (s->pending != 0) {
      /* A block made earlier goes out first, as far as there is room. */
      const size_t k = s->pending < room - put ? s->pending : room - put;
      if (k == 0) break;
      for (i = 0; i < k; ++i) out[put + i] = s->held[8 - s->pending + i];
      put += k;
      s->pending = (uint8_t)(s->pending - k);
      if (s->pending == 0) tarnc_wipe(s->held, sizeof s->held);
      continue;
    }
    if (n == 0 || put == room) break;
    if (offset < blocks_end && (s->held_count != 0 || n < 8 || room - put < 8)) {
      /* A block split between pieces, or with too little room for it: gathered, then run whole. */
      const size_t k = n < 8u - s->held_count ? n : 8u - s->held_count;
      for (i = 0; i < k; ++i) s->held[(s->held_count + i) & 7u] = in[i];
      s->held_count = (uint8_t)(s->held_count + k);
      in += k;
      n -= k;
      offset += k;
      if (s->held_count == 8) {
        s->held_count = 0;
        if (room - put >= 8) {
          /* Room for it: straight out (what stays held is the container's own bytes). */
          DecoderPass(s, s->held, out + put, 8);
          put += 8;
        } else {
          DecoderPass(s, s->held, s->held, 8);
          s->pending = 8;
        }
      }
      continue;
    }
    {
      /* Whole blocks while they last and fit, then the tail as it is. */
      size_t m = n < room - put ? n : room - put;
      if (offset < blocks_end) {
        if (m > blocks_end - offset) m = (size_t)(blocks_end - offset);
        m &= ~(size_t)7;
      }
      DecoderPass(s, in, out + put, m);
      in += m;
      n -= m;
      offset += m;
      put += m;
    }
  }
  if (!gives && n != 0) {
    DecoderPass(s, in, NULL, n); /* the payload's CRC alone */
    offset += n;
    n = 0;
  }
  *used = size - n;
  s->position = at >= TARN_HEADER_SIZE ? TARN_HEADER_SIZE + offset : at;
  *written = put;
  DecoderGatherRoom(s);
  return TARN_OK;
}

/* The verdict on the bytes taken; the header as it came in, in `h`. */
static tarn_status DecoderJudge(tarnc_state* s, tarnc_header* h, tarn_info* info) {
  tarnc_findings f;
  tarnc_header_parse(h, s->header,
                     s->position < TARN_HEADER_SIZE ? (size_t)s->position : TARN_HEADER_SIZE);
  f.early = (tarn_status)s->failed;
  f.payload_crc = ~s->crc[TARNC_CRC_IN];
  f.image_crc = ~s->crc[TARNC_CRC_PLAIN];
  f.has_image = s->has_key;
  f.after_payload = TARN_OK;
  return tarnc_judge(h, s->position, &f, info);
}

tarn_status tarn_decoder_init(tarn_decoder* dec, const tarn_key* key) {
  if (dec == NULL) return TARN_INVALID_ARGUMENT;
  memset(dec, 0, sizeof *dec);
  DecoderStart(&dec->u_.state_, TARNC_DECODER_LIVE, key, NULL);
  return TARN_OK;
}

/* Everything but the common case, apart so that the common case saves no registers for it. */
static TARNC_NOINLINE tarn_status DecoderUpdate(tarnc_state* s, const uint8_t* in, size_t size,
                                                uint8_t* out, size_t* written) {
  size_t used;
  return DecoderTake(s, in, size, &used, out, (size_t)-1, written);
}

tarn_status tarn_decoder_update(tarn_decoder* dec, const void* in, size_t size, void* out,
                                size_t* written) {
  tarnc_state* s = LiveDecoder(dec);
  if (s == NULL || written == NULL) return TARN_INVALID_ARGUMENT;
  if (DecoderGather(s, (const uint8_t*)in, size, (uint8_t*)out, written)) return TARN_OK;
  return DecoderUpdate(s, (const uint8_t*)in, size, (uint8_t*)out, written);
}

tarn_status tarn_decoder_step(tarn_decoder* dec, const void* in, size_t in_size, size_t* in_used,
                              void* out, size_t out_capacity, size_t* written) {
  tarnc_state* s = LiveDecoder(dec);
  if (s == NULL || in_used == NULL || written == NULL) return TARN_INVALID_ARGUMENT;
  return DecoderTake(s, (const uint8_t*)in, in_size, in_used, (uint8_t*)out, out_capacity, written);
}

tarn_status tarn_decoder_finish(tarn_decoder* dec, tarn_info* info) {
  tarnc_state* s = LiveDecoder(dec);
  tarnc_header h;
  tarn_status status;
  if (s == NULL || s->pending != 0) return TARN_INVALID_ARGUMENT;
  status = DecoderJudge(s, &h, info);
  if (status != TARN_OK) return tarnc_fail(s, status);
  tarnc_wipe(s, sizeof *s);
  return TARN_OK;
}

uint64_t tarn_decoder_position(const tarn_decoder* dec) {
  if (dec == NULL || dec->u_.state_.live != TARNC_DECODER_LIVE) return 0;
  return dec->u_.state_.position;
}

/* --- Save and resume ----------------------------------------------------------------------
 * The blob, little-endian: "TRS" and the layout's version (1); the position (8 bytes); the
 * status kept; the CRC registers of the payload and of the image; the header's 52 bytes; the
 * held bytes (8); their count, the bytes pending, whether there is a key; zeros up to byte 92;
 * and the CRC-32 of bytes 0-91. The image's size is the header's. */
#define TARNC_BLOB_VERSION 1
#define TARNC_BLOB_CHECKED 92

typedef char tarnc_blob_fits[TARNC_BLOB_CHECKED + 4 == TARN_RESUME_SIZE ? 1 : -1];

tarn_status tarn_decoder_save(const tarn_decoder* dec, uint8_t blob[TARN_RESUME_SIZE]) {
  const tarnc_state* s;
  if (dec == NULL || blob == NULL || dec->u_.state_.live != TARNC_DECODER_LIVE) {
    return TARN_INVALID_ARGUMENT;
  }
  s = &dec->u_.state_;
  memset(blob, 0, TARN_RESUME_SIZE);
  tarnc_put_le64(blob + 4, s->position);
  tarnc_put_le32(blob + 12, s->failed);
  tarnc_put_le32(blob + 16, s->crc[TARNC_CRC_IN]);
  tarnc_put_le32(blob + 20, s->crc[TARNC_CRC_PLAIN]);
  memcpy(blob + 24, s->header, TARN_HEADER_SIZE);
  memcpy(blob + 76, s->held, 8);
  blob[84] = s->held_count;
  blob[85] = s->pending;
  blob[86] = s->has_key;
  tarnc_seal(blob, TARN_RESUME_SIZE, "TRS", TARNC_BLOB_VERSION);
  return TARN_OK;
}

tarn_status tarn_decoder_resume(tarn_decoder* dec, const tarn_key* key,
                                const uint8_t blob[TARN_RESUME_SIZE]) {
  tarnc_state* s;
  if (dec == NULL || blob == NULL) return TARN_INVALID_ARGUMENT;
  /* A torn or foreign blob fails its check word; what it says is checked before it is used. */
  if (!tarnc_sealed(blob, TARN_RESUME_SIZE, "TRS", TARNC_BLOB_VERSION) ||
      blob[86] != (key != NULL) || blob[84] >= 8 || blob[85] > 8 ||
      (blob[84] != 0 && blob[85] != 0) || tarnc_le32(blob + 12) > TARN_OTHER_DEVICE) {
    return TARN_INVALID_ARGUMENT;
  }
  s = &dec->u_.state_;
  DecoderStart(s, TARNC_DECODER_LIVE, key, NULL);
  s->position = tarnc_le64(blob + 4);
  s->crc[TARNC_CRC_IN] = tarnc_le32(blob + 16);
  s->crc[TARNC_CRC_PLAIN] = s->crc[TARNC_CRC_OUT] = tarnc_le32(blob + 20);
  memcpy(s->header, blob + 24, TARN_HEADER_SIZE);
  if (s->position >= TARN_HEADER_SIZE) {
    s->image_size = tarnc_le32(s->header + TARNC_WORD_AT(TARNC_W_IMAGE_SIZE));
  }
  memcpy(s->held, blob + 76, 8);
  s->held_count = blob[84];
  s->pending = blob[85];
  if (tarnc_le32(blob + 12) != TARN_OK) (void)tarnc_fail(s, (tarn_status)tarnc_le32(blob + 12));
  DecoderGatherRoom(s);
  return TARN_OK;
}

/* --- The re-keyer ------------------------------------------------------------------------- */

tarn_status tarn_rekeyer_init(tarn_rekeyer* rk, const tarn_key* old_key, const tarn_key* new_key) {
  if (rk == NULL || old_key == NULL || new_key == NULL) return TARN_INVALID_ARGUMENT;
  memset(rk, 0, sizeof *rk);
  DecoderStart(&rk->u_.state_, TARNC_REKEYER_LIVE, old_key, new_key);
  return TARN_OK;
}

tarn_status tarn_rekeyer_update(tarn_rekeyer* rk, const void* in, size_t size, void* out,
                                size_t* written) {
  tarnc_state* s = LiveRekeyer(rk);
  size_t used;
  if (s == NULL || written == NULL) return TARN_INVALID_ARGUMENT;
  return DecoderTake(s, (const uint8_t*)in, size, &used, (uint8_t*)out, (size_t)-1, written);
}

tarn_status tarn_rekeyer_finish(tarn_rekeyer* rk, uint8_t header[TARN_HEADER_SIZE],
                                tarn_info* info) {
  tarnc_state* s = LiveRekeyer(rk);
  tarnc_header h;
  tarn_status status;
  if (s == NULL || header == NULL || s->pending != 0) return TARN_INVALID_ARGUMENT;
  status = DecoderJudge(s, &h, info);
  if (status != TARN_OK) return tarnc_fail(s, status);
  tarnc_header_rekeyed(&h, &h, ~s->crc[TARNC_CRC_OUT]);
  tarnc_header_store(&h, header);
  tarnc_wipe(s, sizeof *s);
  return TARN_OK;
}
