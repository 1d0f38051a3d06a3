// A property check for the fuzz targets: the first property that does not hold stops the run,
// naming its line, so that the saved input leads straight to it.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace tarn::fuzz {

inline void CheckAt(bool ok, int line) {
  if (!ok) {
    std::fprintf(stderr, "property at line %d does not hold\n", line);
    std::abort();
  }
}

}  // namespace tarn::fuzz

#define Check(ok) ::tarn::fuzz::CheckAt((ok), __LINE__)
