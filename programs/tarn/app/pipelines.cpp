#include "app/pipelines.h"

#include <new>

#include "codec/codec.h"

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

// Ends a successful run: the output takes its name. Every console byte before
// "Successfully." is written out first, so that a console that fails up to there leaves an
// existing output as it was.
int Succeed(RunState& state) {
  state.console.Flush();
  if (codec::Publish(state.files) != TARN_OK) return Fail(state, {kCantWrite});
  state.console.Print("Successfully.");
  return kExitSuccess;
}

// Out of memory in the pass ends the run as any allocation failure does: through the report.
void RethrowNoMemory(tarn_status status) {
  if (status == TARN_NO_MEMORY) throw std::bad_alloc();
}

}  // namespace

int RunEncode(RunState& state) {
  Console& console = state.console;
  tarnc_header_for_encode(&state.header, static_cast<std::uint32_t>(state.files.input.size()));
  if (codec::WriteHeader(state.files, state.header) != TARN_OK) return Fail(state, {kCantWrite});

  // The image is read once: both checksums are taken from the bytes as they pass through the
  // cipher, so the container always describes exactly the bytes it holds.
  console.Show("Calculating crc... ");
  console.Print("Done");
  console.Show("Encrypting. Please wait...");
  const tarn_status payload = codec::EncodePayload(state.files, state.key(), &state.header, {});
  RethrowNoMemory(payload);
  if (payload != TARN_OK) {
    return Fail(state, {"FAILED", payload == TARN_READ_FAILED ? kCantRead : kCantWrite});
  }
  console.Print("Done");
  console.Show("Calculating crc... ");
  console.Print("Done");

  if (codec::WriteHeader(state.files, state.header) != TARN_OK) return Fail(state, {kCantWrite});
  return Succeed(state);
}

int RunDecode(RunState& state) {
  Console& console = state.console;
  switch (codec::ReadHeader(state.files, &state.header)) {
    case TARN_OK:
      break;
    case TARN_NOT_A_CONTAINER:
      return Fail(state, {"Error: unknown magic!", "Error: incorrect input file header!"});
    case TARN_UNKNOWN_VERSION:
      return Fail(state,
                  {"Error: unknown input file version!", "Error: incorrect input file header!"});
    case TARN_WRONG_SIZE:
      return Fail(state, {"Error: wrong file size!", "Error: incorrect input file header!"});
    default:
      return Fail(state, {kCantRead});
  }

  // The payload is read once: it is deciphered into the unfinished output while its checksum
  // is taken, and the output is kept only if that checksum is the header's. The checksum runs
  // to the end even when the output cannot be written, so each line says what really failed.
  console.Show("Checking crc... ");
  const codec::PayloadVerdict verdict =
      codec::DecodePayload(state.files, &state.key(), nullptr, state.header, {});
  RethrowNoMemory(verdict.status);
  switch (verdict.status) {
    case TARN_READ_FAILED:
      return Fail(state, {"FAILED", kCantRead});
    case TARN_PAYLOAD_DAMAGED:
      return Fail(state, {"FAILED", "Error: wrong crc32 of crypted data!",
                          "Error: incorrect input file header!"});
    default:
      break;
  }
  console.Print("OK");
  console.Show("Decrypting. Please wait... ");
  if (verdict.status == TARN_WRITE_FAILED) return Fail(state, {"FAILED", kCantWrite});
  console.Print("Done");

  console.Show("Checking crc... ");
  if (verdict.status == TARN_IMAGE_MISMATCH) {
    return Fail(state, {"FAILED", "Error: wrong crc32 of encrypted data!"});
  }
  console.Print("OK");
  return Succeed(state);
}

}  // namespace tarn::app
