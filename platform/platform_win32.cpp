// Win32 implementation of the platform seam.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winternl.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace tarn::platform {
namespace {

HANDLE ToHandle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}
FileHandle FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

// The temporary output file, removed by the console control handler when the run is
// interrupted. The handler runs on a thread of its own.
SRWLOCK g_pending_lock = SRWLOCK_INIT;
std::string g_pending_temp;

BOOL WINAPI OnControlEvent(DWORD) {
  AcquireSRWLockExclusive(&g_pending_lock);
  if (!g_pending_temp.empty()) DeleteFileA(g_pending_temp.c_str());
  ReleaseSRWLockExclusive(&g_pending_lock);
  return FALSE;  // go on to the default handling, which ends the process
}

void SetPendingTemp(const std::string& name) {
  AcquireSRWLockExclusive(&g_pending_lock);
  g_pending_temp = name;
  ReleaseSRWLockExclusive(&g_pending_lock);
}

std::size_t LastSeparator(const std::string& path) {
  return path.find_last_of("\\/:");
}

std::string BaseName(const std::string& path) {
  const std::size_t at = LastSeparator(path);
  return at == std::string::npos ? path : path.substr(at + 1);
}

// The directory part of a path, with its separator, or empty for the current directory.
std::string DirPrefix(const std::string& path) {
  const std::size_t at = LastSeparator(path);
  return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

bool HasWildcard(const std::string& name) {
  return name.find_first_of("*?") != std::string::npos;
}

}  // namespace

void StartProcess(int, char**) {
  SetConsoleCtrlHandler(OnControlEvent, TRUE);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
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

void WipeMemory(void* bytes, std::size_t n) {
  SecureZeroMemory(bytes, n);
}

void ExitProcess(int status) {
  ::ExitProcess(static_cast<UINT>(status));
}

bool StdoutIsInteractive() {
  return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR;
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

bool FileExists(const std::string& name) {
  if (name.empty() || HasWildcard(name)) return false;
  const DWORD attributes = GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

FileHandle OpenInputExclusive(const std::string& name) {
  const HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kNoFile;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return kNoFile;
  }
  return FromHandle(file);
}

bool CreateOutput(const std::string& name, FileHandle input, OutputFile* out) {
  if (name.empty() || HasWildcard(name)) return false;
  const DWORD attributes = GetFileAttributesA(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    // An existing file: it must be a plain disk file and not the input. The input is held
    // with share mode 0, so any open that asks for data access fails on it; this one asks for
    // none, to compare identities.
    const HANDLE existing =
        CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION a = {}, b = {};
    const bool disk = GetFileType(existing) == FILE_TYPE_DISK;
    const bool same = GetFileInformationByHandle(existing, &a) &&
                      GetFileInformationByHandle(ToHandle(input), &b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                      a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(existing);
    if (!disk || same) return false;
  } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
    return false;
  }
  // A fresh name beside the output. Share mode allows only deletion, so that an interrupted
  // run can remove the file while it is still open.
  const std::string prefix = DirPrefix(name) + "." + BaseName(name) + ".tarn-";
  const DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
  for (DWORD attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    const DWORD value = (seed + attempt * 7919u) & 0xFFFFFFu;
    for (int i = 5; i >= 0; --i) suffix[5 - i] = "0123456789abcdef"[(value >> (4 * i)) & 0xF];
    suffix[6] = '\0';
    const std::string temp = prefix + suffix;
    const HANDLE file =
        CreateFileA(temp.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      SetPendingTemp(temp);
      out->handle = FromHandle(file);
      out->temp_name = temp;
      out->final_name = name;
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool CommitOutput(OutputFile* out) {
  bool ok = CloseHandle(ToHandle(out->handle)) != 0;
  out->handle = kNoFile;
  ok = ok && MoveFileExA(out->temp_name.c_str(), out->final_name.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
  if (!ok) DeleteFileA(out->temp_name.c_str());
  SetPendingTemp(std::string());
  out->temp_name.clear();
  return ok;
}

void DiscardOutput(OutputFile* out) {
  if (out->handle != kNoFile) CloseHandle(ToHandle(out->handle));
  out->handle = kNoFile;
  if (!out->temp_name.empty()) DeleteFileA(out->temp_name.c_str());
  SetPendingTemp(std::string());
  out->temp_name.clear();
}

std::int64_t ReadAt(FileHandle file, void* buffer, std::size_t n, std::uint64_t offset) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t total = 0;
  while (total < n) {
    const std::uint64_t at = offset + total;
    OVERLAPPED place = {};
    place.Offset = static_cast<DWORD>(at);
    place.OffsetHigh = static_cast<DWORD>(at >> 32);
    const std::size_t left = n - total;
    const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD done = 0;
    if (!ReadFile(ToHandle(file), bytes + total, chunk, &done, &place)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return -1;
    }
    if (done == 0) break;
    total += done;
  }
  return static_cast<std::int64_t>(total);
}

bool WriteAt(FileHandle file, const void* buffer, std::size_t n, std::uint64_t offset) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  while (n > 0) {
    OVERLAPPED place = {};
    place.Offset = static_cast<DWORD>(offset);
    place.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD chunk = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
    DWORD done = 0;
    if (!WriteFile(ToHandle(file), bytes, chunk, &done, &place) || done == 0) return false;
    bytes += done;
    offset += done;
    n -= done;
  }
  return true;
}

std::int64_t FileSize(FileHandle file) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(ToHandle(file), &size)) return -1;
  return size.QuadPart;
}

void AdviseSequential(FileHandle) {}  // asked for when the file is opened

void Close(FileHandle file) {
  if (file != kNoFile) CloseHandle(ToHandle(file));
}

}  // namespace tarn::platform
