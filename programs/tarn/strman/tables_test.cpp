#include <gtest/gtest.h>

#include "strman/strman.h"

namespace tarn {
namespace {

TEST(TablesTest, AsciiCaseMaps) {
  for (int b = 0; b < 0x80; ++b) {
    const bool lower = b >= 'a' && b <= 'z';
    const bool upper = b >= 'A' && b <= 'Z';
    EXPECT_EQ(UpperTable[b], lower ? b - 0x20 : b) << b;
    EXPECT_EQ(LowerTable[b], upper ? b + 0x20 : b) << b;
  }
}

TEST(TablesTest, RangeFlags) {
  const std::uint16_t range_mask =
      static_cast<std::uint16_t>(~(ccLocaleUpper | ccLocaleLower | ccLocalePunct));
  struct Case {
    unsigned char b;
    std::uint16_t flags;
  };
  const Case cases[] = {
      {'0', ccDigit | ccIntChar | ccNumChar | ccFloatChar},
      {',', ccNumChar | ccFloatChar | ccDelimiter},
      {'-', ccIntChar | ccNumChar | ccFloatChar | ccDelimiter},
      {'+', ccIntChar | ccNumChar | ccFloatChar | ccDelimiter},
      {'e', ccAsciiLower | ccFloatChar},
      {'E', ccAsciiUpper | ccFloatChar},
      {'Z', ccAsciiUpper},
      {' ', ccDelimiter},
      {0x01, ccDelimiter | ccControl},
      {0x00, ccControl},
      {0x60, 0},
      {0x7F, 0},
      {0x7E, ccDelimiter},
      {0xE9, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CharClassTable[c.b] & range_mask, c.flags) << int(c.b);
    EXPECT_EQ(RangeClassFlags(c.b), c.flags) << int(c.b);
  }
  for (int b = 0; b < 256; ++b) EXPECT_EQ(CharClassTable[b] & 0xF800, 0) << b;
}

TEST(TablesTest, LocaleFlagsFollowTheCaseOfAsciiLetters) {
  EXPECT_TRUE(CharClassTable[int{'A'}] & ccLocaleUpper);
  EXPECT_TRUE(CharClassTable[int{'a'}] & ccLocaleLower);
  EXPECT_TRUE(CharClassTable[int{'!'}] & ccLocalePunct);
  EXPECT_FALSE(CharClassTable[int{'5'}] & (ccLocaleUpper | ccLocaleLower | ccLocalePunct));
}

TEST(TablesTest, StartupIsOnceAndCurrencyFormatEndsWithThePattern) {
  TStringManager* before = StringManager;
  StrManStartup();
  EXPECT_EQ(StringManager, before);
  ASSERT_GE(CurrencyFormat.size(), 10u);
  EXPECT_EQ(CurrencyFormat.substr(CurrencyFormat.size() - 10), "###,##0.00");
}

}  // namespace
}  // namespace tarn
