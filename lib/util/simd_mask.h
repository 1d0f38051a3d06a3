// Processor features a user has turned off: the environment variable TARN_DISABLE_SIMD holds a
// comma list of feature names (avx512, avx2, sse2, neon, vpclmul, clmul, crc32, vector) whose
// paths are then never chosen, for tests and benchmarks of the paths below them, the way
// established crypto libraries let a user mask processor capabilities. Unknown names mask
// nothing; the programs report them.
#pragma once

#include <string>
#include <string_view>

namespace tarn::util {

// True when the comma list `list` names `feature` (blanks around names ignored, case ignored).
bool ListNames(std::string_view list, std::string_view feature);

// True unless TARN_DISABLE_SIMD, read once, names `feature`.
bool SimdAllowed(std::string_view feature);

// The names in TARN_DISABLE_SIMD that are no feature's, comma-joined ("" when none), for the
// programs to report: a misspelt name would otherwise mask nothing without a word.
std::string UnknownSimdNames();

}  // namespace tarn::util
