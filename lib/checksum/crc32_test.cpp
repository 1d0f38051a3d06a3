#include "checksum/crc32.h"
#include "checksum/crc32_paths.h"
#include "core/core.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace tarn::checksum {
namespace {

using UpdateFn = std::uint32_t (*)(std::uint32_t, const void*, std::size_t);

struct Path {
  const char* name;
  UpdateFn update;
  bool available;
};

// Names the path in test listings instead of dumping its bytes.
void PrintTo(const Path& path, std::ostream* os) {
  *os << path.name;
}

// Every path runs the same tests.
class Crc32PathTest : public testing::TestWithParam<Path> {
 protected:
  void SetUp() override {
    if (!GetParam().available)
      GTEST_SKIP() << "this processor lacks " << GetParam().name
                   << ", or TARN_DISABLE_SIMD names it";
  }
  std::uint32_t Crc(const void* data, std::size_t n) {
    return ~GetParam().update(kCrc32Start, data, n);
  }
};

std::vector<unsigned char> RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<unsigned char> bytes(n);
  for (auto& b : bytes) b = static_cast<unsigned char>(rng());
  return bytes;
}

TEST_P(Crc32PathTest, KnownAnswers) {
  EXPECT_EQ(Crc("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc("", 0), 0x00000000u);
  const std::string fox = "The quick brown fox jumps over the lazy dog";
  EXPECT_EQ(Crc(fox.data(), fox.size()), 0x414FA339u);
  const std::vector<unsigned char> zeros(4096, 0);
  EXPECT_EQ(Crc(zeros.data(), 32), 0x190A55ADu);
  const std::vector<unsigned char> ones(32, 0xFF);
  EXPECT_EQ(Crc(ones.data(), 32), 0xFF6CAB0Bu);
}

TEST_P(Crc32PathTest, AgreesWithTheBytewiseTableOnEveryLengthAndAlignment) {
  const auto bytes = RandomBytes(1024 + 64, 7);
  for (std::size_t offset = 0; offset < 16; ++offset) {
    for (std::size_t n = 0; n <= 1024; n += (n < 300 ? 1 : 37)) {
      ASSERT_EQ(Crc(bytes.data() + offset, n),
                ~Crc32UpdateBytewise(kCrc32Start, bytes.data() + offset, n))
          << "offset " << offset << " length " << n;
    }
  }
}

TEST_P(Crc32PathTest, SplittingAtAnyOffsetGivesTheSameResult) {
  const auto bytes = RandomBytes(700, 11);
  const std::uint32_t whole = Crc(bytes.data(), bytes.size());
  for (std::size_t split = 0; split <= bytes.size(); ++split) {
    const std::uint32_t reg = GetParam().update(kCrc32Start, bytes.data(), split);
    ASSERT_EQ(~GetParam().update(reg, bytes.data() + split, bytes.size() - split), whole) << split;
  }
}

TEST_P(Crc32PathTest, LargeRandomBuffers) {
  std::mt19937 rng(3);
  for (int i = 0; i < 20; ++i) {
    const std::size_t n = rng() % (1 << 18);
    const auto bytes = RandomBytes(n, static_cast<unsigned>(i));
    ASSERT_EQ(Crc(bytes.data(), n), ~Crc32UpdatePortable(kCrc32Start, bytes.data(), n)) << n;
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllPaths, Crc32PathTest,
    testing::Values(Path{"bytewise", Crc32UpdateBytewise, true},
                    Path{"nibblewise", tarnc_crc32_nibblewise, true},
                    Path{"portable", Crc32UpdatePortable, true},
                    Path{"clmul", Crc32UpdateClmul, Crc32ClmulAvailable()},
                    Path{"vpclmul", Crc32UpdateVpclmul, Crc32VpclmulAvailable()},
                    Path{"arm_crc32", Crc32UpdateArm, Crc32ArmAvailable()},
                    Path{"dispatched", Crc32Update, true}),
    [](const testing::TestParamInfo<Path>& p) { return std::string(p.param.name); });

TEST(Crc32Test, CombineEqualsOnePass) {
  const auto bytes = RandomBytes(5000, 5);
  const std::uint32_t whole = Crc32(bytes.data(), bytes.size());
  for (std::size_t split : {0, 1, 7, 8, 64, 1000, 4999, 5000}) {
    const std::uint32_t a = Crc32(bytes.data(), split);
    const std::uint32_t b = Crc32(bytes.data() + split, bytes.size() - split);
    EXPECT_EQ(Crc32Combine(a, b, bytes.size() - split), whole) << split;
  }
}

}  // namespace
}  // namespace tarn::checksum
