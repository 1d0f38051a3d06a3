// The one-block path of the kernels' interface: the core's cipher, which every other path is
// checked against.
#include "cipher/block_cipher.h"

#include "cipher/block_cipher_paths.h"
#include "core/core.h"

namespace tarn::cipher {

void EncipherBlock(std::uint32_t& v0, std::uint32_t& v1, const KeyWords& key) {
  const std::uint32_t words[4] = {key.k0, key.k1, key.k2, key.k3};
  tarnc_encipher_block(&v0, &v1, words);
}

void DecipherBlock(std::uint32_t& v0, std::uint32_t& v1, const KeyWords& key) {
  const std::uint32_t words[4] = {key.k0, key.k1, key.k2, key.k3};
  tarnc_decipher_block(&v0, &v1, words);
}

void EncipherBlocksScalar(const KeyWords& key, unsigned char* data, std::size_t count) {
  const std::uint32_t words[4] = {key.k0, key.k1, key.k2, key.k3};
  tarnc_encipher_scalar(words, data, count);
}

void DecipherBlocksScalar(const KeyWords& key, unsigned char* data, std::size_t count) {
  const std::uint32_t words[4] = {key.k0, key.k1, key.k2, key.k3};
  tarnc_decipher_scalar(words, data, count);
}

}  // namespace tarn::cipher
