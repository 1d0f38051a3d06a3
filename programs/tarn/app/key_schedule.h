// The key schedule of the console program: the key text from the command line becomes the
// four key words through the string toolkit's number parsing.
#pragma once

#include <string>

#include "cipher/key.h"

namespace tarn::cipher {

// Reads the 32 hexadecimal digits of `key_text` as four groups of eight, each most significant
// digit first. Letter case does not matter. Raises the toolkit's error for a character that is
// not a hexadecimal digit.
KeyWords SetKey(const std::string& key_text);

}  // namespace tarn::cipher
