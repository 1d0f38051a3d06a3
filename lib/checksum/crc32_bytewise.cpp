// CRC-32 one table look-up per byte, the reference the other paths are checked against: the
// core's.
#include "checksum/crc32.h"
#include "checksum/crc32_paths.h"
#include "core/core.h"

namespace tarn::checksum {

std::uint32_t Crc32UpdateBytewise(std::uint32_t reg, const void* data, std::size_t n) {
  return tarnc_crc32_bytewise(reg, data, n);
}

}  // namespace tarn::checksum
