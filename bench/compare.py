#!/usr/bin/env python3
"""Whole-process timings of tarn against what a user would run instead, in one run.

Makes a page-cached image of the given size, then runs `cp`, `tarn /C`, `tarn /D` and, where
installed, `openssl enc -aes-128-ctr` in both directions, in turn, several rounds, each into a
fresh output file after a `sync`, and prints the host's processor, the median wall time, the
ratio to `cp` and the peak resident memory of each, and tarn's ratio to openssl's same
direction. Outputs are removed between rounds, not between commands.

With tarntool built, the same image also goes through a pipe (`cat image | tarntool encode
-o - - | cat >/dev/null`, and the container back) against openssl in the same pipe, and
against the floor of that shape: tarntool must have the whole input before its verdict and
writes nothing before it, so the floor is openssl spooled (`cat image | openssl ... > tmp;
cat tmp | cat >/dev/null`). The peak memory shown for those rows is tarntool's (or openssl's)
alone.

With --baseline DIR (a build of another commit), its tarn runs beside this one, round by
round, and the medians' ratios say whether the file calls kept their speed.

Usage: compare.py [--size-mib N] [--rounds N] [--dir DIR] [--tarn PATH] [--tarntool PATH]
                  [--baseline DIR]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import time

from host import processor

KEY = "0123456789ABCDEFFEDCBA9876543210"


GNU_TIME = "/usr/bin/time"


def run_once(argv):
    """Wall time in seconds of one process, started directly."""
    start = time.perf_counter()
    proc = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    if proc.returncode != 0:
        raise SystemExit(f"{argv[0]} failed with status {proc.returncode}")
    return elapsed


def peak_rss(argv, rss_file="/tmp/tarn-bench-rss"):
    """Peak resident memory in KiB of one process, from GNU time, in a run of its own (GNU time
    starts the command from a small process; one forked from Python would count Python's
    memory, and its own start-up would be timed with the command)."""
    if not os.path.exists(GNU_TIME):
        return 0
    subprocess.run([GNU_TIME, "-f", "%M", "-o", rss_file, *argv], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(rss_file) as f:
        return int(f.read().split()[-1])




def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--dir", default="build/bench-data")
    parser.add_argument("--tarn", default="build/release/tarn")
    parser.add_argument("--tarntool", default="build/release/tarntool")
    parser.add_argument("--baseline", help="a build folder of another commit, to run beside")
    parser.add_argument("--settle", type=float, default=3.0,
                        help="seconds to wait after removing a round's outputs")
    args = parser.parse_args()

    os.makedirs(args.dir, exist_ok=True)
    image = os.path.join(args.dir, f"image-{args.size_mib}m.bin")
    size = args.size_mib << 20
    if not os.path.exists(image) or os.path.getsize(image) != size:
        with open(image, "wb") as f:
            chunk = os.urandom(1 << 20)
            for i in range(args.size_mib):
                f.write(chunk[i % 256:] + chunk[:i % 256])
    container = image + ".cnt"
    rss = {}
    run_once([args.tarn, "/C", image, container, KEY])
    subprocess.run(["cat", image, container], stdout=subprocess.DEVNULL, check=True)

    def out(name, i):
        return os.path.join(args.dir, f"out-{name}-{i}")

    tools = {
        "cp": lambda o: ["cp", image, o],
        "tarn /C": lambda o: [args.tarn, "/C", image, o, KEY],
        "tarn /D": lambda o: [args.tarn, "/D", container, o, KEY],
    }
    if args.baseline:
        base_tarn = os.path.join(args.baseline, "tarn")
        tools["baseline tarn /C"] = lambda o: [base_tarn, "/C", image, o, KEY]
        tools["baseline tarn /D"] = lambda o: [base_tarn, "/D", container, o, KEY]
    if shutil.which("openssl"):
        aes = ["openssl", "enc", "-aes-128-ctr", "-K", KEY, "-iv", "0" * 32]
        encrypted = image + ".aes"
        subprocess.run([*aes, "-in", image, "-out", encrypted], check=True)
        tools["openssl enc"] = lambda o: [*aes, "-in", image, "-out", o]
        tools["openssl enc -d"] = lambda o: [*aes, "-d", "-in", encrypted, "-out", o]

    # Pipes: the middle command between a reader and a writer, in one shell.
    piped = {}
    if os.path.exists(args.tarntool):
        key_file = os.path.join(args.dir, "key.hex")
        with open(key_file, "w") as f:
            f.write(KEY + "\n")
        # What tarntool holds before the standard output gets it lies beside the outputs.
        os.environ["TMPDIR"] = args.dir
        tool = [args.tarntool, "--key-file", key_file, "-o", "-", "-"]
        piped["tarntool encode |"] = (image, [tool[0], "encode", *tool[1:]])
        piped["tarntool decode |"] = (container, [tool[0], "decode", *tool[1:]])
        if shutil.which("openssl"):
            piped["openssl enc |"] = (image, aes)
            piped["openssl enc -d |"] = (encrypted, [*aes, "-d"])
    for name, (source, middle) in piped.items():
        quoted = " ".join(f"'{w}'" for w in middle)
        tools[name] = (lambda src, cmd: lambda o: [
            "sh", "-c", f"cat '{src}' | {cmd} | cat >/dev/null; : > '{o}'"])(source, quoted)
    if "openssl enc |" in piped:
        for name, (source, middle) in (("openssl spooled |", piped["openssl enc |"]),
                                       ("openssl spooled -d |", piped["openssl enc -d |"])):
            quoted = " ".join(f"'{w}'" for w in middle)
            tools[name] = (lambda src, cmd: lambda o: [
                "sh", "-c", f"cat '{src}' | {cmd} > '{o}'; cat '{o}' | cat >/dev/null"])(
                    source, quoted)

    times = {name: [] for name in tools}
    for name, argv in tools.items():
        target = out("rss", 0)
        if name.startswith("openssl spooled"):
            rss[name] = 0
            continue
        if name in piped:
            source, middle = piped[name]
            with open(source, "rb") as src, open(target, "wb") as dst:
                subprocess.run([GNU_TIME, "-f", "%M", "-o", "/tmp/tarn-bench-rss", *middle],
                               stdin=src, stdout=dst, check=True)
            with open("/tmp/tarn-bench-rss") as f:
                rss[name] = int(f.read().split()[-1])
        else:
            rss[name] = peak_rss(argv(target))
        os.remove(target)
    for i in range(args.rounds):
        targets = []
        for name, argv in tools.items():
            targets.append(out(name.replace(" ", "_").replace("/", ""), i))
            subprocess.run(["sync"], check=True)
            times[name].append(run_once(argv(targets[-1])))
        # Freeing large files makes the file system discard their blocks in the background,
        # which slows whatever writes next: remove between rounds and let that settle.
        for target in targets:
            os.remove(target)
        subprocess.run(["sync"], check=True)
        time.sleep(args.settle)

    base = statistics.median(times["cp"])
    print(f"host: {processor()}, {os.cpu_count()} processors")
    print(f"image {args.size_mib} MiB, {args.rounds} rounds, medians:")
    print(f"{'command':<22}{'seconds':>10}{'x cp':>8}{'peak RSS':>12}")
    for name in tools:
        m = statistics.median(times[name])
        print(f"{name:<22}{m:>10.3f}{m / base:>8.2f}{rss[name] / 1024:>9.1f} MiB")
    if "openssl enc" in times:
        for ours, theirs in (("tarn /C", "openssl enc"), ("tarn /D", "openssl enc -d")):
            ratio = statistics.median(times[ours]) / statistics.median(times[theirs])
            print(f"{ours} / {theirs}: {ratio:.2f}")
    if "openssl enc |" in times:
        for ours, theirs in (("tarntool encode |", "openssl enc |"),
                             ("tarntool decode |", "openssl enc -d |"),
                             ("tarntool encode |", "openssl spooled |"),
                             ("tarntool decode |", "openssl spooled -d |")):
            ratio = statistics.median(times[ours]) / statistics.median(times[theirs])
            print(f"{ours} / {theirs}: {ratio:.2f}")
    if args.baseline:
        for ours in ("tarn /C", "tarn /D"):
            ratio = statistics.median(times[ours]) / statistics.median(times["baseline " + ours])
            print(f"{ours} / baseline {ours}: {ratio:.3f}")


if __name__ == "__main__":
    main()
