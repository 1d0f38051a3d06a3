#include <gtest/gtest.h>

#include "strman/strman.h"

namespace tarn {
namespace {

struct WordsCase {
  std::string p, s;
  bool ignore_case, expected;
};

TEST(PrefixTest, StartsWithWords) {
  const WordsCase cases[] = {
      {"Func: ", "  Func: BaseVal", false, true},
      {"Func: ", "func: BaseVal", false, false},
      {"Func: ", "func: BaseVal", true, true},
      {"Func: ", "Func:", false, true},
      {"Func: ", "Fun", false, false},
      {"a  b", "a b c", false, true},
      {"a b", "a \t\r\n b", false, true},
      {"a b", "a", false, false},
      {"a b", "ab", false, false},
      {"", "anything", false, true},
      {"   ", "", false, true},
      {"Class: ", "Func: X", false, false},
  };
  for (const WordsCase& c : cases) {
    SCOPED_TRACE("'" + c.p + "' / '" + c.s + "'");
    EXPECT_EQ(StringManager->StartsWithWords(c.p, c.s, c.ignore_case), c.expected);
  }
}

TEST(PrefixTest, HasPrefixAndStripPrefix) {
  EXPECT_TRUE(StringManager->HasPrefix("ab", "AB", true));
  EXPECT_FALSE(StringManager->HasPrefix("ab", "AB", false));
  EXPECT_FALSE(StringManager->HasPrefix("abc", "ab", true));
  EXPECT_TRUE(StringManager->HasPrefix("", "", false));
  EXPECT_EQ(StringManager->StripPrefix("\r\n", "\r\nx", false), "x");
  EXPECT_EQ(StringManager->StripPrefix("\r\n", "x", false), "x");
  EXPECT_EQ(StringManager->StripPrefix("AB", "abc", true), "c");
}

TEST(PrefixTest, NormalizeBlanks) {
  const std::string s = " one\t\ttwo  three \r\n";
  EXPECT_EQ(StringManager->NormalizeBlanks(s, false), "one two three");
  EXPECT_EQ(StringManager->NormalizeBlanks(s, true), "ONE TWO THREE");
  EXPECT_EQ(StringManager->NormalizeBlanks(std::string(" \t\0\x1f ", 5), false), "");
  EXPECT_EQ(StringManager->NormalizeBlanks("", false), "");
  EXPECT_EQ(StringManager->NormalizeBlanks(std::string("a\0b", 3), false), "a b");
}

}  // namespace
}  // namespace tarn
