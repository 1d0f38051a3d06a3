// The string toolkit: byte-string search, slicing, word splitting, character-set tests,
// base-N number parsing and the composition of multi-line error messages. Its operations are
// methods of the one TStringManager object, StringManager, created by StrManStartup().
//
// Strings are byte strings (one byte, one character). Positions count from 1; 0 means "not
// found". No operation fails on an out-of-range argument: a start below 1 counts as 1, a start
// beyond the end gives 0 or the empty string, and a count past the end is cut at the end.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "strman/exception.h"

namespace tarn {

// A set of byte values: bit (b mod 8) of byte (b div 8) is set when b is a member.
struct ByteSet {
  std::array<std::uint8_t, 32> bits{};

  constexpr bool Contains(unsigned char b) const { return (bits[b >> 3] >> (b & 7)) & 1; }
  constexpr void Add(unsigned char b) { bits[b >> 3] |= static_cast<std::uint8_t>(1u << (b & 7)); }
  constexpr void AddRange(unsigned char first, unsigned char last) {
    for (unsigned b = first; b <= last; ++b) Add(static_cast<unsigned char>(b));
  }
  static constexpr ByteSet Of(std::initializer_list<unsigned char> members) {
    ByteSet set;
    for (const unsigned char b : members) set.Add(b);
    return set;
  }
};

// Any object that can report its class name to the error composer.
class TObject {
 public:
  virtual ~TObject() = default;
  virtual std::string ClassName() const = 0;
};

class TStringManager : public TObject {
 public:
  std::string ClassName() const override { return "TStringManager"; }

  // --- Search and words ---
  // Position of Sub in S at or after Start, bytes compared through UpperTable; 0 if none.
  std::int32_t FindTextFrom(const std::string& sub, const std::string& s, std::int32_t start) const;
  // The same with bytes compared exactly.
  std::int32_t FindFrom(const std::string& sub, const std::string& s, std::int32_t start) const;
  std::int32_t FindCharFrom(char c, const std::string& s, std::int32_t start) const;
  // S behind the first exact occurrence of Sub at or after Start; empty when there is none.
  std::string TextAfter(const std::string& sub, const std::string& s, std::int32_t start) const;
  // S in front of the first exact occurrence of Sub at or after Start; all of S when none.
  std::string TextBefore(const std::string& sub, const std::string& s, std::int32_t start) const;
  std::string LeftChars(const std::string& s, std::int32_t n) const;
  std::string RestFrom(const std::string& s, std::int32_t from) const;
  // Words are maximal runs of bytes outside Delims; no word is ever empty.
  std::int32_t CountWords(const std::string& s, const ByteSet& delims) const;
  std::string WordAt(std::int32_t n, const std::string& s, const ByteSet& delims) const;
  // True when S is not empty and every byte of it is in Chars.
  bool AllInSet(const std::string& s, const ByteSet& chars) const;

  // --- Prefixes and blanks (a blank is any byte 0x00-0x20) ---
  // True when S begins with the words of P; a blank run in P matches any blank run in S.
  bool StartsWithWords(const std::string& p, const std::string& s, bool ignore_case) const;
  bool HasPrefix(const std::string& p, const std::string& s, bool ignore_case) const;
  std::string StripPrefix(const std::string& p, const std::string& s, bool ignore_case) const;
  // S trimmed of blanks, each inner blank run made one space, upper-cased when asked.
  std::string NormalizeBlanks(const std::string& s, bool upper) const;

  // --- Numbers and errors ---
  // Reads S as digits of the alphabet Key (digit value = position in Key - 1), most
  // significant first, wrapping modulo 2^64. Raises a composed error for a digit not in Key.
  std::int64_t BaseVal(const std::string& s, const std::string& key) const;
  // Raises the composed error for Msg and FuncName with this object's class.
  [[noreturn]] void RaiseError(const std::string& msg, const std::string& func_name) const;
};

// Raises an Exception whose message is composed from Msg, the lines of the error being
// handled (when called inside a handler), a "Func: " line and a "Class: " line.
[[noreturn]] void RaiseComposed(const std::string& msg, const std::string& func_name,
                                const TObject* obj);

// --- Start-up state ---

// Class flags of CharClassTable.
inline constexpr std::uint16_t ccLocaleUpper = 0x0001;
inline constexpr std::uint16_t ccLocaleLower = 0x0002;
inline constexpr std::uint16_t ccAsciiUpper = 0x0004;
inline constexpr std::uint16_t ccAsciiLower = 0x0008;
inline constexpr std::uint16_t ccLocalePunct = 0x0010;
inline constexpr std::uint16_t ccDigit = 0x0020;
inline constexpr std::uint16_t ccIntChar = 0x0040;
inline constexpr std::uint16_t ccNumChar = 0x0080;
inline constexpr std::uint16_t ccFloatChar = 0x0100;
inline constexpr std::uint16_t ccDelimiter = 0x0200;
inline constexpr std::uint16_t ccControl = 0x0400;

extern unsigned char UpperTable[256];
extern unsigned char LowerTable[256];
extern std::uint16_t CharClassTable[256];
extern std::string CurrencyFormat;
extern TStringManager* StringManager;

// The flags of CharClassTable that depend only on the byte value, not on the locale.
std::uint16_t RangeClassFlags(unsigned char b);

// Builds the tables and creates StringManager; a second call does nothing.
void StrManStartup();
// Frees StringManager and clears CurrencyFormat.
void StrManShutdown();

}  // namespace tarn
