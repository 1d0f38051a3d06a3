/* The C interface's contract, compiled as C: every status reachable through it, buffer and file
 * results equal to the known containers, the payload-only and keyed checks, cancellation that
 * leaves nothing, re-keying, and calls on different files from several threads at once.
 * Usage: api_test SCRATCH_DIR (made when missing) */
#ifndef _WIN32
#define _POSIX_C_SOURCE 200809L /* pread, ftruncate */
#endif
#include <pthread.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tarn/tarn.h"
#include "tests/contract.h"

/* Images of 0, 8 and 9 bytes under one key, and their containers, from the known answers. */
static const char* const kKey = "0123456789ABCDEFFEDCBA9876543210";
static const char* const kImages[] = {"", "3132333435363738", "313233343536373839"};
static const char* const kContainers[] = {
    "0000000071756172626f73744e45550000000000010000000000000000000000000000000b00000000000000"
    "4801000000000000",
    "0000000071756172626f73744e4555000000000001000000000000009587cc13afdae09a0b00000000000000"
    "480100000800000056fe4bd24cc614ff",
    "0000000071756172626f73744e455500000000000100000000000000c9cc710d2639f4cb0b00000000000000"
    "480100000900000056fe4bd24cc614ff39"};

static const char* g_dir;

static void PathOf(char* path, const char* name) {
  snprintf(path, 4096, "%s/%s", g_dir, name);
}

static void WriteFile(const char* name, const unsigned char* data, size_t n) {
  char path[4096];
  FILE* f;
  PathOf(path, name);
  f = fopen(path, "wb");
  if (n > 0) fwrite(data, 1, n, f);
  fclose(f);
}

static long ReadFile(const char* name, unsigned char* data, size_t capacity) {
  char path[4096];
  FILE* f;
  long n;
  PathOf(path, name);
  f = fopen(path, "rb");
  if (f == NULL) return -1;
  n = (long)fread(data, 1, capacity, f);
  fclose(f);
  return n;
}

static void Remove(const char* name) {
  char path[4096];
  PathOf(path, name);
  remove(path);
}

static int Exists(const char* name) {
  char path[4096];
  struct stat st;
  PathOf(path, name);
  return stat(path, &st) == 0;
}

static int CancelAtOnce(void* user, uint64_t done, uint64_t total) {
  (void)done;
  (void)total;
  ++*(int*)user;
  return 1;
}

static void KnownContainers(const tarn_key* key) {
  size_t k;
  for (k = 0; k < 3; ++k) {
    unsigned char image[16], expected[64], got[64], back[16];
    char in[4096], out[4096], dec[4096];
    size_t image_size = FromHex(kImages[k], image), size = FromHex(kContainers[k], expected);
    size_t back_size = 99;
    tarn_info info;
    CHECK(tarn_encode_buffer(image, image_size, key, got, sizeof got) == TARN_OK);
    CHECK(memcmp(got, expected, size) == 0);
    CHECK(tarn_decode_buffer(expected, size, key, back, sizeof back, &back_size) == TARN_OK);
    CHECK(back_size == image_size && memcmp(back, image, image_size) == 0);

    WriteFile("image.bin", image, image_size);
    PathOf(in, "image.bin");
    PathOf(out, "image.cnt");
    PathOf(dec, "back.bin");
    CHECK(tarn_encode_file(in, out, key, NULL, NULL) == TARN_OK);
    CHECK(ReadFile("image.cnt", got, sizeof got) == (long)size && memcmp(got, expected, size) == 0);
    CHECK(tarn_verify_file(out, key, &info, NULL, NULL) == TARN_OK);
    CHECK(info.payload_checked && info.payload_ok && info.image_checked && info.image_ok);
    CHECK(info.image_size == image_size && info.container_size == size);
    CHECK(tarn_decode_file(out, dec, key, NULL, NULL) == TARN_OK);
    CHECK(ReadFile("back.bin", back, sizeof back) == (long)image_size);
    CHECK(memcmp(back, image, image_size) == 0);
  }
}

static void Statuses(const tarn_key* key) {
  unsigned char container[64], image[64], damaged[64];
  size_t size = FromHex(kContainers[2], container), out_size = 0;
  tarn_key other;
  tarn_info info;
  char cnt[4096], out[4096], missing[4096];
  int calls = 0;

  CHECK(tarn_key_from_hex(kKey, 31, &other) == TARN_BAD_KEY);
  CHECK(tarn_key_from_hex("0123456789ABCDEFFEDCBA987654321G", 32, &other) == TARN_BAD_KEY);
  CHECK(tarn_key_from_hex("f38b2ffc80a4df5a51c9bc701e7ea419", 32, &other) == TARN_OK);
  CHECK(other.words[0] == 0xF38B2FFCu && other.words[3] == 0x1E7EA419u);
  CHECK(tarn_key_from_hex(kKey, 32, NULL) == TARN_INVALID_ARGUMENT);
  CHECK(strlen(tarn_status_string((tarn_status)999)) > 0);
  CHECK(strcmp(tarn_version(), "") != 0);

  CHECK(tarn_decode_buffer(container, size, &other, image, sizeof image, &out_size) ==
        TARN_IMAGE_MISMATCH);
  CHECK(tarn_decode_buffer(container, size - 1, key, image, sizeof image, &out_size) ==
        TARN_WRONG_SIZE);
  /* A container cut short is judged by its header alone: no byte reaches a buffer with no room. */
  CHECK(tarn_decode_buffer(container, size - 1, key, NULL, 0, &out_size) == TARN_WRONG_SIZE);
  memcpy(damaged, container, size);
  damaged[size - 1] ^= 1;
  CHECK(tarn_decode_buffer(damaged, size, key, image, sizeof image, &out_size) ==
        TARN_PAYLOAD_DAMAGED);
  damaged[36] = 12;
  CHECK(tarn_decode_buffer(damaged, size, key, image, sizeof image, &out_size) ==
        TARN_UNKNOWN_VERSION);
  CHECK(tarn_decode_buffer(image, 10, key, image, sizeof image, &out_size) == TARN_NOT_A_CONTAINER);
  CHECK(tarn_decode_buffer(container, size, key, image, 8, &out_size) == TARN_TOO_LARGE);
  CHECK(tarn_encode_buffer(image, 9, key, damaged, 60) == TARN_TOO_LARGE);
  CHECK(tarn_encode_buffer(NULL, 1, key, damaged, 60) == TARN_INVALID_ARGUMENT);

  WriteFile("c.cnt", container, size);
  PathOf(cnt, "c.cnt");
  PathOf(out, "out.bin");
  PathOf(missing, "missing");
  Remove("out.bin"); /* from an earlier run in the same directory */
  CHECK(tarn_decode_file(missing, out, key, NULL, NULL) == TARN_CANT_OPEN_INPUT);
  CHECK(tarn_decode_file(cnt, g_dir, key, NULL, NULL) == TARN_CANT_CREATE_OUTPUT);
  CHECK(tarn_decode_file(cnt, cnt, key, NULL, NULL) == TARN_CANT_CREATE_OUTPUT);
  CHECK(tarn_decode_file(cnt, out, &other, NULL, NULL) == TARN_IMAGE_MISMATCH);
  CHECK(!Exists("out.bin"));
  CHECK(tarn_decode_file(cnt, out, key, CancelAtOnce, &calls) == TARN_CANCELLED);
  CHECK(calls == 1 && !Exists("out.bin"));
  CHECK(tarn_encode_file(cnt, out, key, CancelAtOnce, &calls) == TARN_CANCELLED);
  CHECK(calls == 2 && !Exists("out.bin"));

  /* Without a key only the payload is checked; a file that is no container keeps its words. */
  CHECK(tarn_verify_file(cnt, NULL, &info, NULL, NULL) == TARN_OK);
  CHECK(info.payload_checked && info.payload_ok && !info.image_checked);
  CHECK(tarn_verify_file(cnt, &other, &info, NULL, NULL) == TARN_IMAGE_MISMATCH);
  CHECK(info.payload_ok && info.image_checked && !info.image_ok);
  memcpy(damaged, container, size);
  damaged[size - 1] ^= 1;
  WriteFile("d.cnt", damaged, size);
  PathOf(cnt, "d.cnt");
  CHECK(tarn_verify_file(cnt, NULL, &info, NULL, NULL) == TARN_PAYLOAD_DAMAGED);
  CHECK(info.payload_checked && !info.payload_ok);
  WriteFile("plain.txt", (const unsigned char*)"just some text, no header", 25);
  PathOf(cnt, "plain.txt");
  CHECK(tarn_verify_file(cnt, NULL, &info, NULL, NULL) == TARN_NOT_A_CONTAINER);
  CHECK(info.words[0] == 0x7473756au && !info.payload_checked); /* "just" */
}

static void Rekey(const tarn_key* key) {
  unsigned char image[3000], expected[3100], got[3100];
  char in[4096], cnt[4096], out[4096], direct[4096];
  tarn_key other;
  size_t i;
  for (i = 0; i < sizeof image; ++i) image[i] = (unsigned char)(i * 7 + 3);
  tarn_key_from_hex("F38B2FFC80A4DF5A51C9BC701E7EA419", 32, &other);
  WriteFile("r.bin", image, sizeof image - 5);
  PathOf(in, "r.bin");
  PathOf(cnt, "r.cnt");
  PathOf(out, "r2.cnt");
  PathOf(direct, "r3.cnt");
  Remove("r2.cnt");
  CHECK(tarn_encode_file(in, cnt, key, NULL, NULL) == TARN_OK);
  CHECK(tarn_encode_file(in, direct, &other, NULL, NULL) == TARN_OK);
  CHECK(tarn_rekey_file(cnt, out, &other, key, NULL, NULL) == TARN_IMAGE_MISMATCH);
  CHECK(!Exists("r2.cnt"));
  CHECK(tarn_rekey_file(cnt, out, key, &other, NULL, NULL) == TARN_OK);
  CHECK(ReadFile("r2.cnt", got, sizeof got) == (long)(sizeof image - 5 + 52));
  CHECK(ReadFile("r3.cnt", expected, sizeof expected) == (long)(sizeof image - 5 + 52));
  CHECK(memcmp(got, expected, sizeof image - 5 + 52) == 0);
}

#ifndef _WIN32
/* Streams of bytes: a pipe as the input, an open file from where it stands, and nothing on the
 * output before the verdict. */
static void Handles(const tarn_key* key) {
  unsigned char image[5000], container[sizeof image + 52], got[sizeof container + 1];
  char name[4096];
  int pipe_fds[2], out, in;
  tarn_info info;
  size_t i;
  for (i = 0; i < sizeof image; ++i) image[i] = (unsigned char)(i * 13 + 1);
  CHECK(tarn_encode_buffer(image, sizeof image, key, container, sizeof container) == TARN_OK);
  PathOf(name, "h.out");
  out = open(name, O_RDWR | O_CREAT | O_TRUNC, 0600);
  CHECK(pipe(pipe_fds) == 0 && write(pipe_fds[1], image, sizeof image) == (long)sizeof image);
  close(pipe_fds[1]);
  CHECK(tarn_encode_handles(pipe_fds[0], out, key, NULL, NULL) == TARN_OK);
  close(pipe_fds[0]);
  CHECK(pread(out, got, sizeof got, 0) == (long)sizeof container &&
        memcmp(got, container, sizeof container) == 0);
  /* A regular file read from where it stands: 3 bytes in. */
  WriteFile("h.cnt", container, sizeof container);
  container[100] ^= 1;
  WriteFile("h.bad", container, sizeof container);
  PathOf(name, "h.cnt");
  in = open(name, O_RDONLY);
  CHECK(ftruncate(out, 0) == 0 && lseek(out, 0, SEEK_SET) == 0);
  CHECK(lseek(in, 0, SEEK_SET) == 0);
  CHECK(tarn_decode_handles(in, out, key, NULL, NULL) == TARN_OK);
  CHECK(pread(out, got, sizeof got, 0) == (long)sizeof image &&
        memcmp(got, image, sizeof image) == 0);
  CHECK(lseek(in, 3, SEEK_SET) == 3);
  CHECK(tarn_verify_handle(in, key, &info, NULL, NULL) == TARN_NOT_A_CONTAINER);
  close(in);
  PathOf(name, "h.bad");
  in = open(name, O_RDONLY);
  CHECK(ftruncate(out, 0) == 0 && lseek(out, 0, SEEK_SET) == 0);
  CHECK(tarn_decode_handles(in, out, key, NULL, NULL) == TARN_PAYLOAD_DAMAGED);
  CHECK(lseek(out, 0, SEEK_END) == 0); /* nothing before the verdict */
  close(in);
  CHECK(tarn_verify_handle(-1, key, &info, NULL, NULL) == TARN_CANT_OPEN_INPUT);
  /* A refused argument leaves no cause of the call before it behind. */
  {
    tarn_cause cause;
    CHECK(tarn_rekey_handles(0, out, key, NULL, NULL, NULL) == TARN_INVALID_ARGUMENT);
    tarn_last_cause(&cause);
    CHECK(cause.system_error == 0 && cause.text[0] == '\0');
  }
  close(out);
}
#endif

/* Each thread encodes, checks and decodes its own file of 3 MiB. */
static void* Worker(void* arg) {
  const int n = *(const int*)arg;
  char name[64], in[4096], cnt[4096], out[4096];
  const size_t size = (3u << 20) + (size_t)n;
  unsigned char* image = malloc(size);
  unsigned char* back = malloc(size);
  tarn_key key;
  size_t i;
  long got;
  for (i = 0; i < size; ++i) image[i] = (unsigned char)(i * 131u + (size_t)n);
  tarn_key_from_hex(kKey, 32, &key);
  key.words[0] ^= (uint32_t)n;
  snprintf(name, sizeof name, "t%d.bin", n);
  WriteFile(name, image, size);
  PathOf(in, name);
  snprintf(name, sizeof name, "t%d.cnt", n);
  PathOf(cnt, name);
  snprintf(name, sizeof name, "t%d.out", n);
  PathOf(out, name);
  CHECK(tarn_encode_file(in, cnt, &key, NULL, NULL) == TARN_OK);
  CHECK(tarn_verify_file(cnt, &key, NULL, NULL, NULL) == TARN_OK);
  CHECK(tarn_decode_file(cnt, out, &key, NULL, NULL) == TARN_OK);
  got = ReadFile(name, back, size);
  CHECK(got == (long)size && memcmp(back, image, size) == 0);
  free(image);
  free(back);
  return NULL;
}

/* The memory this process has locked, in kB, where the system reports it (-1 elsewhere). */
static long LockedKb(void) {
  char line[256];
  long kb = -1;
  FILE* status = fopen("/proc/self/status", "r");
  if (status == NULL) return -1;
  while (fgets(line, sizeof line, status) != NULL) {
    if (sscanf(line, "VmLck: %ld", &kb) == 1) break;
  }
  fclose(status);
  return kb;
}

/* What the library locks for a call's secrets it unlocks before the call returns, on every
 * path of the file calls (one worker and two). */
static void LockedMemoryIsGivenBack(const tarn_key* key, long before) {
  static unsigned char image[(1 << 20) + 9];
  char in[4096], out[4096], back[4096];
  PathOf(in, "locked.bin");
  PathOf(out, "locked.cnt");
  PathOf(back, "locked.out");
  WriteFile("locked.bin", image, sizeof image);
  CHECK(tarn_encode_file(in, out, key, NULL, NULL) == TARN_OK);
  CHECK(tarn_decode_file(out, back, key, NULL, NULL) == TARN_OK);
  CHECK(tarn_rekey_file(out, back, key, key, NULL, NULL) == TARN_OK);
  CHECK(tarn_verify_file(out, key, NULL, NULL, NULL) == TARN_OK);
  CHECK(LockedKb() == before);
  remove(in);
  remove(out);
  remove(back);
}

int main(int argc, char** argv) {
  const long locked_at_start = LockedKb();
  tarn_key key;
  pthread_t threads[4];
  int ids[4] = {0, 1, 2, 3}, t;
  if (argc != 2) return 2;
  g_dir = argv[1];
  MakeDir(g_dir);
  CHECK(tarn_key_from_hex(kKey, 32, &key) == TARN_OK);
  KnownContainers(&key);
  Statuses(&key);
  Rekey(&key);
  LockedMemoryIsGivenBack(&key, locked_at_start);
#ifndef _WIN32
  Handles(&key);
#endif
  for (t = 0; t < 4; ++t) pthread_create(&threads[t], NULL, Worker, &ids[t]);
  for (t = 0; t < 4; ++t) pthread_join(threads[t], NULL);
  printf("%s\n", failures == 0 ? "api_test: all checks hold" : "api_test: checks failed");
  return failures == 0 ? 0 : 1;
}
