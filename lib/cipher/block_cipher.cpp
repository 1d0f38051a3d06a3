// The cipher one block at a time: the reference every other path is checked against, and
// the only path a freestanding build carries.
#include "cipher/block_cipher.h"

#include "cipher/block_cipher_paths.h"
#include "util/little_endian.h"

namespace tarn::cipher {
namespace {

using util::LoadLe32;
using util::StoreLe32;

}  // namespace

void EncipherBlock(std::uint32_t& v0, std::uint32_t& v1, const KeyWords& key) {
  std::uint32_t sum = 0;
  for (int round = 0; round < kRounds; ++round) {
    sum += kDelta;
    v0 += (v1 << 4) + (key.k0 ^ v1) + ((v1 >> 5) ^ sum) + key.k1;
    v1 += (v0 << 4) + (key.k2 ^ v0) + ((v0 >> 5) ^ sum) + key.k3;
  }
}

void DecipherBlock(std::uint32_t& v0, std::uint32_t& v1, const KeyWords& key) {
  std::uint32_t sum = kDecipherStart;
  for (int round = 0; round < kRounds; ++round) {
    v1 -= (v0 << 4) + (key.k2 ^ v0) + ((v0 >> 5) ^ sum) + key.k3;
    v0 -= (v1 << 4) + (key.k0 ^ v1) + ((v1 >> 5) ^ sum) + key.k1;
    sum -= kDelta;
  }
}

namespace {

// Applies one block function to `count` blocks in place.
template <void (*Block)(std::uint32_t&, std::uint32_t&, const KeyWords&)>
void EachBlock(const KeyWords& key, unsigned char* data, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i, data += kBlockSize) {
    std::uint32_t v0 = LoadLe32(data), v1 = LoadLe32(data + 4);
    Block(v0, v1, key);
    StoreLe32(data, v0);
    StoreLe32(data + 4, v1);
  }
}

}  // namespace

void EncipherBlocksScalar(const KeyWords& key, unsigned char* data, std::size_t count) {
  EachBlock<EncipherBlock>(key, data, count);
}

void DecipherBlocksScalar(const KeyWords& key, unsigned char* data, std::size_t count) {
  EachBlock<DecipherBlock>(key, data, count);
}

}  // namespace tarn::cipher
