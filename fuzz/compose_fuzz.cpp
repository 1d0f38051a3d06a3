// Fuzz target: BaseVal on random digits and alphabets, and the error composer on random
// messages and handled messages. Values must match a model; composed texts must be well
// formed and no longer than what went into them.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "strman/strman.h"

namespace {

using namespace tarn;

void CheckBaseVal(const std::string& digits, const std::string& key) {
  std::uint64_t value = 0;
  std::string expected_error;
  if (key.empty()) {
    expected_error = "Key: \r\nNo Key\r\nFunc: BaseVal\r\nClass: TStringManager";
  } else {
    for (const char c : digits) {
      const std::size_t p = key.find(c);
      if (p == std::string::npos) {
        expected_error = "Key: " + key + "\r\n" + std::string(1, c) + " missing in \"" + digits +
                         "\" - not found in Key\r\nFunc: BaseVal\r\nClass: TStringManager";
        break;
      }
      value = value * key.size() + p;
    }
  }
  try {
    const std::int64_t got = StringManager->BaseVal(digits, key);
    Check(expected_error.empty() && static_cast<std::uint64_t>(got) == value);
  } catch (const Exception& e) {
    Check(e.Message() == expected_error);
  }
}

void CheckCompose(const std::string& handled, const std::string& msg, const std::string& func,
                  bool with_object) {
  std::string text;
  try {
    try {
      throw Exception(handled);
    } catch (...) {
      RaiseComposed(msg, func, with_object ? StringManager : nullptr);
    }
  } catch (const Exception& e) {
    text = e.Message();
  }
  // Nothing is invented: the text is made of what went in, labels and line breaks.
  Check(text.size() <= msg.size() + handled.size() + func.size() + 64 + 2 * handled.size() / 2);
  // After the new message come carried lines, at most one function line and at most one
  // class line, the class line last and without a line break behind it.
  const std::string rest = msg.empty() ? text : text.substr(msg.size() + 2);
  int func_lines = 0, class_lines = 0;
  std::size_t at = 0;
  while (at < rest.size()) {
    std::size_t end = rest.find("\r\n", at);
    const bool last = end == std::string::npos;
    if (last) end = rest.size();
    const std::string line = rest.substr(at, end - at);
    Check(!StringManager->NormalizeBlanks(line, false).empty());
    if (line.rfind("Func: ", 0) == 0) ++func_lines;
    if (line.rfind("Class: ", 0) == 0) {
      ++class_lines;
      Check(last);
    } else {
      Check(!last);
    }
    at = end + 2;
  }
  Check(func_lines <= 1 && class_lines <= 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool started = (StrManStartup(), true);
  (void)started;
  FuzzedDataProvider in(data, size);
  const std::string key = in.ConsumeRandomLengthString(20);
  // Digits without line breaks, so that the inner message stays one line and the composed
  // text can be predicted exactly.
  std::string digits = in.ConsumeRandomLengthString(24);
  std::replace(digits.begin(), digits.end(), '\r', 'r');
  std::replace(digits.begin(), digits.end(), '\n', 'n');
  CheckBaseVal(digits, key);
  const std::string msg = in.ConsumeRandomLengthString(40);
  const std::string func = in.ConsumeRandomLengthString(12);
  const bool with_object = in.ConsumeBool();
  CheckCompose(in.ConsumeRemainingBytesAsString(), msg, func, with_object);
  return 0;
}
