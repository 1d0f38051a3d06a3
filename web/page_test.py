#!/usr/bin/env python3
"""Drives the built inspector page in headless Chromium, from file://, as a technician would:
the known-answer containers give their verdicts and fields, a damaged and a wrong-key
container give theirs, a saved image equals the original, an encoded image equals the console
program's container, a 1 GiB container is checked with bounded memory, and the page makes no
network request (Chromium's performance log).

Usage: page_test.py PAGE TARN_BIN [--screenshot PNG] [unittest options]"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

PAGE = TARN = SCREENSHOT = None
HERE = os.path.dirname(os.path.abspath(__file__))
KNOWN = json.load(open(os.path.join(HERE, "..", "testdata", "known-answers.json")))
KEY = "0123456789ABCDEFFEDCBA9876543210"
OTHER_KEY = "F38B2FFC80A4DF5A51C9BC701E7EA419"


def open_page(page, work, downloads):
    """Headless Chromium with a profile of its own in `work`, the page loaded from file://."""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--window-size=1000,1100",
                 "--enable-precise-memory-info", f"--user-data-dir={work}/profile"):
        options.add_argument(flag)
    options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                              "download.prompt_for_download": False})
    options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.get("file://" + os.path.abspath(page))
    return driver


# Times a check with the page's own clock, from the pick (or the press of #check) to the verdict.
WATCH = """
    window.t0_ = null; window.t1_ = null;
    const mark = () => { window.t0_ = performance.now(); };
    document.getElementById('file').addEventListener('change', mark, { capture: true, once: true });
    document.getElementById('check').addEventListener('click', mark, { capture: true, once: true });
    const verdict = document.getElementById('verdict');
    new MutationObserver((m, o) => {
      const s = verdict.dataset.status;
      if (s && s !== 'stale') { window.t1_ = performance.now(); o.disconnect(); }
    }).observe(verdict, { attributes: true, childList: true, subtree: true, characterData: true });
    window.most_ = 0; // the furthest the progress bar went before the verdict
    const bar = document.getElementById('progress');
    new MutationObserver((m, o) => {
      if (window.t1_ === null) window.most_ = Math.max(window.most_, bar.value); else o.disconnect();
    }).observe(bar, { attributes: true });
"""


def check_seconds(driver):
    """How long the last check_in took in the page."""
    return driver.execute_script("return (window.t1_ - window.t0_) / 1000;")


def check_in(driver, path, key="", button=False, timeout=120):
    """Picks the file (or presses #check) with the key in the field; the verdict's word, or
    None if no verdict came within `timeout` seconds."""
    # A stale verdict, which the new check must clear first.
    driver.execute_script("const v = document.getElementById('verdict');"
                          "v.textContent = 'stale'; v.dataset.status = 'stale';" + WATCH)
    field = driver.find_element(By.ID, "key")
    field.clear()
    if key:
        field.send_keys(key)
    if button:
        driver.find_element(By.ID, "check").click()
    else:
        driver.find_element(By.ID, "file").send_keys(path)
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if driver.find_element(By.ID, "verdict").text not in ("", "stale"):
            return driver.find_element(By.ID, "verdict").get_attribute("data-status") or ""
        time.sleep(0.05)
    return None


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="tarn-page-")
        cls.downloads = os.path.join(cls.work, "downloads")
        os.mkdir(cls.downloads)
        cls.driver = open_page(PAGE, cls.work, cls.downloads)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        shutil.rmtree(cls.work, ignore_errors=True)

    def file(self, name, data):
        path = os.path.join(self.work, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def text(self, id_):
        return self.driver.find_element(By.ID, id_).text

    def workers(self):
        return self.driver.find_element(By.TAG_NAME, "body").get_attribute("data-workers")

    def word(self):
        return self.driver.find_element(By.ID, "verdict").get_attribute("data-status") or ""

    def check(self, path, key="", button=False, timeout=120):
        word = check_in(self.driver, path, key, button, timeout)
        if word is None:
            self.fail("the check never ended")
        return word

    def downloaded(self, name, timeout=60):
        path = os.path.join(self.downloads, name)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(path) and not os.path.exists(path + ".crdownload"):
                with open(path, "rb") as f:
                    return f.read()
            time.sleep(0.1)
        self.fail(f"{name} was never saved")

    def test_1_known_answers_and_verdicts(self):
        for i, c in enumerate(KNOWN["containers"]):
            container = bytes.fromhex(c["container_hex"])
            path = self.file(f"known-{i}.cnt", container)
            with self.subTest(container=i):
                self.assertEqual(self.check(path), "ok")
                self.assertEqual(self.text("image-size"), str(len(c["image_hex"]) // 2))
                self.assertEqual(self.text("payload-crc32"), container[28:32][::-1].hex().upper())
                self.assertEqual(self.text("image-crc32"), container[32:36][::-1].hex().upper())
                self.assertEqual(self.check(path, KEY, button=True), "ok")
                self.assertEqual(self.text("image-ok"), "yes")
        image = os.urandom(300000)
        subprocess.run([TARN, "/C", self.file("img.bin", image), os.path.join(self.work, "img.cnt"),
                        KEY], check=True, stdout=subprocess.DEVNULL)
        good = open(os.path.join(self.work, "img.cnt"), "rb").read()
        damaged = bytearray(good)
        damaged[5000] ^= 8
        for name, data, key, verdict in (
                ("damaged.cnt", bytes(damaged), "", "payload-damaged"),
                ("wrong-key.cnt", good, OTHER_KEY, "image-mismatch"),
                ("short.cnt", good[:-1], "", "wrong-size"),
                ("plain.bin", image, "", "not-a-container"),
                ("version.cnt", good[:44] + b"\x49" + good[45:], "", "unknown-version")):
            with self.subTest(name=name):
                self.assertEqual(self.check(self.file(name, data), key), verdict)
        self.assertEqual(self.text("image-size"), "300000")
        self.assertFalse(self.driver.find_element(By.ID, "save").is_enabled())
        # The SIMD kernels ran; the portable ones give the same verdicts where asked for.
        body = lambda: self.driver.find_element(By.TAG_NAME, "body").get_attribute("data-kernels")
        self.assertEqual(body(), "simd")
        self.driver.get("about:blank")
        self.driver.get("file://" + os.path.abspath(PAGE) + "#portable")
        self.assertEqual(self.check(self.file("img.cnt", good), KEY), "ok")
        self.assertEqual(self.check(self.file("damaged.cnt", bytes(damaged)), KEY),
                         "payload-damaged")
        self.assertEqual(body(), "portable")
        self.driver.get("about:blank")
        self.driver.get("file://" + os.path.abspath(PAGE))

    def test_2_save_and_encode(self):
        image = os.urandom((3 << 20) + 5)
        source = self.file("fw.bin", image)
        subprocess.run([TARN, "/C", source, os.path.join(self.work, "fw.cnt"), KEY], check=True,
                       stdout=subprocess.DEVNULL)
        expected = open(os.path.join(self.work, "fw.cnt"), "rb").read()
        # The download path, as where the browser has no file picker.
        self.driver.execute_script("delete window.showSaveFilePicker;"
                                   "window.showSaveFilePicker = undefined;")
        self.assertEqual(self.check(os.path.join(self.work, "fw.cnt"), KEY), "ok")
        save = self.driver.find_element(By.ID, "save")
        self.assertTrue(save.is_enabled())
        save.click()
        self.assertEqual(self.downloaded("fw.bin"), image)
        self.assertEqual(self.check(source), "not-a-container")
        self.driver.find_element(By.ID, "key").send_keys(KEY)
        self.driver.find_element(By.ID, "encode").click()
        self.assertEqual(self.downloaded("fw.bin.cnt"), expected)
        if SCREENSHOT:
            self.check(os.path.join(self.work, "fw.cnt"), KEY)
            self.driver.save_screenshot(SCREENSHOT)

    def test_2b_every_state_in_words(self):
        image = os.urandom(5000)
        source = self.file("state.bin", image)
        container = os.path.join(self.work, "state.cnt")
        subprocess.run([TARN, "/C", source, container, KEY], check=True, stdout=subprocess.DEVNULL)
        good = open(container, "rb").read()
        # A keyless check says what it checked and what not; a keyed one that the key opens it.
        self.assertEqual(self.check(container), "ok")
        self.assertIn("not checked", self.text("verdict") + " " + self.text("explanation"))
        self.assertEqual(self.check(container, KEY, button=True), "ok")
        self.assertIn("this key opens it", self.text("verdict"))
        self.assertEqual(self.driver.switch_to.active_element.get_attribute("id"), "verdict")
        # The same name picked again after the file changed on disk: checked again.
        damaged = bytearray(good)
        damaged[100] ^= 1
        self.file("state.cnt", bytes(damaged))
        self.assertEqual(self.check(container, KEY), "payload-damaged")
        # A malformed key: marked, and the header still shown from the keyless part.
        self.file("state.cnt", good)
        self.assertEqual(self.check(container, "12345"), "ok")
        key = self.driver.find_element(By.ID, "key")
        self.assertEqual(key.get_attribute("aria-invalid"), "true")
        self.assertTrue(self.text("key-error"))
        self.assertEqual(self.text("image-size"), "5000")
        self.assertTrue(self.text("words").startswith("0x00000000 0x72617571"))
        # A file removed after it was picked cannot be read: said so.
        self.check(container)
        os.remove(container)
        key.clear()
        self.driver.find_element(By.ID, "check").click()
        deadline = time.monotonic() + 30
        while self.word() != "read-failed" and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(self.word(), "read-failed")
        # Encoding a container is refused; a cancelled save dialog leaves the page as it was.
        self.file("state.cnt", good)
        self.check(container, KEY)
        self.driver.find_element(By.ID, "encode").click()
        time.sleep(0.5)
        self.assertEqual(self.word(), "invalid-argument")
        self.check(container, KEY)
        before = self.text("verdict")
        self.driver.execute_script(
            "window.showSaveFilePicker = () => Promise.reject(new DOMException('no', 'AbortError'));")
        self.driver.find_element(By.ID, "save").click()
        time.sleep(0.5)
        self.assertEqual((self.text("verdict"), self.word()), (before, "ok"))
        # Check with no file asks for one.
        self.driver.get("file://" + os.path.abspath(PAGE))
        self.driver.find_element(By.ID, "check").click()
        deadline = time.monotonic() + 30
        while not self.text("verdict") and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertIn("Pick a container file first", self.text("verdict"))

    def test_2c_signatures(self):
        tool = os.path.join(os.path.dirname(TARN), "tarntool")
        run = lambda *args: subprocess.run([tool, *args], cwd=self.work, capture_output=True)
        if b"without libsodium" in run("sign", "--secret-key", "none", "none").stderr:
            self.skipTest("this tarntool makes no signatures (built without libsodium)")
        image = self.file("signed.bin", os.urandom(70000))
        container = os.path.join(self.work, "signed.cnt")
        subprocess.run([TARN, "/C", image, container, KEY], check=True, stdout=subprocess.DEVNULL)
        good = open(container, "rb").read()
        run("keygen", "--signing", "--public-key", "page.pub", "--secret-key", "page.sec")
        self.assertEqual(run("sign", "--secret-key", "page.sec", "--version", "7", container)
                         .returncode, 0)
        public = open(os.path.join(self.work, "page.pub")).read().splitlines()[1]
        self.driver.find_element(By.ID, "public-key").send_keys(public)
        self.driver.find_element(By.ID, "signature").send_keys(container + ".minisig")
        self.assertEqual(self.check(container, KEY), "ok")
        self.assertIn(", version 7.", self.text("verdict"))
        self.assertTrue(self.text("signature-verdict").startswith("signed by key "))
        # Another container under the same key, both CRCs right, with this one's signature.
        subprocess.run([TARN, "/C", self.file("signed.bin", os.urandom(70000)), container, KEY],
                       check=True, stdout=subprocess.DEVNULL)
        self.assertEqual(self.check(container, KEY), "bad-signature")
        self.assertIn("not those signed", self.text("explanation"))
        # A public key that is not one: marked; the container's check stands.
        self.file("signed.cnt", good)
        field = self.driver.find_element(By.ID, "public-key")
        field.clear()
        field.send_keys("RWnotakey")
        self.assertEqual(self.check(container), "ok")
        self.assertEqual(field.get_attribute("aria-invalid"), "true")
        self.driver.get("file://" + os.path.abspath(PAGE))  # the signature forgotten

    def test_3_a_gigabyte_with_bounded_memory(self):
        # A container of 1 GiB of zero bytes (sparse on disk), its payload CRC made to match.
        size = 1 << 30
        crc = 0
        zeros = bytes(1 << 24)
        for _ in range(size // len(zeros)):
            crc = zlib.crc32(zeros, crc)
        header = bytearray(bytes.fromhex(KNOWN["containers"][0]["container_hex"]))
        header[28:32] = crc.to_bytes(4, "little")
        header[48:52] = size.to_bytes(4, "little")
        path = os.path.join(self.work, "big.cnt")
        with open(path, "wb") as f:
            f.write(header)
            f.truncate(52 + size)
        memory = "return performance.memory.usedJSHeapSize"
        before = self.driver.execute_script(memory)
        peak = before
        self.driver.find_element(By.ID, "key").clear()
        self.driver.find_element(By.ID, "file").send_keys(path)
        time.sleep(0.5)
        self.assertEqual(self.text("verdict"), "")  # empty while the check runs
        deadline = time.monotonic() + 300
        while not self.text("verdict") and time.monotonic() < deadline:
            peak = max(peak, self.driver.execute_script(memory))
            time.sleep(0.2)
        self.assertEqual(self.word(), "ok")
        self.assertEqual(self.text("image-size"), str(size))
        print(f"1 GiB check: JavaScript heap {before / 2**20:.1f} MiB before, "
              f"{peak / 2**20:.1f} MiB at most", file=sys.stderr)
        self.assertLess(peak - before, 64 << 20)
        os.remove(path)

    def test_3b_never_frozen_and_cancelled_at_once(self):
        # A keyed check of 512 MiB: frames keep coming, the progress moves, and its time is set
        # beside tarntool verify's of the same file.
        image = os.path.join(self.work, "half.bin")
        with open(image, "wb") as f:
            f.truncate(512 << 20)
        container = os.path.join(self.work, "half.cnt")
        subprocess.run([TARN, "/C", image, container, KEY], check=True, stdout=subprocess.DEVNULL)
        os.remove(image)
        key_file = self.file("half.key", KEY.encode() + b"\n")
        os.chmod(key_file, 0o600)
        tool = os.path.join(os.path.dirname(TARN), "tarntool")
        start = time.monotonic()
        subprocess.run([tool, "verify", "--key-file", key_file, container], check=True,
                       stdout=subprocess.DEVNULL)
        tool_seconds = time.monotonic() - start
        watch = """
            window.frames_ = []; window.values_ = new Set();
            const tick = (t) => { window.frames_.push(t);
              window.values_.add(document.getElementById('progress').value);
              if (!window.stop_) requestAnimationFrame(tick); };
            requestAnimationFrame(tick);"""
        self.driver.execute_script("window.stop_ = false;" + watch)
        self.assertEqual(self.check(container, KEY, timeout=600), "ok")
        page_seconds = check_seconds(self.driver)
        frames = self.driver.execute_script("window.stop_ = true; return window.frames_;")
        values = self.driver.execute_script("return window.values_.size;")
        gaps = [b - a for a, b in zip(frames, frames[1:])]
        print(f"512 MiB keyed check: page {page_seconds:.1f} s, tarntool verify "
              f"{tool_seconds:.2f} s, ratio {page_seconds / tool_seconds:.1f}; longest gap "
              f"between frames {max(gaps):.0f} ms, {values} progress values", file=sys.stderr)
        self.assertLess(max(gaps), 200)
        self.assertGreaterEqual(values, 5)
        self.assertEqual(self.workers(), "2")
        # Keyless, against tarntool info (which checks the same: header and payload CRC).
        start = time.monotonic()
        subprocess.run([tool, "info", container], check=True, stdout=subprocess.DEVNULL)
        tool_seconds = time.monotonic() - start
        self.assertEqual(self.check(container, timeout=600), "ok")
        page_seconds = check_seconds(self.driver)
        print(f"512 MiB keyless check: page {page_seconds:.1f} s, tarntool info "
              f"{tool_seconds:.2f} s, ratio {page_seconds / tool_seconds:.1f}", file=sys.stderr)
        # Split three ways where the browser says it has three processors: intact with the key,
        # and a byte damaged in any stretch, or another key, found.
        self.driver.execute_cdp_cmd("Emulation.setHardwareConcurrencyOverride",
                                    {"hardwareConcurrency": 3})
        self.assertEqual(self.check(container, KEY, timeout=600), "ok")
        self.assertEqual(self.workers(), "3")
        for offset, key, verdict in ((1000, "", "payload-damaged"),
                                     (256 << 20, "", "payload-damaged"),
                                     ((512 << 20) - 1000, "", "payload-damaged"),
                                     (None, OTHER_KEY, "image-mismatch")):
            with open(container, "r+b") as f:
                if offset is not None:
                    f.seek(offset)
                    byte = f.read(1)
                    f.seek(offset)
                    f.write(bytes([byte[0] ^ 1]))
                    f.flush()
                self.assertEqual(self.check(container, key, timeout=600), verdict)
                if offset is not None:
                    f.seek(offset)
                    f.write(byte)
                    f.flush()
        # A header that fails ends a split check before the payload is read, its fields shown.
        with open(container, "ab") as f:
            f.write(b"\0")
        self.assertEqual(self.check(container, timeout=600), "wrong-size")
        self.assertLess(self.driver.execute_script("return window.most_;"), 0.5)
        self.assertEqual(self.text("image-size"), str(512 << 20))
        os.truncate(container, os.path.getsize(container) - 1)
        self.driver.execute_cdp_cmd("Emulation.setHardwareConcurrencyOverride",
                                    {"hardwareConcurrency": os.cpu_count()})
        # Cancelled while it runs: ended at once, with no verdict on the file claimed.
        # (Keyed, the slower check, and cancelled once a tenth of it is done.)
        self.driver.execute_script("document.getElementById('verdict').textContent = '';"
                                   "document.getElementById('progress').value = 0;")
        self.driver.find_element(By.ID, "key").clear()
        self.driver.find_element(By.ID, "key").send_keys(KEY)
        self.driver.find_element(By.ID, "file").send_keys(container)
        deadline = time.monotonic() + 60
        while (float(self.driver.find_element(By.ID, "progress").get_attribute("value") or 0) < 0.1
               and time.monotonic() < deadline):
            time.sleep(0.02)
        self.assertTrue(self.driver.find_element(By.ID, "cancel").is_enabled())
        took = self.driver.execute_script("""
            const t0 = performance.now();
            document.getElementById('cancel').click();
            return new Promise((done) => { const wait = () => {
              if (document.getElementById('verdict').dataset.status) done(performance.now() - t0);
              else setTimeout(wait, 1); }; wait(); });""")
        self.assertLess(took, 200)
        self.assertEqual(self.word(), "cancelled")
        self.assertEqual(self.text("image-ok"), "")
        self.assertFalse(self.driver.find_element(By.ID, "cancel").is_enabled())
        os.remove(container)

    def test_4_no_network_request(self):
        seen = []
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                seen.append(message["params"]["request"]["url"])
        self.assertTrue(seen)  # the log works: the page itself is in it
        # The browser's own pages (chrome:) are not the page's requests.
        elsewhere = [u for u in seen if not u.startswith(("file:", "data:", "blob:", "chrome:"))]
        self.assertEqual(elsewhere, [])
        errors = [e for e in self.driver.get_log("browser") if e["level"] == "SEVERE"]
        self.assertEqual(errors, [])  # nothing refused by the policy, no script error


if __name__ == "__main__":
    PAGE = sys.argv.pop(1)
    TARN = os.path.abspath(sys.argv.pop(1))
    if len(sys.argv) > 2 and sys.argv[1] == "--screenshot":
        SCREENSHOT = os.path.abspath(sys.argv[2])
        del sys.argv[1:3]
    unittest.main(verbosity=2)
