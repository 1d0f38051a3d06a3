// Fuzz target: images larger than the file calls' unit of work (chunks of 128 KiB, two workers
// from 1 MiB), grown from the input, judged by the model (fuzz/oracle.h): the buffer and file
// encodes give the model's container, a cancellation and a write that fails part way publish
// nothing, and the library checks and decodes the container back.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

#include "fuzz/file_calls.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/oracle.h"
#include "tarn/tarn.h"

namespace {

namespace oracle = tarn::oracle;
using tarn::fuzz::Dir;
using tarn::fuzz::NoRoom;
using tarn::fuzz::Read;

// An image of 256 KiB to 1.3 MiB grown from the input: several chunks, the join of their
// checksums and, from 1 MiB on, both workers of the file calls; and a cancellation. The model's
// container, the buffer call's and the file call's must be one, and the library must check and
// decode it back.
void Large(const std::uint8_t* data, std::size_t size, const tarn_key& key) {
  // The size from the input's first bytes, so that any mutation may move it anywhere.
  std::uint32_t pick = static_cast<std::uint32_t>(size) * 7919u;
  for (std::size_t i = 0; i < size && i < 4; ++i) pick = pick * 257u + data[i];
  const std::size_t n = (std::size_t{256} << 10) + pick % (std::size_t{1088} << 10);
  std::vector<std::uint8_t> image(n);
  for (std::size_t i = 0; i < n; ++i) {
    image[i] = static_cast<std::uint8_t>(data[i % size] + i / size);
  }
  const std::vector<std::uint8_t> model = oracle::Encode(key.words, image.data(), n);
  std::vector<std::uint8_t> buffer(model.size());
  Check(tarn_encode_buffer(image.data(), n, &key, buffer.data(), buffer.size()) == TARN_OK);
  Check(buffer == model);
  const auto plain = Dir() / "large.bin", made = Dir() / "large.cnt", back = Dir() / "back.bin";
  std::ofstream(plain, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(n));
  // Cancelled through the progress callback at a byte count the input picks: nothing is
  // published and nothing left, and an existing output stays as it was.
  struct Stop {
    std::uint64_t at;
    static int Report(void* self, std::uint64_t done, std::uint64_t) {
      return done >= static_cast<Stop*>(self)->at ? 1 : 0;
    }
  } stop{(size * 131) % n + 1};
  std::ofstream(made, std::ios::binary) << "existing";
  Check(tarn_encode_file(plain.c_str(), made.c_str(), &key, Stop::Report, &stop) == TARN_CANCELLED);
  Check(Read(made) == std::vector<std::uint8_t>({'e', 'x', 'i', 's', 't', 'i', 'n', 'g'}));
  for (const auto& entry : std::filesystem::directory_iterator(Dir())) {
    Check(entry.path().filename().string().rfind(".tarn-", 0) != 0);  // no unfinished file
  }
  NoRoom(size, n,
         [&] { return tarn_encode_file(plain.c_str(), made.c_str(), &key, nullptr, nullptr); });
  Check(Read(made) == std::vector<std::uint8_t>({'e', 'x', 'i', 's', 't', 'i', 'n', 'g'}));
  Check(tarn_encode_file(plain.c_str(), made.c_str(), &key, nullptr, nullptr) == TARN_OK);
  Check(Read(made) == model);
  tarn_info info;
  Check(tarn_verify_file(made.c_str(), &key, &info, nullptr, nullptr) == TARN_OK);
  std::ofstream(back, std::ios::binary) << "existing";
  NoRoom(size, n,
         [&] { return tarn_decode_file(made.c_str(), back.c_str(), &key, nullptr, nullptr); });
  Check(Read(back) == std::vector<std::uint8_t>({'e', 'x', 'i', 's', 't', 'i', 'n', 'g'}));
  Check(tarn_decode_file(made.c_str(), back.c_str(), &key, nullptr, nullptr) == TARN_OK);
  Check(Read(back) == image);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  oracle::SelfCheck();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 17) return 0;
  const tarn::fuzz::Scratch scratch;
  tarn_key key;
  for (int w = 0; w < 4; ++w) key.words[w] = oracle::Word(data + 4 * w);
  Large(data + 16, size - 16, key);
  return 0;
}
