// The library's seam to the operating system, files and memory: what the library needs.
// platform_posix.cpp and platform_win32.cpp implement it. The programs have a seam of their
// own beside it (programs/common/process.h: the process, the console, the locale, key
// sources); no other file of the library includes an operating-system header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarn::platform {

// An open operating-system file. Negative values mean "no file".
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// --- Causes --------------------------------------------------------------------------------

// Why a call of this seam failed, kept per thread: the system's error code (errno on POSIX,
// GetLastError on Windows; 0 when the refusal was the seam's own judgement), or the seam's own
// reason ("is the input itself", "another user's file", ...; nullptr when the system's code
// says it). Every call below that fails sets it; ClearCause starts a fresh call.
struct Cause {
  int system_error = 0;
  const char* reason = nullptr;
};
Cause LastCause();
void ClearCause();
// For a cause found on another thread, or judged above the seam.
void SetCause(const Cause& cause);

// What a call of this seam that can fail came to: true on success; on failure, the cause,
// which is also kept as the thread's last cause for callers that pass on only the outcome.
class [[nodiscard]] Status {
 public:
  // A success, or a failure whose cause is the thread's last cause.
  Status(bool ok) : ok_(ok), cause_(ok ? Cause{} : LastCause()) {}  // NOLINT: converts
  explicit operator bool() const { return ok_; }
  const Cause& cause() const { return cause_; }

 private:
  bool ok_;
  Cause cause_;
};

// The system's text for one of its error codes ("No such file or directory").
std::string ErrorText(int system_error);

// The process's umask, read without changing it (POSIX; where the system does not report it,
// 077, the most careful guess). Windows has none: 0.
std::uint32_t ProcessUmask();

// --- Processor -----------------------------------------------------------------------------

// True on an ARM64 processor whose system reports the CRC32 instructions.
bool CpuHasArmCrc32();

// A thread for work on secrets (the kernels spill key words to their stacks). On POSIX its
// stack is memory of its own, locked out of swap, excluded from core dumps and wiped when the
// thread has ended; elsewhere the thread wipes the deepest part of its stack before it ends.
// It is asked onto a processor other than its maker's, among those the maker may use: some
// systems queue a new thread behind its maker while another processor idles, until the maker
// blocks or the next balancing tick moves it (milliseconds, as long as a small image takes).
// Not copyable; the destructor joins.
class SecretThread {
 public:
  SecretThread() = default;
  ~SecretThread() { Join(); }
  SecretThread(const SecretThread&) = delete;
  SecretThread& operator=(const SecretThread&) = delete;

  // Runs fn(arg) on the new thread; false (nothing started) when no thread can be had.
  bool Start(void (*fn)(void*), void* arg);
  // Waits for the thread to end, then wipes and frees its stack. Safe to call more than once.
  void Join();

 private:
  void* thread_ = nullptr;  // the system's thread, owned
  void* stack_ = nullptr;
  std::size_t stack_size_ = 0;
};

// Overwrites the 64 KiB of the calling thread's stack below the caller's frame, where the
// kernels that worked on secrets for it left their spills.
void WipeStackBelow();

// --- Memory --------------------------------------------------------------------------------

// Keeps n bytes of secret memory out of swap and core dumps where the system allows it. Best
// effort: nothing fails when it does not.
void ProtectSecret(const void* bytes, std::size_t n);

// Overwrites n bytes with zeros in a way the compiler may not drop, for secrets in memory
// that is about to be freed.
void WipeMemory(void* bytes, std::size_t n);

// Zeroed memory of its own (whole pages) for at least n bytes of a secret, kept out of swap
// and core dumps where the system allows it; nullptr when the system has no memory. Give it
// back with FreeSecretPages and the same n: that overwrites it first. Pages shared with other
// memory could not be unlocked without unlocking that memory too, hence pages of its own.
void* AllocateSecretPages(std::size_t n);
void FreeSecretPages(void* pages, std::size_t n);

// Removes every unfinished output that has a name, as the process is about to die of a
// signal. Safe to call from a signal handler.
void RemovePendingOutputs();

// --- Files ---------------------------------------------------------------------------------

// What identifies a file's contents at one moment: its size and its modification and change
// times (zero where a kind of file has none that mean anything, such as a block device).
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modified_ns = 0, changed_ns = 0;
  bool operator==(const FileStamp&) const = default;
};

// An input file, open for reading and held deny-write for as long as the object lives: any
// number of readers may hold one file at once, but not while another process holds it for
// writing (POSIX: a shared advisory lock, refused while someone holds an exclusive one;
// Windows: FILE_SHARE_READ). Not copyable; the destructor closes it.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile() { Close(); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens a regular file or a block device and measures it. False when it cannot be opened or
  // measured, is another kind of file (directory, FIFO, character device, socket), or is held
  // by a writer. On Linux a regular file also gets a read lease where the system grants one
  // and the process does not die of the signal that announces its break (SIGIO ignored or
  // handled, as the programs arrange): granted only while nobody has the file open for
  // writing, a writable shared mapping included, which is then refused; broken when someone
  // opens it for writing later, which Unchanged then reports. A block device is opened
  // exclusively, which a mounted one refuses.
  Status Open(const std::string& name);
  FileHandle handle() const { return handle_; }
  // The size measured when the file was opened.
  std::uint64_t size() const { return stamp_.size; }
  // True when the file still has the size and times it had when it was opened, and its lease
  // (where it has one) was not broken, so that the bytes read are the bytes that were measured.
  bool Unchanged() const;
  void Close();

 private:
  FileHandle handle_ = kNoFile;
  FileStamp stamp_;
  bool leased_ = false;  // a read lease stands guard against writers (Linux)
};

// An output file under construction. It is written without a name the user could see (an
// unnamed file on Linux, a short hidden name elsewhere, registered for removal before any
// signal or console event can miss it) in the output's directory, and takes the output's name
// only in Commit. Whatever ends the object's life before that (a failure, an exception, the
// destructor) removes it, so no path leaves a partial file under the output's name, and an
// existing file of that name stays as it was. Not copyable.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile() { Discard(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Prepares the output for `name` (a symbolic link's target, when `name` is a link). Refuses
  // (false, nothing created) when the name denotes `input` (also through links), a directory
  // or another non-regular file; when an existing file there could not be opened for writing
  // or replaced by this user (read-only, another user's, in a sticky directory, held open by
  // another process on Windows); or when its directory takes no new file. `input` may be
  // kNoFile.
  Status Create(const std::string& name, FileHandle input);
  FileHandle handle() const { return handle_; }

  // Gives the written file the permissions (and, where this user may set them, the owner and
  // group) of the file it replaces, or 0666 less the umask for a new name; makes its data
  // durable; gives it the output's name in one step, through the directory taken at Create;
  // and makes that name durable. Only the file this object wrote is ever published. False
  // when any step fails: then the unfinished file is removed and nothing is published, unless
  // only the last step (the directory's sync) failed, after the name was already in place.
  Status Commit();

  // Removes the unfinished file, if any. Safe to call more than once.
  void Discard();

 private:
  FileHandle handle_ = kNoFile;
  FileHandle dir_ = kNoFile;  // the output's directory, held from Create to Commit
  std::string leaf_;          // the output's name in dir_
  std::string temp_;          // the unfinished file's name, where it has one
  int slot_ = -1;             // its registration for removal on a signal
  bool replaces_ = false;     // an existing file will be replaced
  std::uint32_t mode_ = 0, owner_ = 0, group_ = 0;  // what the published file gets
};

// Reads up to n bytes from `offset`, stopping early only at the end of the file: the count
// read, or -1 on failure. Safe to call from several threads at once.
std::int64_t ReadAt(FileHandle file, void* buffer, std::size_t n, std::uint64_t offset);

// Writes all n bytes at `offset`; false on failure (a short write included). Safe to call
// from several threads at once for separate stretches of the file.
Status WriteAt(FileHandle file, const void* buffer, std::size_t n, std::uint64_t offset);

// Tells the system that the file will be read front to back once.
void AdviseSequential(FileHandle file);

void Close(FileHandle file);

// --- Streams of bytes ----------------------------------------------------------------------
// Pipes, sockets and files already open, read and written from where they stand.

// An unnamed file in the user's temporary folder ($TMPDIR or /tmp; Windows: its temporary
// path), readable and writable, that no other process can open by a name and that the system
// removes when it is closed or the process dies (an unnamed file where the system has them, a
// name removed at once elsewhere; Windows: deleted on close). kNoFile on failure, with the
// cause (its reason names $TMPDIR when the folder itself is the trouble).
FileHandle CreateTemporaryFile();

// Moves an open regular file's position back to its start, so that a file written at offsets
// (which on Windows moves the position too) is read whole as a stream. False on failure.
Status Rewind(FileHandle file);

// Reads up to n bytes from where `stream` stands: the count, 0 at its end (a pipe whose writer
// closed), -1 on failure.
std::int64_t ReadSome(FileHandle stream, void* buffer, std::size_t n);

// For a regular file: true, its size and where `file` stands in it. False for anything else (a
// pipe, a socket, a terminal, a device) and for a handle that is not open (cause: the system's).
bool RegularFileAt(FileHandle file, std::uint64_t* size, std::uint64_t* position);

// Reads `stream` to its end into `file` from offset 0, stopping after `limit` bytes (the rest
// is left unread): *size gets the count. The fastest way the system has (splice from a pipe on
// Linux; reads and writes elsewhere).
Status SpoolStream(FileHandle stream, FileHandle file, std::uint64_t limit, std::uint64_t* size);

// Writes all n bytes to `stream` where it stands; false on failure (a short write included).
Status WriteAll(FileHandle stream, const void* bytes, std::size_t n);

// Writes the first n bytes of `file` to `stream` where it stands, the fastest way the system
// has (sendfile on Linux; reads and writes elsewhere).
Status CopyToStream(FileHandle file, std::uint64_t n, FileHandle stream);

}  // namespace tarn::platform
