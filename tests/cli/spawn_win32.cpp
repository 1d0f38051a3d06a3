// Test helper for the Windows build: starts tarn.exe with an exact command line, as a shell or
// another program would, and returns its exit status. Running a program through Wine from
// Linux would otherwise build the command line from an argument list, quoting it.
//
//   TARN_EXE      the program to start
//   TARN_CMDLINE  the exact command line it receives (program path and quoting included)
//   TARN_HOLD     optional: a file this helper holds open, share mode 0, while tarn runs
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

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
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 127;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  return static_cast<int>(status);
}
