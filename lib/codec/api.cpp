// The C interface: each call strings the codec's steps together and turns every failure,
// an exception included, into a status.
#include <cstring>
#include <new>
#include <string>

#include "codec/codec.h"
#include "platform/secret.h"
#include "tarn/tarn.h"

namespace {

using namespace tarn;

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

// True when two stretches of memory share a byte.
bool Overlap(const void* a, std::size_t a_size, const void* b, std::size_t b_size) {
  const auto x = reinterpret_cast<std::uintptr_t>(a), y = reinterpret_cast<std::uintptr_t>(b);
  return a_size != 0 && b_size != 0 && x < y + b_size && y < x + a_size;
}

// The key words for the length of one call, in memory of their own that is wiped when the
// call ends.
platform::Secret KeyOf(const tarn_key& key) {
  return platform::Secret::Holding(
      cipher::KeyWords{key.words[0], key.words[1], key.words[2], key.words[3]});
}

// Runs `body`, turning an exception into a status: nothing is thrown across the interface.
template <typename Body>
tarn_status Guarded(Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return TARN_NO_MEMORY;
  } catch (...) {
    // Nothing else is thrown by design: whatever it was, it is not the input's fault.
    return TARN_INTERNAL_ERROR;
  }
}

tarn_status Open(codec::Files& files, const codec::End& in) {
  return in.name != nullptr ? codec::OpenInput(files, in.name)
                            : codec::OpenInputStream(files, in.stream);
}

tarn_status Create(codec::Files& files, const codec::End& out) {
  return out.name != nullptr ? codec::CreateOutput(files, out.name)
                             : codec::CreateOutputStream(files, out.stream);
}

// Never inlined, here and in Decode: the key's copies on the way (KeyOf's) lie in frames below
// the Run call, which wipes below itself after, never in its own frame.
[[gnu::noinline]] tarn_status Encode(const codec::End& in, const codec::End& out,
                                     const tarn_key& key, const UserProgress& progress) {
  codec::Files files;
  tarn_status status = Open(files, in);
  if (status == TARN_OK) status = codec::CheckImageSize(files);
  if (status == TARN_OK) status = Create(files, out);
  tarnc_header header;
  tarnc_header_for_encode(&header, static_cast<std::uint32_t>(files.InSize()));
  if (status == TARN_OK) status = codec::WriteHeader(files, header);
  const platform::Secret words = KeyOf(key);
  if (status == TARN_OK) {
    status =
        codec::EncodePayload(files, words.As<cipher::KeyWords>(), &header, progress.AsProgress());
  }
  if (status == TARN_OK) status = codec::WriteHeader(files, header);
  if (status == TARN_OK) status = codec::Publish(files);
  return status;
}

// A decode, a check or a re-key: no `out` writes nothing; `key` null checks only the payload;
// `new_key` re-enciphers.
[[gnu::noinline]] tarn_status Decode(const codec::End& in, const codec::End* out,
                                     const tarn_key* key, const tarn_key* new_key, tarn_info* info,
                                     const UserProgress& progress) {
  codec::Files files;
  tarn_status status = Open(files, in);
  if (status != TARN_OK) return status;
  tarnc_header header;
  status = codec::ReadHeader(files, &header);
  if (status != TARN_OK) {
    if (info != nullptr) tarnc_header_describe(&header, files.InSize(), info);
    return status;
  }
  if (out != nullptr) status = Create(files, *out);
  if (status != TARN_OK) return status;
  const platform::Secret old_words = KeyOf(key != nullptr ? *key : tarn_key{});
  const platform::Secret new_words = KeyOf(new_key != nullptr ? *new_key : tarn_key{});
  const codec::PayloadVerdict verdict =
      codec::DecodePayload(files, key != nullptr ? &old_words.As<cipher::KeyWords>() : nullptr,
                           new_key != nullptr ? &new_words.As<cipher::KeyWords>() : nullptr, header,
                           progress.AsProgress(), info);
  if (verdict.status != TARN_OK) return verdict.status;
  if (new_key != nullptr) {
    tarnc_header_rekeyed(&header, &header, verdict.out_crc);
    status = codec::WriteHeader(files, header);
  }
  if (status == TARN_OK && out != nullptr) status = codec::Publish(files);
  return status;
}

}  // namespace

namespace tarn::codec {

tarn_status RunEncode(const End& in, const End& out, const tarn_key& key, tarn_progress_fn progress,
                      void* user) noexcept {
  platform::ClearCause();
  const tarn_status status = Guarded([&] {
    return Encode(in, out, key, UserProgress{progress, user});
  });
  platform::WipeStackBelow();
  return status;
}

tarn_status RunDecode(const End& in, const End* out, const tarn_key* key, const tarn_key* new_key,
                      tarn_info* info, tarn_progress_fn progress, void* user) noexcept {
  platform::ClearCause();
  if (info != nullptr) *info = tarn_info{};
  const tarn_status status = Guarded([&] {
    return Decode(in, out, key, new_key, info, UserProgress{progress, user});
  });
  platform::WipeStackBelow();
  return status;
}

}  // namespace tarn::codec

extern "C" {

tarn_status tarn_encode_handles(tarn_handle in, tarn_handle out, const tarn_key* key,
                                tarn_progress_fn progress, void* user) {
  platform::ClearCause();
  if (key == nullptr) return TARN_INVALID_ARGUMENT;
  return codec::RunEncode(codec::End{nullptr, in}, codec::End{nullptr, out}, *key, progress, user);
}

tarn_status tarn_decode_handles(tarn_handle in, tarn_handle out, const tarn_key* key,
                                tarn_progress_fn progress, void* user) {
  platform::ClearCause();
  if (key == nullptr) return TARN_INVALID_ARGUMENT;
  const codec::End to{nullptr, out};
  return codec::RunDecode(codec::End{nullptr, in}, &to, key, nullptr, nullptr, progress, user);
}

tarn_status tarn_rekey_handles(tarn_handle in, tarn_handle out, const tarn_key* old_key,
                               const tarn_key* new_key, tarn_progress_fn progress, void* user) {
  platform::ClearCause();
  if (old_key == nullptr || new_key == nullptr) return TARN_INVALID_ARGUMENT;
  const codec::End to{nullptr, out};
  return codec::RunDecode(codec::End{nullptr, in}, &to, old_key, new_key, nullptr, progress, user);
}

tarn_status tarn_verify_handle(tarn_handle in, const tarn_key* key, tarn_info* info,
                               tarn_progress_fn progress, void* user) {
  return codec::RunDecode(codec::End{nullptr, in}, nullptr, key, nullptr, info, progress, user);
}

void tarn_last_cause(tarn_cause* cause) {
  if (cause == nullptr) return;
  const platform::Cause c = platform::LastCause();
  *cause = tarn_cause{};
  cause->system_error = c.system_error;
  std::string text;
  try {
    text = c.reason != nullptr   ? c.reason
           : c.system_error != 0 ? platform::ErrorText(c.system_error)
                                 : "";
  } catch (...) {
    text.clear();
  }
  std::strncpy(cause->text, text.c_str(), sizeof cause->text - 1);
}

tarn_status tarn_encode_file(const char* input, const char* output, const tarn_key* key,
                             tarn_progress_fn progress, void* user) {
  platform::ClearCause();
  if (input == nullptr || output == nullptr || key == nullptr) return TARN_INVALID_ARGUMENT;
  return codec::RunEncode(codec::End{input}, codec::End{output}, *key, progress, user);
}

tarn_status tarn_decode_file(const char* input, const char* output, const tarn_key* key,
                             tarn_progress_fn progress, void* user) {
  platform::ClearCause();
  if (input == nullptr || output == nullptr || key == nullptr) return TARN_INVALID_ARGUMENT;
  const codec::End out{output};
  return codec::RunDecode(codec::End{input}, &out, key, nullptr, nullptr, progress, user);
}

tarn_status tarn_verify_file(const char* input, const tarn_key* key, tarn_info* info,
                             tarn_progress_fn progress, void* user) {
  platform::ClearCause();
  if (input == nullptr) return TARN_INVALID_ARGUMENT;
  return codec::RunDecode(codec::End{input}, nullptr, key, nullptr, info, progress, user);
}

tarn_status tarn_rekey_file(const char* input, const char* output, const tarn_key* old_key,
                            const tarn_key* new_key, tarn_progress_fn progress, void* user) {
  platform::ClearCause();
  if (input == nullptr || output == nullptr || old_key == nullptr || new_key == nullptr) {
    return TARN_INVALID_ARGUMENT;
  }
  const codec::End out{output};
  return codec::RunDecode(codec::End{input}, &out, old_key, new_key, nullptr, progress, user);
}

tarn_status tarn_encode_buffer(const void* image, size_t size, const tarn_key* key, void* container,
                               size_t capacity) {
  if ((image == nullptr && size != 0) || key == nullptr || container == nullptr) {
    return TARN_INVALID_ARGUMENT;
  }
  if (size > TARN_MAX_IMAGE_SIZE) return TARN_TOO_LARGE;
  if (capacity < size + TARN_HEADER_SIZE) return TARN_TOO_LARGE;
  auto* out = static_cast<unsigned char*>(container);
  unsigned char* payload = out + TARN_HEADER_SIZE;
  const auto* in = static_cast<const unsigned char*>(image);
  if (Overlap(in, size, out, size + TARN_HEADER_SIZE)) {
    // The stream object reads and writes separate memory: move the image into place first.
    std::memmove(payload, in, size);
    in = payload;
  }
  tarn_encoder enc;
  size_t blocks = 0, tail = 0;
  tarn_status status = tarn_encoder_init(&enc, key);
  if (status == TARN_OK) status = tarn_encoder_update(&enc, in, size, payload, &blocks);
  if (status == TARN_OK) status = tarn_encoder_finish(&enc, payload + blocks, &tail, out);
  platform::WipeStackBelow();  // the kernels' spills of the key words
  return status;               // a failed object has wiped its key
}

tarn_status tarn_decode_buffer(const void* container, size_t size, const tarn_key* key, void* image,
                               size_t capacity, size_t* image_size) {
  if (container == nullptr || key == nullptr || image_size == nullptr ||
      (image == nullptr && capacity != 0)) {
    return TARN_INVALID_ARGUMENT;
  }
  const auto* in = static_cast<const unsigned char*>(container);
  auto* out = static_cast<unsigned char*>(image);
  tarnc_header header;
  tarnc_header_parse(&header, in, size);
  // A header that fails its checks is the verdict: nothing is deciphered, nothing written.
  if (const tarn_status fields = tarnc_header_check(&header, size); fields != TARN_OK)
    return fields;
  const std::size_t n = header.w[TARNC_W_IMAGE_SIZE];  // and the payload is exactly that long
  tarn_decoder dec;
  size_t written = 0;
  if (capacity < n) {
    // The verdict on the payload still comes first: the key is not needed for it.
    (void)tarn_decoder_init(&dec, nullptr);
    (void)tarn_decoder_update(&dec, in, size, nullptr, &written);
    const tarn_status payload = tarn_decoder_finish(&dec, nullptr);
    return payload != TARN_OK ? payload : TARN_TOO_LARGE;
  }
  // An empty image may come with no memory for it at all.
  unsigned char nowhere[8];
  if (out == nullptr) out = nowhere;
  tarn_status status = tarn_decoder_init(&dec, key);
  const std::size_t head = size < TARN_HEADER_SIZE ? size : TARN_HEADER_SIZE;
  if (status == TARN_OK) status = tarn_decoder_update(&dec, in, head, out, &written);
  if (status == TARN_OK && Overlap(in, size, out, n)) {
    // Decipher in the image's own memory: the payload is moved there first.
    std::memmove(out, in + head, size - head);
    in = out;
  } else {
    in += head;
  }
  if (status == TARN_OK) status = tarn_decoder_update(&dec, in, size - head, out, &written);
  if (status == TARN_OK) status = tarn_decoder_finish(&dec, nullptr);
  platform::WipeStackBelow();  // the kernels' spills of the key words
  if (status != TARN_OK) {
    platform::WipeMemory(out, n);
    return status;
  }
  *image_size = n;
  return TARN_OK;
}

}  // extern "C"
