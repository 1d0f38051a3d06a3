// CRC-32 one table look-up per byte: the smallest path (one 1 KiB table), the reference the
// other paths are checked against, and the only one a freestanding build carries.
#include "checksum/crc32.h"
#include "checksum/crc32_paths.h"

namespace tarn::checksum {
namespace {

struct Table {
  std::uint32_t entries[256];
};

constexpr Table MakeTable() {
  Table t{};
  for (std::uint32_t b = 0; b < 256; ++b) {
    std::uint32_t r = b;
    for (int k = 0; k < 8; ++k) r = (r >> 1) ^ (0xEDB88320u & (0u - (r & 1u)));
    t.entries[b] = r;
  }
  return t;
}

constexpr Table kTable = MakeTable();

}  // namespace

std::uint32_t Crc32UpdateBytewise(std::uint32_t reg, const void* data, std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < n; ++i) reg = (reg >> 8) ^ kTable.entries[(reg ^ p[i]) & 0xFF];
  return reg;
}

}  // namespace tarn::checksum
