// The one dispatch point of the block cipher: the widest path the processor has and the user
// did not turn off, chosen once; and the core's seam to it in a hosted build.
#include "cipher/block_cipher.h"
#include "cipher/block_cipher_paths.h"
#include "core/core.h"

namespace tarn::cipher {
namespace {

using BlocksFn = void (*)(const KeyWords&, unsigned char*, std::size_t);

BlocksFn Choose(BlocksFn avx512, BlocksFn avx2, BlocksFn vector, BlocksFn scalar) {
  if (CipherAvx512Available()) return avx512;
  if (CipherAvx2Available()) return avx2;
  if (CipherVectorAvailable()) return vector;
  return scalar;
}

}  // namespace

void EncipherBlocks(const KeyWords& key, unsigned char* data, std::size_t count) {
  static const BlocksFn fn =
      Choose(EncipherBlocksAvx512, EncipherBlocksAvx2, EncipherBlocksVector, EncipherBlocksScalar);
  fn(key, data, count);
}

void DecipherBlocks(const KeyWords& key, unsigned char* data, std::size_t count) {
  static const BlocksFn fn =
      Choose(DecipherBlocksAvx512, DecipherBlocksAvx2, DecipherBlocksVector, DecipherBlocksScalar);
  fn(key, data, count);
}

}  // namespace tarn::cipher

extern "C" {

void tarnc_encipher(const std::uint32_t key[4], std::uint8_t* data, std::size_t blocks) {
  tarn::cipher::EncipherBlocks({key[0], key[1], key[2], key[3]}, data, blocks);
}

void tarnc_decipher(const std::uint32_t key[4], std::uint8_t* data, std::size_t blocks) {
  tarn::cipher::DecipherBlocks({key[0], key[1], key[2], key[3]}, data, blocks);
}

}  // extern "C"
