/* What the page needs to know of the library's memory, asked of the module instead of written
 * into the page: the sizes of the objects it allocates and the fields of tarn_info. */
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
int tarn_page_signature_key_id(const tarn_signature_info* info, int i) {
  return info->key_id[i];
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
