// Fuzz target: the toolkit's search, slicing, word and set operations, each checked against a
// small model that is obviously right, on random strings, positions and delimiter sets.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "strman/strman.h"

namespace {

using namespace tarn;

// Position (from 1) of sub in s at or after start, comparing through `map`; 0 if none.
template <typename Map>
std::int32_t ModelFind(const std::string& sub, const std::string& s, std::int32_t start, Map map) {
  if (sub.empty()) return 0;
  const std::size_t from = static_cast<std::size_t>(std::max(start, 1)) - 1;
  for (std::size_t k = from; k + sub.size() <= s.size(); ++k) {
    bool match = true;
    for (std::size_t j = 0; j < sub.size() && match; ++j) match = map(s[k + j]) == map(sub[j]);
    if (match) return static_cast<std::int32_t>(k + 1);
  }
  return 0;
}

std::string ModelCopy(const std::string& s, std::int64_t index, std::int64_t count) {
  index = std::max<std::int64_t>(index, 1);
  if (count < 0 || index > static_cast<std::int64_t>(s.size())) return "";
  return s.substr(static_cast<std::size_t>(index - 1), static_cast<std::size_t>(count));
}

std::vector<std::string> ModelWords(const std::string& s, const ByteSet& delims) {
  std::vector<std::string> words;
  std::string word;
  for (const char c : s) {
    if (delims.Contains(static_cast<unsigned char>(c))) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool started = (StrManStartup(), true);
  (void)started;
  FuzzedDataProvider in(data, size);
  // Small alphabets make matches likely.
  const auto alphabet = in.ConsumeIntegralInRange<int>(1, 255);
  const auto text = [&](std::size_t max) {
    std::string s = in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, max));
    for (char& c : s)
      c = static_cast<char>(static_cast<unsigned char>(c) % alphabet +
                            (alphabet < 26 ? 'a' - 4 : 0));
    return s;
  };
  const std::string sub = text(4), s = text(64);
  const auto start = in.ConsumeIntegralInRange<std::int32_t>(-3, 70);
  ByteSet delims;
  for (int i = in.ConsumeIntegralInRange<int>(0, 4); i > 0; --i)
    delims.Add(in.ConsumeIntegral<unsigned char>() % 128);
  const TStringManager& sm = *StringManager;

  const auto exact = [](char c) { return c; };
  const auto upper = [](char c) { return UpperTable[static_cast<unsigned char>(c)]; };
  Check(sm.FindFrom(sub, s, start) == ModelFind(sub, s, start, exact));
  Check(sm.FindTextFrom(sub, s, start) == ModelFind(sub, s, start, upper));
  if (!sub.empty())
    Check(sm.FindCharFrom(sub[0], s, start) == ModelFind(sub.substr(0, 1), s, start, exact));

  const std::int32_t p = ModelFind(sub, s, start, exact);
  Check(sm.TextAfter(sub, s, start) == (p == 0 ? "" : s.substr(p - 1 + sub.size())));
  Check(sm.TextBefore(sub, s, start) == (p == 0 ? s : s.substr(0, p - 1)));
  Check(sm.LeftChars(s, start) == ModelCopy(s, 1, start));
  Check(sm.RestFrom(s, start) == ModelCopy(s, start, static_cast<std::int64_t>(s.size())));

  const std::vector<std::string> words = ModelWords(s, delims);
  Check(sm.CountWords(s, delims) == static_cast<std::int32_t>(words.size()));
  const std::int32_t n = start / 4;
  Check(sm.WordAt(n, s, delims) ==
        (n >= 1 && n <= static_cast<std::int32_t>(words.size()) ? words[n - 1] : ""));
  Check(sm.AllInSet(s, delims) == (!s.empty() && std::all_of(s.begin(), s.end(), [&](char c) {
          return delims.Contains(static_cast<unsigned char>(c));
        })));

  // Blanks: the normal form has no blank at either end and no two blanks in a row.
  const std::string normal = sm.NormalizeBlanks(s, false);
  const auto byte = [](char c) { return static_cast<unsigned char>(c); };
  Check(normal.empty() || (byte(normal.front()) > 0x20 && byte(normal.back()) > 0x20));
  Check(normal.find("  ") == std::string::npos && normal.size() <= s.size());
  Check(sm.NormalizeBlanks(normal, false) == normal);
  Check(sm.StripPrefix(sub, s, false) ==
        (s.compare(0, sub.size(), sub) == 0 ? s.substr(sub.size()) : s));
  return 0;
}
