#!/usr/bin/env python3
"""Command-line tests: run the built tool as a user does and compare the console bytes, the
exit status and the files it leaves behind.

Usage: cli_test.py PATH_TO_TARN [--wine WINE --spawn SPAWN_EXE | --launcher EMULATOR]
                   [unittest options]

With --launcher each run of the tool goes through that emulator (a build for another
processor). With --wine the tool is the Windows build: each run goes through SPAWN_EXE under Wine, which
starts it with an exact command line as Windows programs are started.
"""
import json
import os
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest
import fcntl
import termios

from scratch import ScratchCase

TARN = None
LAUNCH = []
WINE = None
SPAWN = None
HERE = os.path.dirname(os.path.abspath(__file__))
KNOWN = os.path.join(HERE, "..", "..", "testdata", "known-answers.json")

BANNER = (b"VELD firmware coder/decoder v.0.1\r\n"
          b"Firmware image containers, 128-bit key. No warranty of any kind.\r\n")
USAGE = (b"Usage: tarn {/C|/D} input.file output.file key_32\r\n"
         b"where: /C - encrypting mode\r\n"
         b"       /D - decrypting mode\r\n")
ENCODED = (b"Calculating crc... Done\r\n"
           b"Encrypting. Please wait...Done\r\n"
           b"Calculating crc... Done\r\n"
           b"Successfully.\r\n")
DECODED = (b"Checking crc... OK\r\n"
           b"Decrypting. Please wait... Done\r\n"
           b"Checking crc... OK\r\n"
           b"Successfully.\r\n")
KEY = "0123456789ABCDEFFEDCBA9876543210"
OTHER_KEY = "F38B2FFC80A4DF5A51C9BC701E7EA419"
HEADER_REFUSED = b"Error: incorrect input file header!\r\n"


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


posix_only = unittest.skipIf(len(sys.argv) > 2 and "--wine" in sys.argv, "POSIX behaviour")
windows_only = unittest.skipUnless(len(sys.argv) > 2 and "--wine" in sys.argv, "Windows behaviour")
REPORT_HEAD = rb"^Exception EInOutError in module tarn(\.exe)? at [0-9A-F]{8}\.\r\nI/O error \d+\.\r\n\r\n$"


def lines(*texts):
    return b"".join(t.encode() + b"\r\n" for t in texts)


class CliCase(ScratchCase):
    PREFIX = "tarn-cli-"

    def run_tarn(self, *args, preexec=None, stdout=subprocess.PIPE):
        if WINE:
            return self.run_line("tarn.exe " + " ".join(args), preexec=preexec, stdout=stdout)
        proc = subprocess.run([*LAUNCH, TARN, *args], cwd=self.dir, stdout=stdout,
                              stderr=subprocess.PIPE, preexec_fn=preexec, timeout=600)
        return proc.returncode, proc.stdout, proc.stderr

    def run_line(self, command_line, hold=None, peek=None, preexec=None, stdout=subprocess.PIPE):
        """Runs the Windows build with exactly this command line."""
        env = dict(os.environ, TARN_EXE=windows_path(TARN), TARN_CMDLINE=command_line)
        if hold:
            env["TARN_HOLD"] = hold
        if peek:
            env["TARN_PEEK"] = peek
        proc = subprocess.run([WINE, SPAWN], cwd=self.dir, env=env, stdout=stdout,
                              stderr=subprocess.PIPE, preexec_fn=preexec, timeout=600)
        return proc.returncode, proc.stdout, proc.stderr

    def assertRun(self, args, status, console):
        rc, out, err = self.run_tarn(*args)
        self.assertEqual(out, BANNER + console)
        self.assertEqual(err, b"")
        self.assertEqual(rc, status)

    def leftovers(self):
        """Temporary files left in the test directory."""
        return [n for n in os.listdir(self.dir) if ".tarn-" in n]

    def wait_until_writing(self, proc):
        """Waits until the running tool holds its unfinished output in the test directory."""
        fds = f"/proc/{proc.pid}/fd"
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            try:
                targets = [os.readlink(os.path.join(fds, fd)) for fd in os.listdir(fds)]
            except OSError:
                targets = []
            if any(t.startswith(self.dir + "/") and ("#" in t or ".tarn-" in t) for t in targets):
                return
            time.sleep(0.002)
        self.fail("the tool never opened its output")

    def encode(self, image, key=KEY, name="img.bin", out="img.cnt"):
        self.write(name, image)
        self.assertRun(["/C", name, out, key], 0, ENCODED)
        return self.read(out)


class FrontEndTest(CliCase):
    def test_usage_cases(self):
        self.write("in", b"12345678")
        cases = [
            [],
            ["in", "out", KEY],                   # no switch
            ["/C", "in", "out"],                  # three words
            ["/C", "in", "out", KEY, "extra"],    # five words
            ["/C\tin", "out", KEY],               # a tab is not a separator
            ["/D", "/C", "/D", "in", "out", KEY], # /C wins: five words from it
            ['"in', 'name"', "out", KEY],         # a quoted name with a space splits
        ]
        if not WINE:  # an argument holding a space cannot survive the POSIX raw line
            cases += [["/C", "in", "out ", KEY], ["/C", "in ", "out", KEY]]
        for args in cases:
            with self.subTest(args=args):
                self.assertRun(args, 2, USAGE)
        self.assertEqual(self.leftovers(), [])
        self.assertFalse(os.path.exists(self.path("out")))

    def test_switch_forms_are_accepted(self):
        self.write("in", b"12345678")
        cases = [
            ["/c", "in", "out", KEY],
            ["words", "in", "front", "/C", "in", "out", KEY],
            ["x/C", "in", "out", KEY],
            ["/Cx", "in", "out", KEY],
            ["/D", "/C", "in", "out", KEY],       # /C wins over /D in front of it
            ["/C", "", "", "in", "", "out", KEY],  # runs of spaces separate words
        ]
        for args in cases:
            with self.subTest(args=args):
                self.assertRun(args, 0, ENCODED)
                os.remove(self.path("out"))

    @posix_only
    def test_paths_holding_slash_c_and_slash_d(self):
        os.makedirs(self.path("cur/dist"))
        os.makedirs(self.path("out"))
        self.write("cur/dist/fw.bin", b"abcdefgh12")
        self.assertRun(["/C", "cur/dist/fw.bin", "cur/dist/fw.cnt", KEY], 0, ENCODED)
        self.assertRun(["/d", "cur/dist/fw.cnt", "out/clean.bin", KEY], 0, DECODED)
        self.assertEqual(self.read("out/clean.bin"), b"abcdefgh12")

    def test_argument_errors(self):
        self.write("in", b"x")
        os.makedirs(self.path("adir"))
        cases = [
            (["/C", "missing", "out", KEY], "Error: file missing not found!"),
            (["/C", "missing", "out", "G"], "Error: file missing not found!"),
            (["/C", "adir", "out", KEY], "Error: file adir not found!"),
            (["/C", '"in"', "out", KEY], 'Error: file "in" not found!'),
            (["/C", "i*", "out", KEY], "Error: file i* not found!"),
            (["/C", "in", "out", KEY[:31]], "Error: incorrect key length!"),
            (["/C", "in", "out", KEY + "0"], "Error: incorrect key length!"),
            (["/C", "in", "out", KEY[:31] + "G"], "Error: incorrect key!"),
            (["/D", "in", "out", "-" * 32], "Error: incorrect key!"),
        ]
        for args, line in cases:
            with self.subTest(args=args):
                self.assertRun(args, 1, lines(line))
        self.assertEqual(sorted(os.listdir(self.dir)), ["adir", "in"])

    def test_output_that_cannot_be_created(self):
        self.write("in", b"12345678")
        os.makedirs(self.path("adir"))
        if not WINE:
            os.symlink("in", self.path("link-to-in"))
        os.link(self.path("in"), self.path("hard-link-to-in"))
        names = ["in", "./in", "hard-link-to-in", "adir", "nodir/out"]
        names += ["NUL", ".\\IN", "adir\\"] if WINE else ["link-to-in", "/dev/null"]
        for out in names:
            with self.subTest(out=out):
                self.assertRun(["/C", "in", out, KEY], 1, lines("Error: can't create output file!"))
                self.assertEqual(self.read("in"), b"12345678")
                self.assertEqual(self.leftovers(), [])

    @posix_only
    def test_input_held_by_another_process(self):
        path = self.write("in", b"12345678")
        with open(path, "rb") as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            self.assertRun(["/C", "in", "out", KEY], 1, lines("Error: can't open input file!"))
        self.assertFalse(os.path.exists(self.path("out")))

    @posix_only
    def test_unreadable_input(self):
        if os.geteuid() == 0:
            self.skipTest("root reads every file")
        path = self.write("in", b"12345678")
        os.chmod(path, 0)
        self.assertRun(["/C", "in", "out", KEY], 1, lines("Error: can't open input file!"))

    def test_failed_console_write_ends_in_the_error_report(self):
        self.write("in", b"12345678")
        self.write("out", b"precious")
        with open("/dev/full", "wb") as full:
            rc, _, err = self.run_tarn("/C", "in", "out", KEY, stdout=full)
        self.assertEqual(rc, 1)
        self.assertRegex(err, REPORT_HEAD)
        if not WINE:
            self.assertIn(b"I/O error 28.", err)  # ENOSPC
        self.assertEqual(self.read("out"), b"precious")
        self.assertEqual(self.leftovers(), [])

    @posix_only
    def test_console_closed_before_the_last_lines_keeps_the_old_output(self):
        # The reader takes the first 128 bytes and goes: the rest of the console fails at the
        # end of the run, before the output would have been replaced.
        self.write("in", os.urandom(8 << 20))
        self.write("out", b"precious")
        proc = subprocess.Popen([*LAUNCH, TARN, "/C", "in", "out", KEY], cwd=self.dir,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        got = b""
        while len(got) < 128:
            got += proc.stdout.read(128 - len(got))
        proc.stdout.close()
        err = proc.stderr.read()
        proc.stderr.close()
        self.assertEqual(proc.wait(timeout=60), 1)
        self.assertRegex(err, REPORT_HEAD)
        self.assertEqual(self.read("out"), b"precious")
        self.assertEqual(self.leftovers(), [])

    @posix_only
    def test_terminal_gets_the_same_bytes(self):
        import pty
        self.write("in", b"12345678")
        main, sub = pty.openpty()
        attrs = termios.tcgetattr(sub)
        attrs[1] &= ~termios.OPOST  # no output translation: see the bytes the tool writes
        termios.tcsetattr(sub, termios.TCSANOW, attrs)
        proc = subprocess.Popen([*LAUNCH, TARN, "/C", "in", "out", KEY], cwd=self.dir, stdout=sub)
        os.close(sub)
        received = b""
        while True:
            try:
                chunk = os.read(main, 4096)
            except OSError:  # the terminal closes when the tool ends
                break
            if not chunk:
                break
            received += chunk
        os.close(main)
        self.assertEqual(proc.wait(timeout=60), 0)
        self.assertEqual(received, BANNER + ENCODED)

    def test_closed_pipe_ends_in_the_error_report(self):
        self.write("in", b"12345678")
        r, w = os.pipe()
        os.close(r)
        try:
            rc, _, err = self.run_tarn("/C", "in", "out", KEY, stdout=w)
        finally:
            os.close(w)
        self.assertEqual(rc, 1)
        self.assertRegex(err, REPORT_HEAD)


class PipelineTest(CliCase):
    def test_known_containers(self):
        with open(KNOWN) as f:
            known = json.load(f)["containers"]
        for case in known:
            image = bytes.fromhex(case["image_hex"])
            with self.subTest(size=len(image)):
                self.assertEqual(self.encode(image, case["key"]).hex(), case["container_hex"])
                self.assertRun(["/D", "img.cnt", "back.bin", case["key"].lower()], 0, DECODED)
                self.assertEqual(self.read("back.bin"), image)

    def test_round_trips(self):
        sizes = [0, 1, 7, 8, 9, 15, 16, 65536 + 3, (1 << 20) + 5, (9 << 20) + 3]
        for size in sizes:
            with self.subTest(size=size):
                image = os.urandom(size)
                container = self.encode(image)
                self.assertEqual(len(container), 52 + size)
                if size % 8:
                    self.assertEqual(container[-(size % 8):], image[-(size % 8):])
                self.assertRun(["/D", "img.cnt", "back.bin", KEY], 0, DECODED)
                self.assertEqual(self.read("back.bin"), image)
                self.assertEqual(self.leftovers(), [])

    @posix_only
    def test_every_kernel_path_gives_the_same_container(self):
        image = self.write("img.bin", os.urandom((1 << 20) + 5))
        containers = set()
        for masked in ("", "avx512,vpclmul", "avx2", "avx2,sse2,neon,vector",
                       "avx2,sse2,neon,vector,clmul,crc32"):
            env = dict(os.environ, TARN_DISABLE_SIMD=masked)
            subprocess.run([*LAUNCH, TARN, "/C", "img.bin", "img.cnt", KEY], cwd=self.dir, env=env,
                           stdout=subprocess.DEVNULL, check=True)
            containers.add(self.read("img.cnt"))
            subprocess.run([*LAUNCH, TARN, "/D", "img.cnt", "back.bin", KEY], cwd=self.dir, env=env,
                           stdout=subprocess.DEVNULL, check=True)
            self.assertEqual(self.read("back.bin"), self.read("img.bin"))
        self.assertEqual(len(containers), 1)

    def test_same_image_same_container_and_keys_change_only_the_payload(self):
        image = os.urandom(1000) * 3
        first = self.encode(image)
        self.assertEqual(self.encode(image), first)
        other = self.encode(image, OTHER_KEY)
        self.assertEqual(other[:28], first[:28])
        self.assertEqual(other[32:52], first[32:52])
        self.assertNotEqual(other[28:32], first[28:32])
        self.assertNotEqual(other[52:], first[52:])
        self.assertEqual(self.encode(image, KEY.lower()), first)

    def test_refused_containers(self):
        image = os.urandom(4096 + 5)
        good = self.encode(image)

        def patched(offset, value):
            data = bytearray(good)
            data[offset:offset + 4] = value.to_bytes(4, "little")
            return bytes(data)

        def flipped(offset):
            data = bytearray(good)
            data[offset] ^= 0x10
            return bytes(data)

        magic = lines("Error: unknown magic!") + HEADER_REFUSED
        crc_failed = b"Checking crc... FAILED\r\n" + lines("Error: wrong crc32 of crypted data!") + HEADER_REFUSED
        final_failed = (b"Checking crc... OK\r\nDecrypting. Please wait... Done\r\n"
                        b"Checking crc... FAILED\r\n" + lines("Error: wrong crc32 of encrypted data!"))
        cases = [
            ("plain file", image, magic),
            ("empty file", b"", magic),
            ("short file", good[:6], magic),
            ("file cut in the header", good[:40], lines("Error: unknown input file version!") + HEADER_REFUSED),
            ("header only", good[:52], lines("Error: wrong file size!") + HEADER_REFUSED),
            ("zero word", patched(0, 1), magic),
            ("magic", flipped(9), magic),
            ("versionA 12", patched(36, 12), lines("Error: unknown input file version!") + HEADER_REFUSED),
            ("versionB 329", patched(44, 329), lines("Error: unknown input file version!") + HEADER_REFUSED),
            ("byte appended", good + b"\0", lines("Error: wrong file size!") + HEADER_REFUSED),
            ("byte missing", good[:-1], lines("Error: wrong file size!") + HEADER_REFUSED),
            ("payload bit", flipped(52 + 100), crc_failed),
            ("tail bit", flipped(len(good) - 1), crc_failed),
            ("payloadCrc bit", flipped(28), crc_failed),
            ("plainCrc bit", flipped(32), final_failed),
        ]
        for name, data, console in cases:
            with self.subTest(name):
                self.write("bad.cnt", data)
                self.assertRun(["/D", "bad.cnt", "out.bin", KEY], 1, console)
                self.assertFalse(os.path.exists(self.path("out.bin")))
                self.assertEqual(self.leftovers(), [])
                self.assertEqual(self.read("bad.cnt"), data)

    def test_images_beyond_the_format_are_refused(self):
        with open(self.path("huge.bin"), "wb") as f:
            f.truncate(4294967243 + 1)  # sparse; its container would reach 4 GiB
        self.write("out.cnt", b"precious")
        self.assertRun(["/C", "huge.bin", "out.cnt", KEY], 1, lines("Error: input file is too large!"))
        self.assertEqual(self.read("out.cnt"), b"precious")
        self.assertEqual(self.leftovers(), [])
        # A container whose size no 32-bit plainSize can describe.
        header = self.encode(b"")[:48] + (0xFFFFFFFF).to_bytes(4, "little")
        with open(self.path("huge.cnt"), "wb") as f:
            f.write(header)
            f.truncate(0xFFFFFFFF + 52 + 8)
        self.assertRun(["/D", "huge.cnt", "out.bin", KEY], 1, lines("Error: wrong file size!") + HEADER_REFUSED)

    def test_wrong_key_fails_the_final_check(self):
        self.encode(os.urandom(800))
        self.assertRun(["/D", "img.cnt", "out.bin", OTHER_KEY], 1,
                       b"Checking crc... OK\r\nDecrypting. Please wait... Done\r\n"
                       b"Checking crc... FAILED\r\n" + lines("Error: wrong crc32 of encrypted data!"))
        self.assertFalse(os.path.exists(self.path("out.bin")))

    def test_unchecked_header_words_are_accepted(self):
        image = os.urandom(64)
        data = bytearray(self.encode(image))
        for offset in (12, 16, 20, 24, 40):
            data[offset:offset + 4] = b"\xAA\xBB\xCC\xDD"
        self.write("img.cnt", bytes(data))
        self.assertRun(["/D", "img.cnt", "back.bin", KEY], 0, DECODED)
        self.assertEqual(self.read("back.bin"), image)

    def test_failed_run_leaves_an_existing_output_untouched(self):
        self.write("bad.cnt", b"not a container at all, just text" * 3)
        self.write("out.bin", b"precious")
        self.assertRun(["/D", "bad.cnt", "out.bin", KEY], 1, lines("Error: unknown magic!") + HEADER_REFUSED)
        self.assertEqual(self.read("out.bin"), b"precious")

    @posix_only
    def test_output_permissions_new_and_replaced(self):
        self.write("old.cnt", b"old contents")
        os.chmod(self.path("old.cnt"), 0o600)
        old_umask = os.umask(0o027)
        try:
            self.encode(b"123456789", out="new.cnt")
            self.encode(b"123456789", out="old.cnt")
        finally:
            os.umask(old_umask)
        self.assertEqual(stat.S_IMODE(os.stat(self.path("new.cnt")).st_mode), 0o640)
        self.assertEqual(stat.S_IMODE(os.stat(self.path("old.cnt")).st_mode), 0o600)
        self.assertEqual(len(self.read("old.cnt")), 52 + 9)

    @posix_only
    def test_output_through_a_symbolic_link_lands_on_its_target(self):
        os.makedirs(self.path("real"))
        self.write("real/target.cnt", b"old")
        os.symlink("real/target.cnt", self.path("link.cnt"))
        self.encode(b"abcdefgh", out="link.cnt")
        self.assertTrue(os.path.islink(self.path("link.cnt")))
        self.assertEqual(len(self.read("real/target.cnt")), 60)
        os.symlink("real/new.cnt", self.path("dangling.cnt"))
        self.encode(b"abcdefgh", out="dangling.cnt")
        self.assertEqual(len(self.read("real/new.cnt")), 60)

    def test_write_failure_is_reported_and_cleaned_up(self):
        def limit_file_size():  # SIGXFSZ at its default: the tool itself ignores it
            resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))

        image = os.urandom(300000)
        container = self.encode(image, out="good.cnt")
        damaged = bytearray(container)
        damaged[52 + 200000] ^= 1
        self.write("damaged.cnt", bytes(damaged))
        self.write("out", b"precious")
        write_failed = lines("Error: can't write output file!")
        cases = [
            (["/C", "img.bin", "out", KEY],
             b"Calculating crc... Done\r\nEncrypting. Please wait...FAILED\r\n" + write_failed),
            (["/D", "good.cnt", "out", KEY],
             b"Checking crc... OK\r\nDecrypting. Please wait... FAILED\r\n" + write_failed),
            (["/D", "damaged.cnt", "out", KEY], b"Checking crc... FAILED\r\n"
             + lines("Error: wrong crc32 of crypted data!") + HEADER_REFUSED),
        ]
        for args, console in cases:
            with self.subTest(args=args):
                rc, out, err = self.run_tarn(*args, preexec=limit_file_size)
                self.assertEqual((rc, out), (1, BANNER + console))
                self.assertEqual(self.read("out"), b"precious")
                self.assertEqual(self.leftovers(), [])

def as_nobody():
    os.setgid(65534)
    os.setuid(65534)


_NOBODY_COPY = None


def nobody_tarn():
    """A copy of the tool that another user can run, wherever this checkout lies."""
    global _NOBODY_COPY
    if _NOBODY_COPY is None:
        _NOBODY_COPY = tempfile.TemporaryDirectory(prefix="tarn-bin-")
        os.chmod(_NOBODY_COPY.name, 0o755)
        subprocess.run(["cp", TARN, _NOBODY_COPY.name], check=True)
    return os.path.join(_NOBODY_COPY.name, os.path.basename(TARN))


@posix_only
class FaultTest(CliCase):
    """Faults from outside: for each, the exact line and status, no temporary file left, an
    existing output untouched and the input unchanged."""

    LARGE = 1 << 30  # sparse: made at once, slow enough to act on while it is encoded

    def assertCleanFailure(self, result, console, status=1, output="out.cnt"):
        rc, out, err = result
        self.assertEqual(out, BANNER + console)
        self.assertEqual(rc, status)
        self.assertEqual(self.leftovers(), [])
        if os.path.exists(self.path(output)):
            self.assertEqual(self.read(output), b"precious")

    def start_large_encode(self, *extra_args):
        with open(self.path("huge.bin"), "wb") as f:
            f.truncate(self.LARGE)
        proc = subprocess.Popen([*LAUNCH, TARN, "/C", "huge.bin", "out.cnt", KEY, *extra_args], cwd=self.dir,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.wait_until_writing(proc)
        return proc

    def finish(self, proc):
        out, err = proc.communicate(timeout=120)
        return proc.returncode, out, err

    def test_interrupted_encode_leaves_nothing(self):
        path = self.path("huge.bin")
        with open(path, "wb") as f:
            f.truncate(3 << 30)  # sparse: quick to make, slow enough to interrupt
        self.write("out.cnt", b"precious")
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGUSR1,
                    signal.SIGUSR2, signal.SIGALRM, signal.SIGVTALRM, signal.SIGPROF,
                    signal.SIGXCPU, signal.SIGKILL):
            with self.subTest(sig=sig):
                proc = subprocess.Popen([*LAUNCH, TARN, "/C", "huge.bin", "out.cnt", KEY], cwd=self.dir,
                                        stdout=subprocess.DEVNULL)
                self.wait_until_writing(proc)
                proc.send_signal(sig)
                self.assertEqual(proc.wait(timeout=60), -sig)
                self.assertEqual(sorted(os.listdir(self.dir)), ["huge.bin", "out.cnt"])
                self.assertEqual(self.read("out.cnt"), b"precious")

    @posix_only
    def test_a_kill_while_replacing_leaves_nothing_for_long(self):
        if not shutil.which("strace"):
            self.skipTest("strace is not installed")
        self.write("img.bin", os.urandom(5000))
        self.write("out.cnt", b"precious")
        # The rename over the existing output held back, so that a kill lands in the window
        # between the hidden name and the real one.
        proc = subprocess.Popen(["strace", "-f", "-qq", "-o", "/dev/null", "-e",
                                 "inject=renameat,renameat2:delay_enter=3s", TARN, "/C", "img.bin",
                                 "out.cnt", KEY], cwd=self.dir, stdout=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        while not self.leftovers() and time.monotonic() < deadline:
            time.sleep(0.01)
        with open(f"/proc/{proc.pid}/task/{proc.pid}/children") as f:
            tool = int(f.read().split()[0])
        os.kill(tool, signal.SIGKILL)
        proc.wait(timeout=60)
        self.assertEqual(len(self.leftovers()), 1)  # what no signal handler can remove
        self.assertEqual(self.read("out.cnt"), b"precious")
        time.sleep(2.2)  # a hidden file is judged abandoned once it is some seconds old
        self.assertRun(["/C", "img.bin", "other.cnt", KEY], 0, ENCODED)  # any later run there
        self.assertEqual(self.leftovers(), [])
        self.assertEqual(self.read("out.cnt"), b"precious")

    @posix_only
    def test_every_terminating_signal_in_the_replace_window_leaves_nothing(self):
        if not shutil.which("strace"):
            self.skipTest("strace is not installed")
        self.write("img.bin", os.urandom(5000))
        self.assertRun(["/C", "img.bin", "new.cnt", KEY], 0, ENCODED)
        # Blocked during the commit, the signal ends the run right after it: the new output
        # whole in place, or the old one, never a hidden file.
        for sig in (signal.SIGPWR, signal.SIGSYS, signal.SIGSTKFLT, signal.SIGRTMIN + 3):
            with self.subTest(sig=sig):
                self.write("out.cnt", b"precious")
                proc = subprocess.Popen(["strace", "-f", "-qq", "-o", "/dev/null", "-e",
                                         "inject=renameat,renameat2:delay_enter=3s", TARN, "/C",
                                         "img.bin", "out.cnt", KEY], cwd=self.dir,
                                        stdout=subprocess.DEVNULL)
                deadline = time.monotonic() + 60
                while not self.leftovers() and time.monotonic() < deadline:
                    time.sleep(0.01)
                with open(f"/proc/{proc.pid}/task/{proc.pid}/children") as f:
                    os.kill(int(f.read().split()[0]), sig)
                proc.wait(timeout=60)
                self.assertEqual(self.leftovers(), [])
                self.assertIn(self.read("out.cnt"), (b"precious", self.read("new.cnt")))

    @posix_only
    def test_cleanup_leaves_the_users_own_files(self):
        self.write("img.bin", os.urandom(100))
        for name in (".tarn-settings", ".tarn-firmware", ".tarn-unfinished-x"):
            self.write(name, b"mine")
        time.sleep(2.2)  # as old as an abandoned output must be
        self.assertRun(["/C", "img.bin", "out.cnt", KEY], 0, ENCODED)
        for name in (".tarn-settings", ".tarn-firmware", ".tarn-unfinished-x"):
            self.assertEqual(self.read(name), b"mine")

    @posix_only
    def test_a_file_planted_on_the_hidden_name_is_never_published(self):
        if not shutil.which("strace"):
            self.skipTest("strace is not installed")
        self.write("img.bin", os.urandom(5000))
        self.write("out.cnt", b"precious")
        self.write("planted", b"planted")
        # The rename held back; meanwhile another file is renamed onto the hidden name.
        proc = subprocess.Popen(["strace", "-f", "-qq", "-o", "/dev/null", "-e",
                                 "inject=renameat,renameat2:delay_enter=2s", TARN, "/C", "img.bin",
                                 "out.cnt", KEY], cwd=self.dir, stdout=subprocess.PIPE)
        deadline = time.monotonic() + 60
        while not self.leftovers() and time.monotonic() < deadline:
            time.sleep(0.005)
        os.rename(self.path("planted"), self.path(self.leftovers()[0]))
        out, _ = proc.communicate(timeout=60)
        self.assertEqual(proc.returncode, 1)
        self.assertNotIn(b"Successfully.", out)
        self.assertEqual(self.read("out.cnt"), b"precious")
        self.assertEqual(self.leftovers(), [])

    def test_writers_the_clock_cannot_see(self):
        import mmap
        image = os.urandom(300000)
        self.write("img.bin", image)
        self.write("out.cnt", b"precious")
        # A shared writable mapping, dirtied before the run: the file's times say nothing.
        with open(self.path("img.bin"), "r+b") as f:
            mapping = mmap.mmap(f.fileno(), 0)
        mapping[0] = mapping[0]
        self.assertRun(["/C", "img.bin", "out.cnt", KEY], 1, lines("Error: can't open input file!"))
        mapping.close()
        # A writer that opens the input while it is read.
        with open(self.path("huge.bin"), "wb") as f:
            f.truncate(self.LARGE)
        proc = subprocess.Popen([*LAUNCH, TARN, "/C", "huge.bin", "out.cnt", KEY], cwd=self.dir,
                                stdout=subprocess.PIPE)
        self.wait_until_writing(proc)
        with self.assertRaises(BlockingIOError):  # the lease holds it off, and breaks
            os.open(self.path("huge.bin"), os.O_WRONLY | os.O_NONBLOCK)
        out, _ = proc.communicate(timeout=120)
        self.assertEqual((proc.returncode, out[-len(b"Error: can't read input file!\r\n"):]),
                         (1, b"Error: can't read input file!\r\n"))
        self.assertEqual(self.read("out.cnt"), b"precious")
        self.assertEqual(self.leftovers(), [])

    @unittest.skipUnless(shutil.which("gdb"), "gdb is not installed")
    def test_no_key_word_is_left_in_a_core_after_the_payload(self):
        # A core taken as the output is about to be published: the workers' stacks, the
        # caller's and the vector registers must no longer hold the key words. Key words that
        # repeat (a broadcast vector) or follow each other (the key itself) would show them.
        key = "A5A5A5A5C3C3C3C35A5A5A5A3C3C3C3C"
        patterns = [bytes.fromhex("a5a5a5a5") * 4, bytes.fromhex("c3c3c3c3") * 4,
                    bytes.fromhex("a5a5a5a5c3c3c3c3"), bytes.fromhex("3c3c3c3c5a5a5a5a")]
        with open(self.path("img.bin"), "wb") as f:
            f.truncate(8 << 20)  # two workers
        for masked in ("", "avx512", "avx2", "avx2,sse2,neon,vector"):
            with self.subTest(masked=masked):
                data = self.core([TARN, "/C", "img.bin", "out.cnt", key],
                                 "break tarn::codec::Publish",
                                 env=dict(os.environ, TARN_DISABLE_SIMD=masked))
                self.assertEqual([data.count(p) for p in patterns], [0] * len(patterns))
        # As the process ends, no text of the key is left in any of its memory, freed or not,
        # dumped or not (the arguments the system keeps are overwritten with x's).
        key = "F38B2FFC80A4DF5A51C9BC701E7EA419"
        for given in (key, key.lower()):
            with self.subTest(given=given):
                data = self.core([TARN, "/C", "img.bin", "out.cnt", given],
                                 "catch syscall exit_group", everything=True)
                # A freed block loses its first bytes to the allocator: look for any 8 digits.
                self.assertEqual([w for w in range(25) if given[w:w + 8].encode() in data], [])

    @unittest.skipUnless(os.geteuid() == 0, "needs root, whom a planted link would fool")
    def test_a_link_planted_in_a_sticky_directory_is_not_followed(self):
        self.write("img.bin", os.urandom(100))
        victim = self.write("root-owned", b"root's own")
        os.mkdir(self.path("shared"))
        os.chmod(self.path("shared"), 0o1777)
        for owner, followed in ((65534, False), (0, True)):  # nobody's link; root's own
            with self.subTest(owner=owner):
                link = self.path("shared/out.cnt")
                os.symlink(victim, link)
                os.lchown(link, owner, owner)
                rc, out, _ = self.run_tarn("/C", "img.bin", "shared/out.cnt", KEY)
                if followed:
                    self.assertEqual((rc, out), (0, BANNER + ENCODED))
                    self.assertEqual(len(self.read("root-owned")), 152)
                else:
                    self.assertEqual((rc, out), (1, BANNER + lines("Error: can't create output file!")))
                    self.assertEqual(self.read("root-owned"), b"root's own")
                os.remove(link)
        # The same rule for a link in the middle of the path: shared/build -> a folder of root's.
        # With the kernel's own rule turned off (as some systems have it), so that the tool's
        # rule is what refuses.
        knob = "/proc/sys/fs/protected_symlinks"
        try:
            with open(knob) as f:
                before = f.read().strip()
            with open(knob, "w") as f:
                f.write("0")
        except OSError:
            self.skipTest("fs.protected_symlinks cannot be set here")
        os.mkdir(self.path("roots"))
        self.write("roots/out.cnt", b"root's own")
        os.symlink(self.path("roots"), self.path("shared/build"))
        os.lchown(self.path("shared/build"), 65534, 65534)
        try:
            rc, out, _ = self.run_tarn("/C", "img.bin", "shared/build/out.cnt", KEY)
        finally:
            with open(knob, "w") as f:
                f.write(before)
        self.assertEqual((rc, out), (1, BANNER + lines("Error: can't create output file!")))
        self.assertEqual(self.read("roots/out.cnt"), b"root's own")

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("losetup") and shutil.which("mkfs.ext4"),
                         "needs root, losetup and mkfs.ext4")
    def test_a_block_device_is_held_for_the_whole_run(self):
        backing = self.path("disk.img")
        with open(backing, "wb") as f:
            f.truncate(768 << 20)
        subprocess.run(["mkfs.ext4", "-q", "-F", backing], check=True)
        made = subprocess.run(["losetup", "-f", "--show", backing], capture_output=True, text=True)
        if made.returncode != 0:
            self.skipTest("no loop device to be had")
        device = made.stdout.strip()
        os.mkdir(self.path("mnt"))
        try:
            # A writer there first is refused.
            with open(device, "r+b"):
                self.assertEqual(self.run_tarn("/C", device, "out.cnt", KEY)[:2],
                                 (1, BANNER + lines("Error: can't open input file!")))
            # While the device is read, nobody mounts it.
            proc = subprocess.Popen([TARN, "/C", device, "out.cnt", KEY], cwd=self.dir,
                                    stdout=subprocess.DEVNULL)
            self.wait_until_writing(proc)
            mount = subprocess.run(["mount", "-o", "ro", device, self.path("mnt")],
                                   capture_output=True)
            if mount.returncode == 0:
                subprocess.run(["umount", self.path("mnt")])
            self.assertEqual(proc.wait(timeout=120), 0)
            self.assertNotEqual(mount.returncode, 0)
        finally:
            subprocess.run(["losetup", "-d", device])

    @posix_only
    def test_a_signal_during_the_commit_leaves_the_new_output(self):
        if not shutil.which("strace"):
            self.skipTest("strace is not installed")
        image = os.urandom(5000)
        self.write("img.bin", image)
        self.write("out.cnt", b"precious")
        # The directory's sync, the commit's last step, held back while TERM arrives.
        proc = subprocess.Popen(["strace", "-f", "-qq", "-o", "/dev/null", "-e",
                                 "inject=fsync:delay_enter=2s", TARN, "/C", "img.bin", "out.cnt",
                                 KEY], cwd=self.dir, stdout=subprocess.PIPE)
        deadline = time.monotonic() + 60
        while self.read("out.cnt") == b"precious" and time.monotonic() < deadline:
            time.sleep(0.01)  # the new output has its name: the sync is running
        with open(f"/proc/{proc.pid}/task/{proc.pid}/children") as f:
            tool = int(f.read().split()[0])
        os.kill(tool, signal.SIGTERM)
        out, _ = proc.communicate(timeout=60)
        # 128+TERM, no "Successfully.", and the new output whole: never a mixture or nothing.
        self.assertEqual(proc.returncode, -signal.SIGTERM)  # strace ends as its tracee did
        self.assertNotIn(b"Successfully.", out)
        self.assertEqual(len(self.read("out.cnt")), 52 + len(image))
        self.assertRun(["/D", "out.cnt", "back.bin", KEY], 0, DECODED)
        self.assertEqual(self.read("back.bin"), image)
        self.assertEqual(self.leftovers(), [])

    def test_a_signal_ignored_at_start_stays_ignored(self):
        with open(self.path("in.bin"), "wb") as f:
            f.truncate(1 << 30)
        ignore_hup = lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN)  # as nohup does
        proc = subprocess.Popen([*LAUNCH, TARN, "/C", "in.bin", "out.cnt", KEY], cwd=self.dir,
                                stdout=subprocess.PIPE, preexec_fn=ignore_hup)
        self.wait_until_writing(proc)
        proc.send_signal(signal.SIGHUP)
        out, _ = proc.communicate(timeout=60)
        self.assertEqual((proc.returncode, out), (0, BANNER + ENCODED))

    def test_long_names_and_parallel_readers(self):
        self.write("in.bin", os.urandom(4 << 20))
        long_name = "n" * 255
        procs = [subprocess.Popen([*LAUNCH, TARN, "/C", "in.bin", name, key], cwd=self.dir,
                                  stdout=subprocess.PIPE)
                 for name, key in ((long_name, KEY), ("other.cnt", OTHER_KEY))]
        for proc in procs:
            self.assertEqual(proc.communicate(timeout=60)[0], BANNER + ENCODED)
        self.assertEqual(len(self.read(long_name)), 52 + (4 << 20))
        self.assertNotEqual(self.read(long_name)[52:], self.read("other.cnt")[52:])

    def test_block_device_input_and_fifo_refused(self):
        os.mkfifo(self.path("fifo"))
        self.assertRun(["/C", "fifo", "out.cnt", KEY], 1, lines("Error: can't open input file!"))
        image = self.write("disk.img", os.urandom(1 << 20))
        loop = subprocess.run(["losetup", "-f", "--show", "-r", image], capture_output=True, text=True)
        if loop.returncode != 0:
            self.skipTest("no loop device here")
        device = loop.stdout.strip()
        try:
            self.assertRun(["/C", device, "dev.cnt", KEY], 0, ENCODED)
        finally:
            subprocess.run(["losetup", "-d", device])
        self.assertEqual(self.read("dev.cnt"), self.encode(self.read("disk.img"), name="disk.img"))

    def test_input_cut_short_or_grown_while_it_is_read(self):
        cut = lambda f: f.truncate(self.LARGE // 4)
        grow = lambda f: (f.seek(0, os.SEEK_END), f.write(b"more"))
        for name, change in (("cut", cut), ("grown", grow)):
            with self.subTest(name):
                self.write("out.cnt", b"precious")
                proc = self.start_large_encode()
                with open(self.path("huge.bin"), "r+b") as f:
                    change(f)
                self.assertCleanFailure(self.finish(proc), b"Calculating crc... Done\r\n"
                                        b"Encrypting. Please wait...FAILED\r\n"
                                        + lines("Error: can't read input file!"))

    def test_container_cut_short_while_it_is_decoded(self):
        with open(self.path("huge.bin"), "wb") as f:
            f.truncate(1 << 30)
        self.assertRun(["/C", "huge.bin", "huge.cnt", KEY], 0, ENCODED)
        self.write("out.bin", b"precious")
        proc = subprocess.Popen([*LAUNCH, TARN, "/D", "huge.cnt", "out.bin", KEY], cwd=self.dir,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.wait_until_writing(proc)
        with open(self.path("huge.cnt"), "r+b") as f:
            f.truncate(1 << 20)
        self.assertCleanFailure(self.finish(proc), b"Checking crc... FAILED\r\n"
                                + lines("Error: can't read input file!"), output="out.bin")

    def run_as_nobody(self, *args):
        proc = subprocess.run([nobody_tarn(), *args], cwd=self.dir, capture_output=True,
                              preexec_fn=as_nobody, timeout=120)
        return proc.returncode, proc.stdout, proc.stderr

    def test_permission_faults(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to run the tool as another user")
        os.chmod(self.dir, 0o777)
        self.write("secret.bin", b"12345678")
        os.chmod(self.path("secret.bin"), 0)
        self.write("in.bin", b"12345678")
        os.chmod(self.path("in.bin"), 0o644)
        os.makedirs(self.path("ro"))
        os.chmod(self.path("ro"), 0o555)
        os.makedirs(self.path("sticky"))
        os.chmod(self.path("sticky"), 0o1777)
        for name, mode, owner in (("readonly.cnt", 0o444, 65534), ("roots.cnt", 0o666, 0),
                                  ("sticky/roots.cnt", 0o666, 0)):
            self.write(name, b"precious")
            os.chmod(self.path(name), mode)
            os.chown(self.path(name), owner, owner)
        cant_create = "Error: can't create output file!"
        cases = [
            (["/C", "secret.bin", "out.cnt", KEY], "Error: can't open input file!", "out.cnt"),
            (["/C", "in.bin", "ro/out.cnt", KEY], cant_create, "ro/out.cnt"),
            (["/C", "in.bin", "readonly.cnt", KEY], cant_create, "readonly.cnt"),
            (["/C", "in.bin", "roots.cnt", KEY], cant_create, "roots.cnt"),
            (["/C", "in.bin", "sticky/roots.cnt", KEY], cant_create, "sticky/roots.cnt"),
        ]
        for args, line, output in cases:
            with self.subTest(args=args):
                self.assertCleanFailure(self.run_as_nobody(*args), lines(line), output=output)
                self.assertEqual(os.listdir(self.path("ro")), [])
                self.assertEqual(os.listdir(self.path("sticky")), ["roots.cnt"])

    def test_key_memory_is_closed_to_other_processes_of_the_user(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to run the tool as another user")
        os.chmod(self.dir, 0o777)
        with open(self.path("huge.bin"), "wb") as f:
            f.truncate(self.LARGE)
        os.chmod(self.path("huge.bin"), 0o644)
        proc = subprocess.Popen([nobody_tarn(), "/C", "huge.bin", "out.cnt", KEY], cwd=self.dir,
                                stdout=subprocess.DEVNULL, preexec_fn=as_nobody)
        try:
            self.wait_until_writing(proc)
            peek = subprocess.run(["/bin/sh", "-c", f"exec 3< /proc/{proc.pid}/mem"],
                                  preexec_fn=as_nobody, capture_output=True)
        finally:
            proc.kill()
            proc.wait()
        self.assertNotEqual(peek.returncode, 0)
        self.assertIn(b"Permission denied", peek.stderr)

    def test_input_rewritten_in_place_while_it_is_read(self):
        self.write("out.cnt", b"precious")
        proc = self.start_large_encode()
        time.sleep(0.05)  # past the clock tick of the open, so that the change shows in the times
        with open(self.path("huge.bin"), "r+b") as f:
            f.write(b"changed")
        self.assertCleanFailure(self.finish(proc), b"Calculating crc... Done\r\n"
                                b"Encrypting. Please wait...FAILED\r\n"
                                + lines("Error: can't read input file!"))

    def test_output_directory_moved_or_replaced_during_the_run(self):
        os.makedirs(self.path("d"))
        os.makedirs(self.path("elsewhere"))
        with open(self.path("huge.bin"), "wb") as f:
            f.truncate(self.LARGE)
        proc = subprocess.Popen([*LAUNCH, TARN, "/C", "huge.bin", "d/out.cnt", KEY], cwd=self.dir,
                                stdout=subprocess.PIPE)
        self.wait_until_writing(proc)
        os.rename(self.path("d"), self.path("d2"))
        os.symlink("elsewhere", self.path("d"))
        self.assertEqual(proc.communicate(timeout=120)[0], BANNER + ENCODED)
        self.assertEqual(os.listdir(self.path("elsewhere")), [])
        self.assertEqual(os.listdir(self.path("d2")), ["out.cnt"])
        self.assertEqual(os.path.getsize(self.path("d2/out.cnt")), 52 + self.LARGE)

    def test_full_disk(self):
        disk = self.path("small-disk")
        os.makedirs(disk)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", disk],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if mounted.returncode != 0:
            self.skipTest("cannot mount a small tmpfs here")
        try:
            self.write("small-disk/out.cnt", b"precious")
            self.write("image.bin", os.urandom(1 << 20))
            result = self.run_tarn("/C", "image.bin", "small-disk/out.cnt", KEY)
            self.assertCleanFailure(result, b"Calculating crc... Done\r\n"
                                    b"Encrypting. Please wait...FAILED\r\n"
                                    + lines("Error: can't write output file!"),
                                    output="small-disk/out.cnt")
            self.assertEqual(os.listdir(disk), ["out.cnt"])
        finally:
            subprocess.run(["umount", disk])

    def test_encodes_alone_when_no_second_thread_can_be_had(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to run the tool as another user")
        os.chmod(self.dir, 0o777)
        self.write("in.bin", os.urandom((3 << 20) + 5))
        self.assertEqual(self.run_tarn("/C", "in.bin", "two.cnt", KEY)[0], 0)

        def one_thread():
            as_nobody()
            resource.setrlimit(resource.RLIMIT_NPROC, (1, 1))

        proc = subprocess.run([nobody_tarn(), "/C", "in.bin", "one.cnt", KEY], cwd=self.dir,
                              capture_output=True, preexec_fn=one_thread, timeout=120)
        self.assertEqual((proc.returncode, proc.stderr), (0, b""))
        self.assertEqual(self.read("one.cnt"), self.read("two.cnt"))

    def test_out_of_memory_anywhere_ends_in_one_report(self):
        with open(TARN, "rb") as f:
            if b"__asan_init" in f.read():
                self.skipTest("the sanitizers need more address space than the limits leave")
        self.write("in.bin", os.urandom(3 << 20))
        self.write("out.cnt", b"precious")
        reports = set()
        # Fine steps where the buffers run out, coarse ones above.
        for kib in [*range(1024, 4096, 64), *range(4096, 33 << 10, 1024)]:
            limit = lambda: resource.setrlimit(resource.RLIMIT_AS, (kib << 10, kib << 10))
            rc, out, err = self.run_tarn("/C", "in.bin", "out.cnt", KEY, preexec=limit)
            self.assertEqual(self.leftovers(), [])
            if out == b"" and (rc == -signal.SIGSEGV or err.startswith(b"Fatal glibc error")):
                continue  # too little for the C library to start the program at all
            if rc == 0:
                self.assertEqual(len(self.read("out.cnt")), 52 + (3 << 20))
                self.write("out.cnt", b"precious")
                continue
            self.assertEqual(rc, 1, err)
            self.assertRegex(err, rb"^Exception EOutOfMemory in module tarn at [0-9A-F]{8}\.\r\n"
                                  rb"Out of memory\.\r\n\r\n$")
            self.assertEqual(self.read("out.cnt"), b"precious")
            reports.add(err)
        self.assertEqual(len(reports), 1, "no limit ran out of memory, or the places differ")

    def test_closed_standard_descriptors(self):
        self.write("in.bin", b"12345678")
        self.write("out.cnt", b"precious")
        close_in_out = lambda: (os.close(0), os.close(1))
        rc, out, err = self.run_tarn("/C", "in.bin", "out.cnt", KEY, preexec=close_in_out)
        self.assertEqual(rc, 1)
        self.assertRegex(err, REPORT_HEAD)
        self.assertIn(b"I/O error 9.", err)  # EBADF: the placeholder takes no writes
        self.assertEqual(self.read("out.cnt"), b"precious")
        # With the standard error closed, nothing else lands in the output either.
        proc = subprocess.run([*LAUNCH, TARN, "/C", "in.bin", "out.cnt", KEY], cwd=self.dir,
                              stdout=subprocess.PIPE, preexec_fn=lambda: os.close(2))
        self.assertEqual((proc.returncode, proc.stdout), (0, BANNER + ENCODED))
        self.assertEqual(len(self.read("out.cnt")), 52 + 8)

    def test_key_is_hidden_from_process_listings(self):
        proc = self.start_large_encode()
        with open(f"/proc/{proc.pid}/cmdline", "rb") as f:
            cmdline = f.read()
        proc.kill()
        proc.communicate()
        self.assertNotIn(KEY.encode(), cmdline)
        self.assertIn(b"x" * 32, cmdline)
        self.assertIn(b"huge.bin", cmdline)


class WindowsTest(CliCase):
    """What only the Windows build does: the switch is looked for in the whole raw command
    line, program path and quoting included, and files are held with share mode 0."""

    @windows_only
    def test_switch_in_the_program_path(self):
        self.write("in", b"12345678")
        self.assertEqual(self.run_line(f"C:/c/tarn.exe /D in out {KEY}")[1], BANNER + USAGE)
        self.assertEqual(self.run_line(f"C:/d/tarn.exe /C in out {KEY}")[1], BANNER + ENCODED)
        os.remove(self.path("out"))
        # A /d in the path is the switch when the line holds no /c: four words from it.
        rc, out, _ = self.run_line(f"C:/d/tarn.exe in out {KEY}")
        self.assertEqual((rc, out), (1, BANNER + lines("Error: unknown magic!") + HEADER_REFUSED))

    @windows_only
    def test_quoting_is_not_removed(self):
        self.write("in", b"12345678")
        rc, out, _ = self.run_line(f'"C:\\Program Files\\tarn.exe" /C in out {KEY}')
        self.assertEqual((rc, out), (0, BANNER + ENCODED))
        rc, out, _ = self.run_line(f'tarn.exe /C "in" out {KEY}')
        self.assertEqual((rc, out), (1, BANNER + lines('Error: file "in" not found!')))
        rc, out, _ = self.run_line(f'tarn.exe /C "i n" out {KEY}')
        self.assertEqual((rc, out), (2, BANNER + USAGE))

    @windows_only
    def test_paths_with_slash_c_are_taken_for_the_switch(self):
        os.makedirs(self.path("out"))
        self.write("fw.bin", b"abcdefgh12")
        self.assertRun(["/C", "fw.bin", "fw.cnt", KEY], 0, ENCODED)
        self.assertRun(["/D", "fw.cnt", "out/clean.bin", KEY], 2, USAGE)
        self.assertRun(["/D", "fw.cnt", "out\\clean.bin", KEY], 0, DECODED)

    @windows_only
    def test_key_is_hidden_from_process_listings(self):
        with open(self.path("huge.bin"), "wb") as f:
            f.truncate(256 << 20)
        rc, _, err = self.run_line(f"tarn.exe /C huge.bin out.cnt {KEY}", peek=".tarn-*")
        self.assertEqual(rc, 0)
        self.assertIn(b"peek: tarn.exe /C huge.bin out.cnt " + b"x" * 32 + b"\r\n", err)
        self.assertNotIn(KEY.encode(), err)

    @windows_only
    def test_input_held_open_by_another_process(self):
        self.write("in", b"12345678")
        rc, out, _ = self.run_line(f"tarn.exe /C in out {KEY}", hold="in")
        self.assertEqual((rc, out), (1, BANNER + lines("Error: can't open input file!")))
        self.assertFalse(os.path.exists(self.path("out")))


if __name__ == "__main__":
    TARN = os.path.abspath(sys.argv.pop(1))
    if len(sys.argv) > 2 and sys.argv[1] == "--launcher":
        LAUNCH = [sys.argv[2]]
        del sys.argv[1:3]
    if len(sys.argv) > 4 and sys.argv[1] == "--wine" and sys.argv[3] == "--spawn":
        WINE, SPAWN = sys.argv[2], os.path.abspath(sys.argv[4])
        del sys.argv[1:5]
    unittest.main(verbosity=1)
