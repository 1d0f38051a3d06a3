// Start-up and shutdown of the string toolkit: its character tables, currency format and the
// StringManager singleton.
#include "common/process.h"
#include "strman/strman.h"
#include "strman/strman_internal.h"

namespace tarn {

unsigned char UpperTable[256];
unsigned char LowerTable[256];
std::uint16_t CharClassTable[256];
std::string CurrencyFormat;
TStringManager* StringManager = nullptr;

namespace strman_internal {
const unsigned char* g_scan_upper = UpperTable;
}  // namespace strman_internal

std::uint16_t RangeClassFlags(unsigned char b) {
  std::uint16_t flags = 0;
  const bool digit = b >= 0x30 && b <= 0x39;
  const bool sign_or_point = b >= 0x2B && b <= 0x2E;  // + , - .
  if (b >= 0x41 && b <= 0x5A) flags |= ccAsciiUpper;
  if (b >= 0x61 && b <= 0x7A) flags |= ccAsciiLower;
  if (digit) flags |= ccDigit;
  if (digit || b == 0x2B || b == 0x2D) flags |= ccIntChar;
  if (digit || sign_or_point) flags |= ccNumChar;
  if (digit || sign_or_point || b == 0x45 || b == 0x65) flags |= ccFloatChar;
  if ((b >= 0x01 && b <= 0x2F) || (b >= 0x3A && b <= 0x40) || (b >= 0x5B && b <= 0x5F) ||
      (b >= 0x7B && b <= 0x7E)) {
    flags |= ccDelimiter;
  }
  if (b <= 0x1F) flags |= ccControl;
  return flags;
}

void StrManStartup() {
  if (StringManager != nullptr) return;
  CurrencyFormat = process::CurrencySymbol() + "###,##0.00";
  for (int b = 0; b < 256; ++b) {
    UpperTable[b] = static_cast<unsigned char>(b);
    LowerTable[b] = static_cast<unsigned char>(b);
  }
  process::UpperCaseBuffer(UpperTable, sizeof UpperTable);
  process::LowerCaseBuffer(LowerTable, sizeof LowerTable);
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    const std::uint16_t locale = process::LocaleCharType(byte);
    std::uint16_t flags = RangeClassFlags(byte);
    if (locale & process::kCharUpper) flags |= ccLocaleUpper;
    if (locale & process::kCharLower) flags |= ccLocaleLower;
    if (locale & process::kCharPunct) flags |= ccLocalePunct;
    CharClassTable[b] = flags;
  }
  strman_internal::g_scan_upper = UpperTable;
  StringManager = new TStringManager();
}

void StrManShutdown() {
  delete StringManager;
  StringManager = nullptr;
  CurrencyFormat.clear();
}

}  // namespace tarn
