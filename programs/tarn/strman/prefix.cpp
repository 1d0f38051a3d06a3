// Prefix tests and blank normalisation of the string toolkit. A blank is any byte 0x00-0x20.
#include "strman/strman.h"
#include "strman/strman_internal.h"

namespace tarn {
namespace {

using strman_internal::IsBlank;

bool SameByte(unsigned char a, unsigned char b, bool ignore_case) {
  return ignore_case ? UpperTable[a] == UpperTable[b] : a == b;
}

// Index of the first and one past the last byte that is not a blank; first == last when the
// text is all blanks.
void NonBlankBounds(const std::string& s, std::size_t* first, std::size_t* last) {
  std::size_t end = s.size();
  while (end > 0 && IsBlank(static_cast<unsigned char>(s[end - 1]))) --end;
  std::size_t begin = 0;
  while (begin < end && IsBlank(static_cast<unsigned char>(s[begin]))) ++begin;
  *first = begin;
  *last = end;
}

}  // namespace

bool TStringManager::StartsWithWords(const std::string& p, const std::string& s,
                                     bool ignore_case) const {
  std::size_t i, lp, j, ls;
  NonBlankBounds(p, &i, &lp);
  NonBlankBounds(s, &j, &ls);
  if (i >= lp) return true;
  for (;;) {
    // One word of P against S.
    while (i < lp && !IsBlank(static_cast<unsigned char>(p[i]))) {
      if (j >= ls) return false;
      if (!SameByte(static_cast<unsigned char>(p[i]), static_cast<unsigned char>(s[j]),
                    ignore_case)) {
        return false;
      }
      ++i;
      ++j;
    }
    if (i >= lp) return true;
    // A blank run in P is met by a blank run of any length in S. Where S has no blank there,
    // its one byte is passed over (a choice: no caller passes a prefix of several words).
    while (i < lp && IsBlank(static_cast<unsigned char>(p[i]))) ++i;
    if (j >= ls) return false;
    if (IsBlank(static_cast<unsigned char>(s[j]))) {
      while (j < ls && IsBlank(static_cast<unsigned char>(s[j]))) ++j;
    } else {
      ++j;
    }
  }
}

bool TStringManager::HasPrefix(const std::string& p, const std::string& s, bool ignore_case) const {
  if (p.size() > s.size()) return false;
  for (std::size_t k = 0; k < p.size(); ++k) {
    if (!SameByte(static_cast<unsigned char>(p[k]), static_cast<unsigned char>(s[k]),
                  ignore_case)) {
      return false;
    }
  }
  return true;
}

std::string TStringManager::StripPrefix(const std::string& p, const std::string& s,
                                        bool ignore_case) const {
  return HasPrefix(p, s, ignore_case) ? s.substr(p.size()) : s;
}

std::string TStringManager::NormalizeBlanks(const std::string& s, bool upper) const {
  std::size_t first, last;
  NonBlankBounds(s, &first, &last);
  std::string result;
  result.reserve(last - first);
  for (std::size_t k = first; k < last; ++k) {
    const auto c = static_cast<unsigned char>(s[k]);
    if (IsBlank(c)) {
      if (!IsBlank(static_cast<unsigned char>(s[k - 1]))) result += ' ';
    } else {
      result += static_cast<char>(upper ? UpperTable[c] : c);
    }
  }
  return result;
}

}  // namespace tarn
