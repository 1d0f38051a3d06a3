// The portable fast CRC-32 path: slicing-by-16, which reads 16 bytes per step through 16
// tables derived from the byte-at-a-time one.
#include <array>
#include <cstring>

#include "checksum/crc32.h"
#include "checksum/crc32_paths.h"
#include "util/little_endian.h"

namespace tarn::checksum {
namespace {

using Tables = std::array<std::array<std::uint32_t, 256>, 16>;

constexpr Tables MakeTables() {
  Tables t{};
  for (std::uint32_t b = 0; b < 256; ++b) {
    std::uint32_t r = b;
    for (int k = 0; k < 8; ++k) r = (r >> 1) ^ (0xEDB88320u & (0u - (r & 1u)));
    t[0][b] = r;
  }
  for (std::size_t s = 1; s < 16; ++s) {
    for (std::size_t b = 0; b < 256; ++b) t[s][b] = (t[s - 1][b] >> 8) ^ t[0][t[s - 1][b] & 0xFF];
  }
  return t;
}

constexpr Tables kTables = MakeTables();

using util::LoadLe32;

}  // namespace

std::uint32_t Crc32UpdatePortable(std::uint32_t reg, const void* data, std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (n >= 16) {
    const std::uint32_t a = LoadLe32(p) ^ reg;
    const std::uint32_t b = LoadLe32(p + 4);
    const std::uint32_t c = LoadLe32(p + 8);
    const std::uint32_t d = LoadLe32(p + 12);
    reg = kTables[15][a & 0xFF] ^ kTables[14][(a >> 8) & 0xFF] ^ kTables[13][(a >> 16) & 0xFF] ^
          kTables[12][a >> 24] ^ kTables[11][b & 0xFF] ^ kTables[10][(b >> 8) & 0xFF] ^
          kTables[9][(b >> 16) & 0xFF] ^ kTables[8][b >> 24] ^ kTables[7][c & 0xFF] ^
          kTables[6][(c >> 8) & 0xFF] ^ kTables[5][(c >> 16) & 0xFF] ^ kTables[4][c >> 24] ^
          kTables[3][d & 0xFF] ^ kTables[2][(d >> 8) & 0xFF] ^ kTables[1][(d >> 16) & 0xFF] ^
          kTables[0][d >> 24];
    p += 16;
    n -= 16;
  }
  return Crc32UpdateBytewise(reg, p, n);
}

}  // namespace tarn::checksum
