#include "cipher/block_cipher.h"
#include "cipher/block_cipher_paths.h"

#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "tarn/tarn.h"
#include "testdata/known_answers.h"

namespace tarn::cipher {
namespace {

using BlocksFn = void (*)(const KeyWords&, unsigned char*, std::size_t);

struct Path {
  const char* name;
  BlocksFn encipher, decipher;
  bool available;
};

// Names the path in test listings instead of dumping its bytes.
void PrintTo(const Path& path, std::ostream* os) {
  *os << path.name;
}

class BlockCipherPathTest : public testing::TestWithParam<Path> {
 protected:
  void SetUp() override {
    if (!GetParam().available)
      GTEST_SKIP() << "this processor lacks " << GetParam().name
                   << ", or TARN_DISABLE_SIMD names it";
  }
};

std::vector<unsigned char> FromHex(const std::string& hex) {
  std::vector<unsigned char> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

KeyWords SetKey(const std::string& text) {
  tarn_key key{};
  EXPECT_EQ(tarn_key_from_hex(text.data(), text.size(), &key), TARN_OK) << text;
  return {key.words[0], key.words[1], key.words[2], key.words[3]};
}

KeyWords RandomKey(std::mt19937& rng) {
  const auto word = [&] { return static_cast<std::uint32_t>(rng()); };
  return {word(), word(), word(), word()};
}

TEST(BlockCipherTest, KnownBlocks) {
  for (const auto& answer : testdata::kCipher) {
    SCOPED_TRACE(answer.key);
    const KeyWords key = SetKey(answer.key);
    std::uint32_t v0 = answer.plain[0], v1 = answer.plain[1];
    EncipherBlock(v0, v1, key);
    EXPECT_EQ(v0, answer.cipher[0]);
    EXPECT_EQ(v1, answer.cipher[1]);
    DecipherBlock(v0, v1, key);
    EXPECT_EQ(v0, answer.plain[0]);
    EXPECT_EQ(v1, answer.plain[1]);
  }
}

TEST_P(BlockCipherPathTest, KnownBlocksInEveryLanePosition) {
  // The same known block at every position of a 40-block batch, so that each vector lane and
  // the scalar remainder see it.
  for (const auto& answer : testdata::kCipher) {
    SCOPED_TRACE(answer.key);
    const KeyWords key = SetKey(answer.key);
    const auto expected = FromHex(answer.cipher_bytes);
    std::vector<unsigned char> data(40 * kBlockSize);
    for (std::size_t b = 0; b < 40; ++b) {
      for (int half = 0; half < 2; ++half) {
        for (int i = 0; i < 4; ++i) {
          data[b * 8 + half * 4 + i] = static_cast<unsigned char>(answer.plain[half] >> (8 * i));
        }
      }
    }
    GetParam().encipher(key, data.data(), 40);
    for (std::size_t b = 0; b < 40; ++b) {
      ASSERT_EQ(std::vector<unsigned char>(data.begin() + b * 8, data.begin() + b * 8 + 8),
                expected)
          << b;
    }
  }
}

TEST_P(BlockCipherPathTest, AgreesWithTheScalarPathAndRoundTrips) {
  std::mt19937 rng(42);
  for (std::size_t count : {0, 1, 7, 8, 9, 31, 32, 33, 100, 257}) {
    const KeyWords key = RandomKey(rng);
    std::vector<unsigned char> plain(count * kBlockSize + 1);
    for (auto& b : plain) b = static_cast<unsigned char>(rng());
    // Start one byte in, so that the path must cope with unaligned buffers.
    std::vector<unsigned char> data = plain, reference = plain;
    GetParam().encipher(key, data.data() + 1, count);
    EncipherBlocksScalar(key, reference.data() + 1, count);
    ASSERT_EQ(data, reference) << count;
    GetParam().decipher(key, data.data() + 1, count);
    ASSERT_EQ(data, plain) << count;
  }
}

TEST_P(BlockCipherPathTest, EqualPlainBlocksGiveEqualCipherBlocks) {
  const KeyWords key{1, 2, 3, 4};
  std::vector<unsigned char> data(64 * kBlockSize, 0x5A);
  GetParam().encipher(key, data.data(), 64);
  for (std::size_t b = 1; b < 64; ++b) {
    ASSERT_TRUE(std::equal(data.begin(), data.begin() + 8, data.begin() + b * 8)) << b;
  }
  EXPECT_NE(data[0], 0x5A);
}

INSTANTIATE_TEST_SUITE_P(
    AllPaths, BlockCipherPathTest,
    testing::Values(
        Path{"scalar", EncipherBlocksScalar, DecipherBlocksScalar, true},
        Path{"vector", EncipherBlocksVector, DecipherBlocksVector, CipherVectorAvailable()},
        Path{"avx2", EncipherBlocksAvx2, DecipherBlocksAvx2, CipherAvx2Available()},
        Path{"avx512", EncipherBlocksAvx512, DecipherBlocksAvx512, CipherAvx512Available()},
        Path{"dispatched", EncipherBlocks, DecipherBlocks, true}),
    [](const testing::TestParamInfo<Path>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace tarn::cipher
