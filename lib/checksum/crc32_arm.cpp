// CRC-32 with the ARMv8 CRC32 instructions, eight bytes at a time. They compute the same
// reflected CRC-32 as the other paths, register in and register out.
#include <cstring>

#include "checksum/crc32.h"
#include "checksum/crc32_paths.h"
#include "util/cpu.h"
#include "util/simd_mask.h"

#if defined(__aarch64__)
#include <arm_acle.h>

namespace tarn::checksum {

__attribute__((target("arch=armv8-a+crc"))) std::uint32_t Crc32UpdateArm(std::uint32_t reg,
                                                                         const void* data,
                                                                         std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
  for (; n >= 8; n -= 8, p += 8) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    reg = __crc32d(reg, word);
  }
  for (; n > 0; --n) reg = __crc32b(reg, *p++);
  return reg;
}

bool Crc32ArmAvailable() {
  return util::Cpu().arm_crc32 && util::SimdAllowed("crc32");
}

}  // namespace tarn::checksum

#else

namespace tarn::checksum {

std::uint32_t Crc32UpdateArm(std::uint32_t reg, const void* data, std::size_t n) {
  return Crc32UpdatePortable(reg, data, n);
}

bool Crc32ArmAvailable() {
  return false;
}

}  // namespace tarn::checksum

#endif
