// The codec: the steps of an encode, a decode, a check and a re-key over files, each returning
// a status, with no console and no process-wide state. The C interface strings them together;
// the console program calls them one by one to print its lines in between.
#pragma once

#include <cstdint>

#include "cipher/key.h"
#include "codec/payload.h"
#include "core/core.h"
#include "platform/platform.h"
#include "tarn/tarn.h"

namespace tarn::codec {

// The files of one run: the input held against writers, the output under construction.
struct Files {
  platform::InputFile input;
  platform::OutputFile output;
};

// TARN_CANT_OPEN_INPUT when the input cannot be opened and held.
tarn_status OpenInput(Files& files, const char* name);
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

// Closes the input and publishes the output: TARN_WRITE_FAILED when that fails.
tarn_status Publish(Files& files);

}  // namespace tarn::codec
