#include "app/console.h"

#include <cstring>
#include <string>

namespace tarn::app {
namespace {

// Raised from here so that the report's location names the console's write.
[[noreturn, gnu::noinline]] void RaiseIoError(int code) {
  throw EInOutError("I/O error " + std::to_string(code), __builtin_return_address(0));
}

}  // namespace

Console::Console(bool interactive, Sink sink) : interactive_(interactive), sink_(sink) {}

void Console::Print(std::string_view text) {
  Write(text);
  Write("\r\n");
  if (interactive_) Drain();
}

void Console::Show(std::string_view text) {
  Write(text);
  if (interactive_) Drain();
}

void Console::Flush() {
  Drain();
}

void Console::Write(std::string_view text) {
  while (!text.empty()) {
    if (used_ == kBufferSize) Drain();
    const std::size_t n = std::min(kBufferSize - used_, text.size());
    std::memcpy(buffer_ + used_, text.data(), n);
    used_ += n;
    text.remove_prefix(n);
  }
}

void Console::Drain() {
  if (used_ == 0) return;
  const std::size_t n = used_;
  used_ = 0;
  if (const int code = sink_(buffer_, n); code != 0) RaiseIoError(code);
}

}  // namespace tarn::app
