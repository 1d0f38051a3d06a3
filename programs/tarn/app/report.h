// The last-resort report of an error that no code caught.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarn::app {

// "Exception <class> in module <module> at <offset>." CR LF, the message, a "." when the
// message is not empty and does not end in one, CR LF; cut to 1023 characters; then one more
// CR LF, so that the report ends in an empty line. The offset is 8 uppercase hex digits.
std::string FormatReport(std::string_view class_name, std::string_view module, std::uint32_t offset,
                         std::string_view message);

}  // namespace tarn::app
