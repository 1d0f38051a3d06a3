#include "key_source.h"

#include <cstdlib>
#include <cstring>

#include "common/process.h"
#include "platform/platform.h"
#include "platform/secret.h"

namespace tarntool {
namespace {

// More than any key source holds; a larger one is not a key.
constexpr std::size_t kMaxKeyText = TARN_MAX_KEY_TEXT;

}  // namespace

bool LoadText(const KeySource& source, const std::string& what, const char* fd_option,
              tarn::platform::Secret* text, std::string* source_name, std::string* error,
              std::string* warning) {
  std::string& name = *source_name;
  if (!source.file.empty()) {
    name = source.file;
    const tarn::process::SmallFile read = tarn::process::ReadSmallFile(name, text);
    if (read.fifo) {
      *error = name + ": a FIFO, which would wait for a writer: give the " + what + " in a file" +
               (fd_option != nullptr ? std::string(", or through ") + fd_option : "");
      return false;
    }
    if (read.too_large) {
      *error = name + ": not a " + what + " (more than 4 KiB)";
      return false;
    }
    if (!read.ok) {
      *error =
          name + ": cannot read the " + what + " file: " + tarn::platform::ErrorText(read.error);
      return false;
    }
    if (read.others_may_read) {
      *warning = name + ": warning: the " + what + " file may be read by other users; chmod 600 it";
    }
  } else if (!source.env.empty()) {
    name = "$" + source.env;
    char* value = std::getenv(source.env.c_str());
    if (value == nullptr) {
      *error = name + ": the environment variable is not set";
      return false;
    }
    const std::size_t length = std::strlen(value);
    const bool fits = text->Append(value, length);
    // The environment's own copy is readable in /proc/PID/environ for as long as the process
    // lives: it is overwritten once read (the variable is then empty).
    tarn::platform::WipeMemory(value, length);
    if (!fits) {
      *error = name + ": not a " + what + " (more than 4 KiB)";
      return false;
    }
  } else {
    name = "descriptor " + std::to_string(source.fd);
    if (source.fd >= 0 && tarn::process::DescriptorIsTerminal(source.fd)) {
      *error = name + ": a terminal, where the " + what +
               " would show as it is typed: give it "
               "through a pipe or a file";
      return false;
    }
    if (source.fd < 0 || !tarn::process::ReadDescriptor(source.fd, text)) {
      *error = name + ": cannot read the " + what + " from it";
      return false;
    }
  }
  return true;
}

bool LoadKey(const KeySource& source, tarn_key* key, std::string* error, std::string* warning) {
  // Every byte of the key's text goes straight into memory of its own, wiped when it goes.
  tarn::platform::Secret text(kMaxKeyText);
  std::string name;
  if (!LoadText(source, "key", "--key-fd", &text, &name, error, warning)) return false;
  if (tarn_key_from_text(text.text().data(), text.text().size(), key) != TARN_OK) {
    *error = name + ": not a key (32 hexadecimal digits expected)";
    return false;
  }
  return true;
}

}  // namespace tarntool
