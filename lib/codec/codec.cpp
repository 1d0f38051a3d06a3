#include "codec/codec.h"

namespace tarn::codec {

namespace {

// What a pass over the input says before its checksums are looked at: the status of a pass
// that could not go on, or read what was not the measured input; TARN_OK when its results
// stand (a failed write included, which the caller weighs).
tarn_status PassStatus(const Files& files, const PayloadResult& payload) {
  // A failed read or an input that changed while it was read: the bytes are not the input.
  if (payload.status == TARN_NO_MEMORY || payload.status == TARN_CANCELLED ||
      payload.status == TARN_READ_FAILED) {
    return payload.status;
  }
  if (files.in_stream == platform::kNoFile) {
    if (!files.input.Unchanged()) return TARN_READ_FAILED;  // with its cause
  } else if (files.spool == platform::kNoFile) {
    // A regular file read where it stands: it must not have changed its size meanwhile.
    std::uint64_t size = 0, position = 0;
    if (!platform::RegularFileAt(files.in_stream, &size, &position) ||
        size != files.in_base + files.in_size) {
      platform::SetCause({0, "changed while it was read"});
      return TARN_READ_FAILED;
    }
  }
  return TARN_OK;
}

}  // namespace

tarn_status OpenInput(Files& files, const char* name) {
  return name != nullptr && files.input.Open(name) ? TARN_OK : TARN_CANT_OPEN_INPUT;
}

tarn_status OpenInputStream(Files& files, platform::FileHandle stream) {
  files.in_stream = stream;
  std::uint64_t size = 0, position = 0;
  if (platform::RegularFileAt(stream, &size, &position)) {
    files.in_base = position;
    files.in_size = size > position ? size - position : 0;
    return TARN_OK;
  }
  if (platform::LastCause().system_error != 0) return TARN_CANT_OPEN_INPUT;  // not open
  files.spool = platform::CreateTemporaryFile();
  if (files.spool == platform::kNoFile) return TARN_CANT_OPEN_INPUT;
  // One byte past the largest container: enough to say that a stream is too long.
  constexpr std::uint64_t kLimit = std::uint64_t{TARN_MAX_IMAGE_SIZE} + TARN_HEADER_SIZE + 1;
  return platform::SpoolStream(stream, files.spool, kLimit, &files.in_size) ? TARN_OK
                                                                            : TARN_READ_FAILED;
}

tarn_status CreateOutputStream(Files& files, platform::FileHandle stream) {
  files.out_stream = stream;
  files.temp = platform::CreateTemporaryFile();
  return files.temp != platform::kNoFile ? TARN_OK : TARN_CANT_CREATE_OUTPUT;
}

tarn_status CheckImageSize(const Files& files) {
  return files.InSize() > TARN_MAX_IMAGE_SIZE ? TARN_TOO_LARGE : TARN_OK;
}

tarn_status CreateOutput(Files& files, const char* name) {
  return name != nullptr && files.output.Create(name, files.In()) ? TARN_OK
                                                                  : TARN_CANT_CREATE_OUTPUT;
}

tarn_status WriteHeader(Files& files, const tarnc_header& header) {
  std::uint8_t bytes[TARN_HEADER_SIZE];
  tarnc_header_store(&header, bytes);
  return platform::WriteAt(files.Out(), bytes, sizeof bytes, 0) ? TARN_OK : TARN_WRITE_FAILED;
}

tarn_status EncodePayload(Files& files, const cipher::KeyWords& key, tarnc_header* header,
                          Progress progress) {
  const PayloadResult payload =
      TransformPayload(Transform{nullptr, &key}, {files.In(), files.InBase()},
                       {files.Out(), TARN_HEADER_SIZE}, header->w[TARNC_W_IMAGE_SIZE], progress);
  if (const tarn_status pass = PassStatus(files, payload); pass != TARN_OK) return pass;
  if (payload.status != TARN_OK) return payload.status;
  header->w[TARNC_W_IMAGE_CRC] = payload.in_crc;
  header->w[TARNC_W_PAYLOAD_CRC] = payload.out_crc;
  files.out_size = std::uint64_t{header->w[TARNC_W_IMAGE_SIZE]} + TARN_HEADER_SIZE;
  return TARN_OK;
}

tarn_status ReadHeader(Files& files, tarnc_header* header) {
  std::uint8_t bytes[TARN_HEADER_SIZE] = {};
  const std::int64_t got = platform::ReadAt(files.In(), bytes, sizeof bytes, files.InBase());
  tarnc_header_parse(header, bytes, got < 0 ? 0 : static_cast<std::size_t>(got));
  if (got < 0) return TARN_READ_FAILED;
  return tarnc_header_check(header, files.InSize());
}

PayloadVerdict DecodePayload(Files& files, const cipher::KeyWords* key,
                             const cipher::KeyWords* reencipher, const tarnc_header& header,
                             Progress progress, tarn_info* info) {
  const PayloadResult payload =
      TransformPayload(Transform{key, key != nullptr ? reencipher : nullptr},
                       {files.In(), files.InBase() + TARN_HEADER_SIZE},
                       {files.Out(), reencipher != nullptr ? std::uint64_t{TARN_HEADER_SIZE} : 0},
                       header.w[TARNC_W_IMAGE_SIZE], progress);
  tarnc_findings findings{};
  findings.early = PassStatus(files, payload);
  findings.payload_crc = payload.in_crc;
  findings.image_crc = payload.plain_crc;
  findings.has_image = key != nullptr;
  findings.after_payload = payload.status == TARN_WRITE_FAILED ? TARN_WRITE_FAILED : TARN_OK;
  PayloadVerdict verdict;
  verdict.status = tarnc_judge(&header, files.InSize(), &findings, info);
  files.out_size =
      std::uint64_t{header.w[TARNC_W_IMAGE_SIZE]} + (reencipher != nullptr ? TARN_HEADER_SIZE : 0);
  verdict.out_crc = payload.out_crc;
  return verdict;
}

tarn_status Publish(Files& files) {
  files.input.Close();
  if (files.out_stream != platform::kNoFile) {
    return platform::CopyToStream(files.temp, files.out_size, files.out_stream) ? TARN_OK
                                                                                : TARN_WRITE_FAILED;
  }
  return files.output.Commit() ? TARN_OK : TARN_WRITE_FAILED;
}

}  // namespace tarn::codec
