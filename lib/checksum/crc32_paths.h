// The individual paths of CRC-32, behind the one dispatch point in crc32.h; for that dispatch,
// the tests that check every path and the benchmarks. Each has Crc32Update's contract.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarn::checksum {

std::uint32_t Crc32UpdateBytewise(std::uint32_t reg, const void* data, std::size_t n);
std::uint32_t Crc32UpdatePortable(std::uint32_t reg, const void* data, std::size_t n);
// Only when Crc32ClmulAvailable() is true.
std::uint32_t Crc32UpdateClmul(std::uint32_t reg, const void* data, std::size_t n);
bool Crc32ClmulAvailable();
// Only when Crc32VpclmulAvailable() is true: the same folding on 512-bit registers (x86-64
// with AVX-512 and VPCLMULQDQ); short buffers go through the 128-bit path.
std::uint32_t Crc32UpdateVpclmul(std::uint32_t reg, const void* data, std::size_t n);
bool Crc32VpclmulAvailable();
// Only when Crc32ArmAvailable() is true: the ARMv8 CRC32 instructions.
std::uint32_t Crc32UpdateArm(std::uint32_t reg, const void* data, std::size_t n);
bool Crc32ArmAvailable();

}  // namespace tarn::checksum
