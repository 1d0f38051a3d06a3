#include <gtest/gtest.h>

#include "strman/strman.h"

namespace tarn {
namespace {

const std::string kCrLf = "\r\n";
const ByteSet kSpace = ByteSet::Of({' '});

struct FindCase {
  std::string sub, s;
  std::int32_t start;
  std::int32_t text, exact;  // FindTextFrom and FindFrom
};

TEST(SearchTest, FindTextFromAndFindFrom) {
  const FindCase cases[] = {
      {"/C", "prog /c in out key", 1, 6, 0},
      {"/C", "prog /c in out key", 7, 0, 0},
      {"/C", "prog /C in out /c", 7, 16, 0},
      {"/C", "/C", 0, 1, 1},
      {"/C", "/C", -5, 1, 1},
      {"/C", "x/C", 4, 0, 0},  // one beyond the end
      {"", "abc", 1, 0, 0},
      {"", "", 1, 0, 0},
      {"abcd", "xabc", 2, 0, 0},  // longer than the rest
      {"abc", "xabc", 2, 2, 2},
      {"aab", "aaab", 1, 2, 2},  // a failed candidate must not skip the next one
      {"ABA", "abababa", 3, 3, 0},
      {"b", "aBb", 1, 2, 3},
  };
  for (const FindCase& c : cases) {
    SCOPED_TRACE(c.sub + " in " + c.s + " from " + std::to_string(c.start));
    EXPECT_EQ(StringManager->FindTextFrom(c.sub, c.s, c.start), c.text);
    EXPECT_EQ(StringManager->FindFrom(c.sub, c.s, c.start), c.exact);
  }
}

TEST(SearchTest, FindCharFrom) {
  EXPECT_EQ(StringManager->FindCharFrom('a', "", 1), 0);
  EXPECT_EQ(StringManager->FindCharFrom('b', "abcb", 0), 2);
  EXPECT_EQ(StringManager->FindCharFrom('b', "abcb", 3), 4);
  EXPECT_EQ(StringManager->FindCharFrom('b', "abcb", 5), 0);
  EXPECT_EQ(StringManager->FindCharFrom('B', "abcb", 1), 0);
}

TEST(SearchTest, TextAfterAndTextBefore) {
  const std::string s = "a" + kCrLf + "b" + kCrLf + "c";
  EXPECT_EQ(StringManager->TextAfter(kCrLf, s, 1), "b" + kCrLf + "c");
  EXPECT_EQ(StringManager->TextBefore(kCrLf, s, 1), "a");
  EXPECT_EQ(StringManager->TextAfter("zz", s, 1), "");
  EXPECT_EQ(StringManager->TextBefore("zz", s, 1), s);
  EXPECT_EQ(StringManager->TextAfter("c", s, 1), "");
  // The text before Start belongs to TextBefore's result.
  EXPECT_EQ(StringManager->TextBefore(kCrLf, s, 3), "a" + kCrLf + "b");
}

TEST(SearchTest, Slicing) {
  EXPECT_EQ(StringManager->LeftChars("ABCDEF", 8), "ABCDEF");
  EXPECT_EQ(StringManager->LeftChars("ABCDEF", 3), "ABC");
  EXPECT_EQ(StringManager->LeftChars("ABCDEF", 0), "");
  EXPECT_EQ(StringManager->LeftChars("ABCDEF", -1), "");
  EXPECT_EQ(StringManager->RestFrom("ABCDEF", 0), "ABCDEF");
  EXPECT_EQ(StringManager->RestFrom("ABCDEF", 6), "F");
  EXPECT_EQ(StringManager->RestFrom("ABCDEF", 7), "");
  EXPECT_EQ(StringManager->RestFrom("", 1), "");
}

TEST(SearchTest, Words) {
  const std::string line = "  /C  in out  key ";
  EXPECT_EQ(StringManager->CountWords(line, kSpace), 4);
  const char* words[] = {"", "/C", "in", "out", "key", ""};
  for (int n = 0; n <= 5; ++n) EXPECT_EQ(StringManager->WordAt(n, line, kSpace), words[n]) << n;
  EXPECT_EQ(StringManager->WordAt(-1, line, kSpace), "");
  EXPECT_EQ(StringManager->CountWords("a\tb c", kSpace), 2);
  EXPECT_EQ(StringManager->WordAt(1, "a\tb c", kSpace), "a\tb");
  EXPECT_EQ(StringManager->CountWords("    ", kSpace), 0);
  EXPECT_EQ(StringManager->CountWords("", kSpace), 0);
  EXPECT_EQ(StringManager->WordAt(1, "", kSpace), "");
  EXPECT_EQ(StringManager->CountWords("x", kSpace), 1);
}

TEST(SearchTest, AllInSet) {
  ByteSet digits;
  digits.AddRange('0', '9');
  EXPECT_FALSE(StringManager->AllInSet("", digits));
  EXPECT_FALSE(StringManager->AllInSet("", ByteSet{}));
  EXPECT_TRUE(StringManager->AllInSet("0129", digits));
  EXPECT_FALSE(StringManager->AllInSet("01a9", digits));
  EXPECT_FALSE(StringManager->AllInSet(std::string("0\0", 2), digits));
}

TEST(SearchTest, ByteSetBitLayout) {
  const ByteSet set = ByteSet::Of({0x00, 0x09, 0xFF});
  EXPECT_EQ(set.bits[0], 0x01);
  EXPECT_EQ(set.bits[1], 0x02);
  EXPECT_EQ(set.bits[31], 0x80);
  EXPECT_TRUE(set.Contains(0xFF));
  EXPECT_FALSE(set.Contains(0xFE));
}

}  // namespace
}  // namespace tarn
