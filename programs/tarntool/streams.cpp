#include "streams.h"

#include <algorithm>
#include <memory>
#include <new>

#include "common/process.h"
#include "core/core.h"

namespace tarntool {
namespace {

namespace platform = tarn::platform;
namespace process = tarn::process;

// Bytes read at a time: large enough that a system call carries a lot, small enough that a
// run's memory stays a few hundred KiB whatever the size of what passes through.
constexpr std::size_t kPiece = std::size_t{256} << 10;

// A piece of input and room for what the stream objects make of it.
struct Buffers {
  std::unique_ptr<unsigned char[]> in = std::make_unique_for_overwrite<unsigned char[]>(kPiece);
  std::unique_ptr<unsigned char[]> out =
      std::make_unique_for_overwrite<unsigned char[]>(kPiece + 8);
};

bool Report(const StreamProgress& progress, std::uint64_t done, std::uint64_t total) {
  return progress.fn != nullptr && total != 0 && progress.fn(progress.user, done, total) != 0;
}

// Feeds the whole source through `step`, which takes each piece and says whether to go on.
// TARN_READ_FAILED when a read fails or a named input changed meanwhile.
template <typename Step>
tarn_status EachPiece(Source& source, Buffers& buffers, const StreamProgress& progress, Step step) {
  std::uint64_t done = 0;
  for (;;) {
    const std::int64_t got = source.Read(buffers.in.get(), kPiece);
    if (got < 0) return TARN_READ_FAILED;
    if (got == 0) break;
    done += static_cast<std::uint64_t>(got);
    if (!step(static_cast<std::size_t>(got))) break;
    if (Report(progress, done, source.size())) return TARN_CANCELLED;
  }
  return source.Unchanged() ? TARN_OK : TARN_READ_FAILED;
}

// Ends an encoder's work. With `status` TARN_OK the last bytes of its payload go into the sink
// from `at` on and the header at offset 0; otherwise only the encoder ends, which wipes its
// key. The run's status.
tarn_status Finish(tarn_encoder* enc, Sink& sink, unsigned char* tail, std::uint64_t at,
                   tarn_status status) {
  unsigned char header[TARN_HEADER_SIZE];
  std::size_t n = 0;
  const tarn_status finished = tarn_encoder_finish(enc, tail, &n, header);
  if (status != TARN_OK) return status;
  if (finished != TARN_OK) return finished;
  if (!sink.WriteAt(tail, n, at) || !sink.WriteAt(header, sizeof header, 0)) {
    return TARN_WRITE_FAILED;
  }
  return TARN_OK;
}

}  // namespace

tarn_status Source::Open(const std::string& name) {
  stdin_ = IsStdio(name);
  if (stdin_ || file_.Open(name)) return TARN_OK;
  return TARN_CANT_OPEN_INPUT;
}

std::int64_t Source::Read(void* buffer, std::size_t n) {
  if (stdin_) return process::ReadStdin(buffer, n);
  const std::int64_t got = platform::ReadAt(file_.handle(), buffer, n, at_);
  if (got > 0) at_ += static_cast<std::uint64_t>(got);
  return got;
}

Sink::~Sink() {
  platform::Close(temp_);
}

tarn_status Sink::Create(const std::string& name, platform::FileHandle input) {
  stdout_ = IsStdio(name);
  if (stdout_) {
    temp_ = process::CreateTemporaryFile();
    return temp_ != platform::kNoFile ? TARN_OK : TARN_CANT_CREATE_OUTPUT;
  }
  return file_.Create(name, input) ? TARN_OK : TARN_CANT_CREATE_OUTPUT;
}

bool Sink::WriteAt(const void* bytes, std::size_t n, std::uint64_t offset) {
  size_ = std::max(size_, offset + n);
  return static_cast<bool>(platform::WriteAt(stdout_ ? temp_ : file_.handle(), bytes, n, offset));
}

tarn_status Sink::Publish(int* error) {
  *error = 0;
  if (!stdout_) return file_.Commit() ? TARN_OK : TARN_WRITE_FAILED;
  const auto buffer = std::make_unique_for_overwrite<char[]>(kPiece);
  for (std::uint64_t at = 0; at < size_;) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, size_ - at));
    if (platform::ReadAt(temp_, buffer.get(), n, at) != static_cast<std::int64_t>(n)) {
      return TARN_WRITE_FAILED;
    }
    if ((*error = process::WriteStdout(buffer.get(), n)) != 0) return TARN_WRITE_FAILED;
    at += n;
  }
  return TARN_OK;
}

tarn_status CheckStream(const tarn_key* key, tarn_info* info, StreamProgress progress) {
  platform::ClearCause();
  Source source;
  (void)source.Open("-");
  Buffers buffers;
  tarn_decoder dec;
  (void)tarn_decoder_init(&dec, key);
  const tarn_status read = EachPiece(source, buffers, progress, [&](std::size_t n) {
    std::size_t written = 0;
    return tarn_decoder_update(&dec, buffers.in.get(), n, buffers.out.get(), &written) == TARN_OK;
  });
  const tarn_status verdict = tarn_decoder_finish(&dec, info);
  return read != TARN_OK ? read : verdict;
}

tarn_status DecodeStream(Source& source, Sink& sink, const tarn_key& key, StreamProgress progress) {
  Buffers buffers;
  tarn_decoder dec;
  (void)tarn_decoder_init(&dec, &key);
  std::uint64_t at = 0;
  bool write_failed = false;
  const tarn_status read = EachPiece(source, buffers, progress, [&](std::size_t n) {
    std::size_t written = 0;
    if (tarn_decoder_update(&dec, buffers.in.get(), n, buffers.out.get(), &written) != TARN_OK) {
      return false;
    }
    // After a failed write the payload is still checked to its end, so that a damaged
    // container is named as such.
    if (!write_failed && !sink.WriteAt(buffers.out.get(), written, at)) write_failed = true;
    at += written;
    return true;
  });
  const tarn_status verdict = tarn_decoder_finish(&dec, nullptr);
  if (read != TARN_OK) return read;
  return tarnc_after_payload(verdict, write_failed ? TARN_WRITE_FAILED : TARN_OK);
}

tarn_status EncodeStream(Source& source, Sink& sink, const tarn_key& key, StreamProgress progress) {
  Buffers buffers;
  tarn_encoder enc;
  (void)tarn_encoder_init(&enc, &key);
  std::uint64_t at = TARN_HEADER_SIZE;
  tarn_status status = TARN_OK;
  const tarn_status read = EachPiece(source, buffers, progress, [&](std::size_t n) {
    std::size_t written = 0;
    status = tarn_encoder_update(&enc, buffers.in.get(), n, buffers.out.get(), &written);
    if (status == TARN_OK && !sink.WriteAt(buffers.out.get(), written, at)) {
      status = TARN_WRITE_FAILED;
    }
    at += written;
    return status == TARN_OK;
  });
  return Finish(&enc, sink, buffers.out.get(), at, read != TARN_OK ? read : status);
}

tarn_status RekeyStream(Source& source, Sink& sink, const tarn_key& old_key,
                        const tarn_key& new_key, StreamProgress progress) {
  Buffers buffers;
  tarn_rekeyer rk;
  (void)tarn_rekeyer_init(&rk, &old_key, &new_key);
  std::uint64_t at = TARN_HEADER_SIZE;
  bool write_failed = false;
  const tarn_status read = EachPiece(source, buffers, progress, [&](std::size_t n) {
    std::size_t payload = 0;
    if (tarn_rekeyer_update(&rk, buffers.in.get(), n, buffers.out.get(), &payload) != TARN_OK) {
      return false;
    }
    if (!write_failed && !sink.WriteAt(buffers.out.get(), payload, at)) write_failed = true;
    at += payload;
    return true;
  });
  unsigned char header[TARN_HEADER_SIZE];
  const tarn_status verdict = tarn_rekeyer_finish(&rk, header, nullptr);
  if (read != TARN_OK) return read;
  const tarn_status status =
      tarnc_after_payload(verdict, write_failed ? TARN_WRITE_FAILED : TARN_OK);
  if (status != TARN_OK) return status;
  return sink.WriteAt(header, sizeof header, 0) ? TARN_OK : TARN_WRITE_FAILED;
}

}  // namespace tarntool
