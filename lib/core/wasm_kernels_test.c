/* The page's WebAssembly kernels against the core's references, run in Node.js: the CRC-32 over
 * every length up to past the two-chain threshold and random longer ones, at every alignment
 * and from any register; the cipher over block counts around its sixteen-block step, both ways
 * and back. */
#include <stdio.h>

#include "core/core.h"
#include "tests/contract.h"

static unsigned char g_bytes[70000 + 64], g_work[70000 + 64], g_reference[70000 + 64];
static unsigned g_seed = 12345;

static unsigned Random(void) {
  g_seed = g_seed * 1103515245u + 12345u;
  return g_seed >> 8;
}

int main(void) {
  const uint32_t key[4] = {0x01234567u, 0x89ABCDEFu, 0xFEDCBA98u, 0x76543210u};
  size_t i, n;
  for (i = 0; i < sizeof g_bytes; ++i) g_bytes[i] = (unsigned char)Random();
  for (n = 0; n < 11000; ++n) {
    const size_t length = n < 9000 ? n : Random() % 70000;
    const size_t at = Random() % 64;
    const uint32_t reg = Random() * 2654435761u;
    CHECK(tarnc_crc32_update(reg, g_bytes + at, length) ==
          tarnc_crc32_bytewise(reg, g_bytes + at, length));
  }
  for (n = 0; n <= 40; ++n) {
    memcpy(g_work, g_bytes + 3, 8 * n);
    memcpy(g_reference, g_bytes + 3, 8 * n);
    tarnc_encipher(key, g_work, n);
    tarnc_encipher_scalar(key, g_reference, n);
    CHECK(memcmp(g_work, g_reference, 8 * n) == 0);
    tarnc_decipher(key, g_work, n);
    CHECK(memcmp(g_work, g_bytes + 3, 8 * n) == 0);
  }
  printf("%s\n", failures == 0 ? "the WebAssembly kernels agree with the references"
                               : "the WebAssembly kernels disagree with the references");
  return failures != 0;
}
