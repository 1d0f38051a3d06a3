#include "app/key_schedule.h"

#include "platform/platform.h"
#include "strman/strman.h"

namespace tarn::cipher {

KeyWords SetKey(const std::string& key_text) {
  static const std::string kDigits = "0123456789ABCDEF";
  const TStringManager& sm = *StringManager;
  // Every text made on the way holds key digits: each is overwritten once it has served.
  const auto wipe = [](std::string& text) { platform::WipeMemory(text.data(), text.size()); };
  // The digit alphabet holds capitals only; lower-case digits carry the same values.
  std::string key = key_text;
  for (char& c : key) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  const auto value = [&](std::string digits) {
    const auto word = static_cast<std::uint32_t>(sm.BaseVal(digits, kDigits));
    wipe(digits);
    return word;
  };
  const auto group = [&](std::int32_t from) {
    std::string rest = sm.RestFrom(key, from);
    const std::uint32_t word = value(sm.LeftChars(rest, 8));
    wipe(rest);
    return word;
  };
  KeyWords words;
  words.k0 = value(sm.LeftChars(key, 8));
  words.k1 = group(9);
  words.k2 = group(17);
  words.k3 = value(sm.RestFrom(key, 25));
  wipe(key);
  return words;
}

}  // namespace tarn::cipher
