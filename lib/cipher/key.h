// The 128-bit key as four 32-bit words, and its text form: 32 hexadecimal digits, four groups
// of eight, each most significant digit first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarn::cipher {

struct KeyWords {
  std::uint32_t k0 = 0, k1 = 0, k2 = 0, k3 = 0;
};

inline constexpr std::size_t kKeyDigits = 32;

// Reads exactly 32 hexadecimal digits in either letter case. False, with *key untouched, for
// any other length or any other character.
bool ParseHexKey(const char* text, std::size_t length, KeyWords* key);

}  // namespace tarn::cipher
