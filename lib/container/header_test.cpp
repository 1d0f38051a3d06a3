#include "container/header.h"

#include <gtest/gtest.h>

namespace tarn::container {
namespace {

TEST(HeaderTest, EncodeHeaderBytes) {
  Header h = HeaderForEncode(0x01020304);
  h.payloadCrc = 0xAABBCCDD;
  h.plainCrc = 0x11223344;
  const HeaderBytes bytes = Serialize(h);
  const HeaderBytes expected = {
      0,  0, 0, 0, 'q', 'u', 'a', 'r', 'b',  'o',  's',  't',  'N',  'E',  'U',  0,    0,    0,
      0,  0, 1, 0, 0,   0,   0,   0,   0,    0,    0xDD, 0xCC, 0xBB, 0xAA, 0x44, 0x33, 0x22, 0x11,
      11, 0, 0, 0, 0,   0,   0,   0,   0x48, 0x01, 0,    0,    0x04, 0x03, 0x02, 0x01};
  EXPECT_EQ(bytes, expected);
  const Header back = Parse(bytes.data(), bytes.size());
  EXPECT_EQ(Serialize(back), bytes);
}

TEST(HeaderTest, ShortReadLeavesTheRestZero) {
  const HeaderBytes bytes = Serialize(HeaderForEncode(5));
  const Header h = Parse(bytes.data(), 12);
  EXPECT_EQ(h.magic2, kMagic2);
  EXPECT_EQ(h.tag, 0u);
  EXPECT_EQ(h.versionA, 0u);
  EXPECT_EQ(h.plainSize, 0u);
}

TEST(HeaderTest, FieldChecksInTheirOrder) {
  const Header good = HeaderForEncode(100);
  struct Case {
    const char* name;
    void (*patch)(Header&);
    std::uint64_t size;
    tarn_status expected;
  };
  const Case cases[] = {
      {"valid", [](Header&) {}, 152, TARN_OK},
      {"unchecked words",
       [](Header& h) { h.tag = h.reserved1 = h.constOne = h.reserved2 = h.reserved3 = 7; }, 152,
       TARN_OK},
      {"zero word", [](Header& h) { h.zeroWord = 1; }, 152, TARN_NOT_A_CONTAINER},
      {"magic1", [](Header& h) { h.magic1 ^= 1; }, 152, TARN_NOT_A_CONTAINER},
      {"magic2 before version",
       [](Header& h) {
         h.magic2 = 0;
         h.versionB = 0;
       },
       152, TARN_NOT_A_CONTAINER},
      {"versionA", [](Header& h) { h.versionA = 12; }, 152, TARN_UNKNOWN_VERSION},
      {"versionB 329 before size", [](Header& h) { h.versionB = 329; }, 7, TARN_UNKNOWN_VERSION},
      {"one byte more", [](Header&) {}, 153, TARN_WRONG_SIZE},
      {"shorter than a header", [](Header&) {}, 40, TARN_WRONG_SIZE},
      {"size beyond 32 bits", [](Header& h) { h.plainSize = 0xFFFFFFFF; }, 0xFFFFFFFFull + 52,
       TARN_OK},
      {"size wraps in 32 bits", [](Header& h) { h.plainSize = 0xFFFFFFF0; }, 0x24, TARN_WRONG_SIZE},
  };
  for (const Case& c : cases) {
    Header h = good;
    c.patch(h);
    EXPECT_EQ(CheckFields(h, c.size), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace tarn::container
