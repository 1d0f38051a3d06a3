// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, register starting at 0xFFFFFFFF,
// complemented at the end), over buffers, for the hosted builds.
//
// Several implementations compute the same function: the core's byte-at-a-time table (the
// reference), a portable slicing-by-16, folding with carry-less multiplication on x86 and the
// CRC32 instructions on ARM64 (crc32_paths.h). Crc32Update uses the fastest one the processor
// has, chosen once at the first call, and is the core's seam to them (tarnc_crc32_update); a
// build for one small processor has none of this, only the core's portable paths.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarn::checksum {

inline constexpr std::uint32_t kCrc32Start = 0xFFFFFFFFu;

// Feeds n bytes to the register and returns the new register (not complemented).
std::uint32_t Crc32Update(std::uint32_t reg, const void* data, std::size_t n);

// The finished CRC-32 of one buffer.
inline std::uint32_t Crc32(const void* data, std::size_t n) {
  return ~Crc32Update(kCrc32Start, data, n);
}

// The CRC-32 of two stretches one after the other, from the CRC-32 of each and the length of
// the second.
std::uint32_t Crc32Combine(std::uint32_t crc1, std::uint32_t crc2, std::uint64_t len2);

// Crc32Combine for many second stretches of one length: the shift for that length is worked
// out once, by squaring over the bits of the length; each call is then one multiplication.
class Crc32Combiner {
 public:
  explicit Crc32Combiner(std::uint64_t len2);
  std::uint32_t operator()(std::uint32_t crc1, std::uint32_t crc2) const;

 private:
  std::uint32_t shift_;  // x^(8 * len2) modulo the polynomial
};

}  // namespace tarn::checksum
