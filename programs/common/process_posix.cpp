// POSIX implementation of the programs' half of the seam to the operating system.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#include <sys/random.h>
#endif

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/process.h"
#include "platform/posix_common.h"

// Provided by the GNU linker: the first byte of the executable's image.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): named by the linker
extern "C" const char __executable_start;

namespace tarn::process {
using namespace tarn::platform;  // the library's seam, which this one builds on
namespace {

int g_argc = 0;
char** g_argv = nullptr;
std::vector<std::string>* g_args = nullptr;  // the arguments as given, before any is hidden

std::atomic<bool> g_clear_line{false};

// The standard descriptors that were closed when the process started (a placeholder holds
// their number since).
bool g_closed_at_start[3] = {false, false, false};

void OnTerminatingSignal(int sig) {
  if (g_clear_line.load()) {
    static const char kClear[] = "\r\033[K";
    (void)!write(STDERR_FILENO, kClear, sizeof kClear - 1);
  }
  RemovePendingOutputs();
  (void)signal(sig, SIG_DFL);
  (void)raise(sig);
}

}  // namespace

void StartProcess(int argc, char** argv, bool key_is_last_argument) {
#ifdef __linux__
  // No core file, and no ptrace or /proc/PID/mem read by other processes of the same user.
  (void)prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
  g_argc = argc;
  g_argv = argv;
  g_args = new std::vector<std::string>(argv, argv + argc);
  for (const std::string& arg : *g_args) ProtectSecret(arg.data(), arg.size());
  // The key is the last word: from here on, process listings show x's in its place.
  for (int i = argc - 1; i > 0 && key_is_last_argument; --i) {
    if (argv[i][0] != '\0') {
      std::memset(argv[i], 'x', std::strlen(argv[i]));
      break;
    }
  }
  // A closed standard descriptor gets a placeholder that cannot be written, so that a console
  // write still fails and no file the tool opens becomes its standard output.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      g_closed_at_start[fd] = true;
      const int placeholder = open("/dev/null", O_RDONLY);
      if (placeholder >= 0 && placeholder != fd) close(placeholder);
    }
  }
  (void)std::setlocale(LC_CTYPE, "");
  (void)std::setlocale(LC_MONETARY, "");
  (void)signal(SIGPIPE, SIG_IGN);
  (void)signal(SIGXFSZ, SIG_IGN);
  // The break of an input's read lease is announced with SIGIO; the run sees it at the end.
  (void)signal(SIGIO, SIG_IGN);
  struct sigaction action = {};
  action.sa_handler = OnTerminatingSignal;
  sigemptyset(&action.sa_mask);
  ForEachTerminatingSignal([&](int sig) { sigaddset(&action.sa_mask, sig); });
  ForEachTerminatingSignal([&](int sig) {
    struct sigaction before = {};
    // A signal ignored at start (nohup, a background job) stays ignored.
    if (sigaction(sig, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) return;
    (void)sigaction(sig, &action, nullptr);
  });
}

void ClearLineOnSignal(bool on) {
  g_clear_line.store(on);
}

bool ArgumentsSurviveCommandLine() {
  for (int i = 1; i < g_argc; ++i) {
    if ((*g_args)[static_cast<std::size_t>(i)].find(' ') != std::string::npos) return false;
  }
  return true;
}

std::string RawCommandLine() {
  std::string line = g_argc > 0 ? BaseName((*g_args)[0]) : "tarn";
  for (int i = 1; i < g_argc; ++i) {
    line += ' ';
    line += (*g_args)[static_cast<std::size_t>(i)];
  }
  return line;
}

bool SwitchSearchCoversWholeLine() {
  return false;
}

void HideFromProcessListing(const std::string& secret) {
  if (secret.empty()) return;
  // The argument strings live in the memory that /proc/PID/cmdline and ps read; the copy of
  // them as given is no longer needed with the secret in it.
  for (int i = 1; i < g_argc; ++i) {
    for (char* arg : {g_argv[i], (*g_args)[static_cast<std::size_t>(i)].data()}) {
      for (char* at = std::strstr(arg, secret.c_str()); at != nullptr;
           at = std::strstr(at + secret.size(), secret.c_str())) {
        std::memset(at, 'x', secret.size());
      }
    }
  }
}

void ExitProcess(int status) {
  std::_Exit(status);
}

bool StdoutIsInteractive() {
  return isatty(STDOUT_FILENO) == 1;
}

bool StderrIsInteractive() {
  return isatty(STDERR_FILENO) == 1;
}

bool StdinIsInteractive() {
  return isatty(STDIN_FILENO) == 1;
}

bool DescriptorIsTerminal(int fd) {
  return isatty(fd) == 1;
}

FileHandle StandardInput() {
  return g_closed_at_start[STDIN_FILENO] ? kNoFile : STDIN_FILENO;
}

FileHandle StandardOutput() {
  return g_closed_at_start[STDOUT_FILENO] ? kNoFile : STDOUT_FILENO;
}

std::int64_t ReadStdin(void* buffer, std::size_t n) {
  for (;;) {
    const ssize_t got = read(STDIN_FILENO, buffer, n);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Failed();
    return got;
  }
}

namespace {

// Reads `fd` into `text` until its end, or with `line` its first line ending; too large when
// more comes than there is room for.
bool ReadUpTo(int fd, Secret* text, bool line, bool* too_large) {
  for (;;) {
    char more;  // once the text is full, one byte past it says whether it goes on
    const bool full = text->full();
    unsigned char* at =
        full ? reinterpret_cast<unsigned char*>(&more) : text->data() + text->size();
    const ssize_t n = read(fd, at, full || line ? 1 : text->capacity() - text->size());
    WipeMemory(&more, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (full) {
      *too_large = true;
      return false;
    }
    text->Grow(static_cast<std::size_t>(n));
    if (line && at[0] == '\n') return true;
  }
}

}  // namespace

bool ReadDescriptor(int fd, Secret* text) {
  struct stat st;
  const bool stream = fstat(fd, &st) == 0 && !S_ISREG(st.st_mode);
  bool too_large = false;
  return ReadUpTo(fd, text, stream, &too_large);
}

bool DescriptorIsFile(int fd, const std::string& name) {
  struct stat x, y;
  return fstat(fd, &x) == 0 && stat(name.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
         x.st_ino == y.st_ino;
}

bool SameExistingFile(const std::string& a, const std::string& b) {
  struct stat x, y;
  return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
         x.st_ino == y.st_ino;
}

SmallFile ReadSmallFile(const std::string& name, Secret* text) {
  SmallFile result;
  // O_NONBLOCK: a FIFO without a writer must not hold the open forever.
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    result.error = errno;
    if (fd >= 0) close(fd);
    return result;
  }
  if (S_ISDIR(st.st_mode)) {
    close(fd);
    result.error = EISDIR;
    return result;
  }
  if (S_ISFIFO(st.st_mode)) {
    close(fd);
    result.fifo = true;
    return result;
  }
  (void)fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  result.others_may_read = S_ISREG(st.st_mode) && (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
  result.ok = ReadUpTo(fd, text, !S_ISREG(st.st_mode), &result.too_large);
  if (!result.ok && !result.too_large) result.error = errno;
  close(fd);
  return result;
}

bool FileExists(const std::string& name) {
  struct stat st;
  return !name.empty() && stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

Status CreateNewFile(const std::string& name, const void* data, std::size_t n, Readers readers) {
  const mode_t mode = readers == Readers::kOwner ? 0600 : 0644;
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return Failed();
  bool ok = WriteAt(fd, data, n, 0) && (fsync(fd) == 0 || Failed());
  if (close(fd) != 0 && ok) ok = Failed();
  if (!ok) {
    unlink(name.c_str());
    return false;
  }
  return true;
}

bool RandomBytes(void* bytes, std::size_t n) {
#ifdef __linux__
  auto* out = static_cast<unsigned char*>(bytes);
  while (n > 0) {
    const ssize_t got = getrandom(out, n, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    out += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
#else
  return getentropy(bytes, n) == 0;
#endif
}

int WriteStdout(const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t done = write(STDOUT_FILENO, data, n);
    if (done < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += done;
    n -= static_cast<std::size_t>(done);
  }
  return 0;
}

void WriteStderr(const std::string& text) {
  const char* data = text.data();
  std::size_t n = text.size();
  while (n > 0) {
    const ssize_t done = write(STDERR_FILENO, data, n);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;
    data += done;
    n -= static_cast<std::size_t>(done);
  }
}

std::string ToConsoleCodePage(const std::string& text) {
  return text;
}

void UpperCaseBuffer(unsigned char* bytes, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(std::toupper(bytes[i]));
}

void LowerCaseBuffer(unsigned char* bytes, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(std::tolower(bytes[i]));
}

std::uint16_t LocaleCharType(unsigned char c) {
  std::uint16_t flags = 0;
  if (std::isupper(c)) flags |= kCharUpper;
  if (std::islower(c)) flags |= kCharLower;
  if (std::ispunct(c)) flags |= kCharPunct;
  return flags;
}

std::string CurrencySymbol() {
  const struct lconv* conv = std::localeconv();
  return conv != nullptr && conv->currency_symbol != nullptr ? conv->currency_symbol : "";
}

std::string ModuleFileName() {
  char path[PATH_MAX + 1];
  const ssize_t n = readlink("/proc/self/exe", path, PATH_MAX);
  if (n > 0) return BaseName(std::string(path, static_cast<std::size_t>(n)));
  return g_argc > 0 && g_argv[0] != nullptr ? BaseName(g_argv[0]) : "tarn";
}

std::uint32_t CodeOffset(const void* address) {
  const auto base = reinterpret_cast<std::uintptr_t>(&__executable_start);
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address) - base);
}

}  // namespace tarn::process
