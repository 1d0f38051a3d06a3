#!/usr/bin/env python3
"""The Python package's speed against the library's own, measured in one run.

- tarn.encode of a 64 MiB bytes object against tarn_encode_buffer of the same buffer, called
  from C (through ctypes on the shared library: the call costs microseconds, the work tens of
  milliseconds);
- tarn.encode_file of a 256 MiB image against the whole tarntool encode process;
- two threads encoding files at once against the same files one after the other (files below
  1 MiB, which the library encodes on one core: larger ones take both cores already).
Alternating rounds, medians, the host named. Run it with the interpreter the package is
installed in, after building the release tree and the shared library:

  cmake --preset release && cmake --build --preset release
  cmake -S . -B build/shared -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DTARN_BUILD_TESTS=OFF
  cmake --build build/shared
  build/python-venv/bin/python bench/python_bench.py --dir /dev/shm/tarn-bench
"""
import argparse
import ctypes
import os
import statistics
import subprocess
import threading
import time

import tarn
from host import processor

HEX = "0123456789ABCDEFFEDCBA9876543210"




def timed(fn):
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start


def alternate(rounds, a, b):
    ta, tb = [], []
    for _ in range(rounds):
        ta.append(timed(a))
        tb.append(timed(b))
    return statistics.median(ta), statistics.median(tb)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", default="build/bench-data")
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--library", default="build/shared/lib/libtarn.so")
    parser.add_argument("--tarntool", default="build/release/tarntool")
    args = parser.parse_args()
    os.makedirs(args.dir, exist_ok=True)
    key = tarn.Key.from_hex(HEX)
    print(f"host: {processor()}, {os.cpu_count()} processors; tarn {tarn.__version__}")

    lib = ctypes.CDLL(args.library)
    words = (ctypes.c_uint32 * 4)(0x01234567, 0x89ABCDEF, 0xFEDCBA98, 0x76543210)
    image = os.urandom(1 << 20) * 64
    out = ctypes.create_string_buffer(len(image) + 52)
    encode_buffer = lib.tarn_encode_buffer
    encode_buffer.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_void_p, ctypes.c_void_p,
                              ctypes.c_size_t]
    # tarn.encode returns a new bytes object, whose memory the system must first hand over: the
    # fair C call writes into newly allocated memory too (malloc, then free). The same call into
    # one buffer used again and again is shown beside it.
    libc = ctypes.CDLL(None)
    libc.malloc.restype = ctypes.c_void_p
    libc.malloc.argtypes = [ctypes.c_size_t]
    libc.free.argtypes = [ctypes.c_void_p]

    def c_fresh():
        p = libc.malloc(len(image) + 52)
        encode_buffer(image, len(image), words, p, len(image) + 52)
        libc.free(p)

    py, c = alternate(args.rounds, lambda: tarn.encode(image, key), c_fresh)
    _, reused = alternate(args.rounds, lambda: None,
                          lambda: encode_buffer(image, len(image), words, out, len(out)))
    assert out.raw == tarn.encode(image, key)
    print(f"64 MiB in memory: tarn.encode {py * 1e3:.1f} ms, tarn_encode_buffer into new memory "
          f"{c * 1e3:.1f} ms: {py / c:.2f}x (into one buffer used again: {reused * 1e3:.1f} ms)")

    src = os.path.join(args.dir, "py-256m.bin")
    with open(src, "wb") as f:
        for _ in range(4):
            f.write(image)
    key_file = os.path.join(args.dir, "py.key")
    with open(key_file, "w") as f:
        f.write(HEX + "\n")
    dst = os.path.join(args.dir, "py-256m.cnt")
    tool = [args.tarntool, "encode", "--key-file", key_file, "-q", "-o", dst, src]
    py, tt = alternate(args.rounds, lambda: tarn.encode_file(src, dst, key),
                       lambda: subprocess.run(tool, check=True))
    print(f"256 MiB file: tarn.encode_file {py * 1e3:.0f} ms, tarntool encode {tt * 1e3:.0f} ms: "
          f"{py / tt:.2f}x")

    small = [os.path.join(args.dir, f"py-small-{i}.bin") for i in range(40)]
    for i, name in enumerate(small):
        with open(name, "wb") as f:
            f.write(image[i << 20:(i << 20) + (900 << 10)])

    def encode_all(names):
        for name in names:
            tarn.encode_file(name, name + ".cnt", key)

    def both_at_once():
        threads = [threading.Thread(target=encode_all, args=(small[i::2],)) for i in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    together, apart = alternate(args.rounds, both_at_once, lambda: encode_all(small))
    print(f"40 files of 900 KiB: in two threads {together * 1e3:.0f} ms, one after the other "
          f"{apart * 1e3:.0f} ms: {together / apart:.2f}x")
    for name in [src, dst, key_file] + small + [n + ".cnt" for n in small]:
        os.remove(name)


if __name__ == "__main__":
    main()
