"""The package against the known answers and the console program, every exception with its
class, the stream objects in pieces, cancellation, threads and bad arguments.
Run with pytest from a venv the package is installed in; TARN_BIN names the console program
(build/release/tarn by default; its tests are skipped when it is missing)."""
import array
import json
import os
import pickle
import subprocess
import threading

import pytest

import tarn

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
KNOWN = json.load(open(os.path.join(ROOT, "testdata", "known-answers.json")))
TARN_BIN = os.path.abspath(os.environ.get("TARN_BIN", os.path.join(ROOT, "build", "release", "tarn")))
HEX = "0123456789ABCDEFFEDCBA9876543210"
KEY = tarn.Key.from_hex(HEX)
OTHER = tarn.Key.from_hex("F38B2FFC80A4DF5A51C9BC701E7EA419")


def test_known_answers_and_the_console_program(tmp_path):
    for c in KNOWN["containers"]:
        image, container = bytes.fromhex(c["image_hex"]), bytes.fromhex(c["container_hex"])
        key = tarn.Key.from_hex(c["key"].lower())
        assert tarn.encode(image, key) == container
        assert tarn.decode(memoryview(container), key) == image
    if not os.path.exists(TARN_BIN):
        pytest.skip("no console program at " + TARN_BIN)
    image = os.urandom((1 << 20) + 3)
    (tmp_path / "img.bin").write_bytes(image)
    subprocess.run([TARN_BIN, "/C", "img.bin", "tool.cnt", HEX], cwd=tmp_path, check=True,
                   stdout=subprocess.DEVNULL)
    tool = (tmp_path / "tool.cnt").read_bytes()
    assert tarn.encode(bytearray(image), KEY) == tool
    tarn.encode_file(tmp_path / "img.bin", str(tmp_path / "py.cnt"), KEY)
    assert (tmp_path / "py.cnt").read_bytes() == tool
    tarn.rekey_file(os.fsencode(tmp_path / "py.cnt"), tmp_path / "other.cnt", KEY, OTHER)
    tarn.decode_file(tmp_path / "other.cnt", tmp_path / "back.bin", OTHER)
    assert (tmp_path / "back.bin").read_bytes() == image
    info = tarn.verify_file(tmp_path / "tool.cnt", KEY)
    assert (info.verdict, info.image_size, info.payload_ok, info.image_ok) == ("ok", len(image), True, True)
    assert pickle.loads(pickle.dumps(info)) == info


def test_every_failure_has_its_class(tmp_path):
    good = tarn.encode(os.urandom(300), KEY)
    damaged = bytearray(good)
    damaged[100] ^= 1
    (tmp_path / "dir").mkdir()
    (tmp_path / "good.cnt").write_bytes(good)
    cases = [
        (lambda: tarn.decode(b"not a container at all, no, not at all, no no no no", KEY), tarn.NotAContainer),
        (lambda: tarn.decode(good[:36] + b"\x0c" + good[37:], KEY), tarn.UnknownVersion),
        (lambda: tarn.decode(good + b"x", KEY), tarn.WrongSize),
        (lambda: tarn.decode(bytes(damaged), KEY), tarn.PayloadDamaged),
        (lambda: tarn.decode(good, OTHER), tarn.ImageMismatch),
        (lambda: tarn.Key.from_hex(HEX[:31]), tarn.BadKey),
        (lambda: tarn.Key.from_hex(HEX[:31] + "g"), ValueError),
        (lambda: tarn.decode_file(tmp_path / "missing", tmp_path / "out", KEY), FileNotFoundError),
        (lambda: tarn.decode_file(tmp_path / "good.cnt", tmp_path / "dir", KEY), IsADirectoryError),
        (lambda: tarn.decode_file(tmp_path / "good.cnt", tmp_path / "good.cnt", KEY), tarn.CantCreateOutput),
        (lambda: tarn.Key.from_file(tmp_path / "missing.key"), FileNotFoundError),
    ]
    for call, cls in cases:
        with pytest.raises(cls) as caught:
            call()
        assert isinstance(caught.value, tarn.Error) and caught.value.status.startswith("TARN_")
    with pytest.raises(tarn.CantOpenInput) as caught:
        tarn.verify_file(tmp_path / "missing")
    assert caught.value.errno == 2 and caught.value.filename == str(tmp_path / "missing")
    # The library's own cause, not a guess from probing the file again.
    with pytest.raises(tarn.CantCreateOutput, match="is the input itself"):
        tarn.decode_file(tmp_path / "good.cnt", tmp_path / "good.cnt", KEY)
    # A key file as tarntool reads it: a byte-order mark, CRLF and empty lines after the key.
    (tmp_path / "k.hex").write_bytes(b"\xef\xbb\xbf " + HEX.lower().encode() + b"\r\n\r\n\n")
    assert tarn.encode(b"123456789", tarn.Key.from_file(tmp_path / "k.hex")) == tarn.encode(b"123456789", KEY)
    (tmp_path / "bad.cnt").write_bytes(bytes(damaged))
    assert tarn.verify_file(tmp_path / "bad.cnt").verdict == "payload-damaged"  # never raises


def test_stream_objects_in_pieces_equal_the_whole():
    image = os.urandom(70001)
    container = tarn.encode(image, KEY)
    for piece in (1, 7, 8, 4096, 100000):
        enc = tarn.Encoder(KEY)
        body = b"".join(enc.update(image[i:i + piece]) for i in range(0, len(image), piece))
        tail, header = enc.finish()
        assert header + body + tail == container
        dec = tarn.Decoder(KEY)
        out = b"".join(dec.update(container[i:i + piece]) for i in range(0, len(container), piece))
        assert out == image and dec.finish().verdict == "ok"
    dec = tarn.Decoder(OTHER)
    dec.update(container)
    with pytest.raises(tarn.ImageMismatch) as caught:
        dec.finish()
    assert caught.value.info.verdict == "image-mismatch"
    dec = tarn.Decoder()
    assert dec.update(container) == b"" and dec.finish().image_ok is None


def test_an_exception_in_progress_cancels_and_leaves_nothing(tmp_path):
    (tmp_path / "img.bin").write_bytes(os.urandom(3 << 20))
    (tmp_path / "out.cnt").write_bytes(b"before")

    def stop(done, total):
        assert threading.current_thread() is threading.main_thread()
        if done > 0:
            raise KeyboardInterrupt("stop")

    with pytest.raises(KeyboardInterrupt):
        tarn.encode_file(tmp_path / "img.bin", tmp_path / "out.cnt", KEY, progress=stop)
    assert (tmp_path / "out.cnt").read_bytes() == b"before"
    assert sorted(os.listdir(tmp_path)) == ["img.bin", "out.cnt"]


def test_threads_give_the_same_bytes(tmp_path):
    images = [os.urandom((2 << 20) + i) for i in range(2)]
    for i, image in enumerate(images):
        (tmp_path / f"{i}.bin").write_bytes(image)
    threads = [threading.Thread(target=tarn.encode_file,
                                args=(tmp_path / f"{i}.bin", tmp_path / f"{i}.cnt", KEY))
               for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for i, image in enumerate(images):
        assert (tmp_path / f"{i}.cnt").read_bytes() == tarn.encode(image, KEY)


def test_bad_arguments_raise_and_never_crash(tmp_path):
    f = open(tmp_path / "closed", "wb")
    f.close()
    finished = tarn.Encoder(KEY)
    finished.finish()
    for call, cls in [
        (lambda: tarn.encode("text", KEY), TypeError),
        (lambda: tarn.Decoder(KEY).update("text"), TypeError),
        (lambda: finished.update(b"more"), tarn.Error),
        (lambda: tarn.encode(b"x", HEX), TypeError),
        (lambda: tarn.encode_file(f, tmp_path / "o", KEY), TypeError),
        (lambda: tarn.encode_file(tmp_path / "closed", tmp_path / "o", KEY, progress=5), TypeError),
        (lambda: tarn.Key.from_hex(32), TypeError),
        (lambda: tarn.Key(), TypeError),
        (lambda: tarn.encode(memoryview(b"abcdef")[::2], KEY), ValueError),
        (lambda: pickle.dumps(KEY), TypeError),
    ]:
        with pytest.raises(cls):
            call()
    assert HEX not in repr(KEY) and HEX.lower() not in repr(KEY)
    with pytest.raises(TypeError, match="bytes-like"):
        tarn.encode("abc", KEY)
    with pytest.raises(tarn.Error, match="has finished"):
        finished.finish()
    assert tarn.Key.from_hex(HEX.lower()) == KEY and KEY != OTHER and KEY != HEX
    # Any object of the buffer protocol, read without a copy.
    assert tarn.encode(array.array("B", b"123456789"), KEY) == tarn.encode(b"123456789", KEY)
    assert tarn.__version__.count(".") == 2


@pytest.mark.skipif(not tarn.can_sign(), reason="this build makes no signatures (no libsodium)")
def test_signatures_made_and_checked_whole_and_in_resumed_pieces(tmp_path):
    public_text, secret_text = tarn.signing_keygen()
    public = tarn.PublicKey(public_text)
    container = tarn.encode(os.urandom(3000), KEY)
    (tmp_path / "fw.cnt").write_bytes(container)
    text = tarn.sign_file(tmp_path / "fw.cnt", secret_text, version=7, device="board-a")
    (tmp_path / "fw.cnt.minisig").write_text(text)
    signed = tarn.verify_signature_file(tmp_path / "fw.cnt", public, min_version=7,
                                        device="board-a")
    assert (signed.key_id, signed.version, signed.device) == (public.key_id, 7, "board-a")
    for kwargs, cls in [({"min_version": 8}, tarn.OlderVersion),
                        ({"device": "board-b"}, tarn.OtherDevice)]:
        with pytest.raises(cls):
            tarn.verify_signature_file(tmp_path / "fw.cnt", public, **kwargs)
    with pytest.raises(ValueError):
        tarn.sign_file(tmp_path / "fw.cnt", secret_text, comment="x version=9")
    # In pieces, saved and resumed halfway, as a device does; a changed byte is refused.
    v = tarn.Verifier(public, text)
    v.update(container[:1000])
    v = tarn.Verifier.resume(public, v.save())
    v.update(container[1000:])
    assert v.finish().version == 7
    v = tarn.Verifier(public, text)
    v.update(container[:-1] + bytes([container[-1] ^ 1]))
    with pytest.raises(tarn.BadSignature, match="not those signed"):
        v.finish()
