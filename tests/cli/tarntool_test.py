#!/usr/bin/env python3
"""Command-line tests of tarntool: run it as a build script does and compare its results,
statuses and files with tarn's.

Usage: tarntool_test.py PATH_TO_TARNTOOL PATH_TO_TARN [unittest options]
"""
import json
import os
import pty
import resource
import shutil
import signal
import tempfile
import re
import stat
import struct
import subprocess
import sys
import unittest

from scratch import ScratchCase

TOOL = TARN = None
HERE = os.path.dirname(os.path.abspath(__file__))
KEY = "0123456789ABCDEFFEDCBA9876543210"
OTHER_KEY = "F38B2FFC80A4DF5A51C9BC701E7EA419"


class ToolCase(ScratchCase):
    PREFIX = "tarntool-"

    def setUp(self):
        super().setUp()
        # Files this user alone may read, as key files should be (others get a warning).
        self._umask = os.umask(0o077)
        self.key_file = self.write("key.hex", KEY.lower().encode() + b"\n")
        self.other_key = self.write("other.hex", b"  " + OTHER_KEY.encode() + b" \r\n")

    def tearDown(self):
        os.umask(self._umask)
        super().tearDown()

    def tool(self, *args, env=None, pass_fds=()):
        proc = subprocess.run([TOOL, *args], cwd=self.dir, capture_output=True, timeout=300,
                              env=env, pass_fds=pass_fds)
        return proc.returncode, proc.stdout, proc.stderr

    def tarn(self, mode, src, dst, key=KEY):
        subprocess.run([TARN, mode, src, dst, key], cwd=self.dir, check=True,
                       stdout=subprocess.DEVNULL)
        return self.read(dst)


class TarntoolTest(ToolCase):
    def test_encode_and_decode_equal_tarn(self):
        with open(os.path.join(HERE, "..", "..", "testdata", "known-answers.json")) as f:
            known = json.load(f)["containers"]
        images = [bytes.fromhex(c["image_hex"]) for c in known]
        images += [os.urandom(n) for n in (1, 7, 4099, (1 << 20) + 5, (3 << 20) + 3)]
        for i, image in enumerate(images):
            with self.subTest(size=len(image)):
                self.write("img.bin", image)
                rc, _, err = self.tool("encode", "--key-file", "key.hex", "-o", "img.cnt", "img.bin")
                self.assertEqual((rc, err), (0, b""))
                self.assertEqual(self.read("img.cnt"), self.tarn("/C", "img.bin", "tarn.cnt"))
                if i < len(known):
                    self.assertEqual(self.read("img.cnt").hex(), known[i]["container_hex"])
                rc, _, _ = self.tool("decode", "--key-file", "key.hex", "-o", "back.bin", "img.cnt")
                self.assertEqual((rc, self.read("back.bin")), (0, image))

    def test_verdicts_with_and_without_json(self):
        image = os.urandom(5000)
        self.write("img.bin", image)
        good = self.tarn("/C", "img.bin", "good.cnt")
        damaged = bytearray(good)
        damaged[60] ^= 1
        versioned = bytearray(good)
        versioned[36] = 12
        self.write("damaged.cnt", bytes(damaged))
        self.write("version.cnt", bytes(versioned))
        self.write("short.cnt", good[:-1])
        files = ["good.cnt", "img.bin", "version.cnt", "short.cnt", "damaged.cnt", "missing"]
        for command, key_args, first in (("info", [], "ok"),
                                         ("verify", ["--key-file", "other.hex"], "image-mismatch")):
            with self.subTest(command):
                rc, out, _ = self.tool(command, *key_args, "--json", "-j", "3", *files)
                self.assertEqual(rc, 2)  # a missing file is trouble, worse than a failed check
                results = json.loads(out)
                self.assertEqual([r["file"] for r in results], files)  # argument order
                self.assertEqual([r["verdict"] for r in results],
                                 [first, "not-a-container", "unknown-version", "wrong-size",
                                  "payload-damaged", "unreadable"])
                self.assertEqual(results[0]["image_size"], 5000)
                self.assertEqual(results[0]["payload_crc32"], "0x%08X" % int.from_bytes(good[28:32], "little"))
                self.assertEqual(results[0]["payload_ok"], True)
                self.assertEqual(results[0]["image_ok"], None if command == "info" else False)
                self.assertEqual(results[4]["payload_ok"], False)
                self.assertEqual(len(results[0]["words"]), 13)
                rc, out, err = self.tool(command, *key_args, *files[:5])
                self.assertEqual(rc, 1)
                self.assertIn(b"damaged.cnt: payload damaged\n", out)
                self.assertIn(b"img.bin: not a container\n", out)
        rc, out, _ = self.tool("verify", "--key-file", "key.hex", "good.cnt")
        self.assertEqual((rc, out), (0, b"good.cnt: ok\n"))

    def test_rekey_equals_encode_under_the_new_key(self):
        self.write("img.bin", os.urandom((1 << 20) + 13))
        self.tarn("/C", "img.bin", "old.cnt")
        rc, _, err = self.tool("rekey", "--key-file", "other.hex", "--new-key-file", "key.hex",
                               "-o", "new.cnt", "old.cnt")
        self.assertEqual(rc, 1)
        self.assertIn(b"old.cnt: image does not match", err)
        self.assertFalse(os.path.exists(self.path("new.cnt")))
        rc, _, _ = self.tool("rekey", "--key-file", "key.hex", "--new-key-file", "other.hex",
                             "-o", "new.cnt", "old.cnt")
        self.assertEqual(rc, 0)
        self.assertEqual(self.read("new.cnt"), self.tarn("/C", "img.bin", "direct.cnt", OTHER_KEY))

    def test_key_sources(self):
        self.write("img.bin", b"123456789")
        expected = self.tarn("/C", "img.bin", "tarn.cnt")
        self.write("bad.hex", KEY[:31].encode() + b"\n")
        self.write("blank-lines.hex", b"\xef\xbb\xbf" + KEY.encode() + b" \r\n\r\n\n")
        self.write("two-lines.hex", KEY.encode() + b"\n" + KEY.encode() + b"\n")
        self.write("open.hex", KEY.encode() + b"\n")
        os.chmod(self.path("open.hex"), 0o644)
        r, w = os.pipe()
        os.write(w, KEY.encode() + b"\n")
        os.close(w)
        env = dict(os.environ, TARN_KEY=KEY, EMPTY="")
        cases = [
            (["--key-file", "key.hex"], 0, b""),
            (["--key-env", "TARN_KEY"], 0, b""),
            (["--key-fd", str(r)], 0, b""),
            (["--key-file", "bad.hex"], 2, b"tarntool: bad.hex: not a key"),
            (["--key-file", "blank-lines.hex"], 0, b""),  # a byte-order mark, empty lines
            (["--key-file", "open.hex"], 0, b"tarntool: open.hex: warning: the key file may be read"),
            (["--key-file", "two-lines.hex"], 2, b"tarntool: two-lines.hex: not a key"),
            (["--key-file", "nothere.hex"], 2,
             b"tarntool: nothere.hex: cannot read the key file: No such file or directory"),
            (["--key-file", "."], 2, b"tarntool: .: cannot read the key file: Is a directory"),
            (["--key-file", "/dev/zero"], 2, b"tarntool: /dev/zero: not a key (more than 4 KiB)"),
            (["--key-env", "EMPTY"], 2, b"tarntool: $EMPTY: not a key"),
            (["--key-env", "UNSET_VARIABLE"], 2, b"tarntool: $UNSET_VARIABLE: the environment"),
            (["--key-file", "key.hex", "--key-env", "TARN_KEY"], 2, b"tarntool: exactly 1 option"),
            ([], 2, b"tarntool: exactly 1 option"),
        ]
        for args, status, err_start in cases:
            with self.subTest(args=args):
                rc, _, err = self.tool("encode", *args, "-o", "out.cnt", "img.bin", env=env,
                                       pass_fds=(r,))
                self.assertEqual(rc, status)
                self.assertTrue(err.startswith(err_start), err)
                self.assertNotIn(KEY[:31].encode(), err)
                if status == 0:
                    self.assertEqual(self.read("out.cnt"), expected)
                    os.remove(self.path("out.cnt"))
                else:
                    self.assertFalse(os.path.exists(self.path("out.cnt")))
        os.close(r)

    @unittest.skipUnless(shutil.which("gdb"), "gdb is not installed")
    def test_no_key_text_is_left_in_memory_at_exit(self):
        self.write("img.bin", b"123456789")
        # Blanks before the key: a text that grows as it is read leaves copies behind.
        padded = self.write("padded.hex", b" " * 1000 + OTHER_KEY.lower().encode() + b"\n")
        for args in (["--key-file", padded], ["--key-env", "TARN_KEY"], ["--key-fd", "{fd}"]):
            with self.subTest(args=args):
                r, w = os.pipe()
                os.write(w, self.read("padded.hex"))
                os.close(w)
                data = self.core([TOOL, "encode", *[a.format(fd=r) for a in args], "-o",
                                  "out.cnt", "img.bin"], "catch syscall exit_group",
                                 env=dict(os.environ, TARN_KEY=OTHER_KEY) if "TARN_KEY" in args
                                 else None, pass_fds=(r,), everything=True)
                os.close(r)
                self.assertEqual(os.path.getsize(self.path("out.cnt")), 61)
                os.remove(self.path("out.cnt"))
                for text in (OTHER_KEY, OTHER_KEY.lower()):  # any 8 of its digits
                    self.assertEqual([w for w in range(25) if text[w:w + 8].encode() in data], [])
        # A run through pipes: neither the text nor a word of the key in memory at exit.
        words = [struct.pack("<I", int(OTHER_KEY[i:i + 8], 16)) for i in range(0, 32, 8)]
        data = self.core([TOOL, "encode", "--key-file", padded, "-o", "-", "-"],
                         "catch syscall exit_group", everything=True,
                         redirect="< img.bin > out.cnt")
        self.assertEqual(os.path.getsize(self.path("out.cnt")), 61)
        self.assertEqual([w for w in range(25) if OTHER_KEY.lower()[w:w + 8].encode() in data], [])
        self.assertEqual([w for w in words if w in data], [])

    def test_keygen(self):
        rc, _, _ = self.tool("keygen", "-o", "new.hex")
        self.assertEqual(rc, 0)
        self.assertEqual(stat.S_IMODE(os.stat(self.path("new.hex")).st_mode), 0o600)
        key = self.read("new.hex")
        self.assertRegex(key, rb"^[0-9A-F]{32}\n$")
        rc, _, err = self.tool("keygen", "-o", "new.hex")
        self.assertEqual(rc, 2)
        self.assertEqual(self.read("new.hex"), key)
        self.tool("keygen", "-o", "second.hex")
        self.assertNotEqual(self.read("second.hex"), key)

    def test_names_with_spaces_and_other_bytes(self):
        name = b"fw image \xff\xfe.bin"
        with open(os.path.join(self.dir.encode(), name), "wb") as f:
            f.write(os.urandom(3000))
        out = b"out put \xc3.cnt"
        rc, _, _ = self.tool("encode", "--key-file", "key.hex", "-o", out, name)
        self.assertEqual(rc, 0)
        rc, stdout, _ = self.tool("info", "--json", out)
        self.assertEqual(rc, 0)
        self.assertEqual(json.loads(stdout)[0]["verdict"], "ok")  # valid JSON whatever the name
        rc, _, _ = self.tool("decode", "--key-file", "key.hex", "-o", b"back \x01.bin", out)
        self.assertEqual(rc, 0)
        with open(os.path.join(self.dir.encode(), name), "rb") as a, \
                open(os.path.join(self.dir.encode(), b"back \x01.bin"), "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_messages_name_their_cause(self):
        self.write("img.bin", os.urandom(100))
        os.mkdir(self.path("dir"))
        cases = [  # arguments, the first line on stderr, status
            (["info", "missing"], "missing: can't open input file: No such file or directory", 2),
            (["info", "dir"], "dir: can't open input file: Is a directory", 2),
            (["info", "/dev/null"], "/dev/null: can't open input file: not a regular file or block device", 2),
            (["encode", "--key-file", "key.hex", "-o", "img.bin", "img.bin"],
             "img.bin: can't create output file: is the input itself", 2),
            (["encode", "--key-file", "key.hex", "-o", "nodir/out", "img.bin"],
             "nodir/out: can't create output file: No such file or directory", 2),
            (["encode", "--key-file", "key.hex", "-o", "dir", "img.bin"],
             "dir: can't create output file: Is a directory", 2),
            (["encode", "--key-file", "key.hex", "-o", "key.hex", "img.bin"],
             "key.hex: can't create output file: is the key file", 2),
            (["keygen", "-o", "nodir/new.hex"],
             "nodir/new.hex: cannot create the key file: No such file or directory", 2),
            (["keygen", "-o", "key.hex"],
             "key.hex: cannot create the key file: it exists already (never overwritten)", 2),
            (["bogus"], "unknown command 'bogus'", 2),
            (["-V"], "unknown option '-V'", 2),
            (["info", "--bogus", "x"], "unknown option '--bogus'", 2),
        ]
        key = self.read("key.hex")
        for args, line, status in cases:
            with self.subTest(args=args):
                rc, _, err = self.tool(*args)
                self.assertEqual(self.read("key.hex"), key)
                self.assertEqual(rc, status)
                self.assertEqual(err.decode().splitlines()[0], "tarntool: " + line)
                if line.startswith("unknown"):
                    self.assertEqual(err.decode().splitlines()[1],
                                     "Try 'tarntool --help' for more information.")

    @unittest.skipUnless(os.geteuid() == 0, "needs root to run a check as another user")
    def test_checks_go_on_with_fewer_threads_than_asked_for(self):
        # As another user, allowed one process: no thread can be started beside the main one.
        shared = tempfile.mkdtemp(prefix="tarntool-nproc-")
        try:
            os.chmod(shared, 0o755)
            subprocess.run(["cp", TOOL, shared], check=True)
            os.chmod(os.path.join(shared, "tarntool"), 0o755)
            self.write("img.bin", os.urandom(3000))
            with open(os.path.join(shared, "a.cnt"), "wb") as f:
                f.write(self.tarn("/C", "img.bin", "a.cnt"))
            os.chmod(os.path.join(shared, "a.cnt"), 0o644)

            def limited():
                os.setgid(65534)
                os.setuid(65534)
                resource.setrlimit(resource.RLIMIT_NPROC, (1, 1))

            proc = subprocess.run([os.path.join(shared, "tarntool"), "info", "-j", "4", "--json",
                                   "a.cnt", "a.cnt", "a.cnt"], cwd=shared, capture_output=True,
                                  preexec_fn=limited, timeout=60)
            self.assertEqual(proc.returncode, 0, proc.stderr)
            self.assertEqual([r["verdict"] for r in json.loads(proc.stdout)], ["ok"] * 3)
        finally:
            shutil.rmtree(shared)

    def test_quiet_json_and_a_failing_standard_output(self):
        self.write("img.bin", os.urandom(5000))
        good = self.tarn("/C", "img.bin", "good.cnt")
        self.write("damaged.cnt", good[:100] + bytes([good[100] ^ 1]) + good[101:])
        self.write("cut.cnt", good[:40])
        rc, out, _ = self.tool("verify", "--key-file", "key.hex", "--quiet", "good.cnt", "damaged.cnt")
        self.assertEqual((rc, out), (1, b"damaged.cnt: payload damaged\n"))  # failures only
        rc, out, _ = self.tool("info", "--json", "img.bin", "cut.cnt")
        plain, cut = json.loads(out)
        self.assertEqual([plain[f] for f in ("image_size", "image_crc32", "payload_crc32", "words")],
                         [None, None, None, []])
        self.assertEqual(plain["container_size"], 5000)
        # Cut after the payload CRC (word 7) and the image CRC (word 8), before the size (word 12).
        self.assertEqual((cut["image_size"], cut["payload_crc32"] is None, len(cut["words"])),
                         (None, False, 10))
        for args in (["info", "--json", "good.cnt"], ["--help"], ["--version"]):
            with self.subTest(args=args), open("/dev/full", "wb") as full:
                proc = subprocess.run([TOOL, *args], cwd=self.dir, stdout=full, stderr=subprocess.PIPE)
                self.assertEqual(proc.returncode, 2)
                self.assertIn(b"cannot write the standard output: No space left on device",
                              proc.stderr)
        rc, _, _ = self.tool("rekey", "--key-file", "key.hex", "--new-key-env", "NEW", "-o",
                             "new.cnt", "good.cnt", env=dict(os.environ, NEW=OTHER_KEY))
        self.assertEqual(rc, 0)
        self.assertEqual(self.read("new.cnt"), self.tarn("/C", "img.bin", "other.cnt", OTHER_KEY))

    def test_every_option_of_help_is_in_the_man_page_and_the_completion(self):
        page = open(os.path.join(HERE, "..", "..", "man", "tarntool.1")).read().replace("\\-", "-")
        completion = open(os.path.join(HERE, "..", "..", "completion", "tarntool.bash")).read()
        for command in ("info", "verify", "encode", "decode", "rekey", "keygen", "sign"):
            _, out, _ = self.tool(command, "--help")
            options = re.findall(r"^\s+(?:(-\w),)?(--[\w-]+)", out.decode(), re.M)
            self.assertTrue(options, command)
            for short, long in options:
                with self.subTest(command=command, option=long):
                    self.assertIn(long, page)
                    if long != "--help":
                        self.assertIn(long, completion)
                    for text in (page, completion) if short else ():
                        self.assertRegex(text, rf"(?<![\w-]){short}(?![\w-])")

    def test_pipes_give_what_files_give(self):
        image = os.urandom((1 << 20) + 13)
        self.write("img.bin", image)
        container = self.tarn("/C", "img.bin", "img.cnt")
        other = self.tarn("/C", "img.bin", "other.cnt", OTHER_KEY)
        key = ["--key-file", "key.hex"]
        cases = [  # arguments, standard input, expected standard output, expected output file
            (["encode", *key, "-o", "-", "-"], image, container, None),
            (["encode", *key, "-o", "-", "img.bin"], b"", container, None),
            (["encode", *key, "-o", "out", "-"], image, b"out: encoded from -\n", container),
            (["decode", *key, "-o", "-", "-"], container, image, None),
            (["decode", *key, "-o", "out", "-"], container, b"out: decoded from -\n", image),
            (["rekey", "--key-file", "other.hex", "--new-key-file", "key.hex", "-o", "-", "-"],
             other, container, None),
            (["verify", *key, "-"], container, b"-: ok\n", None),
        ]
        for args, stdin, stdout, output in cases:
            with self.subTest(args=args):
                proc = subprocess.run([TOOL, *args], cwd=self.dir, input=stdin,
                                      capture_output=True, timeout=300)
                self.assertEqual((proc.returncode, proc.stderr), (0, b""))
                self.assertEqual(proc.stdout, stdout)
                if output is not None:
                    self.assertEqual(self.read("out"), output)
                    os.remove(self.path("out"))

    def test_files_and_pipes_give_the_same_statuses_and_messages(self):
        self.write("img.bin", os.urandom(300000))
        good = self.tarn("/C", "img.bin", "good.cnt")
        damaged = bytearray(good)
        damaged[1000] ^= 4
        self.write("damaged.cnt", bytes(damaged))
        self.write("other.cnt", self.tarn("/C", "img.bin", "o.cnt", OTHER_KEY))
        self.write("short.cnt", good[:-1])
        key = ["--key-file", "key.hex"]
        commands = {"encode": ["encode", *key, "-o", "out"], "decode": ["decode", *key, "-o", "out"],
                    "rekey": ["rekey", *key, "--new-key-file", "other.hex", "-o", "out"],
                    "verify": ["verify", *key]}
        inputs = {"encode": ["img.bin"], "verify": ["good.cnt", "damaged.cnt", "other.cnt",
                                                    "short.cnt", "img.bin"]}

        def limited():  # a file-size limit that every output here runs into
            resource.setrlimit(resource.RLIMIT_FSIZE, (51200, 51200))
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)

        for command, args in commands.items():
            for name in inputs.get(command, inputs["verify"]):
                for limit in ((None, limited) if command != "verify" else (None,)):
                    results = []
                    for piped in (False, True):
                        with open(self.path(name), "rb") as stdin:
                            proc = subprocess.run(
                                [TOOL, *args, "-" if piped else name], cwd=self.dir,
                                stdin=stdin if piped else subprocess.DEVNULL,
                                capture_output=True, preexec_fn=limit, timeout=120)
                        err = proc.stderr.replace(b"tarntool: %s:" % name.encode(), b"tarntool: -:")
                        results.append((proc.returncode, err, os.path.exists(self.path("out"))))
                        if os.path.exists(self.path("out")):
                            os.remove(self.path("out"))
                    with self.subTest(command=command, input=name, limited=limit is not None):
                        self.assertEqual(results[0], results[1])

    def test_refusals_of_streams_and_key_sources(self):
        self.write("img.bin", os.urandom(1000))
        self.write("kf", KEY.encode() + b"\n")
        os.mkfifo(self.path("fifo.key"))
        key = ["--key-file", "key.hex"]
        cases = [  # arguments, what the run does first, a text of its message
            (["encode", "--key-fd", "{fd}", "-o", "kf", "img.bin"], "key-fd", b"is the key file"),
            (["encode", *key, "-o", "out", "-"], "closed stdin", b"can't open input file"),
            (["verify", *key, "-", "-"], None, b"read only once"),
            (["keygen", "-o", "-"], None, b"never to the standard output"),
            (["verify", "--key-file", "fifo.key", "img.bin"], None, b"a FIFO"),
        ]
        for args, setup, text in cases:
            with self.subTest(args=args):
                fd = os.open(self.path("kf"), os.O_RDONLY) if setup == "key-fd" else None
                proc = subprocess.run(
                    [TOOL, *[a.format(fd=fd) for a in args]], cwd=self.dir, capture_output=True,
                    timeout=20, stdin=subprocess.DEVNULL, pass_fds=() if fd is None else (fd,),
                    preexec_fn=(lambda: os.close(0)) if setup == "closed stdin" else None)
                if fd is not None:
                    os.close(fd)
                self.assertEqual(proc.returncode, 2)
                self.assertIn(text, proc.stderr)
                self.assertEqual(self.read("kf"), KEY.encode() + b"\n")
                self.assertFalse(os.path.exists(self.path("out")) or os.path.exists(self.path("-")))

    def test_pipes_that_fail_leave_nothing(self):
        self.write("img.bin", os.urandom(300000))
        damaged = bytearray(self.tarn("/C", "img.bin", "img.cnt"))
        damaged[1000] ^= 4
        tmp = os.path.join(self.dir, "tmp")
        os.mkdir(tmp)
        env = dict(os.environ, TMPDIR=tmp)
        key = ["--key-file", "key.hex"]
        for output in ("-", "out"):
            with self.subTest(output=output):
                proc = subprocess.run([TOOL, "decode", *key, "-o", output, "-"], cwd=self.dir,
                                      input=bytes(damaged), capture_output=True, env=env)
                self.assertEqual((proc.returncode, proc.stdout), (1, b""))
                self.assertIn(b"tarntool: -: payload damaged", proc.stderr)
                self.assertFalse(os.path.exists(self.path("out")))
        # A reader that leaves early (more than a pipe holds), and a full disk behind the
        # standard output.
        self.write("big.bin", os.urandom(4 << 20))
        self.tarn("/C", "big.bin", "big.cnt")
        reader = subprocess.Popen([TOOL, "decode", *key, "-o", "-", "big.cnt"], cwd=self.dir,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        reader.stdout.read(10)
        reader.stdout.close()
        self.assertEqual(reader.wait(timeout=60), 2)
        self.assertIn(b"tarntool: -: can't write output file: Broken pipe", reader.stderr.read())
        with open("/dev/full", "wb") as full:
            proc = subprocess.run([TOOL, "encode", *key, "-o", "-", "img.bin"], cwd=self.dir,
                                  stdout=full, stderr=subprocess.PIPE, env=env)
        self.assertEqual(proc.returncode, 2)
        self.assertEqual(os.listdir(tmp), [])
        # A terminal is no place for a container, in either direction.
        main, sub = pty.openpty()
        for args, stdin, stdout in ((["info", "-"], sub, None),
                                    (["encode", *key, "-o", "-", "img.bin"], None, sub)):
            proc = subprocess.run([TOOL, *args], cwd=self.dir, stdin=stdin, stdout=stdout,
                                  stderr=subprocess.PIPE, timeout=60)
            self.assertEqual(proc.returncode, 2)
            self.assertIn(b"is a terminal", proc.stderr)
        os.close(main)
        os.close(sub)

    def test_progress_only_on_a_terminal(self):
        # A name with an escape sequence: shown quoted, as result lines show it.
        with open(self.path("huge\x1b[2J.bin"), "wb") as f:
            f.truncate(1 << 30)
        args = [TOOL, "encode", "--key-file", "key.hex", "-o", "huge.cnt", "huge\x1b[2J.bin"]
        proc = subprocess.run(args, cwd=self.dir, capture_output=True, timeout=300)
        self.assertEqual((proc.returncode, proc.stderr), (0, b""))
        main, sub = pty.openpty()
        proc = subprocess.Popen(args, cwd=self.dir, stderr=sub, stdout=subprocess.DEVNULL)
        os.close(sub)
        seen = b""
        while True:
            try:
                chunk = os.read(main, 4096)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
        os.close(main)
        self.assertEqual(proc.wait(timeout=300), 0)
        self.assertRegex(seen, rb"\r'huge'\$'\\033''\[2J\.bin': +\d+%  [\d.]+ MB/s  \d+ s left")
        self.assertNotIn(b"\x1b[2J", seen)


class SignatureTest(ToolCase):
    """Signatures in minisign's format, against minisign itself."""

    def setUp(self):
        super().setUp()
        rc, _, err = self.tool("sign", "--secret-key", "none", "none")
        if b"without libsodium" in err:
            self.skipTest("this build makes no signatures (built without libsodium)")
        self.write("img.bin", os.urandom(70000))
        self.tarn("/C", "img.bin", "fw.cnt")

    def minisign(self, *args, stdin=b""):
        if shutil.which("minisign") is None:
            self.skipTest("minisign is not installed (scripts/setup test installs it)")
        return subprocess.run(["minisign", *args], cwd=self.dir, input=stdin,
                              capture_output=True, timeout=120).returncode

    def test_minisign_and_tarntool_accept_each_others_signatures_and_refuse_changes(self):
        self.assertEqual(self.tool("keygen", "--signing", "--public-key", "t.pub",
                                   "--secret-key", "t.key", "-q")[0], 0)
        self.assertEqual(self.minisign("-G", "-W", "-p", "m.pub", "-s", "m.key"), 0)
        self.assertEqual(self.tool("sign", "--secret-key", "t.key", "--version", "7",
                                   "--signature", "t.sig", "fw.cnt", "-q")[0], 0)
        self.assertEqual(self.minisign("-S", "-s", "m.key", "-m", "fw.cnt", "-x", "m.sig",
                                       "-t", "version=7"), 0)
        self.assertEqual(self.minisign("-S", "-l", "-s", "m.key", "-m", "fw.cnt", "-x", "l.sig"), 0)
        # tarntool's secret key works in minisign too.
        self.assertEqual(self.minisign("-S", "-s", "t.key", "-m", "fw.cnt", "-x", "mt.sig"), 0)
        good = self.read("fw.cnt")
        for pub, sig in (("t.pub", "t.sig"), ("m.pub", "m.sig"), ("m.pub", "l.sig"),
                         ("t.pub", "mt.sig")):
            with self.subTest(sig=sig):
                self.assertEqual(self.minisign("-Vm", "fw.cnt", "-p", pub, "-x", sig), 0)
                rc, out, _ = self.tool("verify", "--public-key", pub, "--signature", sig,
                                       "--key-file", "key.hex", "fw.cnt")
                self.assertEqual(rc, 0, out)
                self.assertIn(b"; signature ok", out)
                if pub == "m.pub":  # the key id minisign writes in its public key
                    shown = re.search(rb"\(key ([0-9A-F]{16})", out).group(1)
                    written = self.read(pub).split(b"\n")[0].split()[-1]
                    self.assertEqual(int(shown, 16), int(written, 16))
                text = self.read(sig)
                # A changed byte of the container, of the signature, of the trusted comment.
                changed = bytearray(good)
                changed[len(good) // 2] ^= 1
                self.write("x.cnt", bytes(changed))
                lines = text.split(b"\n")
                bad_sig = lines[:]
                bad_sig[1] = bad_sig[1][:20] + (b"A" if bad_sig[1][20:21] != b"A" else b"B") + \
                    bad_sig[1][21:]
                bad_comment = lines[:]
                bad_comment[2] += b"x"
                for name, data, sig_text in (("x.cnt", bytes(changed), text),
                                             ("fw.cnt", good, b"\n".join(bad_sig)),
                                             ("fw.cnt", good, b"\n".join(bad_comment))):
                    self.write("x.sig", sig_text)
                    self.assertNotEqual(self.minisign("-Vm", name, "-p", pub, "-x", "x.sig"), 0)
                    rc, out, _ = self.tool("verify", "--public-key", pub, "--signature", "x.sig",
                                           name)
                    self.assertEqual(rc, 1, out)
                    self.assertIn(b"bad signature", out)

    def test_version_device_and_missing_signature_verdicts(self):
        self.tool("keygen", "--signing", "--public-key", "k.pub", "--secret-key", "k.key")
        self.assertEqual(self.tool("sign", "--secret-key", "k.key", "--version", "5",
                                   "--device", "board-a", "fw.cnt")[0], 0)
        shutil.copy(os.path.join(self.dir, "fw.cnt"), os.path.join(self.dir, "unsigned.cnt"))
        for args, want_rc, want in (
                ((), 0, b"signature ok (key "),
                (("--min-version", "5", "--device", "board-a"), 0, b", version 5, device board-a)"),
                (("--min-version", "6"), 1, b"older than 6"),
                (("--device", "board-b"), 1, b"made for another device")):
            with self.subTest(args=args):
                rc, out, _ = self.tool("verify", "--public-key", "k.pub", *args, "fw.cnt")
                self.assertEqual(rc, want_rc, out)
                self.assertIn(want, out)
        rc, out, _ = self.tool("verify", "--public-key", "k.pub", "--json", "unsigned.cnt")
        self.assertEqual((rc, json.loads(out)[0]["signature"]["verdict"]), (1, "no-signature"))
        # Through a pipe, read once: the signature checked as the bytes arrive.
        for data, want_rc, want in ((self.read("fw.cnt"), 0, b"; signature ok"),
                                    (self.read("fw.cnt")[:-1] + b"x", 1, b"; bad signature")):
            proc = subprocess.run([TOOL, "verify", "--public-key", "k.pub", "--signature",
                                   "fw.cnt.minisig", "-"], cwd=self.dir, input=data,
                                  capture_output=True, timeout=60)
            self.assertEqual(proc.returncode, want_rc, proc.stderr)
            self.assertIn(want, proc.stdout)
        # A comment that would smuggle in a field is refused before anything is signed.
        rc, _, err = self.tool("sign", "--secret-key", "k.key", "--comment", "x version=9",
                               "unsigned.cnt")
        self.assertEqual((rc, os.path.exists(os.path.join(self.dir, "unsigned.cnt.minisig"))),
                         (2, False))
        # A secret key that is a FIFO: refused, naming no option that does not exist.
        os.mkfifo(os.path.join(self.dir, "fifo.key"))
        rc, _, err = self.tool("sign", "--secret-key", "fifo.key", "unsigned.cnt")
        self.assertEqual((rc, err.rstrip()[-29:]), (2, b"give the secret key in a file"))

    def test_password_protected_secret_key(self):
        env = dict(os.environ, PW="correct horse")
        self.assertEqual(self.tool("keygen", "--signing", "--public-key", "p.pub", "--secret-key",
                                   "p.key", "--password-env", "PW", env=env)[0], 0)
        self.assertEqual(os.stat(os.path.join(self.dir, "p.key")).st_mode & 0o777, 0o600)
        # The public key is for handing out: readable by others as the umask allows.
        mask = os.umask(0)
        os.umask(mask)
        self.assertEqual(os.stat(os.path.join(self.dir, "p.pub")).st_mode & 0o777, 0o644 & ~mask)
        wrong = dict(os.environ, PW="wrong")
        rc, _, err = self.tool("sign", "--secret-key", "p.key", "--password-env", "PW", "fw.cnt",
                               env=wrong)
        self.assertEqual(rc, 2)
        self.assertIn(b"wrong password", err)
        self.assertEqual(self.tool("sign", "--secret-key", "p.key", "--password-env", "PW",
                                   "fw.cnt", env=env)[0], 0)
        self.assertEqual(self.tool("verify", "--public-key", "p.pub", "fw.cnt")[0], 0)


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    TARN = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
