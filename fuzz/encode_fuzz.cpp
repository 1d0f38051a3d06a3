// Fuzz target: any image under any key goes through the encode pipeline into the container the
// model (oracle.h) makes of it, byte for byte, and through the decode pipeline back.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "app/pipelines.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_files.h"
#include "fuzz/oracle.h"
#include "tarn/tarn.h"

namespace {

using namespace tarn;

// Runs one pipeline from `from` into `to` and returns its exit status.
int RunOne(bool encode, const cipher::KeyWords& key, const std::filesystem::path& from,
           const std::filesystem::path& to) {
  fuzz::Captured().clear();
  app::RunState state(false, fuzz::Capture);
  state.key_words.emplace(platform::Secret::Holding(key));
  Check(codec::OpenInput(state.files, from.string().c_str()) == TARN_OK &&
        codec::CreateOutput(state.files, to.string().c_str()) == TARN_OK);
  const int status = encode ? app::RunEncode(state) : app::RunDecode(state);
  state.console.Flush();
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::Scratch scratch;
  const auto& dir = fuzz::ScratchDir();
  FuzzedDataProvider provider(data, size);
  const cipher::KeyWords key{
      provider.ConsumeIntegral<std::uint32_t>(), provider.ConsumeIntegral<std::uint32_t>(),
      provider.ConsumeIntegral<std::uint32_t>(), provider.ConsumeIntegral<std::uint32_t>()};
  const std::string image = provider.ConsumeRemainingBytesAsString();
  fuzz::WriteFile(dir / "image.bin", reinterpret_cast<const std::uint8_t*>(image.data()),
                  image.size());

  static const bool checked = (oracle::SelfCheck(), true);
  (void)checked;
  Check(RunOne(true, key, dir / "image.bin", dir / "image.cnt") == 0);
  const std::uint32_t words[4] = {key.k0, key.k1, key.k2, key.k3};
  const std::vector<std::uint8_t> model =
      oracle::Encode(words, reinterpret_cast<const std::uint8_t*>(image.data()), image.size());
  Check(fuzz::ReadFile(dir / "image.cnt") == std::string(model.begin(), model.end()));
  Check(RunOne(false, key, dir / "image.cnt", dir / "back.bin") == 0);
  Check(fuzz::ReadFile(dir / "back.bin") == image);
  return 0;
}
