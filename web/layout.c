/* What the page needs to know of the library's memory, asked of the module instead of written
 * into the page: the sizes of the objects it allocates and the fields of tarn_info. */
#include "core/core.h"
#include "tarn/tarn.h"

size_t tarn_page_decoder_size(void) {
  return sizeof(tarn_decoder);
}
size_t tarn_page_encoder_size(void) {
  return sizeof(tarn_encoder);
}
size_t tarn_page_key_size(void) {
  return sizeof(tarn_key);
}
size_t tarn_page_info_size(void) {
  return sizeof(tarn_info);
}

uint32_t tarn_page_info_word(const tarn_info* info, int i) {
  return info->words[i];
}
/* Sizes up to 4 GiB are exact in a JavaScript number. */
double tarn_page_info_image_size(const tarn_info* info) {
  return (double)info->image_size;
}
double tarn_page_info_container_size(const tarn_info* info) {
  return (double)info->container_size;
}
uint32_t tarn_page_info_image_crc(const tarn_info* info) {
  return info->image_crc;
}
uint32_t tarn_page_info_payload_crc(const tarn_info* info) {
  return info->payload_crc;
}
int tarn_page_info_payload_checked(const tarn_info* info) {
  return info->payload_checked;
}
int tarn_page_info_payload_ok(const tarn_info* info) {
  return info->payload_ok;
}
int tarn_page_info_image_checked(const tarn_info* info) {
  return info->image_checked;
}
int tarn_page_info_image_ok(const tarn_info* info) {
  return info->image_ok;
}

/* Signatures: the checker's and the public key's sizes, and the fields of tarn_signature_info. */
size_t tarn_page_verifier_size(void) {
  return sizeof(tarn_verifier);
}
size_t tarn_page_public_key_size(void) {
  return sizeof(tarn_public_key);
}
size_t tarn_page_signature_info_size(void) {
  return sizeof(tarn_signature_info);
}
/* The key id as tarn_key_id_text writes it. */
const char* tarn_page_signature_key_id(const tarn_signature_info* info) {
  static char text[17];
  tarn_key_id_text(info->key_id, text);
  return text;
}
int tarn_page_signature_has_version(const tarn_signature_info* info) {
  return info->has_version;
}
/* Versions up to 2^53 are exact in a JavaScript number. */
double tarn_page_signature_version(const tarn_signature_info* info) {
  return (double)info->version;
}
const char* tarn_page_signature_device(const tarn_signature_info* info) {
  return info->device;
}
const char* tarn_page_signature_reason(const tarn_signature_info* info) {
  return info->reason != NULL ? info->reason : "";
}

/* A check split between workers: each runs its stretch of the payload through the one pass (a
 * stretch ends on a block's edge but for the payload's last), and the verdict is reached from
 * the stretches' CRC-32s joined in order. */

size_t tarn_page_registers_size(void) {
  return 3 * sizeof(uint32_t);
}
void tarn_page_registers_start(uint32_t registers[3]) {
  tarnc_crcs_start(registers);
}
/* n bytes in place, deciphered under `key` (NULL: only their CRC-32 is taken). */
void tarn_page_pass(const tarn_key* key, uint32_t registers[3], uint8_t* data, size_t n) {
  tarnc_pass(key != NULL ? key->words : NULL, NULL, registers, data, key != NULL ? data : NULL, n);
}
uint32_t tarn_page_payload_crc(const uint32_t registers[3]) {
  return ~registers[TARNC_CRC_IN];
}
uint32_t tarn_page_image_crc(const uint32_t registers[3]) {
  return ~registers[TARNC_CRC_PLAIN];
}
/* The CRC-32 of two stretches one after the other, from each one's; the second is
 * `second_size` bytes long. */
uint32_t tarn_page_crc_join(uint32_t first, uint32_t second, double second_size) {
  return tarnc_crc32_join(tarnc_crc32_shift((uint64_t)second_size), first, second);
}
/* The verdict on the container whose first `have` bytes (at most 52) are `header`, of
 * `container_size` bytes, from the CRC-32s of its whole payload and of the image made of it. */
tarn_status tarn_page_judge(const uint8_t* header, size_t have, double container_size,
                            uint32_t payload_crc, uint32_t image_crc, int has_image,
                            tarn_info* info) {
  tarnc_header h;
  tarnc_findings found;
  tarnc_header_parse(&h, header, have);
  found.early = TARN_OK;
  found.payload_crc = payload_crc;
  found.image_crc = image_crc;
  found.has_image = has_image;
  found.after_payload = TARN_OK;
  return tarnc_judge(&h, (uint64_t)container_size, &found, info);
}
/* TARN_OK where the header whose first `have` bytes are `header` holds for a container of
 * `container_size` bytes; else the verdict it gives before any payload is read, what it says
 * in `info` (a failing header is judged before any CRC-32 is looked at). */
tarn_status tarn_page_header_verdict(const uint8_t* header, size_t have, double container_size,
                                     tarn_info* info) {
  tarnc_header h;
  tarnc_header_parse(&h, header, have);
  if (tarnc_header_check(&h, (uint64_t)container_size) == TARN_OK) return TARN_OK;
  return tarn_page_judge(header, have, container_size, 0, 0, 0, info);
}
