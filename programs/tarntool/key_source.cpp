#include "key_source.h"

#include <cstdlib>

#include "platform/platform.h"
#include "platform/process.h"

namespace tarntool {
namespace {

// More than any key source holds; a larger one is not a key.
constexpr std::size_t kMaxKeyText = 4096;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Overwrites a text that held a key before it is freed.
struct Wiped {
  std::string* text;
  ~Wiped() { tarn::platform::WipeMemory(text->data(), text->size()); }
};

}  // namespace

bool ParseKeyText(std::string text, tarn_key* key) {
  const Wiped wipe{&text};
  std::size_t begin = 0, end = text.size();
  // Editors on Windows begin a UTF-8 file with a byte-order mark.
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) begin = 3;
  while (begin < end && IsBlank(text[begin])) ++begin;
  // Blanks and line endings after the key: any number of empty lines.
  while (end > begin &&
         (IsBlank(text[end - 1]) || text[end - 1] == '\n' || text[end - 1] == '\r')) {
    --end;
  }
  return tarn_key_from_hex(text.data() + begin, end - begin, key) == TARN_OK;
}

bool LoadKey(const KeySource& source, tarn_key* key, std::string* error, std::string* warning) {
  std::string text, name;
  const Wiped wipe{&text};
  if (!source.file.empty()) {
    name = source.file;
    const tarn::platform::SmallFile read = tarn::platform::ReadSmallFile(name, &text, kMaxKeyText);
    if (read.too_large) {
      *error = name + ": not a key (more than 4 KiB)";
      return false;
    }
    if (!read.ok) {
      *error = name + ": cannot read the key file: " + tarn::platform::ErrorText(read.error);
      return false;
    }
    if (read.others_may_read) {
      *warning = name + ": warning: the key file may be read by other users; chmod 600 it";
    }
  } else if (!source.env.empty()) {
    name = "$" + source.env;
    char* value = std::getenv(source.env.c_str());
    if (value == nullptr) {
      *error = name + ": the environment variable is not set";
      return false;
    }
    text = value;
    // The environment's own copy is readable in /proc/PID/environ for as long as the process
    // lives: it is overwritten once read (the variable is then empty).
    tarn::platform::WipeMemory(value, text.size());
  } else {
    name = "descriptor " + std::to_string(source.fd);
    if (source.fd >= 0 && tarn::platform::DescriptorIsTerminal(source.fd)) {
      *error = name +
               ": a terminal, where the key would show as it is typed: give it through "
               "a pipe or a file";
      return false;
    }
    if (source.fd < 0 || !tarn::platform::ReadDescriptor(source.fd, &text, kMaxKeyText)) {
      *error = name + ": cannot read a key from it";
      return false;
    }
  }
  tarn::platform::ProtectSecret(text.data(), text.size());
  if (text.size() > kMaxKeyText || !ParseKeyText(text, key)) {
    *error = name + ": not a key (32 hexadecimal digits expected)";
    return false;
  }
  return true;
}

}  // namespace tarntool
