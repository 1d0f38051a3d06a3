// Where tarntool takes a key from: a file, an environment variable or an open descriptor,
// never the command line itself.
#pragma once

#include <string>

#include "tarn/tarn.h"

namespace tarntool {

struct KeySource {
  std::string file;
  std::string env;
  int fd = -1;
};

// The key the source holds: 32 hexadecimal digits in either case, optionally surrounded by
// blanks and one line ending. False with *error naming the source and what is wrong, never
// its content.
bool LoadKey(const KeySource& source, tarn_key* key, std::string* error);

// Reads the text of a key source as LoadKey does; exposed for its tests.
bool ParseKeyText(std::string text, tarn_key* key);

}  // namespace tarntool
