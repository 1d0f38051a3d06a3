/* A program outside the tree, built against an installed libtarn: encodes, checks, inspects
 * and decodes an image given on the command line, in memory and as files, and leaves the
 * results for the caller to compare with the console program's.
 * Usage: consumer IMAGE DIR   (writes DIR/buffer.cnt, DIR/file.cnt, DIR/file.out) */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tarn/tarn.h>

static int Fail(const char* what, tarn_status status) {
  fprintf(stderr, "consumer: %s: %s\n", what, tarn_status_string(status));
  return 1;
}

int main(int argc, char** argv) {
  const char* hex = "0123456789ABCDEFFEDCBA9876543210";
  char path[3][4096];
  tarn_key key;
  tarn_info info;
  tarn_status status;
  unsigned char *image, *container, *back;
  size_t size, back_size = 0;
  FILE* f;
  if (argc != 3) return 2;
  snprintf(path[0], sizeof path[0], "%s/buffer.cnt", argv[2]);
  snprintf(path[1], sizeof path[1], "%s/file.cnt", argv[2]);
  snprintf(path[2], sizeof path[2], "%s/file.out", argv[2]);
  if ((status = tarn_key_from_hex(hex, strlen(hex), &key)) != TARN_OK) return Fail("key", status);

  f = fopen(argv[1], "rb");
  if (f == NULL) return 2;
  fseek(f, 0, SEEK_END);
  size = (size_t)ftell(f);
  fseek(f, 0, SEEK_SET);
  image = malloc(size + 1);
  container = malloc(size + TARN_HEADER_SIZE);
  back = malloc(size + 8);
  if (fread(image, 1, size, f) != size) return 2;
  fclose(f);

  status = tarn_encode_buffer(image, size, &key, container, size + TARN_HEADER_SIZE);
  if (status != TARN_OK) return Fail("encode buffer", status);
  status = tarn_decode_buffer(container, size + TARN_HEADER_SIZE, &key, back, size + 1, &back_size);
  if (status != TARN_OK || back_size != size || memcmp(back, image, size) != 0) {
    return Fail("decode buffer", status);
  }
  {
    /* The stream objects give the same container and image, in pieces of 1000 bytes. */
    tarn_encoder enc;
    tarn_decoder dec;
    unsigned char* streamed = malloc(size + TARN_HEADER_SIZE + 8);
    size_t at, put = TARN_HEADER_SIZE, got = 0, n;
    tarn_encoder_init(&enc, &key);
    for (at = 0; at < size; at += n) {
      size_t written;
      n = size - at < 1000 ? size - at : 1000;
      if (tarn_encoder_update(&enc, image + at, n, streamed + put, &written) != TARN_OK) return 3;
      put += written;
    }
    if (tarn_encoder_finish(&enc, streamed + put, &n, streamed) != TARN_OK ||
        put + n != size + TARN_HEADER_SIZE ||
        memcmp(streamed, container, size + TARN_HEADER_SIZE) != 0) {
      return Fail("stream encode", TARN_OK);
    }
    tarn_decoder_init(&dec, &key);
    for (at = 0; at < size + TARN_HEADER_SIZE; at += n) {
      size_t written;
      n = size + TARN_HEADER_SIZE - at < 1000 ? size + TARN_HEADER_SIZE - at : 1000;
      if (tarn_decoder_update(&dec, container + at, n, back + got, &written) != TARN_OK) return 3;
      got += written;
    }
    status = tarn_decoder_finish(&dec, &info);
    if (status != TARN_OK || got != size || memcmp(back, image, size) != 0 || !info.image_ok) {
      return Fail("stream decode", status);
    }
    free(streamed);
  }
  f = fopen(path[0], "wb");
  fwrite(container, 1, size + TARN_HEADER_SIZE, f);
  fclose(f);

  if ((status = tarn_encode_file(argv[1], path[1], &key, NULL, NULL)) != TARN_OK) {
    return Fail("encode file", status);
  }
  status = tarn_verify_file(path[1], NULL, &info, NULL, NULL);
  if (status != TARN_OK || !info.payload_ok || info.image_checked || info.image_size != size) {
    return Fail("inspect file", status);
  }
  status = tarn_verify_file(path[1], &key, &info, NULL, NULL);
  if (status != TARN_OK || !info.image_ok) return Fail("verify file", status);
  if ((status = tarn_decode_file(path[1], path[2], &key, NULL, NULL)) != TARN_OK) {
    return Fail("decode file", status);
  }
  printf("consumer: libtarn %s: %lu bytes encoded, checked and decoded\n", tarn_version(),
         (unsigned long)size);
  free(image);
  free(container);
  free(back);
  return 0;
}
