// What the two Win32 halves of the seam to the operating system share: recording a cause, and
// names taken literally. Included only by platform_win32.cpp and the programs' process_win32.cpp.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace tarn::platform {

// Records the system's error as the cause of a failure; false, for `return Failed();`.
inline bool Failed(DWORD code = GetLastError()) {
  SetCause({static_cast<int>(code), nullptr});
  return false;
}

// Records the seam's own reason as the cause of a refusal.
inline bool Refused(const char* reason) {
  SetCause({0, reason});
  return false;
}

// Names are taken literally: a wildcard character matches only itself.
inline bool HasWildcard(const std::string& name) {
  return name.find_first_of("*?") != std::string::npos;
}

}  // namespace tarn::platform
