/* Signatures in minisign's format checked as a container arrives: the key files and signature
 * files read, the trusted comment's fields, and the checker object with its save and resume. */
#include <string.h>

#include "core/objects.h"

/* --- Base64, the standard alphabet with padding, read strictly: exactly `size` bytes, no
 * bits left over that are not zero. */
static int Base64Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

static int Base64Decode(const char* text, size_t n, uint8_t* out, size_t size) {
  if (n != 4 * ((size + 2) / 3)) return 0;
  uint32_t acc = 0;
  unsigned bits = 0;
  size_t made = 0;
  for (size_t i = 0; i < n; ++i) {
    if (text[i] == '=') {
      /* Padding only where the bytes run out. */
      for (size_t j = i; j < n; ++j) {
        if (text[j] != '=') return 0;
      }
      break;
    }
    const int d = Base64Digit(text[i]);
    if (d < 0) return 0;
    acc = (acc << 6 | (uint32_t)d) & 0xFFFFFFu;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      if (made == size) return 0;
      out[made++] = (uint8_t)(acc >> bits);
    }
  }
  return made == size && (acc & ((1u << bits) - 1u)) == 0;
}

/* One line of text: up to its LF, ending at its first CR or LF. `*next` gets where the next
 * line starts; 0 when there is no line left. */
typedef struct Line {
  const char* text;
  size_t length;
} Line;

static int NextLine(const char** at, const char* end, Line* line) {
  if (*at >= end) return 0;
  const char* p = *at;
  const char* stop = p;
  while (stop < end && *stop != '\n') ++stop;
  line->text = p;
  line->length = 0;
  while (p + line->length < stop && p[line->length] != '\r') ++line->length;
  *at = stop < end ? stop + 1 : end;
  return 1;
}

static int StartsWith(const Line* line, const char* prefix) {
  const size_t n = strlen(prefix);
  return line->length >= n && memcmp(line->text, prefix, n) == 0;
}

tarn_status tarn_public_key_from_text(tarn_public_key* key, const char* text, size_t length) {
  if (key == NULL || text == NULL) return TARN_INVALID_ARGUMENT;
  const char* at = text;
  const char* end = text + length;
  Line line;
  if (!NextLine(&at, end, &line)) return TARN_INVALID_ARGUMENT;
  if (StartsWith(&line, "untrusted comment: ") && !NextLine(&at, end, &line)) {
    return TARN_INVALID_ARGUMENT;
  }
  /* Nothing but empty lines after the key. */
  for (const char* p = at; p < end; ++p) {
    if (*p != '\r' && *p != '\n') return TARN_INVALID_ARGUMENT;
  }
  uint8_t raw[42];
  if (!Base64Decode(line.text, line.length, raw, sizeof raw) || memcmp(raw, "Ed", 2) != 0) {
    return TARN_INVALID_ARGUMENT;
  }
  memcpy(key->id, raw + 2, 8);
  memcpy(key->key, raw + 10, 32);
  return TARN_OK;
}

void tarn_key_id_text(const uint8_t id[8], char text[17]) {
  static const char kDigits[] = "0123456789ABCDEF";
  size_t i;
  if (id == NULL || text == NULL) return;
  for (i = 0; i < 8; ++i) {
    text[2 * i] = kDigits[id[7 - i] >> 4];
    text[2 * i + 1] = kDigits[id[7 - i] & 0xF];
  }
  text[16] = '\0';
}

/* --- The trusted comment's fields. NULL when they are sound, else why not. */
static int IsCommentBlank(char c) {
  return c == ' ' || c == '\t';
}

TARNC_FN int tarnc_is_device_name(const char* name, size_t n) {
  if (n == 0 || n > TARN_DEVICE_NAME_MAX) return 0;
  for (size_t i = 0; i < n; ++i) {
    const char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
          c == '_' || c == '-')) {
      return 0;
    }
  }
  return 1;
}

static const char* ReadFields(const Line* comment, tarn_signature_info* info) {
  const char* p = comment->text;
  const char* end = p + comment->length;
  while (p < end) {
    while (p < end && IsCommentBlank(*p)) ++p;
    const char* token = p;
    while (p < end && !IsCommentBlank(*p)) ++p;
    const size_t n = (size_t)(p - token);
    if (n >= 8 && memcmp(token, "version=", 8) == 0) {
      if (info->has_version) return "version= twice in the trusted comment";
      if (n == 8) return "an empty version= in the trusted comment";
      uint64_t v = 0;
      for (size_t i = 8; i < n; ++i) {
        const unsigned d = (unsigned)(token[i] - '0');
        if (d > 9) return "a version= that is not a number";
        if (v > (UINT64_MAX - d) / 10) return "a version= too large";
        v = v * 10 + d;
      }
      info->has_version = 1;
      info->version = v;
    } else if (n >= 7 && memcmp(token, "device=", 7) == 0) {
      if (info->device[0] != '\0') return "device= twice in the trusted comment";
      if (n == 7 || n - 7 > TARN_DEVICE_NAME_MAX) return "a device= of no or too long a name";
      if (!tarnc_is_device_name(token + 7, n - 7)) {
        return "a device= with a character names do not have";
      }
      memcpy(info->device, token + 7, n - 7);
      info->device[n - 7] = '\0';
    }
  }
  return NULL;
}

/* --- The checker. */
static tarn_status Refuse(tarn_verifier_state_* s, tarn_status status, const char* why,
                          tarn_signature_info* info) {
  s->live = TARNC_VERIFIER_LIVE;
  s->failed = (uint32_t)status;
  s->info.reason = why;
  if (info != NULL) *info = s->info;
  return status;
}

tarn_status tarn_verifier_init(tarn_verifier* v, const tarn_public_key* key, const char* signature,
                               size_t length, const tarn_signature_policy* policy,
                               tarn_signature_info* info) {
  if (v == NULL || key == NULL || signature == NULL) return TARN_INVALID_ARGUMENT;
  tarn_verifier_state_* s = &v->u_.state_;
  memset(v, 0, sizeof *v);
  s->info.reason = "";
  memcpy(s->public_key, key->key, 32);

  const char* at = signature;
  const char* end = signature + length;
  Line untrusted, sig_line, trusted, global_line;
  uint8_t raw[74], global[64];
  if (!NextLine(&at, end, &untrusted) || !StartsWith(&untrusted, "untrusted comment: ") ||
      !NextLine(&at, end, &sig_line) || !NextLine(&at, end, &trusted) ||
      !StartsWith(&trusted, "trusted comment: ") || !NextLine(&at, end, &global_line) ||
      !Base64Decode(sig_line.text, sig_line.length, raw, sizeof raw) ||
      !Base64Decode(global_line.text, global_line.length, global, sizeof global)) {
    return Refuse(s, TARN_BAD_SIGNATURE, "not a signature file", info);
  }
  memcpy(s->info.key_id, raw + 2, 8);
  memcpy(s->signature, raw + 10, 64);
  if (memcmp(raw, "ED", 2) == 0) {
    s->info.prehashed = 1;
  } else if (memcmp(raw, "Ed", 2) != 0) {
    return Refuse(s, TARN_BAD_SIGNATURE, "an unknown signature algorithm", info);
  }
  if (memcmp(raw + 2, key->id, 8) != 0) {
    return Refuse(s, TARN_BAD_SIGNATURE, "signed by another key", info);
  }
  /* The comment's signature covers the signature and the comment after its prefix. */
  const Line comment = {trusted.text + 17, trusted.length - 17};
  tarnc_ed25519_start(&s->hash, global, key->key);
  tarnc_sha512_update(&s->hash, s->signature, 64);
  tarnc_sha512_update(&s->hash, comment.text, comment.length);
  if (!tarnc_ed25519_finish(&s->hash, global, key->key)) {
    return Refuse(s, TARN_BAD_SIGNATURE, "the trusted comment is not the one signed", info);
  }
  const char* malformed = ReadFields(&comment, &s->info);
  if (malformed != NULL) return Refuse(s, TARN_BAD_SIGNATURE, malformed, info);
  if (policy != NULL && policy->min_version != 0 &&
      (!s->info.has_version || s->info.version < policy->min_version)) {
    return Refuse(
        s, TARN_OLDER_VERSION,
        s->info.has_version ? "a lower version than required" : "no version where one is required",
        info);
  }
  if (policy != NULL && policy->device != NULL && strcmp(s->info.device, policy->device) != 0) {
    return Refuse(
        s, TARN_OTHER_DEVICE,
        s->info.device[0] != '\0' ? "made for another device" : "no device where one is required",
        info);
  }
  if (s->info.prehashed) {
    tarnc_blake2b_init(&s->hash);
  } else {
    tarnc_ed25519_start(&s->hash, s->signature, s->public_key);
  }
  s->live = TARNC_VERIFIER_LIVE;
  if (info != NULL) *info = s->info;
  return TARN_OK;
}

static tarn_verifier_state_* LiveVerifier(tarn_verifier* v) {
  return v != NULL && v->u_.state_.live == TARNC_VERIFIER_LIVE ? &v->u_.state_ : NULL;
}

tarn_status tarn_verifier_update(tarn_verifier* v, const void* data, size_t size) {
  tarn_verifier_state_* s = LiveVerifier(v);
  if (s == NULL || (data == NULL && size != 0)) return TARN_INVALID_ARGUMENT;
  if (s->failed != TARN_OK) return (tarn_status)s->failed;
  if (s->info.prehashed) {
    tarnc_blake2b_update(&s->hash, data, size);
  } else {
    tarnc_sha512_update(&s->hash, data, size);
  }
  return TARN_OK;
}

tarn_status tarn_verifier_finish(tarn_verifier* v, tarn_signature_info* info) {
  tarn_verifier_state_* s = LiveVerifier(v);
  if (s == NULL) return TARN_INVALID_ARGUMENT;
  if (s->failed != TARN_OK) {
    if (info != NULL) *info = s->info;
    return (tarn_status)s->failed;
  }
  /* The signed message's SHA-512 runs in the object's own hash state, not on the stack. */
  if (s->info.prehashed) {
    uint8_t digest[64];
    tarnc_blake2b_final(&s->hash, digest);
    tarnc_ed25519_start(&s->hash, s->signature, s->public_key);
    tarnc_sha512_update(&s->hash, digest, sizeof digest);
  }
  const int holds = tarnc_ed25519_finish(&s->hash, s->signature, s->public_key);
  s->info.reason = holds ? "" : "the bytes are not those signed";
  if (info != NULL) *info = s->info;
  s->live = 0;
  return holds ? TARN_OK : TARN_BAD_SIGNATURE;
}

/* --- Save and resume. The blob, little-endian: "TVS" and the layout's version (1); the flags
 * (prehashed, has a version); the hash state (eight words, the count, the fill, the buffer);
 * the signature; the key id; the version; the device name; the CRC-32 of all before it. */
#define TARNC_VBLOB_VERSION 1
#define TARNC_VBLOB_CHECKED (TARN_VERIFIER_RESUME_SIZE - 4)
enum {
  kAtFlags = 4,
  kAtHash = 8,
  kAtCount = kAtHash + 64,
  kAtFill = kAtCount + 8,
  kAtBuf = kAtFill + 4,
  kAtSig = kAtBuf + 128,
  kAtKeyId = kAtSig + 64,
  kAtVersion = kAtKeyId + 8,
  kAtDevice = kAtVersion + 8,
  kAtEnd = kAtDevice + TARN_DEVICE_NAME_MAX + 1
};
typedef char tarnc_vblob_fits[kAtEnd == TARNC_VBLOB_CHECKED ? 1 : -1];

tarn_status tarn_verifier_save(const tarn_verifier* v, uint8_t blob[TARN_VERIFIER_RESUME_SIZE]) {
  if (v == NULL || blob == NULL || v->u_.state_.live != TARNC_VERIFIER_LIVE ||
      v->u_.state_.failed != TARN_OK) {
    return TARN_INVALID_ARGUMENT;
  }
  const tarn_verifier_state_* s = &v->u_.state_;
  memset(blob, 0, TARN_VERIFIER_RESUME_SIZE);
  blob[kAtFlags] = (uint8_t)(s->info.prehashed | s->info.has_version << 1);
  for (size_t i = 0; i < 8; ++i) tarnc_put_le64(blob + kAtHash + 8 * i, s->hash.h[i]);
  tarnc_put_le64(blob + kAtCount, s->hash.count);
  tarnc_put_le32(blob + kAtFill, s->hash.fill);
  memcpy(blob + kAtBuf, s->hash.buf, 128);
  memcpy(blob + kAtSig, s->signature, 64);
  memcpy(blob + kAtKeyId, s->info.key_id, 8);
  tarnc_put_le64(blob + kAtVersion, s->info.version);
  memcpy(blob + kAtDevice, s->info.device, TARN_DEVICE_NAME_MAX + 1);
  tarnc_seal(blob, TARN_VERIFIER_RESUME_SIZE, "TVS", TARNC_VBLOB_VERSION);
  return TARN_OK;
}

tarn_status tarn_verifier_resume(tarn_verifier* v, const tarn_public_key* key,
                                 const uint8_t blob[TARN_VERIFIER_RESUME_SIZE]) {
  if (v == NULL || key == NULL || blob == NULL) return TARN_INVALID_ARGUMENT;
  if (!tarnc_sealed(blob, TARN_VERIFIER_RESUME_SIZE, "TVS", TARNC_VBLOB_VERSION) ||
      blob[kAtFlags] > 3 || tarnc_le32(blob + kAtFill) > 128 ||
      memcmp(blob + kAtKeyId, key->id, 8) != 0 || blob[kAtDevice + TARN_DEVICE_NAME_MAX] != 0) {
    return TARN_INVALID_ARGUMENT;
  }
  tarn_verifier_state_* s = &v->u_.state_;
  memset(v, 0, sizeof *v);
  s->info.prehashed = blob[kAtFlags] & 1;
  s->info.has_version = blob[kAtFlags] >> 1;
  for (size_t i = 0; i < 8; ++i) s->hash.h[i] = tarnc_le64(blob + kAtHash + 8 * i);
  s->hash.count = tarnc_le64(blob + kAtCount);
  s->hash.fill = tarnc_le32(blob + kAtFill);
  memcpy(s->hash.buf, blob + kAtBuf, 128);
  memcpy(s->signature, blob + kAtSig, 64);
  memcpy(s->public_key, key->key, 32);
  memcpy(s->info.key_id, blob + kAtKeyId, 8);
  s->info.version = tarnc_le64(blob + kAtVersion);
  memcpy(s->info.device, blob + kAtDevice, TARN_DEVICE_NAME_MAX + 1);
  s->info.reason = "";
  s->live = TARNC_VERIFIER_LIVE;
  return TARN_OK;
}
