#include <gtest/gtest.h>

#include <array>

#include "core/core.h"

namespace {

using Bytes = std::array<std::uint8_t, TARN_HEADER_SIZE>;

Bytes Store(const tarnc_header& h) {
  Bytes bytes{};
  tarnc_header_store(&h, bytes.data());
  return bytes;
}

TEST(HeaderTest, EncodeHeaderBytes) {
  tarnc_header h;
  tarnc_header_for_encode(&h, 0x01020304);
  h.w[TARNC_W_PAYLOAD_CRC] = 0xAABBCCDD;
  h.w[TARNC_W_IMAGE_CRC] = 0x11223344;
  const Bytes bytes = Store(h);
  const Bytes expected = {
      0,  0, 0, 0, 'q', 'u', 'a', 'r', 'b',  'o',  's',  't',  'N',  'E',  'U',  0,    0,    0,
      0,  0, 1, 0, 0,   0,   0,   0,   0,    0,    0xDD, 0xCC, 0xBB, 0xAA, 0x44, 0x33, 0x22, 0x11,
      11, 0, 0, 0, 0,   0,   0,   0,   0x48, 0x01, 0,    0,    0x04, 0x03, 0x02, 0x01};
  EXPECT_EQ(bytes, expected);
  tarnc_header back;
  tarnc_header_parse(&back, bytes.data(), bytes.size());
  EXPECT_EQ(Store(back), bytes);
}

TEST(HeaderTest, ShortReadLeavesTheRestZero) {
  tarnc_header h;
  tarnc_header_for_encode(&h, 5);
  const Bytes bytes = Store(h);
  tarnc_header_parse(&h, bytes.data(), 12);
  EXPECT_EQ(h.w[TARNC_W_MAGIC2], TARNC_MAGIC2);
  EXPECT_EQ(h.w[TARNC_W_TAG], 0u);
  EXPECT_EQ(h.w[TARNC_W_VERSION_A], 0u);
  EXPECT_EQ(h.w[TARNC_W_IMAGE_SIZE], 0u);
}

TEST(HeaderTest, FieldChecksInTheirOrder) {
  tarnc_header good;
  tarnc_header_for_encode(&good, 100);
  struct Case {
    const char* name;
    void (*patch)(tarnc_header&);
    std::uint64_t size;
    tarn_status expected;
  };
  const Case cases[] = {
      {"valid", [](tarnc_header&) {}, 152, TARN_OK},
      {"unchecked words",
       [](tarnc_header& h) {
         for (int w :
              {TARNC_W_TAG, TARNC_W_RESERVED1, TARNC_W_ONE, TARNC_W_RESERVED2, TARNC_W_RESERVED3})
           h.w[w] = 7;
       },
       152, TARN_OK},
      {"zero word", [](tarnc_header& h) { h.w[TARNC_W_ZERO] = 1; }, 152, TARN_NOT_A_CONTAINER},
      {"magic1", [](tarnc_header& h) { h.w[TARNC_W_MAGIC1] ^= 1; }, 152, TARN_NOT_A_CONTAINER},
      {"magic2 before version",
       [](tarnc_header& h) {
         h.w[TARNC_W_MAGIC2] = 0;
         h.w[TARNC_W_VERSION_B] = 0;
       },
       152, TARN_NOT_A_CONTAINER},
      {"versionA", [](tarnc_header& h) { h.w[TARNC_W_VERSION_A] = 12; }, 152, TARN_UNKNOWN_VERSION},
      {"versionB 329 before size", [](tarnc_header& h) { h.w[TARNC_W_VERSION_B] = 329; }, 7,
       TARN_UNKNOWN_VERSION},
      {"one byte more", [](tarnc_header&) {}, 153, TARN_WRONG_SIZE},
      {"shorter than a header", [](tarnc_header&) {}, 40, TARN_WRONG_SIZE},
      {"size beyond 32 bits", [](tarnc_header& h) { h.w[TARNC_W_IMAGE_SIZE] = 0xFFFFFFFF; },
       0xFFFFFFFFull + 52, TARN_OK},
      {"size wraps in 32 bits", [](tarnc_header& h) { h.w[TARNC_W_IMAGE_SIZE] = 0xFFFFFFF0; }, 0x24,
       TARN_WRONG_SIZE},
  };
  for (const Case& c : cases) {
    tarnc_header h = good;
    c.patch(h);
    EXPECT_EQ(tarnc_header_check(&h, c.size), c.expected) << c.name;
  }
}

// The verdict's one order: each finding wins over those after it.
TEST(JudgeTest, VerdictOrder) {
  tarnc_header h;
  tarnc_header_for_encode(&h, 8);
  h.w[TARNC_W_PAYLOAD_CRC] = 0x11111111;
  h.w[TARNC_W_IMAGE_CRC] = 0x22222222;
  struct Case {
    tarn_status early;
    std::uint64_t size;
    std::uint32_t payload, image;
    int has_image;
    tarn_status after, expected;
    int payload_checked, image_checked;
  };
  const Case cases[] = {
      {TARN_OK, 60, 0x11111111, 0x22222222, 1, TARN_OK, TARN_OK, 1, 1},
      {TARN_OK, 60, 0x11111111, 0, 0, TARN_OK, TARN_OK, 1, 0},
      {TARN_READ_FAILED, 60, 0x11111111, 0x22222222, 1, TARN_OK, TARN_READ_FAILED, 0, 0},
      {TARN_OK, 61, 0, 0, 1, TARN_WRITE_FAILED, TARN_WRONG_SIZE, 0, 0},
      {TARN_OK, 60, 0, 0, 1, TARN_WRITE_FAILED, TARN_PAYLOAD_DAMAGED, 1, 0},
      {TARN_OK, 60, 0x11111111, 0, 1, TARN_WRITE_FAILED, TARN_WRITE_FAILED, 1, 0},
      {TARN_OK, 60, 0x11111111, 0, 1, TARN_OK, TARN_IMAGE_MISMATCH, 1, 1},
  };
  for (const Case& c : cases) {
    const tarnc_findings f{c.early, c.payload, c.image, c.has_image, c.after};
    tarn_info info;
    EXPECT_EQ(tarnc_judge(&h, c.size, &f, &info), c.expected) << tarn_status_name(c.expected);
    EXPECT_EQ(info.payload_checked, c.payload_checked) << tarn_status_name(c.expected);
    EXPECT_EQ(info.image_checked, c.image_checked) << tarn_status_name(c.expected);
    EXPECT_EQ(info.container_size, c.size);
    EXPECT_EQ(info.words[TARNC_W_IMAGE_SIZE], 8u);
  }
}

}  // namespace
