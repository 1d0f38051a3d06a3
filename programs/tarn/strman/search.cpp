// Search, slicing and word operations of the string toolkit.
#include <cstddef>

#include "strman/strman.h"
#include "strman/strman_internal.h"

namespace tarn {
namespace strman_internal {

std::string Copy(const std::string& s, std::int64_t index, std::int64_t count) {
  const auto length = static_cast<std::int64_t>(s.size());
  if (index < 1) index = 1;
  if (index > length || count < 0 || s.empty()) return std::string();
  if (count > length - index + 1) count = length - index + 1;
  return s.substr(static_cast<std::size_t>(index - 1), static_cast<std::size_t>(count));
}

}  // namespace strman_internal

namespace {

using strman_internal::Copy;

struct ExactBytes {
  bool operator()(unsigned char a, unsigned char b) const { return a == b; }
};

struct UpperBytes {
  const unsigned char* upper;
  bool operator()(unsigned char a, unsigned char b) const { return upper[a] == upper[b]; }
};

// Finds the first offset in text[0, l) where pattern[0, m) matches: the first byte is tested
// first, then the rest from the last byte back. Returns -1 when there is none.
template <typename Equal>
std::ptrdiff_t Scan(const unsigned char* text, std::ptrdiff_t l, const unsigned char* pattern,
                    std::ptrdiff_t m, Equal equal) {
  if (l < m || m < 1) return -1;
  for (std::ptrdiff_t k = 0; k <= l - m; ++k) {
    if (!equal(text[k], pattern[0])) continue;
    std::ptrdiff_t j = m - 1;
    while (j >= 1 && equal(text[k + j], pattern[j])) --j;
    if (j < 1) return k;
  }
  return -1;
}

template <typename Equal>
std::int32_t FindWith(const std::string& sub, const std::string& s, std::int32_t start,
                      Equal equal) {
  if (start < 1) start = 1;
  const auto length = static_cast<std::ptrdiff_t>(s.size());
  if (length < start || sub.empty()) return 0;
  const auto* text = reinterpret_cast<const unsigned char*>(s.data()) + (start - 1);
  const std::ptrdiff_t k =
      Scan(text, length - start + 1, reinterpret_cast<const unsigned char*>(sub.data()),
           static_cast<std::ptrdiff_t>(sub.size()), equal);
  return k < 0 ? 0 : static_cast<std::int32_t>(start + k);
}

}  // namespace

std::int32_t TStringManager::FindTextFrom(const std::string& sub, const std::string& s,
                                          std::int32_t start) const {
  return FindWith(sub, s, start, UpperBytes{strman_internal::g_scan_upper});
}

std::int32_t TStringManager::FindFrom(const std::string& sub, const std::string& s,
                                      std::int32_t start) const {
  return FindWith(sub, s, start, ExactBytes{});
}

std::int32_t TStringManager::FindCharFrom(char c, const std::string& s, std::int32_t start) const {
  if (start < 1) start = 1;
  for (std::size_t i = static_cast<std::size_t>(start) - 1; i < s.size(); ++i) {
    if (s[i] == c) return static_cast<std::int32_t>(i + 1);
  }
  return 0;
}

std::string TStringManager::TextAfter(const std::string& sub, const std::string& s,
                                      std::int32_t start) const {
  const std::int32_t p = FindFrom(sub, s, start);
  if (p == 0) return std::string();
  return Copy(s, static_cast<std::int64_t>(p) + static_cast<std::int64_t>(sub.size()),
              static_cast<std::int64_t>(s.size()));
}

std::string TStringManager::TextBefore(const std::string& sub, const std::string& s,
                                       std::int32_t start) const {
  const std::int32_t p = FindFrom(sub, s, start);
  if (p == 0) return s;
  return Copy(s, 1, p - 1);
}

std::string TStringManager::LeftChars(const std::string& s, std::int32_t n) const {
  return Copy(s, 1, n);
}

std::string TStringManager::RestFrom(const std::string& s, std::int32_t from) const {
  return Copy(s, from, static_cast<std::int64_t>(s.size()));
}

std::int32_t TStringManager::CountWords(const std::string& s, const ByteSet& delims) const {
  std::int32_t count = 0;
  std::size_t i = 0;
  const auto in_delims = [&](std::size_t at) {
    return delims.Contains(static_cast<unsigned char>(s[at]));
  };
  while (i < s.size()) {
    while (i < s.size() && in_delims(i)) ++i;
    const std::size_t word_start = i;
    while (i < s.size() && !in_delims(i)) ++i;
    if (i > word_start) ++count;
  }
  return count;
}

std::string TStringManager::WordAt(std::int32_t n, const std::string& s,
                                   const ByteSet& delims) const {
  const auto in_delims = [&](std::size_t at) {
    return delims.Contains(static_cast<unsigned char>(s[at]));
  };
  std::int32_t w = 0;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && in_delims(i)) ++i;
    if (i >= s.size()) break;
    ++w;
    const std::size_t word_start = i;
    while (i < s.size() && !in_delims(i)) ++i;
    if (w == n) return s.substr(word_start, i - word_start);
  }
  return std::string();
}

bool TStringManager::AllInSet(const std::string& s, const ByteSet& chars) const {
  if (s.empty()) return false;
  for (const char c : s) {
    if (!chars.Contains(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace tarn
