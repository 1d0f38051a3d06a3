// Win32 implementation of the platform seam: files and memory.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winternl.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/streams_common.h"
#include "platform/win32_common.h"

namespace tarn::platform {
namespace {

// How much of `n` bytes one ReadFile or WriteFile is asked to move: at most `most`.
DWORD ChunkOf(std::size_t n, DWORD most) {
  return n > most ? most : static_cast<DWORD>(n);
}

HANDLE ToHandle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}
FileHandle FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

// Held while an unfinished output is between states: being created and marked for deletion,
// or unmarked and given its name. RemovePendingOutputs waits for it, so that a process ending
// on a console event never ends inside such a step and leaves a file behind.
SRWLOCK g_output_lock = SRWLOCK_INIT;

class OutputLock {
 public:
  OutputLock() { AcquireSRWLockExclusive(&g_output_lock); }
  ~OutputLock() { ReleaseSRWLockExclusive(&g_output_lock); }
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;
};

// Marks an open file to be deleted when its last handle closes, however the process ends; or
// takes the mark away.
bool MarkForDeletion(HANDLE file, bool mark) {
  FILE_DISPOSITION_INFO info = {};
  info.DeleteFile = mark ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof info) != 0;
}

// A text of the given code page (the system's ANSI one for names from the programs) in UTF-16.
std::wstring Widen(const std::string& text, UINT code_page = CP_ACP) {
  if (text.empty()) return std::wstring();
  const int n =
      MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

// The absolute form of a path, in the long form that is not limited to MAX_PATH.
std::wstring LongFullPath(const std::string& name) {
  const std::wstring wide = Widen(name);
  const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return std::wstring();
  std::wstring full(n, L'\0');
  const DWORD got = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  if (got == 0 || got >= n) return std::wstring();
  full.resize(got);
  if (full.rfind(L"\\\\", 0) == 0) {
    // Already a long path, or a network share.
    return full.rfind(L"\\\\?\\", 0) == 0 ? full : L"\\\\?\\UNC\\" + full.substr(2);
  }
  return L"\\\\?\\" + full;
}

// A random name for a hidden file: ".tarn-unfinished-" and 16 letters or digits, the pattern of
// the POSIX half.
std::wstring HiddenName() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  std::uint64_t mix = static_cast<std::uint64_t>(now.QuadPart) * 0x9E3779B97F4A7C15ull ^
                      (static_cast<std::uint64_t>(GetCurrentProcessId()) << 20) ^
                      static_cast<std::uint64_t>(GetCurrentThreadId());
  std::wstring name = L".tarn-unfinished-";
  for (int i = 0; i < 16; ++i) {
    mix = mix * 6364136223846793005ull + 1442695040888963407ull;
    name += L"abcdefghijklmnopqrstuvwxyz0123456789"[(mix >> 33) % 36];
  }
  return name;
}

}  // namespace

void ProtectSecret(const void* bytes, std::size_t n) {
  if (n > 0) VirtualLock(const_cast<void*>(bytes), n);
}

bool CpuHasArmCrc32() {
#if defined(_M_ARM64) || defined(__aarch64__)
  return IsProcessorFeaturePresent(PF_ARM_V8_CRC32_INSTRUCTIONS_AVAILABLE) != 0;
#else
  return false;
#endif
}

void WipeMemory(void* bytes, std::size_t n) {
  SecureZeroMemory(bytes, n);
}

void* AllocateSecretPages(std::size_t n) {
  void* pages = VirtualAlloc(nullptr, n != 0 ? n : 1, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (pages != nullptr) ProtectSecret(pages, n != 0 ? n : 1);
  return pages;
}

void FreeSecretPages(void* pages, std::size_t n) {
  if (pages == nullptr) return;
  if (n == 0) n = 1;
  SecureZeroMemory(pages, n);
  (void)VirtualUnlock(pages, n);
  (void)VirtualFree(pages, 0, MEM_RELEASE);
}

void RemovePendingOutputs() {
  // Unfinished outputs are marked for deletion and go with the process; wait only for one that
  // is between states.
  AcquireSRWLockExclusive(&g_output_lock);
  ReleaseSRWLockExclusive(&g_output_lock);
}

namespace {

bool StampOf(HANDLE file, FileStamp* stamp) {
  LARGE_INTEGER size;
  FILE_BASIC_INFO basic = {};
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0 ||
      !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
    return false;
  }
  *stamp = FileStamp{static_cast<std::uint64_t>(size.QuadPart), basic.LastWriteTime.QuadPart,
                     basic.ChangeTime.QuadPart};
  return true;
}

bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x = {}, y = {};
  return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
         x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

// Gives an open file the name `leaf` in the directory open as `dir`, replacing what is there.
// The system's own call takes a name relative to a directory's handle; the Win32 wrapper would
// make the name absolute from the current directory first.
bool RenameByHandle(HANDLE file, HANDLE dir, const std::wstring& leaf) {
  using SetInformation = LONG(WINAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int);
  using StatusToError = ULONG(WINAPI*)(LONG);
  static const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  static const auto set = reinterpret_cast<SetInformation>(
      reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "NtSetInformationFile")));
  static const auto to_error = reinterpret_cast<StatusToError>(
      reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
  if (set == nullptr || to_error == nullptr) return Failed(ERROR_CALL_NOT_IMPLEMENTED);
  // FILE_RENAME_INFORMATION, whose layout FILE_RENAME_INFO shares.
  const std::size_t bytes = sizeof(FILE_RENAME_INFO) + leaf.size() * sizeof(WCHAR);
  std::string storage(bytes, '\0');
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(storage.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = dir;
  info->FileNameLength = static_cast<DWORD>(leaf.size() * sizeof(WCHAR));
  std::memcpy(info->FileName, leaf.c_str(), (leaf.size() + 1) * sizeof(WCHAR));
  IO_STATUS_BLOCK io = {};
  constexpr int kFileRenameInformation = 10;
  const LONG status = set(file, &io, info, static_cast<ULONG>(bytes), kFileRenameInformation);
  if (status < 0) return Failed(to_error(status));
  return true;
}

// The path an open file is reached by once every link on the way is followed, in the long
// form; empty when the system cannot tell.
std::wstring FinalPath(HANDLE file) {
  const DWORD n = GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED);
  if (n == 0) return std::wstring();
  std::wstring path(n, L'\0');
  const DWORD got = GetFinalPathNameByHandleW(file, path.data(), n, FILE_NAME_NORMALIZED);
  if (got == 0 || got >= n) return std::wstring();
  path.resize(got);
  return path;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), n,
                      nullptr, nullptr);
  return narrow;
}

}  // namespace

std::uint32_t ProcessUmask() {
  return 0;
}

std::string ErrorText(int system_error) {
  char text[512];
  const DWORD n =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(system_error), 0, text, sizeof text, nullptr);
  std::string result(text, n);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                             result.back() == '.' || result.back() == ' ')) {
    result.pop_back();
  }
  return result.empty() ? "error " + std::to_string(system_error) : result;
}

Status InputFile::Open(const std::string& name) {
  Close();
  if (name.empty() || HasWildcard(name)) return Failed(ERROR_FILE_NOT_FOUND);
  // Other readers are welcome; a writer is not, before or during the run.
  const HANDLE file =
      CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_SHARING_VIOLATION ? Refused("held by a writer") : Failed();
  }
  if (GetFileType(file) != FILE_TYPE_DISK || !StampOf(file, &stamp_)) {
    CloseHandle(file);
    return Refused("not a regular file");
  }
  handle_ = FromHandle(file);
  return true;
}

bool InputFile::Unchanged() const {
  FileStamp now;
  return handle_ != kNoFile && StampOf(ToHandle(handle_), &now) && now == stamp_;
}

void InputFile::Close() {
  if (handle_ != kNoFile) CloseHandle(ToHandle(handle_));
  handle_ = kNoFile;
}

Status OutputFile::Create(const std::string& name, FileHandle input) {
  Discard();
  if (name.empty() || HasWildcard(name)) return Failed(ERROR_INVALID_NAME);
  std::wstring full = LongFullPath(name);
  DWORD attributes = GetFileAttributesW(full.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    // A symbolic link: the output is the file it leads to, which is replaced, not the link.
    const HANDLE target = CreateFileW(full.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (target == INVALID_HANDLE_VALUE) return Failed();
    full = FinalPath(target);
    CloseHandle(target);
    if (full.empty()) return Failed();
    attributes = GetFileAttributesW(full.c_str());
  }
  const std::size_t slash = full.find_last_of(L'\\');
  if (full.empty() || slash == std::wstring::npos || slash + 1 == full.size()) {
    return Failed(ERROR_INVALID_NAME);
  }
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Refused("a directory");
    // An existing file is replaced only when it could be written in place: not read-only,
    // not held by another process, a plain disk file, and not the input.
    const HANDLE existing = CreateFileW(full.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing == INVALID_HANDLE_VALUE) return Failed();
    const bool disk = GetFileType(existing) == FILE_TYPE_DISK;
    const bool same = input != kNoFile && SameFile(existing, ToHandle(input));
    CloseHandle(existing);
    if (!disk) return Refused("not a regular file");
    if (same) return Refused("is the input itself");
    replaces_ = true;
    mode_ = attributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
    return Failed();
  }
  const std::wstring dir = full.substr(0, slash + 1);
  // The directory is held from here to the commit, which publishes into it whatever becomes of
  // its path meanwhile; others may still rename or remove it.
  const HANDLE folder = CreateFileW(dir.c_str(), FILE_TRAVERSE | FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return Failed();
  OutputLock lock;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring temp = dir + HiddenName();
    // Others may not even read it: it holds unverified bytes until it is published.
    const HANDLE file =
        CreateFileW(temp.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) continue;
      Failed();
      CloseHandle(folder);
      return false;
    }
    if (!MarkForDeletion(file, true)) {
      Failed();
      CloseHandle(file);
      DeleteFileW(temp.c_str());
      CloseHandle(folder);
      return false;
    }
    handle_ = FromHandle(file);
    dir_ = FromHandle(folder);
    leaf_ = Utf8(full.substr(slash + 1));
    return true;
  }
  CloseHandle(folder);
  return Failed(ERROR_FILE_EXISTS);
}

Status OutputFile::Commit() {
  if (handle_ == kNoFile) return false;
  const HANDLE file = ToHandle(handle_);
  FILE_BASIC_INFO basic = {};  // zero times: left as they are
  basic.FileAttributes = replaces_ && mode_ != 0 ? mode_ : FILE_ATTRIBUTE_NORMAL;
  bool ok = SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0 &&
            FlushFileBuffers(file) != 0;
  if (ok) {
    OutputLock lock;
    ok = MarkForDeletion(file, false);
    ok = ok && RenameByHandle(file, ToHandle(dir_), Widen(leaf_, CP_UTF8)) &&
         FlushFileBuffers(file) != 0;
    if (!ok) MarkForDeletion(file, true);
  }
  if (!ok) {
    Failed();
    Discard();
    return false;
  }
  CloseHandle(file);
  handle_ = kNoFile;
  Discard();  // the directory's handle and the names
  return true;
}

void OutputFile::Discard() {
  // The file is marked for deletion: closing its handle removes it.
  if (handle_ != kNoFile) CloseHandle(ToHandle(handle_));
  if (dir_ != kNoFile) CloseHandle(ToHandle(dir_));
  handle_ = dir_ = kNoFile;
  leaf_.clear();
  replaces_ = false;
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
    const DWORD chunk = ChunkOf(left, 0x40000000);
    DWORD done = 0;
    if (!ReadFile(ToHandle(file), bytes + total, chunk, &done, &place)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return Failed(), -1;
    }
    if (done == 0) break;
    total += done;
  }
  return static_cast<std::int64_t>(total);
}

Status WriteAt(FileHandle file, const void* buffer, std::size_t n, std::uint64_t offset) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  while (n > 0) {
    OVERLAPPED place = {};
    place.Offset = static_cast<DWORD>(offset);
    place.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD chunk = ChunkOf(n, 0x40000000);
    DWORD done = 0;
    if (!WriteFile(ToHandle(file), bytes, chunk, &done, &place)) return Failed();
    if (done == 0) return Failed(ERROR_DISK_FULL);
    bytes += done;
    offset += done;
    n -= done;
  }
  return true;
}

// The helper thread runs on the stack the system gives it, wiped as it ends, and is not moved
// off its maker's processor: the delay that works around was seen on Linux only, and could not
// be measured under the Windows emulation available here.
namespace {

struct SecretStart {
  void (*fn)(void*);
  void* arg;
};

DWORD WINAPI RunSecret(void* start) {
  const SecretStart s = *static_cast<SecretStart*>(start);
  delete static_cast<SecretStart*>(start);
  s.fn(s.arg);
  WipeStackBelow();  // the system owns this stack: what the work left on it goes at least
  return 0;
}

}  // namespace

bool SecretThread::Start(void (*fn)(void*), void* arg) {
  Join();
  auto* start = new (std::nothrow) SecretStart{fn, arg};
  if (start == nullptr) return false;
  const HANDLE thread = CreateThread(nullptr, 0, RunSecret, start, 0, nullptr);
  if (thread == nullptr) {
    delete start;
    return false;
  }
  thread_ = thread;
  return true;
}

void SecretThread::Join() {
  if (thread_ == nullptr) return;
  WaitForSingleObject(static_cast<HANDLE>(thread_), INFINITE);
  CloseHandle(static_cast<HANDLE>(thread_));
  thread_ = nullptr;
}

__attribute__((noinline)) void WipeStackBelow() {
  unsigned char area[64 << 10];
  SecureZeroMemory(area, sizeof area);
  __asm__ volatile("" : : "r"(area) : "memory");
}

void AdviseSequential(FileHandle) {}  // asked for when the file is opened

void Close(FileHandle file) {
  if (file != kNoFile) CloseHandle(ToHandle(file));
}

FileHandle CreateTemporaryFile() {
  char folder[MAX_PATH + 1], name[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof folder, folder);
  if (n == 0 || n > MAX_PATH || GetTempFileNameA(folder, "trn", 0, name) == 0) {
    Failed();
    return kNoFile;
  }
  // Deleted by the system when its last handle closes, the process's death included.
  const HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    Failed();
    DeleteFileA(name);
    return kNoFile;
  }
  return reinterpret_cast<FileHandle>(file);
}

Status Rewind(FileHandle file) {
  LARGE_INTEGER start = {};
  return SetFilePointerEx(ToHandle(file), start, nullptr, FILE_BEGIN) ? Status(true)
                                                                      : Status(Failed());
}

std::int64_t ReadSome(FileHandle stream, void* buffer, std::size_t n) {
  DWORD got = 0;
  const DWORD chunk = ChunkOf(n, 0x10000000);
  if (!ReadFile(ToHandle(stream), buffer, chunk, &got, nullptr)) {
    if (GetLastError() == ERROR_BROKEN_PIPE) return 0;  // a pipe's writer closed: its end
    return Failed(), -1;
  }
  return got;
}

bool RegularFileAt(FileHandle file, std::uint64_t* size, std::uint64_t* position) {
  const DWORD type = GetFileType(ToHandle(file));
  if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) return Failed();
  LARGE_INTEGER bytes, at, zero = {};
  if (type != FILE_TYPE_DISK || !GetFileSizeEx(ToHandle(file), &bytes) ||
      !SetFilePointerEx(ToHandle(file), zero, &at, FILE_CURRENT)) {
    return false;
  }
  *size = static_cast<std::uint64_t>(bytes.QuadPart);
  *position = static_cast<std::uint64_t>(at.QuadPart);
  return true;
}

Status WriteAll(FileHandle stream, const void* bytes, std::size_t n) {
  const auto* at = static_cast<const unsigned char*>(bytes);
  while (n > 0) {
    DWORD wrote = 0;
    const DWORD chunk = ChunkOf(n, 0x10000000);
    if (!WriteFile(ToHandle(stream), at, chunk, &wrote, nullptr)) return Failed();
    if (wrote == 0) return Failed(ERROR_WRITE_FAULT);
    at += wrote;
    n -= wrote;
  }
  return true;
}

Status SpoolStream(FileHandle stream, FileHandle file, std::uint64_t limit, std::uint64_t* size) {
  return SpoolByReads(stream, file, limit, size);
}

Status CopyToStream(FileHandle file, std::uint64_t n, FileHandle stream) {
  return CopyByReads(file, 0, n, stream);
}

}  // namespace tarn::platform
