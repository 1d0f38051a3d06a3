// The 128-bit key: 32 hexadecimal digits on the command line become four 32-bit key words.
#pragma once

#include <cstdint>
#include <string>

namespace tarn::cipher {

struct KeyWords {
  std::uint32_t k0 = 0, k1 = 0, k2 = 0, k3 = 0;
};

// Reads the 32 hexadecimal digits of `key_text` as four groups of eight, each most significant
// digit first. Letter case does not matter. Raises the toolkit's error for a character that is
// not a hexadecimal digit.
KeyWords SetKey(const std::string& key_text);

}  // namespace tarn::cipher
