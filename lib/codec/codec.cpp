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
  return files.input.size() > container::kMaxPlainSize ? TARN_TOO_LARGE : TARN_OK;
}

tarn_status CreateOutput(Files& files, const char* name) {
  return name != nullptr && files.output.Create(name, files.input.handle())
             ? TARN_OK
             : TARN_CANT_CREATE_OUTPUT;
}

tarn_status WriteHeader(Files& files, const container::Header& header) {
  const container::HeaderBytes bytes = container::Serialize(header);
  return platform::WriteAt(files.output.handle(), bytes.data(), bytes.size(), 0)
             ? TARN_OK
             : TARN_WRITE_FAILED;
}

tarn_status EncodePayload(Files& files, const cipher::KeyWords& key, container::Header* header,
                          Progress progress) {
  const PayloadResult payload = TransformPayload(
      Transform{nullptr, &key}, {files.input.handle(), 0},
      {files.output.handle(), container::kHeaderSize}, header->plainSize, progress);
  if (const tarn_status pass = PassStatus(files, payload); pass != TARN_OK) return pass;
  if (payload.status != TARN_OK) return payload.status;
  header->plainCrc = payload.in_crc;
  header->payloadCrc = payload.out_crc;
  return TARN_OK;
}

tarn_status ReadHeader(Files& files, container::Header* header) {
  container::HeaderBytes bytes{};
  const std::int64_t got = platform::ReadAt(files.input.handle(), bytes.data(), bytes.size(), 0);
  if (got < 0) return TARN_READ_FAILED;
  *header = container::Parse(bytes.data(), static_cast<std::size_t>(got));
  return container::CheckFields(*header, files.input.size());
}

PayloadVerdict DecodePayload(Files& files, const cipher::KeyWords* key,
                             const cipher::KeyWords* reencipher, const container::Header& header,
                             Progress progress) {
  PayloadVerdict verdict;
  const PayloadResult payload =
      TransformPayload(Transform{key, key != nullptr ? reencipher : nullptr},
                       {files.input.handle(), container::kHeaderSize},
                       {files.output.handle(), reencipher != nullptr ? container::kHeaderSize : 0},
                       header.plainSize, progress);
  verdict.status = PassStatus(files, payload);
  if (verdict.status != TARN_OK) return verdict;
  verdict.payload_ok = payload.in_crc == header.payloadCrc;
  if (!verdict.payload_ok) {
    verdict.status = TARN_PAYLOAD_DAMAGED;
  } else if (payload.status == TARN_WRITE_FAILED) {
    verdict.status = TARN_WRITE_FAILED;
  } else if (key != nullptr) {
    verdict.image_checked = true;
    verdict.image_ok = payload.plain_crc == header.plainCrc;
    verdict.out_crc = payload.out_crc;
    if (!verdict.image_ok) verdict.status = TARN_IMAGE_MISMATCH;
  }
  return verdict;
}

tarn_status Publish(Files& files) {
  files.input.Close();
  return files.output.Commit() ? TARN_OK : TARN_WRITE_FAILED;
}

}  // namespace tarn::codec
