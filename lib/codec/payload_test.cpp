#include "codec/payload.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "checksum/crc32.h"
#include "cipher/block_cipher.h"
#include "cipher/block_cipher_paths.h"

namespace tarn::codec {

using cipher::kBlockSize;
using cipher::KeyWords;
namespace {

namespace fs = std::filesystem;

// A scratch file with the given bytes, open for reading, and an output beside it.
class PayloadTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tarn-payload-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    input_.Close();
    out_.Discard();
    fs::remove_all(dir_);
  }

  void Open(const std::vector<unsigned char>& bytes) {
    platform::OutputFile maker;
    ASSERT_TRUE(maker.Create((dir_ / "in").string(), platform::kNoFile));
    ASSERT_TRUE(platform::WriteAt(maker.handle(), bytes.data(), bytes.size(), 0));
    ASSERT_TRUE(maker.Commit());
    ASSERT_TRUE(input_.Open((dir_ / "in").string()));
    in_ = input_.handle();
    ASSERT_TRUE(out_.Create((dir_ / "out").string(), in_));
  }

  std::vector<unsigned char> Output(std::size_t n) {
    std::vector<unsigned char> bytes(n);
    EXPECT_EQ(platform::ReadAt(out_.handle(), bytes.data(), n, 0), static_cast<std::int64_t>(n));
    return bytes;
  }

  fs::path dir_;
  platform::InputFile input_;
  platform::FileHandle in_ = platform::kNoFile;
  platform::OutputFile out_;
};

Transform Enc(const KeyWords& key) {
  return {nullptr, &key};
}
Transform Dec(const KeyWords& key) {
  return {&key, nullptr};
}

std::vector<unsigned char> RandomBytes(std::size_t n) {
  std::mt19937 rng(static_cast<unsigned>(n));
  std::vector<unsigned char> bytes(n);
  for (auto& b : bytes) b = static_cast<unsigned char>(rng());
  return bytes;
}

TEST_F(PayloadTest, LargePayloadMatchesTheBlockCipherAndOnePassChecksums) {
  // Large enough to be shared among threads and to end in a partial chunk and a tail.
  const auto plain = RandomBytes((9u << 20) + 3);
  Open(plain);
  const KeyWords key{0x01234567, 0x89ABCDEF, 0xFEDCBA98, 0x76543210};
  const PayloadResult result =
      TransformPayload(Enc(key), {in_, 0}, {out_.handle(), 0}, plain.size());
  ASSERT_EQ(result.status, TARN_OK);

  std::vector<unsigned char> expected = plain;
  cipher::EncipherBlocksScalar(key, expected.data(), expected.size() / kBlockSize);
  EXPECT_EQ(Output(plain.size()), expected);
  EXPECT_EQ(result.in_crc, checksum::Crc32(plain.data(), plain.size()));
  EXPECT_EQ(result.out_crc, checksum::Crc32(expected.data(), expected.size()));
}

TEST_F(PayloadTest, InputThatIsNotExactlyTheMeasuredSizeIsARejectedRead) {
  const auto plain = RandomBytes(1000);
  Open(plain);
  const KeyWords key{};
  EXPECT_EQ(TransformPayload(Dec(key), {in_, 0}, {out_.handle(), 0}, 999).status, TARN_READ_FAILED);
  EXPECT_EQ(TransformPayload(Dec(key), {in_, 0}, {out_.handle(), 0}, 1001).status,
            TARN_READ_FAILED);
  EXPECT_EQ(TransformPayload(Dec(key), {in_, 10}, {out_.handle(), 0}, 990).status, TARN_OK);
}

TEST_F(PayloadTest, FailuresInEitherWorker) {
  // Two workers take the chunks as they come; the image ends in a partial chunk and a tail.
  const auto plain = RandomBytes((3u << 20) + 5);
  Open(plain);
  const KeyWords key{1, 2, 3, 4};
  platform::InputFile unwritable;  // open read-only: every write to it fails
  ASSERT_TRUE(unwritable.Open((dir_ / "in").string()));
  const FilePlace nowhere{unwritable.handle(), 0};
  EXPECT_EQ(TransformPayload(Enc(key), {in_, 0}, nowhere, plain.size()).status, TARN_WRITE_FAILED);
  // A decipher reads on after the failed write, so the payload's checksum is still whole.
  const PayloadResult decipher = TransformPayload(Dec(key), {in_, 0}, nowhere, plain.size());
  EXPECT_EQ(decipher.status, TARN_WRITE_FAILED);
  EXPECT_EQ(decipher.in_crc, checksum::Crc32(plain.data(), plain.size()));
  // The input cut short late, then early, whichever worker meets the end. (Where an open input
  // is held against writers, as on Windows, it cannot be cut at all.)
  for (std::uintmax_t cut : {(2u << 20) + 100, (1u << 19) + 100}) {
    std::error_code held;
    fs::resize_file(dir_ / "in", cut, held);
    if (held) GTEST_SKIP() << "the held input cannot be cut here: " << held.message();
    for (const Transform& transform : {Enc(key), Dec(key)}) {
      EXPECT_EQ(TransformPayload(transform, {in_, 0}, {out_.handle(), 0}, plain.size()).status,
                TARN_READ_FAILED)
          << cut;
    }
  }
}

TEST_F(PayloadTest, EmptyPayload) {
  Open({});
  const KeyWords zero{};
  const PayloadResult result = TransformPayload(Enc(zero), {in_, 0}, {out_.handle(), 52}, 0);
  EXPECT_EQ(result.status, TARN_OK);
  EXPECT_EQ(result.in_crc, 0u);
  EXPECT_EQ(result.out_crc, 0u);
}

}  // namespace
}  // namespace tarn::codec
