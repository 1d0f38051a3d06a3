// What the two POSIX halves of the seam to the operating system share: recording a cause, the
// signals that end a process and the parts of a path. Included only by platform_posix.cpp and the
// programs' process_posix.cpp.
#pragma once

#include <signal.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"

namespace tarn::platform {

// Records the system's error as the cause of a failure; false, for `return Failed();`.
inline bool Failed(int code = errno) {
  SetCause({code, nullptr});
  return false;
}

// Records the seam's own reason as the cause of a refusal.
inline bool Refused(const char* reason) {
  SetCause({0, reason});
  return false;
}

// The catchable signals whose default action ends the process.
// The signals whose default action ends the process and that a handler may catch, but for
// the faults of the process itself (a crash is the sanitizers' and the debugger's to report,
// and on Linux leaves no named file anyway): the listed ones, and the real-time signals.
inline constexpr int kTerminatingSignals[] = {
    SIGINT,    SIGTERM, SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,
    SIGVTALRM, SIGPROF, SIGXCPU, SIGABRT, SIGTRAP, SIGSYS,
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGLOST
    SIGLOST,
#endif
#ifdef SIGEMT
    SIGEMT,
#endif
};

// Calls `each` for every terminating signal.
template <typename Each>
void ForEachTerminatingSignal(Each each) {
  for (int sig : kTerminatingSignals) each(sig);
#ifdef SIGRTMIN
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) each(sig);
#endif
}

inline std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

inline std::string DirName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace tarn::platform
