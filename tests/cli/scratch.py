"""A test case with a scratch directory of its own, shared by the command-line suites."""
import os
import shlex
import struct
import subprocess
import tempfile
import unittest


class ScratchCase(unittest.TestCase):
    PREFIX = "tarn-test-"

    def setUp(self):
        self._dir = tempfile.TemporaryDirectory(prefix=self.PREFIX)
        self.dir = self._dir.name

    def tearDown(self):
        self._dir.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def core(self, args, stop, env=None, pass_fds=(), everything=False, redirect=""):
        """The memory of a run of `args` under gdb, taken where `stop` (a gdb command that
        sets a breakpoint or a catchpoint) first stops it; with `everything`, memory kept out
        of core dumps too; `redirect` is added to gdb's run ("< in > out"). Skips the test in a sanitizer build, whose core would hold
        terabytes of shadow memory."""
        with open(args[0], "rb") as f:
            if b"__asan_init" in f.read():
                self.skipTest("a sanitizer build's core holds its shadow memory")
        core = self.path("core")
        # Arguments given to gdb's run replace those of --args: with a redirection, all of them.
        run = "run " + " ".join(shlex.quote(a) for a in args[1:]) + " " + redirect if redirect else "run"
        subprocess.run(["gdb", "-q", "-batch", "-ex",
                        f"set dump-excluded-mappings {'on' if everything else 'off'}", "-ex", stop, "-ex", run, "-ex", f"gcore {core}",
                        "-ex", "kill", "--args", *args], cwd=self.dir, timeout=300, env=env,
                       pass_fds=pass_fds, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(core, "rb") as f:
            elf = f.read()
        os.remove(core)
        # The process's memory alone: the notes repeat the command line gdb started it with.
        phoff, = struct.unpack_from("<Q", elf, 0x20)
        size, count = struct.unpack_from("<HH", elf, 0x36)
        data = b""
        for i in range(count):
            kind, _, offset, _, _, length = struct.unpack_from("<IIQQQQ", elf, phoff + i * size)
            if kind == 1:  # a loaded segment
                data += elf[offset:offset + length]
        self.assertGreater(len(data), 1 << 16)  # a core was taken
        return data
