#include "util/simd_mask.h"

#include <gtest/gtest.h>

namespace tarn::util {
namespace {

TEST(SimdMaskTest, ListNames) {
  struct Case {
    const char* list;
    const char* feature;
    bool named;
  } cases[] = {
      {"", "avx2", false},
      {"avx2", "avx2", true},
      {"AVX2", "avx2", true},
      {"avx512,avx2", "avx2", true},
      {" sse2 , avx2 ", "avx2", true},
      {"avx", "avx2", false},
      {"avx2x", "avx2", false},
      {",,avx2,", "avx2", true},
      {"neon,crc32", "clmul", false},
  };
  for (const Case& c : cases) EXPECT_EQ(ListNames(c.list, c.feature), c.named) << c.list;
}

}  // namespace
}  // namespace tarn::util
