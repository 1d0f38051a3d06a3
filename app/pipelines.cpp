#include "app/pipelines.h"

#include <new>

#include "cipher/payload.h"

namespace tarn::app {
namespace {

constexpr const char* kCantRead = "Error: can't read input file!";
constexpr const char* kCantWrite = "Error: can't write output file!";

// Ends a failed run: the output is removed, the input closed, the lines printed.
int Fail(RunState& state, std::initializer_list<const char*> lines) {
  state.ReleaseFiles();
  for (const char* line : lines) state.console.Print(line);
  return kExitFailure;
}

// Ends a successful run: the input is closed and the output takes its name. Every console
// byte before "Successfully." is written out first, so that a console that fails up to there
// leaves an existing output as it was.
int Succeed(RunState& state) {
  state.input.Close();
  state.console.Flush();
  if (!state.output.Commit()) return Fail(state, {kCantWrite});
  state.console.Print("Successfully.");
  return kExitSuccess;
}

// A worker without memory ends the run as any allocation failure does: through the report.
void RethrowNoMemory(const cipher::PayloadResult& payload) {
  if (payload.status == cipher::PayloadStatus::kNoMemory) throw std::bad_alloc();
}

// A pass whose input failed, or changed while it was read, did not read the measured bytes.
bool ReadTheMeasuredInput(const RunState& state, const cipher::PayloadResult& payload) {
  return payload.status != cipher::PayloadStatus::kReadFailed && state.input.Unchanged();
}

bool WriteHeader(const RunState& state) {
  const container::HeaderBytes bytes = container::Serialize(state.header);
  return platform::WriteAt(state.output.handle(), bytes.data(), bytes.size(), 0);
}

}  // namespace

int RunEncode(RunState& state) {
  Console& console = state.console;
  state.header = container::HeaderForEncode(static_cast<std::uint32_t>(state.input.size()));
  if (!WriteHeader(state)) return Fail(state, {kCantWrite});

  // The image is read once: both checksums are taken from the bytes as they pass through the
  // cipher, so the container always describes exactly the bytes it holds.
  console.Show("Calculating crc... ");
  console.Print("Done");
  console.Show("Encrypting. Please wait...");
  const cipher::PayloadResult payload = cipher::EncipherPayload(
      state.key, state.input.handle(), state.output.handle(), state.header.plainSize);
  RethrowNoMemory(payload);
  if (!ReadTheMeasuredInput(state, payload)) return Fail(state, {"FAILED", kCantRead});
  if (payload.status != cipher::PayloadStatus::kOk) return Fail(state, {"FAILED", kCantWrite});
  console.Print("Done");
  state.header.plainCrc = payload.in_crc;
  console.Show("Calculating crc... ");
  state.header.payloadCrc = payload.out_crc;
  console.Print("Done");

  if (!WriteHeader(state)) return Fail(state, {kCantWrite});
  return Succeed(state);
}

int RunDecode(RunState& state) {
  Console& console = state.console;
  container::HeaderBytes bytes{};
  const std::int64_t got = platform::ReadAt(state.input.handle(), bytes.data(), bytes.size(), 0);
  if (got < 0) return Fail(state, {kCantRead});
  state.header = container::Parse(bytes.data(), static_cast<std::size_t>(got));

  const char* refusal = nullptr;
  switch (container::CheckFields(state.header, state.input.size())) {
    case container::FieldCheck::kUnknownMagic:
      refusal = "Error: unknown magic!";
      break;
    case container::FieldCheck::kUnknownVersion:
      refusal = "Error: unknown input file version!";
      break;
    case container::FieldCheck::kWrongSize:
      refusal = "Error: wrong file size!";
      break;
    case container::FieldCheck::kPassed:
      break;
  }
  if (refusal != nullptr) return Fail(state, {refusal, "Error: incorrect input file header!"});

  // The payload is read once: it is deciphered into the unfinished output while its checksum
  // is taken, and the output is kept only if that checksum is the header's. The checksum runs
  // to the end even when the output cannot be written, so each line says what really failed.
  console.Show("Checking crc... ");
  const cipher::PayloadResult payload = cipher::DecipherPayload(
      state.key, state.input.handle(), state.output.handle(), state.header.plainSize);
  RethrowNoMemory(payload);
  if (!ReadTheMeasuredInput(state, payload)) return Fail(state, {"FAILED", kCantRead});
  if (payload.in_crc != state.header.payloadCrc) {
    return Fail(state, {"FAILED", "Error: wrong crc32 of crypted data!",
                        "Error: incorrect input file header!"});
  }
  console.Print("OK");
  console.Show("Decrypting. Please wait... ");
  if (payload.status != cipher::PayloadStatus::kOk) return Fail(state, {"FAILED", kCantWrite});
  console.Print("Done");

  console.Show("Checking crc... ");
  if (payload.out_crc != state.header.plainCrc) {
    return Fail(state, {"FAILED", "Error: wrong crc32 of encrypted data!"});
  }
  console.Print("OK");
  return Succeed(state);
}

}  // namespace tarn::app
