// Everything one run of the tool knows, in one place: the command line and its words, the
// mode, the open files, the key words, the container header and the console.
#pragma once

#include <optional>
#include <string>

#include "app/console.h"
#include "app/key_schedule.h"
#include "codec/codec.h"
#include "core/core.h"
#include "platform/platform.h"
#include "platform/secret.h"

namespace tarn::app {

enum class Mode { kNone = 0, kEncode = 1, kDecode = 2 };

// Exit statuses: 0 only for a run that ends with "Successfully.".
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // an "Error: " line or the error report
inline constexpr int kExitUsage = 2;    // the usage text

struct RunState {
  explicit RunState(bool interactive_console, Console::Sink sink)
      : console(interactive_console, sink) {}

  Console console;
  std::string command_line;  // the raw command line
  std::string tail;          // the command line from the mode switch on
  Mode mode = Mode::kNone;
  std::string input_name, output_name, key_text;
  codec::Files files;  // the input, measured once when it is opened, and the output
  std::optional<platform::Secret> key_words;  // once the key is known; memory may run out
  tarnc_header header{};

  cipher::KeyWords& key() { return key_words->As<cipher::KeyWords>(); }

  // Overwrites the key and every text that holds it, so that they do not outlive the run in
  // memory.
  void WipeKey() {
    for (std::string* text : {&command_line, &tail, &key_text}) {
      platform::WipeMemory(text->data(), text->size());
      text->clear();
    }
    key_words.reset();
  }

  // Closes the input and removes an unfinished output. Safe on every path; the files' own
  // destructors do the same when the run state goes.
  void ReleaseFiles() {
    files.output.Discard();
    files.input.Close();
  }
};

}  // namespace tarn::app
