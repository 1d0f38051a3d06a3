// Base-value parsing and the composition of the toolkit's multi-line error messages.
#include <cstdint>
#include <exception>

#include "strman/strman.h"

namespace tarn {
namespace {

const std::string kCrLf = "\r\n";
const std::string kFuncLabel = "Func: ";
const std::string kClassLabel = "Class: ";

// The message of the error whose handler is running, or empty outside handlers.
std::string HandledMessage() {
  const std::exception_ptr handled = std::current_exception();
  if (!handled) return std::string();
  try {
    std::rethrow_exception(handled);
  } catch (const Exception& e) {
    return e.Message();  // all of it: a message may hold NUL bytes, which what() stops at
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
  }
  return std::string();
}

// Takes a handled line that starts with `label` into `list`: answers false when the line is
// not such a line. A value already found in the list, without regard to case, is not added
// again; an empty value leaves the list as it is.
bool MergeLabelLine(const std::string& label, std::string* list, const std::string& line) {
  const TStringManager& sm = *StringManager;
  if (!sm.StartsWithWords(label, line, false)) return false;
  const std::string value = sm.NormalizeBlanks(sm.TextAfter(label, line, 1), false);
  if (value.empty()) return true;
  if (list->empty()) {
    *list = value;
  } else if (sm.FindTextFrom(value, *list, 1) == 0) {
    *list += "," + value;
  }
  return true;
}

// Adds `name` to `list` unless already there, and puts the label in front of a list that is
// not empty.
void AddToLabelList(const std::string& label, std::string* list, const std::string& name) {
  const TStringManager& sm = *StringManager;
  const std::string value = sm.NormalizeBlanks(name, false);
  if (value.empty()) {
    if (!list->empty()) *list = label + *list;
  } else if (list->empty()) {
    *list = label + value;
  } else if (sm.FindTextFrom(value, *list, 1) != 0) {
    *list = label + *list;
  } else {
    *list = label + *list + "," + value;
  }
}

std::string WithLineBreak(const std::string& text) {
  return text.empty() ? text : text + kCrLf;
}

[[noreturn]] void RaiseComposedAt(const std::string& msg, const std::string& func_name,
                                  const TObject* obj, const void* address) {
  const TStringManager& sm = *StringManager;
  std::string functions, classes, carried;
  std::string rest = HandledMessage();
  while (!rest.empty()) {
    const std::string line = sm.TextBefore(kCrLf, rest, 1);
    if (!sm.NormalizeBlanks(line, false).empty() && !MergeLabelLine(kFuncLabel, &functions, line) &&
        !MergeLabelLine(kClassLabel, &classes, line)) {
      std::string joined = carried;
      joined += kCrLf;
      joined += line;
      carried = sm.StripPrefix(kCrLf, joined, false);
    }
    rest = sm.TextAfter(kCrLf, rest, 1);
  }
  AddToLabelList(kFuncLabel, &functions, func_name);
  AddToLabelList(kClassLabel, &classes, obj != nullptr ? obj->ClassName() : std::string());
  throw Exception(WithLineBreak(msg) + WithLineBreak(carried) + WithLineBreak(functions) + classes,
                  address);
}

}  // namespace

// Not inlined, so that the return address names the code that raised the error.
[[gnu::noinline]] void RaiseComposed(const std::string& msg, const std::string& func_name,
                                     const TObject* obj) {
  RaiseComposedAt(msg, func_name, obj, __builtin_return_address(0));
}

[[gnu::noinline]] void TStringManager::RaiseError(const std::string& msg,
                                                  const std::string& func_name) const {
  RaiseComposedAt(msg, func_name, this, __builtin_return_address(0));
}

std::int64_t TStringManager::BaseVal(const std::string& s, const std::string& key) const {
  try {
    if (key.empty()) RaiseError("No Key", "");
    const auto radix = static_cast<std::uint64_t>(key.size());
    std::uint64_t value = 0;
    for (const char c : s) {
      const std::int32_t p = FindCharFrom(c, key, 1);
      if (p == 0) {
        RaiseError(std::string(1, c) + " missing in \"" + s + "\" - not found in Key", "");
      }
      value = value * radix + static_cast<std::uint64_t>(p - 1);
    }
    return static_cast<std::int64_t>(value);
  } catch (...) {
    RaiseComposed("Key: " + key, "BaseVal", nullptr);
  }
}

}  // namespace tarn
