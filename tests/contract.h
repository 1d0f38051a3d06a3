/* What the C contract tests share: a check that counts its failures instead of stopping, a
 * hexadecimal reader for the known answers, and a portable mkdir for their scratch folders. */
#ifndef TARN_TESTS_CONTRACT_H
#define TARN_TESTS_CONTRACT_H

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#define MakeDir(path) _mkdir(path)
#else
#define MakeDir(path) mkdir(path, 0777)
#endif

static int failures = 0;
#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: %s does not hold\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                              \
    }                                                                          \
  } while (0)

/* The bytes of a hexadecimal text into `out`; their count. */
static inline size_t FromHex(const char* hex, unsigned char* out) {
  size_t n = strlen(hex) / 2, i;
  for (i = 0; i < n; ++i) {
    unsigned v;
    sscanf(hex + 2 * i, "%2x", &v);
    out[i] = (unsigned char)v;
  }
  return n;
}

#endif
