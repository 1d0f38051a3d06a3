// Containers and images through the standard streams: "-" as the input reads the standard
// input, "-o -" writes the standard output. Each runs in one pass through the stream objects
// with a bounded buffer, and what reaches an output was checked first: a named output is
// published only at the end, and the standard output gets its bytes from an unnamed temporary
// file only once the whole run succeeded. The cause of a failure is kept as the library keeps
// it (tarn_last_cause).
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "tarn/tarn.h"

namespace tarntool {

inline bool IsStdio(const std::string& name) {
  return name == "-";
}

// Progress as the library reports it: bytes done and in all (0 when the total is unknown).
struct StreamProgress {
  tarn_progress_fn fn = nullptr;
  void* user = nullptr;
};

// Where a run reads from: the standard input, or a named file held against writers while it
// is read, as the library holds its inputs.
class Source {
 public:
  // TARN_CANT_OPEN_INPUT when the file cannot be opened and held (with its cause).
  tarn_status Open(const std::string& name);
  // Up to n bytes: the count, 0 at the end, -1 on a failure.
  std::int64_t Read(void* buffer, std::size_t n);
  // False when a named file changed while it was read.
  bool Unchanged() const { return stdin_ || file_.Unchanged(); }
  std::uint64_t size() const { return stdin_ ? 0 : file_.size(); }
  tarn::platform::FileHandle handle() const {
    return stdin_ ? tarn::platform::kNoFile : file_.handle();
  }

 private:
  bool stdin_ = false;
  tarn::platform::InputFile file_;
  std::uint64_t at_ = 0;
};

// Where a run writes: a named output, published only by Publish, or the standard output, fed
// from an unnamed temporary file by Publish.
class Sink {
 public:
  Sink() = default;
  ~Sink();
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  // TARN_CANT_CREATE_OUTPUT when the output (or the temporary file) cannot be made.
  tarn_status Create(const std::string& name, tarn::platform::FileHandle input);
  bool WriteAt(const void* bytes, std::size_t n, std::uint64_t offset);
  // TARN_WRITE_FAILED when the output cannot be made whole; *error gets the system's code of a
  // failed write to the standard output (0 otherwise).
  tarn_status Publish(int* error);

 private:
  bool stdout_ = false;
  tarn::platform::OutputFile file_;
  tarn::platform::FileHandle temp_ = tarn::platform::kNoFile;
  std::uint64_t size_ = 0;
};

// The verdict on the container on the standard input, as tarn_verify_file gives it for a file;
// fills `info`.
tarn_status CheckStream(const tarn_key* key, tarn_info* info, StreamProgress progress);
tarn_status EncodeStream(Source& source, Sink& sink, const tarn_key& key, StreamProgress progress);
tarn_status DecodeStream(Source& source, Sink& sink, const tarn_key& key, StreamProgress progress);
tarn_status RekeyStream(Source& source, Sink& sink, const tarn_key& old_key,
                        const tarn_key& new_key, StreamProgress progress);

}  // namespace tarntool
