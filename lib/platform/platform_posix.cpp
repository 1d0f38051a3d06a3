// POSIX implementation of the platform seam: files and memory.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#if defined(__linux__)
#include <sys/sendfile.h>
#endif
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/random.h>
#endif
#if defined(__aarch64__) && defined(__linux__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "platform/platform.h"
#include "platform/posix_common.h"
#include "platform/streams_common.h"

namespace tarn::platform {
namespace {

// Unfinished outputs that have a name, removed by the signal handler when the run is
// interrupted. A slot is claimed with signals blocked, so that a signal sees either nothing or
// a complete entry.
struct PendingSlot {
  std::atomic<int> dir{-1};
  char name[32];
};
constexpr int kSlots = 16;
PendingSlot g_pending[kSlots];

// Blocks every terminating signal for the life of the object.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    ForEachTerminatingSignal([&](int sig) { sigaddset(&set, sig); });
    pthread_sigmask(SIG_BLOCK, &set, &saved_);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t saved_;
};

// Claims a slot for `name` in `dir`; -1 when all are taken. Call with signals blocked.
int RegisterPending(int dir, const std::string& name) {
  if (name.size() >= sizeof g_pending[0].name) return -1;
  for (int i = 0; i < kSlots; ++i) {
    // -2 marks a slot being filled, so that the handler skips it.
    int free_slot = -1;
    if (g_pending[i].dir.compare_exchange_strong(free_slot, -2)) {
      std::memcpy(g_pending[i].name, name.c_str(), name.size() + 1);
      g_pending[i].dir.store(dir);
      return i;
    }
  }
  return -1;
}

void ReleasePending(int slot) {
  if (slot >= 0) g_pending[slot].dir.store(-1);
}

// The hidden names this library gives: ".tarn-unfinished-" and 16 letters or digits, a pattern
// no file of a user's is likely to follow by chance (".tarn-settings" does not).
constexpr char kHiddenPrefix[] = ".tarn-unfinished-";
constexpr std::size_t kHiddenRandom = 16;

// A random hidden name.
std::string HiddenName() {
  unsigned char random[kHiddenRandom] = {};
#ifdef __linux__
  if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random))
#endif
  {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t mix = static_cast<std::uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15ull ^
                        static_cast<std::uint64_t>(getpid()) << 20;
    for (unsigned char& b : random) b = static_cast<unsigned char>(mix >>= 7);
  }
  std::string name = kHiddenPrefix;
  for (unsigned char b : random) name += "abcdefghijklmnopqrstuvwxyz0123456789"[b % 36];
  return name;
}

// True for the names HiddenName gives.
bool IsHiddenName(const char* name) {
  constexpr std::size_t prefix = sizeof kHiddenPrefix - 1;
  if (std::strncmp(name, kHiddenPrefix, prefix) != 0 ||
      std::strlen(name) != prefix + kHiddenRandom) {
    return false;
  }
  for (const char* c = name + prefix; *c != '\0'; ++c) {
    if (!((*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9'))) return false;
  }
  return true;
}

// Removes the hidden files of this tool in `dir` that no run holds any more: what a run killed
// between giving its output a hidden name and the final one (SIGKILL, a power cut) left
// behind. A run holds an exclusive lock on its hidden file for as long as the file exists; one
// that can be locked, belongs to this user and is some seconds old is nobody's.
void RemoveAbandoned(int dir) {
  const int listing = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return;
  DIR* entries = fdopendir(listing);
  if (entries == nullptr) {
    close(listing);
    return;
  }
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  while (const dirent* entry = readdir(entries)) {
    if (!IsHiddenName(entry->d_name)) continue;
    const int fd = openat(dir, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat held, named;
    if (fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && held.st_uid == geteuid() &&
        now.tv_sec - held.st_ctim.tv_sec >= 2 && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        fstatat(dir, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_ino == held.st_ino && named.st_dev == held.st_dev) {
      unlinkat(dir, entry->d_name, 0);
    }
    close(fd);
  }
  closedir(entries);
}

std::int64_t Nanoseconds(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Follows a chain of symbolic links from `name` to the path a plain create would write, by the
// rule the kernel applies to protected links (fs.protected_symlinks), whatever the system's
// setting: in a sticky directory that others may write, a link is followed only when it
// belongs to this user or to the directory's owner, so that nobody can plant a link there to
// make this process replace a file of its choice. False (with the cause) on a loop, an
// unreadable link or such a planted one.
bool ResolveLinks(std::string name, std::string* resolved) {
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st, dir;
    if (lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *resolved = name;
      return true;
    }
    if (stat(DirName(name).c_str(), &dir) == 0 && (dir.st_mode & S_ISVTX) &&
        (dir.st_mode & S_IWOTH) && st.st_uid != geteuid() && st.st_uid != dir.st_uid) {
      return Refused("another user's symbolic link in a sticky directory");
    }
    char target[PATH_MAX + 1];
    const ssize_t n = readlink(name.c_str(), target, PATH_MAX);
    if (n < 0) return Failed();
    target[n] = '\0';
    if (target[0] == '/') {
      name = target;
    } else {
      name = DirName(name) + "/" + target;
    }
  }
  return Failed(ELOOP);
}

// The kernel's rule for links in sticky world-writable directories (which a system may have
// turned off), for every directory `path` passes through: a link there is followed only when
// its owner is this user or the directory's owner. False, with the cause, for one that is not.
bool MiddleLinksAllowed(const std::string& path) {
  for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    const std::string prefix = path.substr(0, at);
    struct stat st, dir;
    if (prefix.back() == '/' || lstat(prefix.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) continue;
    if (stat(DirName(prefix).c_str(), &dir) == 0 && (dir.st_mode & S_ISVTX) &&
        (dir.st_mode & S_IWOTH) && st.st_uid != geteuid() && st.st_uid != dir.st_uid) {
      return Refused("another user's symbolic link in a sticky directory");
    }
  }
  return true;
}

}  // namespace

void ProtectSecret(const void* bytes, std::size_t n) {
  if (n == 0) return;
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto first = reinterpret_cast<std::uintptr_t>(bytes) & ~(page - 1);
  const auto last = (reinterpret_cast<std::uintptr_t>(bytes) + n + page - 1) & ~(page - 1);
  // The calls take whole pages: the page-aligned range around the bytes.
  void* pages = reinterpret_cast<void*>(first);  // NOLINT(performance-no-int-to-ptr)
  (void)mlock(pages, last - first);
#ifdef MADV_DONTDUMP
  (void)madvise(pages, last - first, MADV_DONTDUMP);
#endif
}

std::uint32_t ProcessUmask() {
  // Reading the umask with umask() means setting it, which other threads would see: the
  // system's report of the process is read instead.
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    long mask = -1;
    while (mask < 0 && std::fgets(line, sizeof line, status) != nullptr) {
      if (std::strncmp(line, "Umask:", 6) != 0) continue;
      char* end = nullptr;
      const unsigned long value = std::strtoul(line + 6, &end, 8);
      if (end != line + 6) mask = static_cast<long>(value & 0777);
    }
    (void)std::fclose(status);
    if (mask >= 0) return static_cast<std::uint32_t>(mask);
  }
  return 077;  // unknown: files readable by this user alone
}

std::string ErrorText(int system_error) {
  return std::strerror(system_error);
}

bool CpuHasArmCrc32() {
#if defined(__aarch64__) && defined(__linux__)
  return (getauxval(AT_HWCAP) & HWCAP_CRC32) != 0;
#else
  return false;
#endif
}

void WipeMemory(void* bytes, std::size_t n) {
  if (n != 0) explicit_bzero(bytes, n);
}

void* AllocateSecretPages(std::size_t n) {
  void* pages =
      mmap(nullptr, n != 0 ? n : 1, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) return nullptr;
  ProtectSecret(pages, n != 0 ? n : 1);
  return pages;
}

void FreeSecretPages(void* pages, std::size_t n) {
  if (pages == nullptr) return;
  if (n == 0) n = 1;
  WipeMemory(pages, n);
  (void)munlock(pages, n);
  (void)munmap(pages, n);
}

void RemovePendingOutputs() {
  for (PendingSlot& slot : g_pending) {
    const int dir = slot.dir.load();
    if (dir >= 0) unlinkat(dir, slot.name, 0);
  }
}

namespace {

// What identifies the contents of an open file now; false when it cannot be measured.
bool StampOf(int fd, FileStamp* stamp) {
  struct stat st;
  if (fstat(fd, &st) != 0) return Failed();
  if (S_ISBLK(st.st_mode)) {
    // A device's node says nothing of its contents; its size comes from the device.
    const off_t end = lseek(fd, 0, SEEK_END);
    if (end < 0) return Failed();
    *stamp = FileStamp{static_cast<std::uint64_t>(end), 0, 0};
    return true;
  }
  if (S_ISDIR(st.st_mode)) return Failed(EISDIR);
  if (!S_ISREG(st.st_mode) || st.st_size < 0) {
    return Refused("not a regular file or block device");
  }
  *stamp = FileStamp{static_cast<std::uint64_t>(st.st_size), Nanoseconds(st.st_mtim),
                     Nanoseconds(st.st_ctim)};
  return true;
}

// Gives the unnamed file open as `fd` the new name `to` in `dir`. Fails, leaving nothing, when
// the name is taken (errno EEXIST).
bool LinkUnnamed(int fd, int dir, const std::string& to) {
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  if (linkat(AT_FDCWD, proc.c_str(), dir, to.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  if (errno == EEXIST) return false;
  return linkat(fd, "", dir, to.c_str(), AT_EMPTY_PATH) == 0;
}

// True when `name` in `dir` is the file open as `fd`.
bool SameFile(int dir, const std::string& name, int fd) {
  struct stat a, b;
  return fstatat(dir, name.c_str(), &a, AT_SYMLINK_NOFOLLOW) == 0 && fstat(fd, &b) == 0 &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Gives `leaf` in `dir` the file open as `fd`, which `temp` names: exactly that file, whatever
// was renamed onto `temp` meanwhile. Where the system can exchange two names in one step, the
// names are exchanged, the output's name checked, and exchanged back if it then names another
// file (nothing published); the replaced file, now under `temp`, is then removed. Elsewhere
// the name is renamed and checked after: a file planted in between is then said, not hidden.
bool PublishExactly(int dir, const std::string& temp, const std::string& leaf, int fd) {
#if defined(__linux__) && defined(RENAME_EXCHANGE)
  if (renameat2(dir, temp.c_str(), dir, leaf.c_str(), RENAME_EXCHANGE) == 0) {
    if (SameFile(dir, leaf, fd)) {
      (void)unlinkat(dir, temp.c_str(), 0);
      return true;
    }
    (void)renameat2(dir, temp.c_str(), dir, leaf.c_str(), RENAME_EXCHANGE);
    return Refused("another file was put in the output's place meanwhile");
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOENT) return Failed();
#endif
  if (renameat(dir, temp.c_str(), dir, leaf.c_str()) != 0) return Failed();
  if (!SameFile(dir, leaf, fd)) {
    return Refused("another file was put in the output's place meanwhile, and took its name");
  }
  return true;
}

}  // namespace

#ifdef __linux__
// True when a process this one may look into has the block device `rdev` open for writing (its
// descriptors under /proc): a writer that was there first.
bool DeviceOpenForWriting(dev_t rdev) {
  DIR* processes = opendir("/proc");
  if (processes == nullptr) return false;
  bool found = false;
  while (const dirent* process = readdir(processes)) {
    if (found || process->d_name[0] < '0' || process->d_name[0] > '9') continue;
    const std::string fds = std::string("/proc/") + process->d_name + "/fd";
    DIR* entries = opendir(fds.c_str());
    if (entries == nullptr) continue;
    while (const dirent* entry = readdir(entries)) {
      struct stat st;
      if (entry->d_name[0] == '.' || stat((fds + "/" + entry->d_name).c_str(), &st) != 0 ||
          !S_ISBLK(st.st_mode) || st.st_rdev != rdev) {
        continue;
      }
      // "flags:" in fdinfo is the open's flags in octal.
      const std::string info = std::string("/proc/") + process->d_name + "/fdinfo/" + entry->d_name;
      if (FILE* f = std::fopen(info.c_str(), "r")) {
        char line[128];
        unsigned long flags = 0;
        while (std::fgets(line, sizeof line, f) != nullptr) {
          if (std::strncmp(line, "flags:", 6) == 0) {
            flags = std::strtoul(line + 6, nullptr, 8);
            break;
          }
        }
        (void)std::fclose(f);
        if ((flags & O_ACCMODE) != O_RDONLY) found = true;
      }
    }
    closedir(entries);
  }
  closedir(processes);
  return found;
}
#endif

Status InputFile::Open(const std::string& name) {
  Close();
  // O_NONBLOCK keeps a FIFO from hanging the open; only regular files and block devices pass.
  int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Failed();
  if (!StampOf(fd, &stamp_)) {
    close(fd);
    return false;
  }
  if (flock(fd, LOCK_SH | LOCK_NB) != 0) {
    const int code = errno;
    close(fd);
    return code == EWOULDBLOCK ? Refused("held by a writer") : Failed(code);
  }
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISBLK(st.st_mode)) {
    // A mounted file system writes its device as it likes: an exclusive open refuses it, and
    // held for the whole run keeps any mount or other exclusive opener out until the end.
    const int exclusive = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_EXCL);
    if (exclusive < 0) {
      const int code = errno;
      close(fd);
      return code == EBUSY ? Refused("a device in use (mounted)") : Failed(code);
    }
    close(fd);
    fd = exclusive;
    (void)flock(fd, LOCK_SH | LOCK_NB);
#ifdef __linux__
    if (DeviceOpenForWriting(st.st_rdev)) {
      close(fd);
      return Refused("open for writing elsewhere");
    }
#endif
  }
#ifdef __linux__
  // The lease's break is announced with SIGIO, whose default ends the process: taken only
  // where that signal is ignored or handled.
  struct sigaction io = {};
  if (S_ISREG(st.st_mode) && sigaction(SIGIO, nullptr, &io) == 0 && io.sa_handler != SIG_DFL) {
    if (fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
      leased_ = true;
    } else if (errno == EAGAIN) {
      close(fd);
      return Refused("open for writing elsewhere");
    }
  }
#endif
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  handle_ = fd;
  return true;
}

bool InputFile::Unchanged() const {
  FileStamp now;
  if (handle_ == kNoFile || !StampOf(static_cast<int>(handle_), &now)) return false;
  if (now != stamp_) return Refused("changed while it was read");
#ifdef __linux__
  if (leased_ && fcntl(static_cast<int>(handle_), F_GETLEASE) != F_RDLCK) {
    return Refused("opened for writing while it was read");
  }
#endif
  return true;
}

void InputFile::Close() {
  if (handle_ != kNoFile) close(static_cast<int>(handle_));  // the lease goes with it
  handle_ = kNoFile;
  leased_ = false;
}

Status OutputFile::Create(const std::string& name, FileHandle input) {
  Discard();
  std::string final_name;
  if (name.empty()) return Failed(ENOENT);
  if (!MiddleLinksAllowed(name) || !ResolveLinks(name, &final_name) ||
      !MiddleLinksAllowed(final_name)) {
    return false;
  }
  std::string leaf = BaseName(final_name);
  if (leaf.empty() || leaf == "." || leaf == "..") return Failed(EISDIR);
  // Everything from here on happens relative to this one handle of the directory, so that a
  // directory renamed or replaced during the run cannot send the result anywhere else.
  int dir = open(DirName(final_name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0 && errno == EACCES) {
    dir = open(DirName(final_name).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  if (dir < 0) return Failed();
  dir_ = dir;
  leaf_ = leaf;
  RemoveAbandoned(dir);

  struct stat st, dst;
  if (fstat(dir, &dst) != 0) return Discard(), Failed();
  const uid_t me = geteuid();
  if (fstatat(dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(st.st_mode)) return Discard(), Failed(EISDIR);
    if (!S_ISREG(st.st_mode)) return Discard(), Refused("not a regular file");
    struct stat in;
    if (input != kNoFile && fstat(static_cast<int>(input), &in) == 0 && in.st_dev == st.st_dev &&
        in.st_ino == st.st_ino) {
      return Discard(), Refused("is the input itself");
    }
    // Replace only what this user could overwrite in place: a file it may write, its own (or
    // any, for root), not protected by a sticky directory.
    const bool owner = me == 0 || st.st_uid == me;
    const bool sticky_blocks =
        (dst.st_mode & S_ISVTX) && me != 0 && st.st_uid != me && dst.st_uid != me;
    const int probe = openat(dir, leaf.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const int probe_error = errno;
    if (probe >= 0) close(probe);
    if (probe < 0) return Discard(), Failed(probe_error);
    if (!owner) return Discard(), Refused("another user's file");
    if (sticky_blocks) return Discard(), Refused("another user's file in a sticky directory");
    replaces_ = true;
    mode_ = st.st_mode & 07777;
    owner_ = st.st_uid;
    group_ = st.st_gid;
  } else if (errno != ENOENT) {
    return Discard(), Failed();
  }

  // An unnamed file: nothing to clean up after a kill, a crash or a power cut. It is created
  // with the permissions of a plainly created file (0666 less the umask); being unnamed, no
  // other process can open it meanwhile.
  int fd = openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (fd >= 0 && !replaces_) {
    struct stat made;
    if (fstat(fd, &made) != 0) {
      const int code = errno;
      close(fd);
      return Discard(), Failed(code);
    }
    mode_ = made.st_mode & 07777;
  }
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // No unnamed files here: a short hidden name, registered before any signal can come.
    SignalsBlocked blocked;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
      const std::string temp = HiddenName();
      fd = openat(dir, temp.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
      if (fd >= 0) {
        (void)flock(fd, LOCK_EX | LOCK_NB);  // held while the name exists: see RemoveAbandoned
        temp_ = temp;
        slot_ = RegisterPending(dir, temp);
        if (!replaces_) mode_ = 0666 & ~ProcessUmask();
      } else if (errno != EEXIST) {
        break;
      }
    }
  }
  if (fd < 0) return Discard(), Failed();
  handle_ = fd;
  return true;
}

Status OutputFile::Commit() {
  if (handle_ == kNoFile) return false;
  const int fd = static_cast<int>(handle_);
  const int dir = static_cast<int>(dir_);
  if (replaces_ && geteuid() == 0) (void)fchown(fd, owner_, group_);
  bool ok = fchmod(fd, mode_) == 0 && fdatasync(fd) == 0;
  if (!ok) Failed();
  if (ok) {
    SignalsBlocked blocked;
    if (temp_.empty() && LinkUnnamed(fd, dir, leaf_)) {
      // A new name taken in one step.
    } else {
      if (temp_.empty()) {
        // The name exists: link under a hidden name first, then rename over it. The lock
        // tells later runs that the hidden name is still this run's.
        (void)flock(fd, LOCK_EX | LOCK_NB);
        for (int attempt = 0; attempt < 100 && temp_.empty(); ++attempt) {
          const std::string temp = HiddenName();
          if (LinkUnnamed(fd, dir, temp)) {
            temp_ = temp;
            slot_ = RegisterPending(dir, temp);
          } else if (errno != EEXIST) {
            break;
          }
        }
      }
      // Publish the file this object wrote, never whatever holds the hidden name by now.
      ok = !temp_.empty() && SameFile(dir, temp_, fd) && PublishExactly(dir, temp_, leaf_, fd);
      if (!ok && platform::LastCause().reason == nullptr) Failed();
      if (ok) {
        ReleasePending(slot_);
        slot_ = -1;
        temp_.clear();
      }
    }
    // The new directory entry survives a power cut too. A directory opened without read
    // access cannot be synced; its entry is then as durable as the file system makes it.
    if (ok && fsync(dir) != 0 && errno != EBADF) ok = Failed();
  }
  if (!ok) {
    Discard();
    return false;
  }
  close(fd);
  handle_ = kNoFile;
  close(dir);
  dir_ = kNoFile;
  return true;
}

void OutputFile::Discard() {
  if (!temp_.empty() && dir_ != kNoFile) {
    SignalsBlocked blocked;
    unlinkat(static_cast<int>(dir_), temp_.c_str(), 0);
    ReleasePending(slot_);
  }
  slot_ = -1;
  temp_.clear();
  if (handle_ != kNoFile) close(static_cast<int>(handle_));
  handle_ = kNoFile;
  if (dir_ != kNoFile) close(static_cast<int>(dir_));
  dir_ = kNoFile;
  replaces_ = false;
}

std::int64_t ReadAt(FileHandle file, void* buffer, std::size_t n, std::uint64_t offset) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t total = 0;
  while (total < n) {
    const std::uint64_t at = offset + total;
    if (at > static_cast<std::uint64_t>(INT64_MAX)) return -1;
    const ssize_t done =
        pread(static_cast<int>(file), bytes + total, n - total, static_cast<off_t>(at));
    if (done < 0 && errno == EINTR) continue;
    if (done < 0) return Failed(), -1;
    if (done == 0) break;
    total += static_cast<std::size_t>(done);
  }
  return static_cast<std::int64_t>(total);
}

Status WriteAt(FileHandle file, const void* buffer, std::size_t n, std::uint64_t offset) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  while (n > 0) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return Failed(EFBIG);
    const ssize_t done = pwrite(static_cast<int>(file), bytes, n, static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done < 0) return Failed();
    if (done == 0) return Failed(ENOSPC);
    bytes += done;
    offset += static_cast<std::uint64_t>(done);
    n -= static_cast<std::size_t>(done);
  }
  return true;
}

namespace {

constexpr std::size_t kSecretStack = std::size_t{1} << 20;

struct SecretStart {
  void (*fn)(void*);
  void* arg;
};

void* RunSecret(void* start) {
  const SecretStart s = *static_cast<SecretStart*>(start);
  delete static_cast<SecretStart*>(start);
  s.fn(s.arg);
  return nullptr;
}

// Pins `thread` to the processors its maker may use, less the maker's own.
void AwayFromMaker(pthread_t thread) {
#if defined(__linux__)
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0 || CPU_COUNT(&allowed) < 2) return;
  const int here = sched_getcpu();
  if (here < 0 || here >= CPU_SETSIZE || !CPU_ISSET(here, &allowed)) return;
  CPU_CLR(here, &allowed);
  pthread_setaffinity_np(thread, sizeof allowed, &allowed);
#else
  (void)thread;
#endif
}

}  // namespace

bool SecretThread::Start(void (*fn)(void*), void* arg) {
  Join();
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  // The stack is secret memory, with a guard page below it.
  void* area = AllocateSecretPages(kSecretStack + page);
  if (area == nullptr) return false;
  (void)mprotect(area, page, PROT_NONE);
  void* stack = static_cast<char*>(area) + page;
  pthread_attr_t attributes;
  pthread_t thread;
  auto* start = new (std::nothrow) SecretStart{fn, arg};
  bool started = start != nullptr && pthread_attr_init(&attributes) == 0;
  if (started) {
    started = pthread_attr_setstack(&attributes, stack, kSecretStack) == 0 &&
              pthread_create(&thread, &attributes, RunSecret, start) == 0;
    pthread_attr_destroy(&attributes);
  }
  if (!started) {
    delete start;
    (void)mprotect(area, page, PROT_READ | PROT_WRITE);
    FreeSecretPages(area, kSecretStack + page);
    return false;
  }
  AwayFromMaker(thread);
  thread_ = new pthread_t(thread);
  stack_ = area;
  stack_size_ = kSecretStack + page;
  return true;
}

void SecretThread::Join() {
  if (thread_ == nullptr) return;
  auto* thread = static_cast<pthread_t*>(thread_);
  pthread_join(*thread, nullptr);
  delete thread;
  thread_ = nullptr;
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  (void)mprotect(stack_, page, PROT_READ | PROT_WRITE);  // the guard page, wiped with the rest
  FreeSecretPages(stack_, stack_size_);
  stack_ = nullptr;
}

__attribute__((noinline)) void WipeStackBelow() {
  unsigned char area[64 << 10];
  explicit_bzero(area, sizeof area);
  __asm__ volatile("" : : "r"(area) : "memory");
}

void AdviseSequential(FileHandle file) {
#ifdef POSIX_FADV_SEQUENTIAL
  posix_fadvise(static_cast<int>(file), 0, 0, POSIX_FADV_SEQUENTIAL);
#else
  (void)file;
#endif
}

void Close(FileHandle file) {
  if (file >= 0) close(static_cast<int>(file));
}

#if defined(__linux__)
// What a pipe is asked to hold (the system may give less: its per-user limit).
constexpr int kPipeBuffer = 1 << 20;

// The most one splice or sendfile is asked to move.
std::size_t KernelChunk(std::uint64_t left) {
  return left < (1u << 30) ? static_cast<std::size_t>(left) : std::size_t{1} << 30;
}
#endif

// The name a temporary file takes for a moment where the system has no unnamed files.
constexpr char kTemporaryPrefix[] = ".tarn-tmp-";

// Removes what a run killed between naming a temporary file and removing the name left in
// `folder`: empty files of this user of exactly that pattern, some seconds old.
void RemoveAbandonedTemporaries(const std::string& folder) {
  DIR* entries = opendir(folder.c_str());
  if (entries == nullptr) return;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const std::size_t prefix = sizeof kTemporaryPrefix - 1;
  while (const dirent* entry = readdir(entries)) {
    const char* name = entry->d_name;
    if (std::strncmp(name, kTemporaryPrefix, prefix) != 0 || std::strlen(name) != prefix + 6) {
      continue;
    }
    struct stat st;
    const std::string path = folder + "/" + name;
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0 &&
        st.st_uid == geteuid() && now.tv_sec - st.st_ctim.tv_sec >= 2) {
      unlink(path.c_str());
    }
  }
  closedir(entries);
}

FileHandle CreateTemporaryFile() {
  const char* dir = std::getenv("TMPDIR");
  const bool from_env = dir != nullptr && dir[0] != '\0';
  const std::string folder = from_env ? dir : "/tmp";
  // No file: the cause names $TMPDIR when the folder came from there.
  const auto none = [from_env](int error) {
    if (from_env) SetCause({error, "the folder $TMPDIR names cannot take a file"});
    if (!from_env) Failed(error);
    return kNoFile;
  };
  int fd = -1;
#ifdef O_TMPFILE
  // O_EXCL: the file can never be given a name later.
  fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return none(errno);
#endif
  if (fd < 0) {
    RemoveAbandonedTemporaries(folder);
    std::string name = folder + "/" + kTemporaryPrefix + "XXXXXX";
    fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return none(errno);
    unlink(name.c_str());
  }
  return fd;
}

Status Rewind(FileHandle file) {
  return lseek(static_cast<int>(file), 0, SEEK_SET) == 0 ? Status(true) : Status(Failed());
}

std::int64_t ReadSome(FileHandle stream, void* buffer, std::size_t n) {
  for (;;) {
    const ssize_t got = read(static_cast<int>(stream), buffer, n);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Failed();
    return got;
  }
}

bool RegularFileAt(FileHandle file, std::uint64_t* size, std::uint64_t* position) {
  struct stat st;
  if (fstat(static_cast<int>(file), &st) != 0) return Failed();
  if (!S_ISREG(st.st_mode)) return false;
  const off_t at = lseek(static_cast<int>(file), 0, SEEK_CUR);
  if (at < 0) return Failed();
  *size = static_cast<std::uint64_t>(st.st_size);
  *position = static_cast<std::uint64_t>(at);
  return true;
}

Status WriteAll(FileHandle stream, const void* bytes, std::size_t n) {
  const auto* at = static_cast<const unsigned char*>(bytes);
  while (n > 0) {
    const ssize_t wrote = write(static_cast<int>(stream), at, n);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return Failed(wrote == 0 ? EIO : errno);
    at += wrote;
    n -= static_cast<std::size_t>(wrote);
  }
  return true;
}

Status SpoolStream(FileHandle stream, FileHandle file, std::uint64_t limit, std::uint64_t* size) {
  *size = 0;
#if defined(__linux__)
  // From a pipe straight into the file, without passing through this process, a large pipe
  // buffer taking more at each switch between the writer and this process.
  (void)fcntl(static_cast<int>(stream), F_SETPIPE_SZ, kPipeBuffer);
  for (;;) {
    const std::uint64_t left = limit - *size;
    if (left == 0) return true;
    loff_t at = static_cast<loff_t>(*size);
    const ssize_t moved = splice(static_cast<int>(stream), nullptr, static_cast<int>(file), &at,
                                 KernelChunk(left), SPLICE_F_MOVE);
    if (moved > 0) {
      *size += static_cast<std::uint64_t>(moved);
      continue;
    }
    if (moved == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EINVAL || *size != 0) return Failed();
    break;  // not a pipe: read and write
  }
#endif
  return SpoolByReads(stream, file, limit, size);
}

Status CopyToStream(FileHandle file, std::uint64_t n, FileHandle stream) {
  std::uint64_t done = 0;
#if defined(__linux__)
  // Out of the page cache into the stream, without passing through this process.
  (void)fcntl(static_cast<int>(stream), F_SETPIPE_SZ, kPipeBuffer);
  while (done < n) {
    off_t at = static_cast<off_t>(done);
    const std::uint64_t left = n - done;
    const ssize_t sent =
        sendfile(static_cast<int>(stream), static_cast<int>(file), &at, KernelChunk(left));
    if (sent > 0) {
      done += static_cast<std::uint64_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EINVAL || errno == ENOSYS) && done == 0) break;  // read and write
    return Failed(sent == 0 ? EIO : errno);
  }
  if (done == n) return true;
#endif
  return CopyByReads(file, done, n - done, stream);
}

}  // namespace tarn::platform
