// Win32 implementation of the programs' half of the seam to the operating system.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which they build on.
#include <bcrypt.h>
#include <io.h>
#include <winternl.h>

#include <cstring>
#include <string>

#include "common/process.h"
#include "platform/win32_common.h"

namespace tarn::process {
using namespace tarn::platform;  // the library's seam, which this one builds on
namespace {

BOOL WINAPI OnControlEvent(DWORD) {
  RemovePendingOutputs();
  return FALSE;  // go on to the default handling, which ends the process
}

std::size_t LastSeparator(const std::string& path) {
  return path.find_last_of("\\/:");
}

std::string BaseName(const std::string& path) {
  const std::size_t at = LastSeparator(path);
  return at == std::string::npos ? path : path.substr(at + 1);
}

}  // namespace

void StartProcess(int, char**, bool) {
  SetConsoleCtrlHandler(OnControlEvent, TRUE);
  // No error dialog and no crash dump of a process that holds a key.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
}

bool ArgumentsSurviveCommandLine() {
  return true;  // the raw line is the system's own
}

std::string RawCommandLine() {
  const char* line = GetCommandLineA();
  return line != nullptr ? line : "";
}

bool SwitchSearchCoversWholeLine() {
  return true;
}

void HideFromProcessListing(const std::string& secret) {
  if (secret.empty()) return;
  // The ANSI copy that GetCommandLineA hands out.
  char* ansi = GetCommandLineA();
  for (char* at = ansi != nullptr ? std::strstr(ansi, secret.c_str()) : nullptr; at != nullptr;
       at = std::strstr(at + secret.size(), secret.c_str())) {
    std::memset(at, 'x', secret.size());
  }
  // The wide command line in the process parameters, which other processes read.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"  // GCC misreads the TEB read through %gs
  const PEB* peb = NtCurrentTeb()->ProcessEnvironmentBlock;
#pragma GCC diagnostic pop
  if (peb == nullptr || peb->ProcessParameters == nullptr) return;
  UNICODE_STRING& line = peb->ProcessParameters->CommandLine;
  const std::size_t length = line.Length / sizeof(WCHAR);
  for (std::size_t i = 0; i + secret.size() <= length; ++i) {
    std::size_t k = 0;
    while (k < secret.size() && line.Buffer[i + k] == static_cast<unsigned char>(secret[k])) ++k;
    if (k == secret.size()) {
      for (k = 0; k < secret.size(); ++k) line.Buffer[i + k] = L'x';
    }
  }
}

void ExitProcess(int status) {
  ::ExitProcess(static_cast<UINT>(status));
}

bool StdoutIsInteractive() {
  return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR;
}

bool StderrIsInteractive() {
  return GetFileType(GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_CHAR;
}

void ClearLineOnSignal(bool) {}  // Ctrl-C ends a console program where the console redraws

bool StdinIsInteractive() {
  return GetFileType(GetStdHandle(STD_INPUT_HANDLE)) == FILE_TYPE_CHAR;
}

bool DescriptorIsTerminal(int fd) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_CHAR;
}

FileHandle StandardInput() {
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  return in == nullptr || in == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(in);
}

FileHandle StandardOutput() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  return out == nullptr || out == INVALID_HANDLE_VALUE ? kNoFile
                                                       : reinterpret_cast<FileHandle>(out);
}

std::int64_t ReadStdin(void* buffer, std::size_t n) {
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD got = 0;
  const DWORD chunk = n > 0x10000000 ? 0x10000000 : static_cast<DWORD>(n);
  if (!ReadFile(in, buffer, chunk, &got, nullptr)) {
    if (GetLastError() == ERROR_BROKEN_PIPE) return 0;  // a pipe's writer closed: its end
    SetCause({static_cast<int>(GetLastError()), nullptr});
    return -1;
  }
  return got;
}

namespace {

// Reads `file` into `text` until its end (a broken pipe is one), or with `line` its first line
// ending; too large when more comes than there is room for. False with the system's error.
bool ReadUpTo(HANDLE file, Secret* text, bool line, bool* too_large, DWORD* error) {
  for (;;) {
    char more;  // one byte past the room says whether the text goes on
    const bool full = text->full();
    unsigned char* at =
        full ? reinterpret_cast<unsigned char*>(&more) : text->data() + text->size();
    const DWORD room = full || line ? 1 : static_cast<DWORD>(text->capacity() - text->size());
    DWORD n = 0;
    const bool read = ReadFile(file, at, room, &n, nullptr) != 0;
    SecureZeroMemory(&more, 1);
    if (!read) {
      *error = GetLastError();
      return *error == ERROR_BROKEN_PIPE;
    }
    if (n == 0) return true;
    if (full) {
      *too_large = true;
      return false;
    }
    text->Grow(n);
    if (line && at[0] == '\n') return true;
  }
}

}  // namespace

bool ReadDescriptor(int fd, Secret* text) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool too_large = false;
  DWORD error = 0;
  return ReadUpTo(handle, text, GetFileType(handle) != FILE_TYPE_DISK, &too_large, &error);
}

bool DescriptorIsFile(int fd, const std::string& name) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  BY_HANDLE_FILE_INFORMATION a, b;
  if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &a)) return false;
  const HANDLE file = CreateFileA(name.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool got = GetFileInformationByHandle(file, &b) != 0;
  CloseHandle(file);
  return got && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

bool SameExistingFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION info[2];
  const std::string* names[2] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    const HANDLE file = CreateFileA(names[i]->c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool got = GetFileInformationByHandle(file, &info[i]) != 0;
    CloseHandle(file);
    if (!got) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
         info[0].nFileIndexLow == info[1].nFileIndexLow;
}

SmallFile ReadSmallFile(const std::string& name, Secret* text) {
  SmallFile result;
  const DWORD attributes = GetFileAttributesA(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    result.error = ERROR_DIRECTORY;
    return result;
  }
  const HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    result.error = static_cast<int>(GetLastError());
    return result;
  }
  DWORD error = 0;
  result.ok = ReadUpTo(file, text, GetFileType(file) != FILE_TYPE_DISK, &result.too_large, &error);
  if (!result.ok && !result.too_large) result.error = static_cast<int>(error);
  CloseHandle(file);
  return result;
}

bool FileExists(const std::string& name) {
  if (name.empty() || HasWildcard(name)) return false;
  const DWORD attributes = GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

Status CreateNewFile(const std::string& name, const void* data, std::size_t n,
                     Readers /*readers*/) {
  if (name.empty() || HasWildcard(name)) return Failed(ERROR_INVALID_NAME);
  // A new file that no other process opens while it is written.
  const HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Failed();
  bool ok = WriteAt(reinterpret_cast<FileHandle>(file), data, n, 0) &&
            (FlushFileBuffers(file) != 0 || Failed());
  if (!CloseHandle(file) && ok) ok = Failed();
  if (!ok) {
    DeleteFileA(name.c_str());
    return false;
  }
  return true;
}

bool RandomBytes(void* bytes, std::size_t n) {
  return BCryptGenRandom(nullptr, static_cast<PUCHAR>(bytes), static_cast<ULONG>(n),
                         BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

int WriteStdout(const char* data, std::size_t n) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
  while (n > 0) {
    DWORD done = 0;
    const DWORD chunk = n > 0x10000000 ? 0x10000000 : static_cast<DWORD>(n);
    if (!WriteFile(out, data, chunk, &done, nullptr)) return static_cast<int>(GetLastError());
    if (done == 0) return ERROR_WRITE_FAULT;
    data += done;
    n -= done;
  }
  return 0;
}

void WriteStderr(const std::string& text) {
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
  DWORD done = 0;
  WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
}

std::string ToConsoleCodePage(const std::string& text) {
  std::string oem = text;
  if (!oem.empty()) CharToOemBuffA(text.data(), oem.data(), static_cast<DWORD>(oem.size()));
  return oem;
}

void UpperCaseBuffer(unsigned char* bytes, std::size_t n) {
  CharUpperBuffA(reinterpret_cast<char*>(bytes), static_cast<DWORD>(n));
}

void LowerCaseBuffer(unsigned char* bytes, std::size_t n) {
  CharLowerBuffA(reinterpret_cast<char*>(bytes), static_cast<DWORD>(n));
}

std::uint16_t LocaleCharType(unsigned char c) {
  const char text[1] = {static_cast<char>(c)};
  WORD type = 0;
  if (!GetStringTypeExA(LOCALE_USER_DEFAULT, CT_CTYPE1, text, 1, &type)) return 0;
  std::uint16_t flags = 0;
  if (type & C1_UPPER) flags |= kCharUpper;
  if (type & C1_LOWER) flags |= kCharLower;
  if (type & C1_PUNCT) flags |= kCharPunct;
  return flags;
}

std::string CurrencySymbol() {
  char symbol[16] = {};
  const int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SCURRENCY, symbol, sizeof symbol);
  return n > 0 ? std::string(symbol) : std::string();
}

std::string ModuleFileName() {
  char path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return BaseName(std::string(path, n));
}

std::uint32_t CodeOffset(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<const char*>(address), &module)) {
    return 0;
  }
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address) -
                                    reinterpret_cast<std::uintptr_t>(module));
}

}  // namespace tarn::process
