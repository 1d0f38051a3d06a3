#include "cipher/key.h"

namespace tarn::cipher {
namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool ParseHexKey(const char* text, std::size_t length, KeyWords* key) {
  if (text == nullptr || length != kKeyDigits) return false;
  for (std::size_t i = 0; i < kKeyDigits; ++i) {
    if (DigitValue(text[i]) < 0) return false;
  }
  // Straight into the caller's words, so that no copy of the key is left on the stack.
  std::uint32_t* words[4] = {&key->k0, &key->k1, &key->k2, &key->k3};
  for (std::size_t i = 0; i < kKeyDigits; ++i) {
    std::uint32_t& word = *words[i / 8];
    word = (i % 8 == 0 ? 0 : word << 4) | static_cast<std::uint32_t>(DigitValue(text[i]));
  }
  return true;
}

}  // namespace tarn::cipher
