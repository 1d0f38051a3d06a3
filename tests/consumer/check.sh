#!/usr/bin/env bash
# Builds the consumer program against an installed libtarn twice (CMake's find_package, and
# pkg-config with cc), runs both, and compares their containers and decoded image with the
# console program's. Usage: check.sh PREFIX TARN_EXE
set -euo pipefail
prefix=$(cd "$1" && pwd)
tool=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
key=0123456789ABCDEFFEDCBA9876543210
head -c $(((3 << 20) + 5)) /dev/urandom >"$work/image.bin"
"$tool" /C "$work/image.bin" "$work/tool.cnt" "$key" >/dev/null

check() {  # the results of one build of the consumer
  local dir=$work/$1
  mkdir -p "$dir"
  LD_LIBRARY_PATH="$prefix/lib:$prefix/lib64${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" "$2" "$work/image.bin" "$dir"
  cmp "$dir/buffer.cnt" "$work/tool.cnt"
  cmp "$dir/file.cnt" "$work/tool.cnt"
  cmp "$dir/file.out" "$work/image.bin"
}

printf '%s\n' "$key" >"$work/key.hex"
chmod 600 "$work/key.hex"
cp "$work/image.bin" "$work/helper-image.bin"
cmake -S "$here" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DTARN_KEY_FILE="$work/key.hex" -DTARN_IMAGE="$work/helper-image.bin" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
check find_package "$work/cmake-build/consumer"

# tarn_add_container made both containers, and makes the file's again when the image changes.
cmp "$work/cmake-build/fw_file.cnt" "$work/tool.cnt"
"$prefix/bin/tarntool" verify --key-file "$work/key.hex" "$work/cmake-build/firmware.cnt" >/dev/null
head -c 1000 /dev/urandom >"$work/helper-image.bin"
cmake --build "$work/cmake-build" >/dev/null
"$tool" /C "$work/helper-image.bin" "$work/helper.cnt" "$key" >/dev/null
cmp "$work/cmake-build/fw_file.cnt" "$work/helper.cnt"
echo "consumer: tarn_add_container made both containers, and again after the image changed"

export PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib64/pkgconfig"
# shellcheck disable=SC2046  # the flags are words
cc -std=c99 -Wall -Werror -o "$work/pc-consumer" "$here/consumer.c" $(pkg-config --cflags --libs --static tarn)
check pkg-config "$work/pc-consumer"

# A shared library exports the C interface and nothing of its own beyond it.
for so in "$prefix"/lib*/libtarn.so; do
  [ -e "$so" ] || continue
  if nm -D --defined-only "$so" | awk '{print $3}' | grep -v '^tarn_'; then
    echo "libtarn.so exports internal symbols" >&2
    exit 1
  fi
  echo "exported: $(nm -D --defined-only "$so" | grep -c ' T tarn_') functions of the C interface"
done
echo "consumer: both builds agree with the console program"
