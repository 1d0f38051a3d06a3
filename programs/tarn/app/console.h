// Console output of the tool: lines end in CR LF on every platform, and output goes through a
// 128-byte buffer that is written out after every write when the standard output is an
// interactive terminal (so a step's announcement is visible while it runs), and otherwise
// when it fills and at the end. The bytes are the same either way.
#pragma once

#include <cstddef>
#include <string_view>

#include "strman/exception.h"

namespace tarn::app {

// A console write that failed. The run ends through the error report.
class EInOutError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EInOutError"; }
};

class Console {
 public:
  // Writes n bytes; returns 0 or the system's error code.
  using Sink = int (*)(const char* data, std::size_t n);

  Console(bool interactive, Sink sink);

  // Writes the text and a line break.
  void Print(std::string_view text);
  // Writes the text without a line break, so that the step's result completes the line.
  void Show(std::string_view text);
  // Writes out what the buffer holds.
  void Flush();
  // Forgets what the buffer holds (after a failed write, so that it is not tried again).
  void Discard() { used_ = 0; }

 private:
  void Write(std::string_view text);
  void Drain();

  static constexpr std::size_t kBufferSize = 128;
  char buffer_[kBufferSize] = {};
  std::size_t used_ = 0;
  bool interactive_;
  Sink sink_;
};

}  // namespace tarn::app
