#include "codec/payload.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "checksum/crc32.h"
#include "core/core.h"
#include "platform/secret.h"

namespace tarn::codec {

using cipher::KeyWords;
namespace {

// Large enough that the system calls cost little next to the copying, small enough to stay
// in a core's own cache (512 KiB on some) between the read, the cipher, the checksums and the
// write, and to share a small image evenly between the workers.
constexpr std::size_t kChunk = std::size_t{128} << 10;
// Below this a second thread costs more than it saves.
constexpr std::uint64_t kThreadedFrom = 1ull << 20;
constexpr unsigned kMaxWorkers = 2;

// The key words of a transform, in pages of their own (locked, kept out of dumps, wiped and
// unlocked when they go).
struct JobKeys {
  std::uint32_t decipher[4], encipher[4];
};

struct Job {
  const std::uint32_t* decipher_key;
  const std::uint32_t* encipher_key;
  bool decipher, encipher;
  FilePlace in, out;
  std::uint64_t size;
  std::size_t chunks;  // fits: a stretch of more chunks than memory could count is refused
  Progress progress;
  std::vector<std::uint32_t> in_crcs, plain_crcs, out_crcs;  // one per chunk
  std::atomic<std::size_t> next{0};                          // the first chunk no worker has taken
  std::atomic<std::uint64_t> done{0};
  std::atomic<bool> read_failed{false}, write_failed{false}, no_memory{false}, cancelled{false};
  // The cause of the first failed read or write, from whichever worker met it.
  std::atomic<bool> cause_taken{false};
  platform::Cause cause{};

  void TakeCause() {
    if (!cause_taken.exchange(true)) cause = platform::LastCause();
  }

  // A decipher reads on to the end after a failed write, so that a damaged payload still gets
  // its own verdict; anything else stops every worker.
  bool Stopped() const {
    return read_failed.load(std::memory_order_relaxed) ||
           no_memory.load(std::memory_order_relaxed) || cancelled.load(std::memory_order_relaxed) ||
           (!decipher && write_failed.load(std::memory_order_relaxed));
  }
};

// Takes the next chunk not yet taken until there are none, so that a worker that starts late
// or runs slowly leaves the others more. The worker that `reports` runs on the calling thread.
void RunChunks(Job* job, bool reports) noexcept;

void RunHelper(void* job) {
  RunChunks(static_cast<Job*>(job), false);
}

void RunChunks(Job* job, bool reports) noexcept {
  std::unique_ptr<unsigned char[]> buffer;
  try {
    buffer = std::make_unique_for_overwrite<unsigned char[]>(kChunk);
  } catch (const std::bad_alloc&) {
    job->no_memory = true;
    return;
  }
  unsigned char* data = buffer.get();
  const bool writes = job->out.file != platform::kNoFile;
  for (std::size_t c = job->next.fetch_add(1); c < job->chunks && !job->Stopped();
       c = job->next.fetch_add(1)) {
    const std::uint64_t at = std::uint64_t{c} * kChunk;
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, job->size - at));
    if (platform::ReadAt(job->in.file, data, n, job->in.offset + at) !=
        static_cast<std::int64_t>(n)) {
      job->TakeCause();
      job->read_failed = true;
      return;
    }
    // The chunk through the core's one pass; after a failed write only its CRC is still taken.
    const bool skip = job->write_failed.load(std::memory_order_relaxed);
    std::uint32_t crcs[3];
    tarnc_crcs_start(crcs);
    tarnc_pass(job->decipher && !skip ? job->decipher_key : nullptr,
               job->encipher && !skip ? job->encipher_key : nullptr, crcs, data,
               skip || (!writes && !job->decipher) ? nullptr : data, n);
    job->in_crcs[c] = ~crcs[TARNC_CRC_IN];
    if (job->decipher) job->plain_crcs[c] = ~crcs[TARNC_CRC_PLAIN];
    if (job->encipher) job->out_crcs[c] = ~crcs[TARNC_CRC_OUT];
    if (writes && !skip && !platform::WriteAt(job->out.file, data, n, job->out.offset + at)) {
      job->TakeCause();
      job->write_failed = true;
    }
    const std::uint64_t done = job->done.fetch_add(n) + n;
    // The last chunk may be another worker's: the total is reported once all have ended.
    if (reports && done < job->size && job->progress.report != nullptr &&
        job->progress.report(job->progress.context, done, job->size)) {
      job->cancelled = true;
    }
  }
}

// The CRC-32 of the whole stretch from the CRC-32 of each chunk: all of them whole but the
// last.
std::uint32_t CombineChunks(const std::vector<std::uint32_t>& crcs, std::uint64_t size) {
  if (crcs.empty()) return 0;
  const checksum::Crc32Combiner append_chunk(kChunk);
  std::uint32_t crc = 0;
  for (std::size_t c = 0; c + 1 < crcs.size(); ++c) crc = append_chunk(crc, crcs[c]);
  const std::uint64_t last = size - std::uint64_t{crcs.size() - 1} * kChunk;
  return checksum::Crc32Combine(crc, crcs.back(), last);
}

unsigned WorkersFor(std::uint64_t size) {
  if (size < kThreadedFrom) return 1;
  return std::clamp(std::thread::hardware_concurrency(), 1u, kMaxWorkers);
}

}  // namespace

PayloadResult TransformPayload(const Transform& transform, FilePlace in, FilePlace out,
                               std::uint64_t size, Progress progress) {
  // On a 32-bit host the count of chunks must fit its size_t (it does for any image the
  // format holds: at most 32768 chunks).
  const std::uint64_t chunks = size / kChunk + (size % kChunk != 0 ? 1 : 0);
  if (chunks > std::numeric_limits<std::size_t>::max() / sizeof(std::uint32_t)) {
    PayloadResult refused;
    refused.status = TARN_NO_MEMORY;
    return refused;
  }
  const KeyWords none{};
  const KeyWords& d = transform.decipher != nullptr ? *transform.decipher : none;
  const KeyWords& e = transform.encipher != nullptr ? *transform.encipher : none;
  platform::Secret keys = platform::Secret::Holding(JobKeys{});  // filled in place: no copy
  JobKeys& k = keys.As<JobKeys>();
  k.decipher[0] = d.k0, k.decipher[1] = d.k1, k.decipher[2] = d.k2, k.decipher[3] = d.k3;
  k.encipher[0] = e.k0, k.encipher[1] = e.k1, k.encipher[2] = e.k2, k.encipher[3] = e.k3;
  Job job{k.decipher,
          k.encipher,
          transform.decipher != nullptr,
          transform.encipher != nullptr,
          in,
          out,
          size,
          static_cast<std::size_t>(chunks),
          progress,
          {},
          {},
          {}};
  job.in_crcs.resize(job.chunks);
  if (job.decipher) job.plain_crcs.resize(job.chunks);
  if (job.encipher) job.out_crcs.resize(job.chunks);
  platform::AdviseSequential(in.file);

  const unsigned workers = WorkersFor(size);
  platform::SecretThread helpers[kMaxWorkers - 1];
  for (unsigned w = 1; w < workers; ++w) {
    // No thread to be had: the chunks go to those there are.
    if (!helpers[w - 1].Start(RunHelper, &job)) break;
  }
  RunChunks(&job, true);
  for (platform::SecretThread& helper : helpers) helper.Join();
  // The kernels spilled key words on this thread's stack too.
  platform::WipeStackBelow();
  if (job.cause_taken) platform::SetCause(job.cause);
  // Every run that went through ends with one report of the whole, an empty one included.
  if (!job.Stopped() && job.done == size && progress.report != nullptr &&
      progress.report(progress.context, size, size)) {
    job.cancelled = true;
  }

  PayloadResult result;
  if (job.no_memory) {
    result.status = TARN_NO_MEMORY;
    return result;
  }
  if (job.cancelled) {
    result.status = TARN_CANCELLED;
    return result;
  }
  // The input must end where it was measured: a file that grew under us is not the image.
  unsigned char extra;
  if (job.read_failed || platform::ReadAt(in.file, &extra, 1, in.offset + size) != 0) {
    result.status = TARN_READ_FAILED;
    return result;
  }
  result.in_crc = CombineChunks(job.in_crcs, size);
  result.plain_crc = job.decipher ? CombineChunks(job.plain_crcs, size) : result.in_crc;
  if (job.write_failed) {
    result.status = TARN_WRITE_FAILED;
    return result;
  }
  result.out_crc = job.encipher ? CombineChunks(job.out_crcs, size) : result.plain_crc;
  return result;
}

}  // namespace tarn::codec
