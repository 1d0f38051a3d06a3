// The codec: the steps of an encode, a decode, a check and a re-key over files and streams of
// bytes, each returning a status, with no console and no process-wide state. The C interface
// strings them together; the console program calls them one by one to print its lines in
// between; tarntool mixes a named file on one side with a stream on the other.
#pragma once

#include <cstdint>

#include "cipher/key.h"
#include "codec/payload.h"
#include "core/core.h"
#include "platform/platform.h"
#include "tarn/tarn.h"

namespace tarn::codec {

// The files of one run: the input held against writers, the output under construction. Either
// side may instead be a stream (a pipe, a socket, a file already open): a stream that is a
// regular file is read where it stands; any other is first taken into an unnamed temporary
// file (`spool`), so that the chunks can be shared between workers and read at any offset.
// An output stream gets an unnamed temporary file (`temp`), copied to the stream only at
// Publish, so that nothing reaches it before the verdict.
struct Files {
  platform::InputFile input;
  platform::OutputFile output;
  platform::FileHandle in_stream = platform::kNoFile;  // not owned
  platform::FileHandle spool = platform::kNoFile;
  std::uint64_t in_base = 0, in_size = 0;               // where the stream's bytes start, how many
  platform::FileHandle out_stream = platform::kNoFile;  // not owned
  platform::FileHandle temp = platform::kNoFile;
  std::uint64_t out_size = 0;  // the temporary file's bytes that go to the stream

  Files() = default;
  Files(const Files&) = delete;
  Files& operator=(const Files&) = delete;
  ~Files() {
    platform::Close(spool);
    platform::Close(temp);
  }
  // What the run reads and writes.
  platform::FileHandle In() const {
    return spool != platform::kNoFile       ? spool
           : in_stream != platform::kNoFile ? in_stream
                                            : input.handle();
  }
  std::uint64_t InBase() const { return spool == platform::kNoFile ? in_base : 0; }
  std::uint64_t InSize() const { return in_stream != platform::kNoFile ? in_size : input.size(); }
  platform::FileHandle Out() const {
    return out_stream != platform::kNoFile ? temp : output.handle();
  }
};

// TARN_CANT_OPEN_INPUT when the input cannot be opened and held.
tarn_status OpenInput(Files& files, const char* name);
// The input from a stream, read to its end now unless it is a regular file: TARN_CANT_OPEN_INPUT
// when it is not open or no temporary file can be had, TARN_READ_FAILED when reading fails.
// Reads no more than a container of the largest image and one byte.
tarn_status OpenInputStream(Files& files, platform::FileHandle stream);
// The output to a stream: TARN_CANT_CREATE_OUTPUT when no temporary file can be had.
tarn_status CreateOutputStream(Files& files, platform::FileHandle stream);
// TARN_TOO_LARGE when the input is too large to become a container's image.
tarn_status CheckImageSize(const Files& files);
// TARN_CANT_CREATE_OUTPUT when the output is refused.
tarn_status CreateOutput(Files& files, const char* name);

// The header as it stands, at the start of the output.
tarn_status WriteHeader(Files& files, const tarnc_header& header);

// The image enciphered into the output after the header; fills both CRCs of `header`.
tarn_status EncodePayload(Files& files, const cipher::KeyWords& key, tarnc_header* header,
                          Progress progress);

// Reads the input's header into `header` (the words beyond a short file stay zero) and checks
// its fields: TARN_NOT_A_CONTAINER, TARN_UNKNOWN_VERSION, TARN_WRONG_SIZE, TARN_READ_FAILED.
tarn_status ReadHeader(Files& files, tarnc_header* header);

// What a pass over a container's payload found: the verdict, and the payload's CRC-32 once
// enciphered again.
struct PayloadVerdict {
  tarn_status status = TARN_OK;
  std::uint32_t out_crc = 0;
};

// The container's payload deciphered under `key` (nullptr: only the payload's CRC is checked),
// and, when `reencipher` is given, enciphered again under it; written to the output when the
// files have one (after the place of a header when it is enciphered again). The verdict is the
// core's (tarnc_judge), with a failed read, memory or a cancellation first and a failed write
// after a sound payload; `info` (may be nullptr) is filled as the core fills it.
PayloadVerdict DecodePayload(Files& files, const cipher::KeyWords* key,
                             const cipher::KeyWords* reencipher, const tarnc_header& header,
                             Progress progress, tarn_info* info = nullptr);

// Closes the input and publishes the output (or copies it to the output stream):
// TARN_WRITE_FAILED when that fails.
tarn_status Publish(Files& files);

// One side of a run: a named file, or (`name` null) a stream.
struct End {
  const char* name = nullptr;
  platform::FileHandle stream = platform::kNoFile;
};

// A whole encode; a whole decode, check (`out` null) or re-key (`new_key`), as the C interface's
// calls run them, over any mix of named files and streams: the cause cleared first, nothing
// thrown, the stack below wiped after.
tarn_status RunEncode(const End& in, const End& out, const tarn_key& key, tarn_progress_fn progress,
                      void* user) noexcept;
tarn_status RunDecode(const End& in, const End* out, const tarn_key* key, const tarn_key* new_key,
                      tarn_info* info, tarn_progress_fn progress, void* user) noexcept;

}  // namespace tarn::codec
