// The C interface: each call strings the codec's steps together and turns every failure,
// an exception included, into a status.
#include <cstring>
#include <new>

#include "checksum/crc32.h"
#include "cipher/block_cipher.h"
#include "codec/codec.h"
#include "tarn/tarn.h"
#include "util/little_endian.h"

namespace {

using namespace tarn;

#define TARN_STRINGIFY2(x) #x
#define TARN_STRINGIFY(x) TARN_STRINGIFY2(x)

// The user's callback behind the codec's progress report.
struct UserProgress {
  tarn_progress_fn fn;
  void* user;

  static bool Report(void* context, std::uint64_t done, std::uint64_t total) {
    const auto* self = static_cast<const UserProgress*>(context);
    return self->fn(self->user, done, total) != 0;
  }
  codec::Progress AsProgress() const {
    return fn != nullptr ? codec::Progress{Report, const_cast<UserProgress*>(this)}
                         : codec::Progress{};
  }
};

cipher::KeyWords WordsOf(const tarn_key& key) {
  return {key.words[0], key.words[1], key.words[2], key.words[3]};
}

// The key words for the length of one call, wiped when it ends.
struct CallKey {
  cipher::KeyWords words;
  explicit CallKey(const tarn_key& key) : words(WordsOf(key)) {
    platform::ProtectSecret(&words, sizeof words);
  }
  ~CallKey() { platform::WipeMemory(&words, sizeof words); }
  CallKey(const CallKey&) = delete;
  CallKey& operator=(const CallKey&) = delete;
};

// Runs `body`, turning an exception into a status: nothing is thrown across the interface.
template <typename Body>
tarn_status Guarded(Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return TARN_NO_MEMORY;
  } catch (...) {
    return TARN_READ_FAILED;
  }
}

void FillInfo(const container::Header& header, std::uint64_t container_size, tarn_info* info) {
  if (info == nullptr) return;
  const container::HeaderBytes bytes = container::Serialize(header);
  for (std::size_t w = 0; w < 13; ++w) info->words[w] = util::LoadLe32(&bytes[4 * w]);
  info->image_size = header.plainSize;
  info->container_size = container_size;
  info->image_crc = header.plainCrc;
  info->payload_crc = header.payloadCrc;
}

tarn_status Encode(const char* input, const char* output, const tarn_key& key,
                   const UserProgress& progress) {
  codec::Files files;
  tarn_status status = codec::OpenInput(files, input);
  if (status == TARN_OK) status = codec::CheckImageSize(files);
  if (status == TARN_OK) status = codec::CreateOutput(files, output);
  container::Header header =
      container::HeaderForEncode(static_cast<std::uint32_t>(files.input.size()));
  if (status == TARN_OK) status = codec::WriteHeader(files, header);
  const CallKey words(key);
  if (status == TARN_OK)
    status = codec::EncodePayload(files, words.words, &header, progress.AsProgress());
  if (status == TARN_OK) status = codec::WriteHeader(files, header);
  if (status == TARN_OK) status = codec::Publish(files);
  return status;
}

// A decode, a check or a re-key: `output` null writes nothing; `key` null checks only the
// payload; `new_key` re-enciphers.
tarn_status Decode(const char* input, const char* output, const tarn_key* key,
                   const tarn_key* new_key, tarn_info* info, const UserProgress& progress) {
  codec::Files files;
  tarn_status status = codec::OpenInput(files, input);
  if (status != TARN_OK) return status;
  container::Header header;
  status = codec::ReadHeader(files, &header);
  FillInfo(header, files.input.size(), info);
  if (status != TARN_OK) return status;
  if (output != nullptr) status = codec::CreateOutput(files, output);
  if (status != TARN_OK) return status;
  const CallKey old_words(key != nullptr ? *key : tarn_key{});
  const CallKey new_words(new_key != nullptr ? *new_key : tarn_key{});
  const codec::PayloadVerdict verdict = codec::DecodePayload(
      files, key != nullptr ? &old_words.words : nullptr,
      new_key != nullptr ? &new_words.words : nullptr, header, progress.AsProgress());
  if (info != nullptr && verdict.status != TARN_READ_FAILED && verdict.status != TARN_NO_MEMORY &&
      verdict.status != TARN_CANCELLED) {
    info->payload_checked = 1;
    info->payload_ok = verdict.payload_ok ? 1 : 0;
    info->image_checked = verdict.image_checked ? 1 : 0;
    info->image_ok = verdict.image_ok ? 1 : 0;
  }
  if (verdict.status != TARN_OK) return verdict.status;
  if (new_key != nullptr) {
    header.payloadCrc = verdict.out_crc;
    status = codec::WriteHeader(files, header);
  }
  if (status == TARN_OK && output != nullptr) status = codec::Publish(files);
  return status;
}

}  // namespace

extern "C" {

const char* tarn_version(void) {
  return TARN_STRINGIFY(TARN_VERSION_MAJOR) "." TARN_STRINGIFY(
      TARN_VERSION_MINOR) "." TARN_STRINGIFY(TARN_VERSION_PATCH);
}

const char* tarn_status_string(tarn_status status) {
  switch (status) {
    case TARN_OK:
      return "ok";
    case TARN_NOT_A_CONTAINER:
      return "not a container (unknown magic)";
    case TARN_UNKNOWN_VERSION:
      return "unknown container version";
    case TARN_WRONG_SIZE:
      return "wrong file size";
    case TARN_PAYLOAD_DAMAGED:
      return "payload damaged (wrong crc32 of crypted data)";
    case TARN_IMAGE_MISMATCH:
      return "image does not match (wrong key or damaged header)";
    case TARN_TOO_LARGE:
      return "too large";
    case TARN_BAD_KEY:
      return "bad key (not 32 hexadecimal digits)";
    case TARN_CANT_OPEN_INPUT:
      return "can't open input file";
    case TARN_CANT_CREATE_OUTPUT:
      return "can't create output file";
    case TARN_READ_FAILED:
      return "can't read input file";
    case TARN_WRITE_FAILED:
      return "can't write output file";
    case TARN_NO_MEMORY:
      return "out of memory";
    case TARN_CANCELLED:
      return "cancelled";
    case TARN_INVALID_ARGUMENT:
      return "invalid argument";
  }
  return "unknown status";
}

tarn_status tarn_key_from_hex(const char* hex, size_t length, tarn_key* key) {
  if (key == nullptr) return TARN_INVALID_ARGUMENT;
  cipher::KeyWords words;
  if (!cipher::ParseHexKey(hex, length, &words)) return TARN_BAD_KEY;
  *key = tarn_key{{words.k0, words.k1, words.k2, words.k3}};
  platform::WipeMemory(&words, sizeof words);
  return TARN_OK;
}

tarn_status tarn_encode_file(const char* input, const char* output, const tarn_key* key,
                             tarn_progress_fn progress, void* user) {
  if (input == nullptr || output == nullptr || key == nullptr) return TARN_INVALID_ARGUMENT;
  return Guarded([&] { return Encode(input, output, *key, UserProgress{progress, user}); });
}

tarn_status tarn_decode_file(const char* input, const char* output, const tarn_key* key,
                             tarn_progress_fn progress, void* user) {
  if (input == nullptr || output == nullptr || key == nullptr) return TARN_INVALID_ARGUMENT;
  return Guarded([&] {
    return Decode(input, output, key, nullptr, nullptr, UserProgress{progress, user});
  });
}

tarn_status tarn_verify_file(const char* input, const tarn_key* key, tarn_info* info,
                             tarn_progress_fn progress, void* user) {
  if (input == nullptr) return TARN_INVALID_ARGUMENT;
  if (info != nullptr) *info = tarn_info{};
  return Guarded([&] {
    return Decode(input, nullptr, key, nullptr, info, UserProgress{progress, user});
  });
}

tarn_status tarn_rekey_file(const char* input, const char* output, const tarn_key* old_key,
                            const tarn_key* new_key, tarn_progress_fn progress, void* user) {
  if (input == nullptr || output == nullptr || old_key == nullptr || new_key == nullptr) {
    return TARN_INVALID_ARGUMENT;
  }
  return Guarded([&] {
    return Decode(input, output, old_key, new_key, nullptr, UserProgress{progress, user});
  });
}

tarn_status tarn_encode_buffer(const void* image, size_t size, const tarn_key* key, void* container,
                               size_t capacity) {
  if ((image == nullptr && size != 0) || key == nullptr || container == nullptr) {
    return TARN_INVALID_ARGUMENT;
  }
  if (size > container::kMaxPlainSize) return TARN_TOO_LARGE;
  if (capacity < size + container::kHeaderSize) return TARN_TOO_LARGE;
  const CallKey words(*key);
  auto* out = static_cast<unsigned char*>(container);
  unsigned char* payload = out + container::kHeaderSize;
  if (size != 0) std::memmove(payload, image, size);
  container::Header header = container::HeaderForEncode(static_cast<std::uint32_t>(size));
  header.plainCrc = checksum::Crc32(payload, size);
  cipher::EncipherBlocks(words.words, payload, size / cipher::kBlockSize);
  header.payloadCrc = checksum::Crc32(payload, size);
  const container::HeaderBytes bytes = container::Serialize(header);
  std::memcpy(out, bytes.data(), bytes.size());
  return TARN_OK;
}

tarn_status tarn_decode_buffer(const void* container, size_t size, const tarn_key* key, void* image,
                               size_t capacity, size_t* image_size) {
  if (container == nullptr || key == nullptr || image_size == nullptr ||
      (image == nullptr && capacity != 0)) {
    return TARN_INVALID_ARGUMENT;
  }
  const auto* in = static_cast<const unsigned char*>(container);
  const container::Header header = container::Parse(in, size);
  if (const tarn_status fields = codec::CheckHeader(header, size); fields != TARN_OK) return fields;
  const std::size_t n = header.plainSize;
  if (checksum::Crc32(in + container::kHeaderSize, n) != header.payloadCrc) {
    return TARN_PAYLOAD_DAMAGED;
  }
  if (capacity < n) return TARN_TOO_LARGE;
  const CallKey words(*key);
  auto* out = static_cast<unsigned char*>(image);
  if (n != 0) std::memmove(out, in + container::kHeaderSize, n);
  cipher::DecipherBlocks(words.words, out, n / cipher::kBlockSize);
  if (checksum::Crc32(out, n) != header.plainCrc) {
    platform::WipeMemory(out, n);
    return TARN_IMAGE_MISMATCH;
  }
  *image_size = n;
  return TARN_OK;
}

}  // extern "C"
