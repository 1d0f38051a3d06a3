// Helpers shared by the toolkit's own source files; not part of its interface.
#pragma once

#include <cstdint>
#include <string>

namespace tarn::strman_internal {

// The table the case-insensitive scan compares through; start-up points it at UpperTable.
extern const unsigned char* g_scan_upper;

// Takes `count` bytes of S from position `index` (from 1). An index below 1 counts as 1; an
// index beyond the end or a negative count gives the empty string; a count past the end is
// cut at the end.
std::string Copy(const std::string& s, std::int64_t index, std::int64_t count);

inline bool IsBlank(unsigned char c) {
  return c <= 0x20;
}

}  // namespace tarn::strman_internal
