#include "cipher/payload.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "checksum/crc32.h"
#include "cipher/block_cipher.h"
#include "container/header.h"

namespace tarn::cipher {
namespace {

// Large enough that the system calls cost little next to the copying, small enough to stay
// in the processor's cache between the read, the cipher, the checksums and the write.
constexpr std::size_t kChunk = std::size_t{512} << 10;
// Below this a second thread costs more than it saves.
constexpr std::uint64_t kThreadedFrom = 1ull << 20;
constexpr unsigned kMaxWorkers = 2;

struct Job {
  Direction direction;
  KeyWords key;
  FilePlace in, out;
  std::uint64_t size;
  std::uint64_t chunks;
  std::vector<std::uint32_t> in_crcs, out_crcs;  // one per chunk
  std::atomic<bool> read_failed{false}, write_failed{false}, no_memory{false};

  // A decode reads on to the end after a failed write, so that a damaged payload still gets
  // its own verdict; anything else stops every worker.
  bool Stopped() const {
    return read_failed.load(std::memory_order_relaxed) ||
           no_memory.load(std::memory_order_relaxed) ||
           (direction == Direction::kEncipher && write_failed.load(std::memory_order_relaxed));
  }
};

// Processes chunks first, first + step, first + 2 * step, ...
void RunChunks(Job* job, std::uint64_t first, std::uint64_t step) noexcept {
  std::unique_ptr<unsigned char[]> buffer;
  try {
    buffer = std::make_unique_for_overwrite<unsigned char[]>(kChunk);
  } catch (const std::bad_alloc&) {
    job->no_memory = true;
    return;
  }
  unsigned char* data = buffer.get();
  for (std::uint64_t c = first; c < job->chunks && !job->Stopped(); c += step) {
    const std::uint64_t at = c * kChunk;
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, job->size - at));
    if (platform::ReadAt(job->in.file, data, n, job->in.offset + at) !=
        static_cast<std::int64_t>(n)) {
      job->read_failed = true;
      return;
    }
    job->in_crcs[c] = checksum::Crc32(data, n);
    if (job->write_failed.load(std::memory_order_relaxed)) continue;
    if (job->direction == Direction::kEncipher) {
      EncipherBlocks(job->key, data, n / kBlockSize);
    } else {
      DecipherBlocks(job->key, data, n / kBlockSize);
    }
    job->out_crcs[c] = checksum::Crc32(data, n);
    if (!platform::WriteAt(job->out.file, data, n, job->out.offset + at)) {
      job->write_failed = true;
    }
  }
}

std::uint32_t CombineChunks(const std::vector<std::uint32_t>& crcs, std::uint64_t size) {
  std::uint32_t crc = 0;
  for (std::size_t c = 0; c < crcs.size(); ++c) {
    const std::uint64_t length = std::min<std::uint64_t>(kChunk, size - c * kChunk);
    crc = checksum::Crc32Combine(crc, crcs[c], length);
  }
  return crc;
}

unsigned WorkersFor(std::uint64_t size) {
  if (size < kThreadedFrom) return 1;
  return std::clamp(std::thread::hardware_concurrency(), 1u, kMaxWorkers);
}

}  // namespace

PayloadResult TransformPayload(Direction direction, const KeyWords& key, FilePlace in,
                               FilePlace out, std::uint64_t size) {
  Job job{direction, key, in, out, size, (size + kChunk - 1) / kChunk, {}, {}};
  platform::ProtectSecret(&job.key, sizeof job.key);
  struct WipeKey {
    KeyWords* key;
    ~WipeKey() { platform::WipeMemory(key, sizeof *key); }
  } wipe{&job.key};
  job.in_crcs.resize(job.chunks);
  job.out_crcs.resize(job.chunks);
  platform::AdviseSequential(in.file);

  const unsigned workers = WorkersFor(size);
  std::vector<std::thread> helpers;
  helpers.reserve(workers);
  for (unsigned w = 1; w < workers; ++w) {
    try {
      helpers.emplace_back(RunChunks, &job, w, workers);
    } catch (const std::system_error&) {
      // No thread to be had: this thread does that share too.
      RunChunks(&job, w, workers);
    }
  }
  RunChunks(&job, 0, workers);
  for (std::thread& helper : helpers) helper.join();

  PayloadResult result;
  if (job.no_memory) {
    result.status = PayloadStatus::kNoMemory;
    return result;
  }
  // The input must end where it was measured: a file that grew under us is not the image.
  unsigned char extra;
  if (job.read_failed || platform::ReadAt(in.file, &extra, 1, in.offset + size) != 0) {
    result.status = PayloadStatus::kReadFailed;
    return result;
  }
  result.in_crc = CombineChunks(job.in_crcs, size);
  if (job.write_failed) {
    result.status = PayloadStatus::kWriteFailed;
    return result;
  }
  result.out_crc = CombineChunks(job.out_crcs, size);
  return result;
}

PayloadResult EncipherPayload(const KeyWords& key, platform::FileHandle in,
                              platform::FileHandle out, std::uint64_t plain_size) {
  return TransformPayload(Direction::kEncipher, key, {in, 0}, {out, container::kHeaderSize},
                          plain_size);
}

PayloadResult DecipherPayload(const KeyWords& key, platform::FileHandle in,
                              platform::FileHandle out, std::uint64_t plain_size) {
  return TransformPayload(Direction::kDecipher, key, {in, container::kHeaderSize}, {out, 0},
                          plain_size);
}

}  // namespace tarn::cipher
