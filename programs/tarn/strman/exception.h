// The error object raised by the string toolkit and by the console, and reported by the
// program's last-resort handler when nothing catches it.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace tarn {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message, const void* address = nullptr)
      : message_(std::move(message)), address_(address) {}

  // The class name shown in the error report.
  virtual const char* ClassName() const { return "Exception"; }

  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

  // The code that raised the error, for the report's location.
  const void* Address() const { return address_; }

 private:
  std::string message_;
  const void* address_;
};

}  // namespace tarn
