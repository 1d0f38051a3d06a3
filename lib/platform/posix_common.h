// What the two halves of the POSIX platform seam share: the signals that end a process and the
// parts of a path. Included only by platform_posix.cpp and process_posix.cpp.
#pragma once

#include <signal.h>

#include <string>

namespace tarn::platform {

// The catchable signals whose default action ends the process.
inline constexpr int kTerminatingSignals[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGUSR1,
                                              SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU};

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
