#!/usr/bin/env python3
"""The inspector page's check of a large container against tarntool's of the same file, in one
run: keyed (the page against `tarntool verify`) and keyless (against `tarntool info`, which
checks the same: the header and the payload's CRC-32), alternating rounds, medians, the host
named; and, as the floor under both, the page's workers only reading the file. Beside each
wall time, the processor time it took: tarntool's own, and for the page
that of each of Chromium's processes (the renderer, where the page's workers run; the browser
process, which reads the file for it; the rest), read from /proc, so that a page bound by
processor time rather than by waiting shows as such.

The page's time runs from the file input's change event to the verdict (taken in the page).
Run with the Python that has Selenium (Debian's, as the browser stage does), after that stage
has built the page and the release tree:

  /usr/bin/python3 bench/page_bench.py --dir /dev/shm/tarn-bench [--size-mib 512] [--rounds 5]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "web"))
from host import processor  # noqa: E402
from page_test import KEY, check_in, check_seconds, open_page  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402

TICK = os.sysconf("SC_CLK_TCK")



def chromium_times(profile):
    """Processor seconds so far of each kind of Chromium process started with `profile`."""
    times = {"renderer": 0.0, "browser": 0.0, "other": 0.0}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                # Chromium's children rewrite their arguments as one line: read it as text.
                line = f.read().replace(b"\0", b" ").decode(errors="replace")
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if "chromium" not in line or f"--user-data-dir={profile}" not in line:
            continue
        kind = "other"
        if "--type=renderer" in line:
            kind = "renderer"
        elif "--type=" not in line:
            kind = "browser"
        times[kind] += (int(fields[11]) + int(fields[12])) / TICK  # user and system ticks
    return times


def tool_run(argv):
    """Wall and processor seconds of one tarntool process."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    if status != 0:
        raise SystemExit(f"{' '.join(argv)} failed")
    return wall, usage.ru_utime + usage.ru_stime


def page_run(driver, profile, container, key):
    """Wall and processor seconds (by kind of process) of one check in the page."""
    before = chromium_times(profile)
    if check_in(driver, container, key, timeout=600) != "ok":
        raise SystemExit("the page did not find the container intact")
    time.sleep(0.2)  # the workers' last ticks
    after = chromium_times(profile)
    return check_seconds(driver), {k: after[k] - before[k] for k in after}


# Only reads the file picked in #read-only, in as many workers as the page's last check used (a stretch each,
# through a reused buffer as the page reads), and resolves with the seconds it took: the floor
# under any check in a browser.
READ_ONLY = """
    const done = arguments[arguments.length - 1];
    const file = document.getElementById('read-only').files[0];
    const n = Number(document.body.dataset.workers || 1), step = Math.floor(file.size / n);
    const url = URL.createObjectURL(new Blob([`onmessage = async (e) => {
      const reader = e.data.stream().getReader({ mode: 'byob' });
      let buffer = new ArrayBuffer(1 << 20);
      for (;;) {
        const { value, done } = await reader.read(new Uint8Array(buffer));
        if (done) break;
        buffer = value.buffer;
      }
      postMessage(0);
    };`], { type: 'text/javascript' }));
    const t0 = performance.now();
    Promise.all(Array.from({ length: n }, (_, i) => new Promise((ended) => {
      const worker = new Worker(url);
      worker.onmessage = () => { worker.terminate(); ended(); };
      worker.postMessage(file.slice(i * step, i === n - 1 ? file.size : (i + 1) * step));
    }))).then(() => done((performance.now() - t0) / 1000));
"""


def read_run(driver, profile, container):
    """Wall and processor seconds of reading the container in the page, and nothing else."""
    driver.execute_script("""if (!document.getElementById('read-only')) {
        const input = document.createElement('input');
        input.type = 'file'; input.id = 'read-only'; document.body.append(input); }""")
    driver.find_element(By.ID, "read-only").send_keys(container)
    before = chromium_times(profile)
    wall = driver.execute_async_script(READ_ONLY)
    time.sleep(0.2)
    after = chromium_times(profile)
    return wall, {k: after[k] - before[k] for k in after}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    parser.add_argument("--size-mib", type=int, default=512)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--dir", default="/dev/shm/tarn-bench")
    parser.add_argument("--page", default=os.path.join(root, "build", "web", "index.html"))
    parser.add_argument("--tarntool", default=os.path.join(root, "build", "release", "tarntool"))
    args = parser.parse_args()
    os.makedirs(args.dir, exist_ok=True)
    image = os.path.join(args.dir, "page-bench.bin")
    container = os.path.join(args.dir, "page-bench.cnt")
    key_file = os.path.join(args.dir, "page-bench.key")
    with open(image, "wb") as f:
        for _ in range(args.size_mib):
            f.write(os.urandom(1 << 20))
    with open(key_file, "w") as f:
        f.write(KEY + "\n")
    os.chmod(key_file, 0o600)
    subprocess.run([args.tarntool, "encode", "--key-file", key_file, "-o", container, image],
                   check=True, stdout=subprocess.DEVNULL)
    os.remove(image)
    work = os.path.join(args.dir, "page-bench-profile")
    driver = open_page(args.page, work, work)
    profile = f"{work}/profile"
    results = {"keyed": ([], []), "keyless": ([], [])}
    reading = []
    try:
        page_run(driver, profile, container, KEY)  # not counted: the first check warms the page
        for _ in range(args.rounds):
            for name, key, tool in (("keyed", KEY, ["verify", "--key-file", key_file]),
                                    ("keyless", "", ["info"])):
                results[name][0].append(page_run(driver, profile, container, key))
                results[name][1].append(tool_run([args.tarntool, *tool, container]))
            reading.append(read_run(driver, profile, container))
    finally:
        driver.quit()
        shutil.rmtree(work, ignore_errors=True)
        os.remove(container)
        os.remove(key_file)
    print(f"host: {processor()}, {os.cpu_count()} processors; {args.size_mib} MiB, medians of "
          f"{args.rounds} alternating rounds")
    for name, (page, tool) in results.items():
        page_wall = statistics.median(w for w, _ in page)
        tool_wall = statistics.median(w for w, _ in tool)
        tool_cpu = statistics.median(c for _, c in tool)
        cpu = {k: statistics.median(c[k] for _, c in page) for k in page[0][1]}
        print(f"{name:8} page {page_wall:.2f} s, tarntool {tool_wall:.3f} s: "
              f"{page_wall / tool_wall:.1f}x | processor time: page {seconds(cpu)}, "
              f"tarntool {tool_cpu:.2f} s")
    cpu = {k: statistics.median(c[k] for _, c in reading) for k in reading[0][1]}
    print(f"reading the file alone in the page's workers: "
          f"{statistics.median(w for w, _ in reading):.2f} s | processor time: {seconds(cpu)}")


def seconds(cpu):
    """Processor time by kind of Chromium process, and in all."""
    return (f"{sum(cpu.values()):.2f} s (renderer {cpu['renderer']:.2f}, browser "
            f"{cpu['browser']:.2f}, other {cpu['other']:.2f})")


if __name__ == "__main__":
    main()
