#!/usr/bin/env python3
"""How long the key stays visible in /proc/PID/cmdline after tarn is started: starts a short
encode many times, samples its command line from this process as fast as it can until the
key is overwritten, and prints in how many runs a sample showed the key and the latest moment
one did, counted from when the start returned. A measurement, not a test: the window is
exec-to-main, so it depends on how busy the machine is.

Usage: key_window.py [--runs N] [--tarn PATH]
"""
import argparse
import os
import subprocess
import tempfile
import time

KEY = "0123456789ABCDEFFEDCBA9876543210"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=300)
    parser.add_argument("--tarn", default="build/release/tarn")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="tarn-key-window-") as work:
        image = os.path.join(work, "image.bin")
        with open(image, "wb") as f:
            f.write(os.urandom(1000))
        shown_runs = samples = 0
        latest = 0.0
        for _ in range(args.runs):
            start = time.perf_counter()
            proc = subprocess.Popen([args.tarn, "/C", image, os.path.join(work, "out.cnt"), KEY],
                                    stdout=subprocess.DEVNULL)
            shown = False
            while True:
                try:
                    with open(f"/proc/{proc.pid}/cmdline", "rb") as f:
                        line = f.read()
                except OSError:
                    break
                if KEY.encode() in line:
                    shown, samples = True, samples + 1
                    latest = max(latest, time.perf_counter() - start)
                elif b"x" * 32 in line or not line:
                    break
            shown_runs += shown
            proc.wait()
    print(f"{args.runs} runs: the key was seen in {shown_runs} ({samples} samples), "
          f"at the latest {latest * 1000:.3f} ms after the start returned")


if __name__ == "__main__":
    main()
