#include "app/key_schedule.h"

#include "platform/platform.h"
#include "strman/strman.h"

namespace tarn::cipher {

KeyWords SetKey(const std::string& key_text) {
  static const std::string kDigits = "0123456789ABCDEF";
  // The digit alphabet holds capitals only; lower-case digits carry the same values.
  std::string key = key_text;
  for (char& c : key) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  const TStringManager& sm = *StringManager;
  const auto group = [&](std::int32_t from) {
    return static_cast<std::uint32_t>(sm.BaseVal(sm.LeftChars(sm.RestFrom(key, from), 8), kDigits));
  };
  KeyWords words;
  words.k0 = static_cast<std::uint32_t>(sm.BaseVal(sm.LeftChars(key, 8), kDigits));
  words.k1 = group(9);
  words.k2 = group(17);
  words.k3 = static_cast<std::uint32_t>(sm.BaseVal(sm.RestFrom(key, 25), kDigits));
  platform::WipeMemory(key.data(), key.size());
  return words;
}

}  // namespace tarn::cipher
