// The 128-bit key as the kernels take it: four 32-bit words. Its text and bytes are read by the
// core (tarn_key_from_hex, tarn_key_from_text, tarn_key_from_bytes).
#pragma once

#include <cstdint>

namespace tarn::cipher {

struct KeyWords {
  std::uint32_t k0 = 0, k1 = 0, k2 = 0, k3 = 0;
};

}  // namespace tarn::cipher
