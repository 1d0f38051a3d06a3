// Test helper for the Windows build: starts tarn.exe with an exact command line, as a shell or
// another program would, and returns its exit status. Running a program through Wine from
// Linux would otherwise build the command line from an argument list, quoting it.
//
//   TARN_EXE      the program to start
//   TARN_CMDLINE  the exact command line it receives (program path and quoting included)
//   TARN_HOLD     optional: a file this helper holds open, share mode 0, while tarn runs
//   TARN_PEEK     optional: a file pattern; once a file matches it, the helper reads tarn's
//                 command line from tarn's process parameters, as process listings do, and
//                 writes it to the standard error as "peek: ..." on a line of its own
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The command line of another process, read from its process parameters.
std::string CommandLineOf(HANDLE process) {
  PROCESS_BASIC_INFORMATION basic = {};
  if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) !=
      0) {
    return "(no process information)";
  }
  PEB peb = {};
  RTL_USER_PROCESS_PARAMETERS parameters = {};
  if (!ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, nullptr) ||
      !ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters, nullptr)) {
    return "(unreadable)";
  }
  std::wstring wide(parameters.CommandLine.Length / sizeof(WCHAR), L'\0');
  if (!ReadProcessMemory(process, parameters.CommandLine.Buffer, wide.data(),
                         parameters.CommandLine.Length, nullptr)) {
    return "(unreadable)";
  }
  std::string narrow;
  for (const wchar_t c : wide) narrow += c < 0x80 ? static_cast<char>(c) : '?';
  return narrow;
}

void PeekWhenPresent(HANDLE process, const char* pattern) {
  for (int waited = 0; waited < 60000; waited += 1) {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
      FindClose(search);
      std::fprintf(stderr, "peek: %s\n", CommandLineOf(process).c_str());
      return;
    }
    if (WaitForSingleObject(process, 1) == WAIT_OBJECT_0) break;
  }
  std::fputs("peek: (nothing appeared)\n", stderr);
}

}  // namespace

int main() {
  const char* exe = std::getenv("TARN_EXE");
  const char* line = std::getenv("TARN_CMDLINE");
  if (exe == nullptr || line == nullptr) {
    std::fputs("spawn: TARN_EXE and TARN_CMDLINE must be set\n", stderr);
    return 125;
  }
  HANDLE held = INVALID_HANDLE_VALUE;
  if (const char* hold = std::getenv("TARN_HOLD"); hold != nullptr) {
    held =
        CreateFileA(hold, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 124;
  }
  std::string command_line = line;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(exe, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::fprintf(stderr, "spawn: CreateProcess failed: %lu\n", GetLastError());
    return 126;
  }
  if (const char* peek = std::getenv("TARN_PEEK"); peek != nullptr)
    PeekWhenPresent(process.hProcess, peek);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 127;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  return static_cast<int>(status);
}
