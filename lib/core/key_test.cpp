#include <gtest/gtest.h>

#include <array>
#include <string>

#include "tarn/tarn.h"
#include "testdata/known_answers.h"

namespace {

using Words = std::array<std::uint32_t, 4>;

Words WordsOf(const tarn_key& key) {
  return {key.words[0], key.words[1], key.words[2], key.words[3]};
}

TEST(KeyTest, HexKnownKeysAndRefusals) {
  for (const auto& answer : tarn::testdata::kKeySchedule) {
    tarn_key key;
    ASSERT_EQ(tarn_key_from_hex(answer.key, 32, &key), TARN_OK) << answer.key;
    EXPECT_EQ(WordsOf(key), (Words{answer.k[0], answer.k[1], answer.k[2], answer.k[3]}));
  }
  tarn_key untouched{{1, 2, 3, 4}};
  for (const std::string& bad :
       {std::string(31, '0'), std::string(33, '0'), std::string(31, '0') + "G",
        std::string(31, '0') + " ",
        std::string(16, '0') + std::string(1, '\0') + std::string(15, '0')}) {
    EXPECT_EQ(tarn_key_from_hex(bad.data(), bad.size(), &untouched), TARN_BAD_KEY) << bad;
  }
  EXPECT_EQ(tarn_key_from_hex(nullptr, 32, &untouched), TARN_BAD_KEY);
  EXPECT_EQ(untouched.words[3], 4u);
}

// What a key file may hold around its digits.
TEST(KeyTest, TextOfAKeyFile) {
  const std::string digits = "0123456789abcdefFEDCBA9876543210";
  const std::string bom = "\xEF\xBB\xBF";
  struct Case {
    std::string text;
    tarn_status expected;
  };
  const Case cases[] = {
      {digits, TARN_OK},
      {digits + "\n", TARN_OK},
      {bom + digits + "\r\n", TARN_OK},
      {bom + " \t" + digits + " \t\r\n\r\n\n", TARN_OK},
      {digits + std::string(4096 - 32, '\n'), TARN_OK},
      {digits + std::string(4097 - 32, '\n'), TARN_BAD_KEY},
      {"\n" + digits, TARN_BAD_KEY},
      {bom + bom + digits, TARN_BAD_KEY},
      {digits + "\n#", TARN_BAD_KEY},
      {digits.substr(0, 16) + " " + digits.substr(16), TARN_BAD_KEY},
      {digits + digits, TARN_BAD_KEY},
      {"", TARN_BAD_KEY},
  };
  for (const Case& c : cases) {
    tarn_key key{};
    EXPECT_EQ(tarn_key_from_text(c.text.data(), c.text.size(), &key), c.expected) << c.text;
    if (c.expected == TARN_OK) {
      EXPECT_EQ(WordsOf(key), (Words{0x01234567, 0x89ABCDEF, 0xFEDCBA98, 0x76543210}));
    }
  }
}

TEST(KeyTest, BytesInTheTextsOrder) {
  const std::uint8_t bytes[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                  0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
  tarn_key from_bytes, from_hex;
  ASSERT_EQ(tarn_key_from_bytes(&from_bytes, bytes), TARN_OK);
  ASSERT_EQ(tarn_key_from_hex("0123456789ABCDEFFEDCBA9876543210", 32, &from_hex), TARN_OK);
  EXPECT_EQ(WordsOf(from_bytes), WordsOf(from_hex));
}

}  // namespace
