#!/bin/sh
# tarntool.exe under Wine: makes a key, encodes an image, checks the container with and without
# the key and with a wrong one, decodes it, and compares with tarn.exe's container.
# Usage: tarntool_wine.sh WINE TARNTOOL_EXE TARN_EXE
set -eu
wine=$1 tool=$2 tarn=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
head -c 70000 /dev/urandom >fw.bin
"$wine" "$tool" --version | grep -q '^tarntool '
"$wine" "$tool" keygen -o key.hex >/dev/null
grep -Eq '^[0-9A-F]{32}$' key.hex
if "$wine" "$tool" keygen -o key.hex 2>/dev/null; then echo "keygen overwrote a key" >&2; exit 1; fi
"$wine" "$tool" encode --key-file key.hex -o "fw one.cnt" fw.bin >/dev/null
"$wine" "$tarn" /C fw.bin tarn.cnt "$(tr -d '\r\n' <key.hex)" >/dev/null
cmp "fw one.cnt" tarn.cnt
"$wine" "$tool" info --json "fw one.cnt" | grep -q '"verdict": "ok"'
"$wine" "$tool" verify --key-file key.hex "fw one.cnt" >/dev/null
printf '0123456789ABCDEFFEDCBA9876543210\n' >other.hex
status=0
"$wine" "$tool" verify --key-file other.hex "fw one.cnt" >/dev/null || status=$?
[ "$status" = 1 ]
"$wine" "$tool" decode --key-file key.hex -o back.bin "fw one.cnt" >/dev/null
cmp back.bin fw.bin
# A build without libsodium makes no signatures but checks them: minisign's, made on the host.
status=0
"$wine" "$tool" sign --secret-key none "fw one.cnt" 2>sign.err || status=$?
[ "$status" = 2 ] && grep -q 'without libsodium' sign.err
if command -v minisign >/dev/null; then
  minisign -G -W -p m.pub -s m.key >/dev/null
  minisign -S -s m.key -m "fw one.cnt" -t "version=3 device=board" >/dev/null
  "$wine" "$tool" verify --public-key m.pub --min-version 3 --device board "fw one.cnt" |
    grep -q 'signature ok (key .*, version 3, device board)'
  cp "fw one.cnt" other.cnt && cp "fw one.cnt.minisig" other.cnt.minisig
  printf 'x' | dd of=other.cnt bs=1 seek=100 conv=notrunc 2>/dev/null
  status=0
  "$wine" "$tool" verify --public-key m.pub other.cnt >/dev/null || status=$?
  [ "$status" = 1 ]
else
  echo "tarntool.exe: signatures not checked: minisign is not installed (scripts/setup test)"
fi
echo "tarntool.exe: all checks hold"
