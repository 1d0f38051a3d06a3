// Fuzz target: every path of each kernel that the processor has gives the same bytes. The
// input's first 16 bytes are key words, the rest the data: each cipher path (one block at a
// time, the vector unit, AVX2, AVX-512) must encipher it as the one-block reference does and
// decipher it back, at the input's own offset; each CRC-32 path (byte table, slicing-by-16,
// carry-less multiplication on xmm and zmm registers, ARMv8) must give the bytewise value,
// also when fed in two parts split where the input says.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "checksum/crc32.h"
#include "checksum/crc32_paths.h"
#include "cipher/block_cipher.h"
#include "cipher/block_cipher_paths.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace tarn;

using BlocksFn = void (*)(const cipher::KeyWords&, unsigned char*, std::size_t);
using CrcFn = std::uint32_t (*)(std::uint32_t, const void*, std::size_t);

struct CipherPath {
  BlocksFn encipher, decipher;
  bool (*available)();
};

bool Always() {
  return true;
}

const CipherPath kCipherPaths[] = {
    {cipher::EncipherBlocksVector, cipher::DecipherBlocksVector, cipher::CipherVectorAvailable},
    {cipher::EncipherBlocksAvx2, cipher::DecipherBlocksAvx2, cipher::CipherAvx2Available},
    {cipher::EncipherBlocksAvx512, cipher::DecipherBlocksAvx512, cipher::CipherAvx512Available},
    {cipher::EncipherBlocks, cipher::DecipherBlocks, Always},
};

struct CrcPath {
  CrcFn update;
  bool (*available)();
};

const CrcPath kCrcPaths[] = {
    {checksum::Crc32UpdatePortable, Always},
    {checksum::Crc32UpdateClmul, checksum::Crc32ClmulAvailable},
    {checksum::Crc32UpdateVpclmul, checksum::Crc32VpclmulAvailable},
    {checksum::Crc32UpdateArm, checksum::Crc32ArmAvailable},
    {checksum::Crc32Update, Always},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 16) return 0;
  cipher::KeyWords key;
  std::memcpy(&key, data, sizeof key);
  const std::uint8_t* bytes = data + 16;
  const std::size_t n = size - 16;
  const std::size_t offset = n > 0 ? bytes[0] % 8 : 0;  // the data at any alignment
  const std::size_t blocks = n / cipher::kBlockSize;

  std::vector<unsigned char> reference(bytes, bytes + n);
  cipher::EncipherBlocksScalar(key, reference.data(), blocks);
  for (const CipherPath& path : kCipherPaths) {
    if (!path.available()) continue;
    std::vector<unsigned char> buffer(offset + n + 1);
    std::copy(bytes, bytes + n, buffer.begin() + static_cast<std::ptrdiff_t>(offset));
    unsigned char* at = buffer.data() + offset;
    path.encipher(key, at, blocks);
    Check(std::equal(reference.begin(), reference.end(), at));
    path.decipher(key, at, blocks);
    Check(std::equal(bytes, bytes + n, at));
  }

  const std::uint32_t crc = checksum::Crc32UpdateBytewise(checksum::kCrc32Start, bytes, n);
  const std::size_t split = n > 1 ? (bytes[1] * 257u + bytes[n - 1]) % n : 0;
  for (const CrcPath& path : kCrcPaths) {
    if (!path.available()) continue;
    Check(path.update(checksum::kCrc32Start, bytes, n) == crc);
    Check(path.update(path.update(checksum::kCrc32Start, bytes, split), bytes + split, n - split) ==
          crc);
  }
  return 0;
}
