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
  if (!files.input.Unchanged()) return TARN_READ_FAILED;  // with its cause
  return TARN_OK;
}

}  // namespace

tarn_status OpenInput(Files& files, const char* name) {
  return name != nullptr && files.input.Open(name) ? TARN_OK : TARN_CANT_OPEN_INPUT;
}

tarn_status CheckImageSize(const Files& files) {
  return files.input.size() > TARN_MAX_IMAGE_SIZE ? TARN_TOO_LARGE : TARN_OK;
}

tarn_status CreateOutput(Files& files, const char* name) {
  return name != nullptr && files.output.Create(name, files.input.handle())
             ? TARN_OK
             : TARN_CANT_CREATE_OUTPUT;
}

tarn_status WriteHeader(Files& files, const tarnc_header& header) {
  std::uint8_t bytes[TARN_HEADER_SIZE];
  tarnc_header_store(&header, bytes);
  return platform::WriteAt(files.output.handle(), bytes, sizeof bytes, 0) ? TARN_OK
                                                                          : TARN_WRITE_FAILED;
}

tarn_status EncodePayload(Files& files, const cipher::KeyWords& key, tarnc_header* header,
                          Progress progress) {
  const PayloadResult payload = TransformPayload(
      Transform{nullptr, &key}, {files.input.handle(), 0},
      {files.output.handle(), TARN_HEADER_SIZE}, header->w[TARNC_W_IMAGE_SIZE], progress);
  if (const tarn_status pass = PassStatus(files, payload); pass != TARN_OK) return pass;
  if (payload.status != TARN_OK) return payload.status;
  header->w[TARNC_W_IMAGE_CRC] = payload.in_crc;
  header->w[TARNC_W_PAYLOAD_CRC] = payload.out_crc;
  return TARN_OK;
}

tarn_status ReadHeader(Files& files, tarnc_header* header) {
  std::uint8_t bytes[TARN_HEADER_SIZE] = {};
  const std::int64_t got = platform::ReadAt(files.input.handle(), bytes, sizeof bytes, 0);
  tarnc_header_parse(header, bytes, got < 0 ? 0 : static_cast<std::size_t>(got));
  if (got < 0) return TARN_READ_FAILED;
  return tarnc_header_check(header, files.input.size());
}

PayloadVerdict DecodePayload(Files& files, const cipher::KeyWords* key,
                             const cipher::KeyWords* reencipher, const tarnc_header& header,
                             Progress progress, tarn_info* info) {
  const PayloadResult payload = TransformPayload(
      Transform{key, key != nullptr ? reencipher : nullptr},
      {files.input.handle(), TARN_HEADER_SIZE},
      {files.output.handle(), reencipher != nullptr ? std::uint64_t{TARN_HEADER_SIZE} : 0},
      header.w[TARNC_W_IMAGE_SIZE], progress);
  tarnc_findings findings{};
  findings.early = PassStatus(files, payload);
  findings.payload_crc = payload.in_crc;
  findings.image_crc = payload.plain_crc;
  findings.has_image = key != nullptr;
  findings.after_payload = payload.status == TARN_WRITE_FAILED ? TARN_WRITE_FAILED : TARN_OK;
  PayloadVerdict verdict;
  verdict.status = tarnc_judge(&header, files.input.size(), &findings, info);
  verdict.out_crc = payload.out_crc;
  return verdict;
}

tarn_status Publish(Files& files) {
  files.input.Close();
  return files.output.Commit() ? TARN_OK : TARN_WRITE_FAILED;
}

}  // namespace tarn::codec
