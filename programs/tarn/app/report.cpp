#include "app/report.h"

namespace tarn::app {

std::string FormatReport(std::string_view class_name, std::string_view module, std::uint32_t offset,
                         std::string_view message) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string location(8, '0');
  for (int i = 7; i >= 0; --i, offset >>= 4)
    location[static_cast<std::size_t>(i)] = kHex[offset & 0xF];

  std::string text = "Exception ";
  text.append(class_name).append(" in module ").append(module);
  text.append(" at ").append(location).append(".\r\n").append(message);
  if (!message.empty() && message.back() != '.') text += '.';
  text += "\r\n";
  if (text.size() > 1023) text.resize(1023);
  return text + "\r\n";
}

}  // namespace tarn::app
