#include "app/front_end.h"

#include "app/pipelines.h"
#include "common/process.h"
#include "strman/strman.h"

namespace tarn::app {
namespace {

const ByteSet kWordDelimiters = ByteSet::Of({' '});

int Usage(Console& console) {
  console.Print("Usage: tarn {/C|/D} input.file output.file key_32");
  console.Print("where: /C - encrypting mode");
  console.Print("       /D - decrypting mode");
  return kExitUsage;
}

int Fail(Console& console, const char* line) {
  console.Print(line);
  return kExitFailure;
}

// Position (from 1) where word n of S begins over the word delimiters; 0 when there is none.
std::int32_t WordStart(const std::string& s, std::int32_t n) {
  std::int32_t word = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const bool starts = !kWordDelimiters.Contains(static_cast<unsigned char>(s[i])) &&
                        (i == 0 || kWordDelimiters.Contains(static_cast<unsigned char>(s[i - 1])));
    if (starts && ++word == n) return static_cast<std::int32_t>(i + 1);
  }
  return 0;
}

}  // namespace

const ByteSet& KeyDigits() {
  static const ByteSet digits = [] {
    ByteSet set;
    set.AddRange('0', '9');
    set.AddRange('A', 'F');
    set.AddRange('a', 'f');
    return set;
  }();
  return digits;
}

Mode FindModeSwitch(const std::string& command_line, bool whole_line, std::string* tail) {
  const TStringManager& sm = *StringManager;
  const std::int32_t words = sm.CountWords(command_line, kWordDelimiters);
  std::string searched = whole_line ? command_line
                         : words < 3
                             ? std::string()
                             : sm.LeftChars(command_line, WordStart(command_line, words - 2) - 1);
  for (const auto& [text, mode] :
       {std::pair{"/C", Mode::kEncode}, std::pair{"/D", Mode::kDecode}}) {
    if (const std::int32_t p = sm.FindTextFrom(text, searched, 1); p != 0) {
      *tail = sm.RestFrom(command_line, p);
      platform::WipeMemory(searched.data(), searched.size());
      return mode;
    }
  }
  platform::WipeMemory(searched.data(), searched.size());  // it may hold the key's digits
  return Mode::kNone;
}

int RunMainSequence(RunState& state) {
  Console& console = state.console;
  const TStringManager& sm = *StringManager;
  console.Print("VELD firmware coder/decoder v.0.1");
  console.Print("Firmware image containers, 128-bit key. No warranty of any kind.");

  state.command_line = process::RawCommandLine();
  platform::ProtectSecret(state.command_line.data(), state.command_line.size());
  // An argument holding a space would reach the line as two words: never guess which.
  if (!process::ArgumentsSurviveCommandLine()) return Usage(console);
  state.mode =
      FindModeSwitch(state.command_line, process::SwitchSearchCoversWholeLine(), &state.tail);
  if (state.mode == Mode::kNone) return Usage(console);
  platform::ProtectSecret(state.tail.data(), state.tail.size());
  if (sm.CountWords(state.tail, kWordDelimiters) != 4) return Usage(console);
  state.input_name = sm.WordAt(2, state.tail, kWordDelimiters);
  state.output_name = sm.WordAt(3, state.tail, kWordDelimiters);
  state.key_text = sm.WordAt(4, state.tail, kWordDelimiters);
  platform::ProtectSecret(state.key_text.data(), state.key_text.size());
  // The key came on the command line, where process listings show it: from here on they
  // show x's instead.
  process::HideFromProcessListing(state.key_text);

  if (!process::FileExists(state.input_name)) {
    console.Print("Error: file " + state.input_name + " not found!");
    return kExitFailure;
  }
  if (state.key_text.size() != 32) return Fail(console, "Error: incorrect key length!");
  if (!sm.AllInSet(state.key_text, KeyDigits())) return Fail(console, "Error: incorrect key!");
  state.key_words.emplace(platform::Secret::Holding(cipher::SetKey(state.key_text)));

  if (codec::OpenInput(state.files, state.input_name.c_str()) != TARN_OK) {
    return Fail(console, "Error: can't open input file!");
  }
  // The container's sizes are 32-bit: refuse what would not fit before any output exists.
  if (state.mode == Mode::kEncode && codec::CheckImageSize(state.files) != TARN_OK) {
    state.ReleaseFiles();
    return Fail(console, "Error: input file is too large!");
  }
  if (codec::CreateOutput(state.files, state.output_name.c_str()) != TARN_OK) {
    state.ReleaseFiles();
    return Fail(console, "Error: can't create output file!");
  }
  return state.mode == Mode::kEncode ? RunEncode(state) : RunDecode(state);
}

}  // namespace tarn::app
