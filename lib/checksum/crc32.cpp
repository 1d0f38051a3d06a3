#include "checksum/crc32.h"
#include "checksum/crc32_paths.h"
#include "core/core.h"

namespace tarn::checksum {
namespace {

using UpdateFn = std::uint32_t (*)(std::uint32_t, const void*, std::size_t);

// The one dispatch point: the fastest path the processor has and the user did not turn off.
UpdateFn ChooseUpdate() {
  if (Crc32VpclmulAvailable()) return Crc32UpdateVpclmul;
  if (Crc32ClmulAvailable()) return Crc32UpdateClmul;
  if (Crc32ArmAvailable()) return Crc32UpdateArm;
  return Crc32UpdatePortable;
}

}  // namespace

std::uint32_t Crc32Update(std::uint32_t reg, const void* data, std::size_t n) {
  static const UpdateFn update = ChooseUpdate();
  return update(reg, data, n);
}

Crc32Combiner::Crc32Combiner(std::uint64_t len2) : shift_(tarnc_crc32_shift(len2)) {}

std::uint32_t Crc32Combiner::operator()(std::uint32_t crc1, std::uint32_t crc2) const {
  return tarnc_crc32_join(shift_, crc1, crc2);
}

std::uint32_t Crc32Combine(std::uint32_t crc1, std::uint32_t crc2, std::uint64_t len2) {
  return Crc32Combiner(len2)(crc1, crc2);
}

}  // namespace tarn::checksum

// The core's seam to the dispatch in a hosted build.
extern "C" std::uint32_t tarnc_crc32_update(std::uint32_t reg, const void* data, std::size_t n) {
  return tarn::checksum::Crc32Update(reg, data, n);
}
