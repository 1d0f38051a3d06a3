// The main sequence: banner, mode switch, words, checks of the input file and the key, the
// key words, the files, and then the encode or the decode pipeline.
#pragma once

#include <string>

#include "app/run_state.h"
#include "strman/strman.h"

namespace tarn::app {

// Finds the mode switch ("/C" before "/D", letter case ignored) in the raw command line and
// returns the mode, with the text from the switch to the end in *tail. When `whole_line` is
// false the search stops in front of the last three words, so that a "/c" or "/d" inside the
// input, output or key is not taken for the switch. kNone when there is no switch.
Mode FindModeSwitch(const std::string& command_line, bool whole_line, std::string* tail);

// The characters a key may hold: the digits, A to F and a to f.
const ByteSet& KeyDigits();

// Runs the whole sequence and returns the exit status.
int RunMainSequence(RunState& state);

}  // namespace tarn::app
