// Containers and images through the standard streams: "-" as the input reads the standard
// input, "-o -" writes the standard output. The library's codec runs them as it runs files
// (a pipe taken into an unnamed temporary file first, two workers, the output to the standard
// output only once the whole run succeeded), over any mix of a named file and a stream.
#pragma once

#include <string>

#include "codec/codec.h"
#include "common/process.h"

namespace tarntool {

inline bool IsStdio(const std::string& name) {
  return name == "-";
}

// One side of a run: the named file, or the standard stream "-" stands for.
inline tarn::codec::End EndOf(const std::string& name, bool output) {
  if (!IsStdio(name)) return tarn::codec::End{name.c_str()};
  return tarn::codec::End{
      nullptr, output ? tarn::process::StandardOutput() : tarn::process::StandardInput()};
}

}  // namespace tarntool
