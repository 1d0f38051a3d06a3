// The cause of the last failing call of the seam, kept per thread, shared by both halves of it.
#include "platform/platform.h"

namespace tarn::platform {
namespace {

thread_local Cause g_cause;

}  // namespace

Cause LastCause() {
  return g_cause;
}

void ClearCause() {
  g_cause = Cause{};
}

void SetCause(const Cause& cause) {
  g_cause = cause;
}

}  // namespace tarn::platform
