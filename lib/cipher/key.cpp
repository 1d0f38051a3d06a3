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
  std::uint32_t words[4] = {};
  for (std::size_t i = 0; i < kKeyDigits; ++i) {
    const int digit = DigitValue(text[i]);
    if (digit < 0) return false;
    words[i / 8] = words[i / 8] << 4 | static_cast<std::uint32_t>(digit);
  }
  *key = KeyWords{words[0], words[1], words[2], words[3]};
  return true;
}

}  // namespace tarn::cipher
