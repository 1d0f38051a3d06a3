// POSIX implementation of the platform seam.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

// Provided by the GNU linker: the first byte of the executable's image.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): named by the linker
extern "C" const char __executable_start;

namespace tarn::platform {
namespace {

int g_argc = 0;
char** g_argv = nullptr;
mode_t g_umask = 022;

// The temporary output file, removed by the signal handler when the run is interrupted.
// Written only outside the handler, read only inside it.
char g_pending_temp[PATH_MAX + 1];
volatile sig_atomic_t g_has_pending_temp = 0;

void OnTerminatingSignal(int sig) {
  if (g_has_pending_temp) unlink(g_pending_temp);
  (void)signal(sig, SIG_DFL);
  (void)raise(sig);
}

void SetPendingTemp(const std::string& name) {
  g_has_pending_temp = 0;
  if (name.size() > PATH_MAX) return;
  std::memcpy(g_pending_temp, name.c_str(), name.size() + 1);
  g_has_pending_temp = 1;
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Follows a chain of symbolic links from `name` to the path a plain create would write.
// Returns false on a loop or an unreadable link.
bool ResolveLinks(std::string name, std::string* resolved) {
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st;
    if (lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *resolved = name;
      return true;
    }
    char target[PATH_MAX + 1];
    const ssize_t n = readlink(name.c_str(), target, PATH_MAX);
    if (n < 0) return false;
    target[n] = '\0';
    if (target[0] == '/') {
      name = target;
    } else {
      name = DirName(name) + "/" + target;
    }
  }
  return false;
}

}  // namespace

void StartProcess(int argc, char** argv) {
  g_argc = argc;
  g_argv = argv;
  (void)std::setlocale(LC_CTYPE, "");
  (void)std::setlocale(LC_MONETARY, "");
  g_umask = umask(0);
  umask(g_umask);
  (void)signal(SIGPIPE, SIG_IGN);
  (void)signal(SIGINT, OnTerminatingSignal);
  (void)signal(SIGTERM, OnTerminatingSignal);
  (void)signal(SIGHUP, OnTerminatingSignal);
}

std::string RawCommandLine() {
  std::string line = g_argc > 0 && g_argv[0] != nullptr ? BaseName(g_argv[0]) : "tarn";
  for (int i = 1; i < g_argc; ++i) {
    line += ' ';
    line += g_argv[i];
  }
  return line;
}

bool SwitchSearchCoversWholeLine() {
  return false;
}

void HideFromProcessListing(const std::string& secret) {
  if (secret.empty()) return;
  // The argument strings live in the memory that /proc/PID/cmdline and ps read.
  for (int i = 1; i < g_argc; ++i) {
    char* arg = g_argv[i];
    for (char* at = std::strstr(arg, secret.c_str()); at != nullptr;
         at = std::strstr(at + secret.size(), secret.c_str())) {
      std::memset(at, 'x', secret.size());
    }
  }
}

void WipeMemory(void* bytes, std::size_t n) {
  explicit_bzero(bytes, n);
}

void ExitProcess(int status) {
  std::_Exit(status);
}

bool StdoutIsInteractive() {
  return isatty(STDOUT_FILENO) == 1;
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

bool FileExists(const std::string& name) {
  struct stat st;
  return !name.empty() && stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

FileHandle OpenInputExclusive(const std::string& name) {
  // O_NONBLOCK keeps a FIFO from hanging the open; only regular files are accepted.
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return kNoFile;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return kNoFile;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool CreateOutput(const std::string& name, FileHandle input, OutputFile* out) {
  std::string final_name;
  if (name.empty() || !ResolveLinks(name, &final_name)) return false;
  struct stat st;
  if (stat(final_name.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return false;
    struct stat in;
    if (fstat(static_cast<int>(input), &in) != 0) return false;
    if (in.st_dev == st.st_dev && in.st_ino == st.st_ino) return false;
  } else if (errno != ENOENT) {
    return false;
  }
  std::string temp = DirName(final_name) + "/." + BaseName(final_name) + ".tarn-XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  SetPendingTemp(temp);
  out->handle = fd;
  out->temp_name = temp;
  out->final_name = final_name;
  return true;
}

bool CommitOutput(OutputFile* out) {
  const int fd = static_cast<int>(out->handle);
  bool ok = fchmod(fd, 0666 & ~g_umask) == 0;
  ok = close(fd) == 0 && ok;
  out->handle = kNoFile;
  ok = ok && rename(out->temp_name.c_str(), out->final_name.c_str()) == 0;
  if (!ok) unlink(out->temp_name.c_str());
  g_has_pending_temp = 0;
  out->temp_name.clear();
  return ok;
}

void DiscardOutput(OutputFile* out) {
  if (out->handle != kNoFile) close(static_cast<int>(out->handle));
  out->handle = kNoFile;
  if (!out->temp_name.empty()) unlink(out->temp_name.c_str());
  g_has_pending_temp = 0;
  out->temp_name.clear();
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
    if (done < 0) return -1;
    if (done == 0) break;
    total += static_cast<std::size_t>(done);
  }
  return static_cast<std::int64_t>(total);
}

bool WriteAt(FileHandle file, const void* buffer, std::size_t n, std::uint64_t offset) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  while (n > 0) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
    const ssize_t done = pwrite(static_cast<int>(file), bytes, n, static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    bytes += done;
    offset += static_cast<std::uint64_t>(done);
    n -= static_cast<std::size_t>(done);
  }
  return true;
}

std::int64_t FileSize(FileHandle file) {
  struct stat st;
  if (fstat(static_cast<int>(file), &st) != 0) return -1;
  return st.st_size;
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

}  // namespace tarn::platform
