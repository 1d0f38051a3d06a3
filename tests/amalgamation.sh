#!/usr/bin/env bash
# The core as a bootloader takes it: scripts/amalgamate's two files compile without a warning as
# C99 and C11 with gcc and clang at -Wall -Wextra -pedantic, their header as C++, and the header
# declares exactly the functions the source defines.
# Usage: amalgamation.sh SCRATCH_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1
rm -rf "$dir" && mkdir -p "$dir"
"$root/scripts/amalgamate" "$dir" >/dev/null
for cc in gcc clang; do
  for std in c99 c11; do
    "$cc" -std=$std -Wall -Wextra -pedantic -Werror -O2 -c "$dir/tarn_core.c" -o "$dir/core-$cc-$std.o"
  done
done
printf '#include "tarn.h"\nint main() { return tarn_status_is_verdict(TARN_OK) ? 0 : 1; }\n' >"$dir/use.cpp"
g++ -std=c++11 -Wall -Wextra -pedantic -Werror -I"$dir" -c "$dir/use.cpp" -o "$dir/use.o"
declared=$(grep -oE '^TARN_API [^(]*\btarn_[a-z0-9_]+\(' "$dir/tarn.h" | grep -oE 'tarn_[a-z0-9_]+\($' | tr -d '(' | sort)
defined=$(nm --defined-only -g "$dir/core-gcc-c99.o" | awk '{print $3}' | sort)
if [ "$declared" != "$defined" ]; then
  diff <(echo "$declared") <(echo "$defined") || true
  echo "the amalgamated header and source disagree (< declared only, > defined only)"
  exit 1
fi
echo "amalgamation: $(echo "$declared" | wc -l) functions declared and defined; 4 C builds and C++ clean"
