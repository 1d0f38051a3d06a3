// Where tarntool takes a key from: a file, an environment variable or an open descriptor,
// never the command line itself.
#pragma once

#include <string>

#include "platform/secret.h"
#include "tarn/tarn.h"

namespace tarntool {

struct KeySource {
  std::string file;
  std::string env;
  int fd = -1;
};

// The key the source holds: 32 hexadecimal digits in either case, optionally after a UTF-8
// byte-order mark and blanks, and before blanks and empty lines. A key file is read up to
// 4 KiB, a pipe up to its first line ending. False with *error naming the source and what is
// wrong, never its content; *warning names a key file that other users may read.
bool LoadKey(const KeySource& source, tarn_key* key, std::string* error, std::string* warning);

// The source's text whole (at most 4 KiB), into `text`: what LoadKey reads, for other secrets
// too (`what` names it in messages: "password"; `fd_option` is the option that gives it by
// descriptor, nullptr where there is none). *source_name gets how messages name the source.
bool LoadText(const KeySource& source, const std::string& what, const char* fd_option,
              tarn::platform::Secret* text, std::string* source_name, std::string* error,
              std::string* warning);

}  // namespace tarntool
