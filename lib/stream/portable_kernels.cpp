// The kernels of a build for one small processor: the cipher one block at a time and the
// checksum by table, in place of the dispatch between accelerated paths that the other builds
// compile.
#include "checksum/crc32.h"
#include "checksum/crc32_paths.h"
#include "cipher/block_cipher.h"
#include "cipher/block_cipher_paths.h"

namespace tarn::checksum {
std::uint32_t Crc32Update(std::uint32_t reg, const void* data, std::size_t n) {
  return Crc32UpdateBytewise(reg, data, n);
}
}  // namespace tarn::checksum

namespace tarn::cipher {
void EncipherBlocks(const KeyWords& key, unsigned char* data, std::size_t count) {
  EncipherBlocksScalar(key, data, count);
}
void DecipherBlocks(const KeyWords& key, unsigned char* data, std::size_t count) {
  DecipherBlocksScalar(key, data, count);
}
}  // namespace tarn::cipher
