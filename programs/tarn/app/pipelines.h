// The encode and decode pipelines. Both are handed the open input and the output under
// construction, print their steps, and release both files on every path. The output reaches
// its name only when the run ends with "Successfully.".
#pragma once

#include "app/run_state.h"

namespace tarn::app {

// The plain image into a container. Returns the exit status.
int RunEncode(RunState& state);

// A container checked and turned back into the plain image. Returns the exit status.
int RunDecode(RunState& state);

}  // namespace tarn::app
