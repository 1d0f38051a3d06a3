#include "key_source.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

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
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  if (end > begin && text[end - 1] == '\n') --end;
  if (end > begin && text[end - 1] == '\r') --end;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return tarn_key_from_hex(text.data() + begin, end - begin, key) == TARN_OK;
}

bool LoadKey(const KeySource& source, tarn_key* key, std::string* error) {
  std::string text, name;
  const Wiped wipe{&text};
  if (!source.file.empty()) {
    name = source.file;
    std::ifstream in(source.file, std::ios::binary);
    if (!in) {
      *error = name + ": cannot read the key file";
      return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), {});
    if (in.bad()) {
      *error = name + ": cannot read the key file";
      return false;
    }
  } else if (!source.env.empty()) {
    name = "$" + source.env;
    const char* value = std::getenv(source.env.c_str());
    if (value == nullptr) {
      *error = name + ": the environment variable is not set";
      return false;
    }
    text = value;
  } else {
    name = "descriptor " + std::to_string(source.fd);
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
