// Throughput of the cipher and checksum kernels, each path against its baseline: the cipher
// one block at a time, and zlib's crc32 for the checksum.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

#include "checksum/crc32.h"
#include "checksum/crc32_paths.h"
#include "cipher/block_cipher.h"
#include "cipher/block_cipher_paths.h"

namespace {

using namespace tarn;

constexpr std::size_t kBufferSize = 1 << 20;

std::vector<unsigned char> RandomBuffer() {
  std::mt19937 rng(1);
  std::vector<unsigned char> buffer(kBufferSize);
  for (auto& b : buffer) b = static_cast<unsigned char>(rng());
  return buffer;
}

const cipher::KeyWords kKey{0x01234567, 0x89ABCDEF, 0xFEDCBA98, 0x76543210};

// One block at a time through EncipherBlock: the baseline.
void BM_CipherOneBlockAtATime(benchmark::State& state) {
  auto buffer = RandomBuffer();
  for (auto _ : state) {
    for (std::size_t i = 0; i < buffer.size(); i += 8) {
      std::uint32_t v0, v1;
      std::memcpy(&v0, &buffer[i], 4);
      std::memcpy(&v1, &buffer[i + 4], 4);
      cipher::EncipherBlock(v0, v1, kKey);
      std::memcpy(&buffer[i], &v0, 4);
      std::memcpy(&buffer[i + 4], &v1, 4);
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * buffer.size()));
}
BENCHMARK(BM_CipherOneBlockAtATime);

template <void (*Fn)(const cipher::KeyWords&, unsigned char*, std::size_t)>
void BM_CipherBatch(benchmark::State& state) {
  auto buffer = RandomBuffer();
  for (auto _ : state) {
    Fn(kKey, buffer.data(), buffer.size() / 8);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * buffer.size()));
}
// A path that needs what the processor may lack runs only where it is there, and is skipped
// with its name elsewhere (or where TARN_DISABLE_SIMD names it).
template <bool (*Available)(), void (*Run)(benchmark::State&)>
void BM_IfAvailable(benchmark::State& state) {
  if (!Available()) {
    state.SkipWithError("this processor lacks the path, or TARN_DISABLE_SIMD names it");
    return;
  }
  Run(state);
}

BENCHMARK(BM_CipherBatch<cipher::EncipherBlocksScalar>)->Name("BM_EncipherScalar");
BENCHMARK(
    BM_IfAvailable<cipher::CipherVectorAvailable, BM_CipherBatch<cipher::EncipherBlocksVector>>)
    ->Name("BM_EncipherVector");
BENCHMARK(
    BM_IfAvailable<cipher::CipherVectorAvailable, BM_CipherBatch<cipher::DecipherBlocksVector>>)
    ->Name("BM_DecipherVector");
BENCHMARK(BM_IfAvailable<cipher::CipherAvx2Available, BM_CipherBatch<cipher::EncipherBlocksAvx2>>)
    ->Name("BM_EncipherAvx2");
BENCHMARK(BM_IfAvailable<cipher::CipherAvx2Available, BM_CipherBatch<cipher::DecipherBlocksAvx2>>)
    ->Name("BM_DecipherAvx2");
BENCHMARK(
    BM_IfAvailable<cipher::CipherAvx512Available, BM_CipherBatch<cipher::EncipherBlocksAvx512>>)
    ->Name("BM_EncipherAvx512");
BENCHMARK(
    BM_IfAvailable<cipher::CipherAvx512Available, BM_CipherBatch<cipher::DecipherBlocksAvx512>>)
    ->Name("BM_DecipherAvx512");

void BM_Crc32Zlib(benchmark::State& state) {
  const auto buffer = RandomBuffer();
  for (auto _ : state) {
    benchmark::DoNotOptimize(crc32(0, buffer.data(), static_cast<uInt>(buffer.size())));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * buffer.size()));
}
BENCHMARK(BM_Crc32Zlib);

template <std::uint32_t (*Fn)(std::uint32_t, const void*, std::size_t)>
void BM_Crc32(benchmark::State& state) {
  const auto buffer = RandomBuffer();
  for (auto _ : state)
    benchmark::DoNotOptimize(Fn(checksum::kCrc32Start, buffer.data(), buffer.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * buffer.size()));
}
BENCHMARK(BM_Crc32<checksum::Crc32UpdateBytewise>)->Name("BM_Crc32Bytewise");
BENCHMARK(BM_Crc32<checksum::Crc32UpdatePortable>)->Name("BM_Crc32SlicingBy16");
BENCHMARK(BM_IfAvailable<checksum::Crc32ClmulAvailable, BM_Crc32<checksum::Crc32UpdateClmul>>)
    ->Name("BM_Crc32Clmul");
BENCHMARK(BM_IfAvailable<checksum::Crc32VpclmulAvailable, BM_Crc32<checksum::Crc32UpdateVpclmul>>)
    ->Name("BM_Crc32Vpclmul");

}  // namespace

BENCHMARK_MAIN();
