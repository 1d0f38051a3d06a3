#include "util/simd_mask.h"

#include <cstdlib>
#include <string>

namespace tarn::util {
namespace {

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

const std::string& Disabled() {
  static const std::string disabled = [] {
    const char* value = std::getenv("TARN_DISABLE_SIMD");
    return std::string(value != nullptr ? value : "");
  }();
  return disabled;
}

// Calls `each` with every name of a comma-separated list, trimmed, until it returns true.
template <typename Each>
bool EachName(std::string_view list, Each each) {
  while (true) {
    const std::size_t comma = list.find(',');
    if (each(Trimmed(list.substr(0, comma)))) return true;
    if (comma == std::string_view::npos) return false;
    list.remove_prefix(comma + 1);
  }
}

}  // namespace

bool ListNames(std::string_view list, std::string_view feature) {
  return EachName(list, [&](std::string_view name) { return SameName(name, feature); });
}

bool SimdAllowed(std::string_view feature) {
  return !ListNames(Disabled(), feature);
}

std::string UnknownSimdNames() {
  std::string unknown;
  (void)EachName(Disabled(), [&](std::string_view name) {
    if (!name.empty() && !ListNames("avx512,avx2,sse2,neon,vector,vpclmul,clmul,crc32", name)) {
      if (!unknown.empty()) unknown += ',';
      unknown.append(name);
    }
    return false;
  });
  return unknown;
}

}  // namespace tarn::util
