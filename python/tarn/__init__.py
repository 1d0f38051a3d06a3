"""Firmware image containers: encode, check and decode them.

A container is a 52-byte header holding two CRC-32 values, followed by the image enciphered
in independent 64-bit blocks under a 128-bit key. This package is libtarn, the library of the
``tarn`` and ``tarntool`` programs, for Python: the same containers byte for byte.

    key = tarn.Key.from_file("release.key")
    container = tarn.encode(image, key)
    tarn.decode(container, key) == image
    tarn.verify_file("fw.cnt", key).verdict == "ok"

Every failure is a :class:`tarn.Error`; those about files are also :class:`OSError`.
File calls, and calls on large data, let other threads run meanwhile.
"""
import errno as _errno
import os as _os

from . import _tarn

__version__ = _tarn.version()
"""The library's version: the package is built from the same sources."""

__all__ = [
    "__version__", "Key", "Info", "Encoder", "Decoder", "encode", "decode", "encode_file",
    "decode_file", "rekey_file", "verify_file", "Error", "NotAContainer", "UnknownVersion",
    "WrongSize", "PayloadDamaged", "ImageMismatch", "TooLarge", "BadKey", "Cancelled",
    "CantOpenInput", "CantCreateOutput", "ReadFailed", "WriteFailed", "HEADER_SIZE",
    "MAX_IMAGE_SIZE", "PublicKey", "Signature", "Verifier", "verify_signature_file",
    "can_sign", "signing_keygen", "sign_file", "BadSignature", "NoSignature", "OlderVersion",
    "OtherDevice",
]

HEADER_SIZE = 52
"""The size of a container's header: a container is this much longer than its image."""
MAX_IMAGE_SIZE = 4294967243
"""The largest image whose container fits the format's 32-bit sizes."""



def _status_name(code):
    """The C interface's name of a status: TARN_ and its word ("payload-damaged")."""
    return "TARN_" + _tarn.status_name(code).upper().replace("-", "_")


def _verdict(code):
    """The library's word for a verdict on a container; "unreadable" for anything else."""
    return _tarn.status_name(code) if _tarn.status_is_verdict(code) else "unreadable"


class Error(Exception):
    """Base class of every failure. ``status`` is the C interface's name for it
    (``"TARN_PAYLOAD_DAMAGED"``, ...); ``str()`` says what happened."""
    status = "TARN_ERROR"


class NotAContainer(Error):
    """The data is not a container (its magic is not there)."""
    status = "TARN_NOT_A_CONTAINER"


class UnknownVersion(Error):
    """A container of another format version."""
    status = "TARN_UNKNOWN_VERSION"


class WrongSize(Error):
    """The container is shorter or longer than its header says."""
    status = "TARN_WRONG_SIZE"


class PayloadDamaged(Error):
    """The payload's CRC-32 is not the header's: damaged in transit."""
    status = "TARN_PAYLOAD_DAMAGED"


class ImageMismatch(Error):
    """The deciphered image's CRC-32 is not the header's: a wrong key or a damaged header."""
    status = "TARN_IMAGE_MISMATCH"


class TooLarge(Error):
    """An image larger than MAX_IMAGE_SIZE."""
    status = "TARN_TOO_LARGE"


class BadKey(Error, ValueError):
    """Not a key: 32 hexadecimal digits were expected."""
    status = "TARN_BAD_KEY"


class Cancelled(Error):
    """The run was cancelled (the progress callback raised; that exception is raised instead)."""
    status = "TARN_CANCELLED"


class CantOpenInput(Error, OSError):
    """The input cannot be opened: missing, unreadable, not a regular file, held by a writer."""
    status = "TARN_CANT_OPEN_INPUT"


class CantCreateOutput(Error, OSError):
    """The output is refused: the input itself, a directory, a file this user could not
    overwrite, a directory that takes no new file."""
    status = "TARN_CANT_CREATE_OUTPUT"


class ReadFailed(Error, OSError):
    """A read failed, or the input changed while it was read."""
    status = "TARN_READ_FAILED"


class WriteFailed(Error, OSError):
    """A write or the final sync failed (disk full, file size limit)."""
    status = "TARN_WRITE_FAILED"


class BadSignature(Error):
    """The signature does not hold for these bytes (``reason`` says why: another key, an
    altered comment, other bytes, not a signature file)."""
    status = "TARN_BAD_SIGNATURE"


class NoSignature(Error):
    """No signature where one is required."""
    status = "TARN_NO_SIGNATURE"


class OlderVersion(Error):
    """Signed as a lower version than required, or with none."""
    status = "TARN_OLDER_VERSION"


class OtherDevice(Error):
    """Signed for another device, or for none."""
    status = "TARN_OTHER_DEVICE"


_CLASSES = {c.status: c for c in (
    NotAContainer, UnknownVersion, WrongSize, PayloadDamaged, ImageMismatch, TooLarge, BadKey,
    Cancelled, CantOpenInput, CantCreateOutput, ReadFailed, WriteFailed, BadSignature,
    NoSignature, OlderVersion, OtherDevice)}


_WITH_CAUSE = {}


def _with_cause(cls, number):
    """``cls`` joined with the OSError subclass Python has for the errno (FileNotFoundError,
    PermissionError, IsADirectoryError, ...), so that ``except FileNotFoundError`` catches it."""
    kind = type(OSError(number, "")) if number else OSError
    if kind is OSError:
        return cls
    if (cls, kind) not in _WITH_CAUSE:
        _WITH_CAUSE[cls, kind] = type(cls.__name__, (cls, kind),
                                      {"__module__": "tarn", "__qualname__": cls.__qualname__})
    return _WITH_CAUSE[cls, kind]


def _raise(code, path=None, info=None):
    if code == 0:
        return
    if code == 12:
        raise MemoryError("out of memory")
    name = _status_name(code)
    text = _tarn.status_string(code)
    cls = _CLASSES.get(name)
    if cls is None:
        raise Error(text)
    if issubclass(cls, OSError):
        # The library's own cause of the file call just made on this thread.
        number, cause = _tarn.last_cause()
        exc = _os_error(cls, number, text + (f": {cause}" if cause else ""), path)
    else:
        exc = cls(text)
    exc.info = info
    raise exc


def _os_error(cls, number, text, path):
    """A failure about a file: ``cls`` with the OSError subclass of the errno, its errno, text
    and file name (no "[Errno None]" when the system named no error)."""
    shown = _os.fsdecode(path) if path is not None else None
    if number:
        return _with_cause(cls, number)(number, text, shown)
    # OSError shows a file name only with an errno: without one, the name leads the text.
    return cls(f"{shown}: {text}" if shown is not None else text)


def _about(code, src, dst):
    """The file a failure of a file call is about: the output for creating and writing it."""
    return dst if _status_name(code) in ("TARN_CANT_CREATE_OUTPUT", "TARN_WRITE_FAILED") else src


def _path(p):
    if not isinstance(p, (str, bytes, _os.PathLike)):
        raise TypeError(f"a path (str, bytes or os.PathLike) was expected, not {type(p).__name__}")
    return _os.fsencode(p)


class Key:
    """A 128-bit key. Its digits are never shown, and its memory is wiped when it goes.
    Keys do not pickle, on purpose: a key written into a pickle is a key on disk."""
    __slots__ = ("_key",)

    def __init__(self, *args, **kwargs):
        raise TypeError("make a key with tarn.Key.from_hex() or tarn.Key.from_file()")

    @classmethod
    def _of(cls, native):
        key = object.__new__(cls)
        key._key = native
        return key

    @classmethod
    def from_hex(cls, text):
        """A key from 32 hexadecimal digits in either case (str or bytes); BadKey otherwise."""
        if isinstance(text, str):
            try:
                text = text.encode("ascii")
            except UnicodeEncodeError:
                raise BadKey("not a key (32 hexadecimal digits expected)") from None
        if not isinstance(text, (bytes, bytearray, memoryview)):
            raise TypeError("a key's digits are a str or bytes")
        native = _tarn.key_from_hex(text)
        if native is None:
            raise BadKey("not a key (32 hexadecimal digits expected)")
        return cls._of(native)

    @classmethod
    def from_file(cls, path):
        """A key from a key file as tarntool reads it (tarn_key_from_text): 32 hexadecimal
        digits, optionally after a UTF-8 byte-order mark and blanks and before blanks and line
        endings; BadKey otherwise, CantOpenInput (also the OSError of its cause) when the file
        cannot be read."""
        name = _os.fsdecode(_path(path))
        try:
            with open(_path(path), "rb") as f:
                text = bytearray(f.read(4097))
        except OSError as e:
            raise _os_error(CantOpenInput, e.errno, f"cannot read the key file: {e.strerror}",
                            _path(path)) from None
        try:
            native = _tarn.key_from_text(text)
            if native is None:
                raise BadKey(f"{name}: not a key (32 hexadecimal digits expected)")
            return cls._of(native)
        finally:
            text[:] = bytes(len(text))

    def __repr__(self):
        return "tarn.Key(<hidden>)"

    def __eq__(self, other):
        """Keys of the same digits are equal (compared in constant time)."""
        return isinstance(other, Key) and _tarn.key_equal(self._key, other._key)

    # Equal keys would need equal hashes, and a hash of a key tells something of it.
    __hash__ = None

    def __reduce__(self):
        raise TypeError("tarn.Key does not pickle: a key written into a pickle is a key on disk")

    def __copy__(self):
        return self

    def __deepcopy__(self, memo):
        return self


def _native(key):
    if not isinstance(key, Key):
        raise TypeError(f"a tarn.Key was expected, not {type(key).__name__}")
    return key._key


class Info:
    """What a container says about itself and what was checked.

    ``verdict`` is one of tarntool's JSON words: ``"ok"``, ``"not-a-container"``,
    ``"unknown-version"``, ``"wrong-size"``, ``"payload-damaged"``, ``"image-mismatch"``.
    ``image_size``, ``image_crc32`` and ``payload_crc32`` are what the header says (None for
    data that is not a container); ``container_size`` is the size found; ``payload_ok`` and
    ``image_ok`` are None when that check was not made; ``words`` are the 13 header words."""
    __slots__ = ("verdict", "image_size", "container_size", "image_crc32", "payload_crc32",
                 "payload_ok", "image_ok", "words")

    def __init__(self, verdict, image_size, container_size, image_crc32, payload_crc32,
                 payload_ok, image_ok, words):
        self.verdict = verdict
        self.image_size = image_size
        self.container_size = container_size
        self.image_crc32 = image_crc32
        self.payload_crc32 = payload_crc32
        self.payload_ok = payload_ok
        self.image_ok = image_ok
        self.words = words

    @classmethod
    def _of(cls, code, d):
        header = code != 1 and d["container_size"] >= HEADER_SIZE
        return cls(_verdict(code),
                   d["image_size"] if header else None, d["container_size"],
                   d["image_crc32"] if header else None, d["payload_crc32"] if header else None,
                   d["payload_ok"] if d["payload_checked"] else None,
                   d["image_ok"] if d["image_checked"] else None,
                   tuple(d["words"]))

    def __eq__(self, other):
        return isinstance(other, Info) and self.__reduce__()[1] == other.__reduce__()[1]

    def __reduce__(self):
        return (Info, tuple(getattr(self, f) for f in self.__slots__))

    def __repr__(self):
        return "tarn.Info(" + ", ".join(f"{f}={getattr(self, f)!r}" for f in self.__slots__) + ")"


def _bytes_like(data, what):
    """``data`` when it offers the buffer protocol; a TypeError in the package's words else."""
    try:
        memoryview(data).release()
    except TypeError:
        raise TypeError(f"{what} must be a bytes-like object (bytes, bytearray, memoryview, "
                        f"mmap, array, ...), not {type(data).__name__}") from None
    return data


def encode(image, key):
    """The container of ``image`` (any bytes-like object, read without a copy) under ``key``."""
    code, container = _tarn.encode(_bytes_like(image, "the image"), _native(key))
    _raise(code)
    return container


def decode(container, key):
    """The image in ``container`` (any bytes-like object), checked: raises the verdict's error
    (NotAContainer, PayloadDamaged, ImageMismatch, ...) unless both CRCs match."""
    code, image = _tarn.decode(_bytes_like(container, "the container"), _native(key))
    _raise(code)
    return image


def _progress(progress):
    if progress is not None and not callable(progress):
        raise TypeError("progress must be callable as progress(done, total), or None")
    return progress


def encode_file(src, dst, key, progress=None):
    """Encodes the image file ``src`` into the container ``dst``, published only when the whole
    run succeeded. ``progress(done, total)`` is called on this thread as the bytes go through;
    an exception it raises cancels the run (nothing is left, an existing ``dst`` stays as it
    was) and is raised here."""
    a, b = _path(src), _path(dst)
    code = _tarn.encode_file(a, b, _native(key), _progress(progress))
    _raise(code, _about(code, a, b))


def decode_file(src, dst, key, progress=None):
    """Checks the container ``src`` and writes its image to ``dst``, published only when both
    CRCs matched; see encode_file for ``progress``."""
    a, b = _path(src), _path(dst)
    code = _tarn.decode_file(a, b, _native(key), _progress(progress))
    _raise(code, _about(code, a, b))


def rekey_file(src, dst, old_key, new_key, progress=None):
    """The container ``src`` under ``old_key`` into the same image's container ``dst`` under
    ``new_key``, in one pass; the plain image never reaches a file."""
    a, b = _path(src), _path(dst)
    code = _tarn.rekey_file(a, b, _native(old_key), _native(new_key), _progress(progress))
    _raise(code, _about(code, a, b))


def verify_file(path, key=None, progress=None):
    """Checks the container at ``path`` without writing anything: the header, the payload's
    CRC, and with a key the image's. Never raises for a verdict: the returned Info says it.
    Raises CantOpenInput or ReadFailed when the file cannot be read."""
    p = _path(path)
    code, info = _tarn.verify_file(p, None if key is None else _native(key), _progress(progress))
    if not _tarn.status_is_verdict(code):
        _raise(code, p)
    return Info._of(code, info)


def _not_finished(obj, name):
    if obj._finished:
        raise Error(f"this tarn.{name} has finished: make a new one for more data")


class Encoder:
    """Makes a container a piece at a time: ``update(data)`` gives the payload's next bytes
    (whole blocks; up to 7 bytes wait), ``finish()`` the ``(tail, header)`` that end it: the
    container is ``header + the updates' bytes + tail``."""

    def __init__(self, key):
        self._enc = _tarn.Encoder(_native(key))
        self._finished = False

    def update(self, data):
        """The payload's bytes for the next ``data`` (any bytes-like object): whole blocks, the
        last 0-7 bytes held for the next call or ``finish()``."""
        _not_finished(self, "Encoder")
        code, out = self._enc.update(_bytes_like(data, "the data"))
        _raise(code)
        return out

    def finish(self):
        """The end of the image: ``(tail, header)``, the held bytes and the 52-byte header that
        goes before the payload. The encoder is done with then: make a new one for another."""
        _not_finished(self, "Encoder")
        self._finished = True
        code, tail, header = self._enc.finish()
        _raise(code)
        return tail, header

    def __reduce__(self):
        raise TypeError("a tarn.Encoder holds a key and does not pickle")


class Decoder:
    """Checks a container a piece at a time: ``update(data)`` gives the image's next bytes
    (none without a key), unverified until ``finish()`` returns the Info of a sound container;
    ``finish()`` raises the verdict's error otherwise (its ``info`` attribute says more)."""

    def __init__(self, key=None):
        self._dec = _tarn.Decoder(None if key is None else _native(key))
        self._finished = False

    def update(self, data):
        """The image's bytes for the next ``data`` (any bytes-like object), unverified until
        ``finish()``: none without a key. Raises a header's verdict as soon as it is known."""
        _not_finished(self, "Decoder")
        code, out = self._dec.update(_bytes_like(data, "the data"))
        _raise(code)
        return out

    def finish(self):
        """The verdict: the Info of a sound container, or the verdict's error (with ``info``).
        The decoder is done with then: make a new one for another container."""
        _not_finished(self, "Decoder")
        self._finished = True
        code, d = self._dec.finish()
        info = Info._of(code, d)
        _raise(code, info=info)
        return info

    def __reduce__(self):
        raise TypeError("a tarn.Decoder holds a key and does not pickle")


# --- Signatures --------------------------------------------------------------------------------

class PublicKey:
    """A signing key's public half, as a minisign public key file holds it. ``key_id`` is its
    id: 16 hexadecimal digits of the number minisign shows."""
    __slots__ = ("_raw",)

    def __init__(self, text):
        """From a public key file's text, or its base64 line alone (str or bytes)."""
        if isinstance(text, str):
            text = text.encode("ascii", "replace")
        raw = _tarn.public_key_from_text(_bytes_like(text, "the public key's text"))
        if raw is None:
            raise Error("not a public key (a minisign public key file's text was expected)")
        self._raw = raw

    @classmethod
    def from_file(cls, path):
        with open(_path(path), "rb") as f:
            return cls(f.read(4096))

    @property
    def key_id(self):
        return _key_id(self._raw[:8])

    def __eq__(self, other):
        return isinstance(other, PublicKey) and self._raw == other._raw

    def __hash__(self):
        return hash(self._raw)

    def __repr__(self):
        return f"tarn.PublicKey(key_id={self.key_id!r})"


def _key_id(raw):
    return _tarn.key_id_text(bytes(raw))


class Signature:
    """What a signature that holds says: ``key_id``, ``prehashed`` (True for minisign's default
    kind, over the BLAKE2b-512 hash), and its signed ``version`` and ``device`` (None when its
    trusted comment names none)."""
    __slots__ = ("key_id", "prehashed", "version", "device")

    def __init__(self, key_id, prehashed, version, device):
        self.key_id, self.prehashed, self.version, self.device = key_id, prehashed, version, device

    @classmethod
    def _of(cls, d):
        return cls(_key_id(d["key_id"]), d["prehashed"], d["version"], d["device"])

    def __repr__(self):
        return "tarn.Signature(" + ", ".join(f"{f}={getattr(self, f)!r}" for f in self.__slots__) + ")"


def _signature_verdict(code, d, path=None):
    """The Signature of a signature that holds; the verdict's error (with ``reason``) else."""
    if code == 0:
        return Signature._of(d)
    try:
        _raise(code, path)
    except Error as e:
        e.reason = d["reason"]
        if d["reason"] and e.args:
            e.args = (f"{e.args[0]} ({d['reason']})",) + e.args[1:]
        raise


def _signature_text(text):
    if isinstance(text, str):
        text = text.encode("utf-8")
    return _bytes_like(text, "the signature's text")


def _public(key):
    if not isinstance(key, PublicKey):
        raise TypeError(f"a tarn.PublicKey was expected, not {type(key).__name__}")
    return key._raw


class Verifier:
    """Checks a signature as the container's bytes arrive: the signature file's text and what it
    must say (``min_version``, ``device``) are checked at once (BadSignature, OlderVersion,
    OtherDevice), then ``update(data)`` takes the container's bytes and ``finish()`` returns
    the Signature or raises BadSignature. ``save()`` and ``Verifier.resume()`` carry the state
    across a restart: public data only."""

    def __init__(self, public_key, signature, min_version=0, device=None):
        self._v = _tarn.Verifier()
        self._key = _public(public_key)
        code, d = self._v.init(self._key, _signature_text(signature), min_version, device)
        _signature_verdict(code, d)
        self._finished = False

    def update(self, data):
        _not_finished(self, "Verifier")
        _raise(self._v.update(_bytes_like(data, "the data")))

    def finish(self):
        _not_finished(self, "Verifier")
        self._finished = True
        return _signature_verdict(*self._v.finish())

    def save(self):
        """The state as bytes, for resume()."""
        code, blob = self._v.save()
        _raise(code)
        return blob

    @classmethod
    def resume(cls, public_key, blob):
        """A verifier from save()'s bytes and the same public key; Error for anything else."""
        v = object.__new__(cls)
        v._v = _tarn.Verifier()
        v._key = _public(public_key)
        if v._v.resume(v._key, bytes(blob)) != 0:
            raise Error("not a saved verifier for this public key")
        v._finished = False
        return v


def verify_signature_file(path, public_key, signature=None, min_version=0, device=None):
    """Checks the signature of the file at ``path``: ``signature`` is the signature file's text
    (default: the file ``path`` + ".minisig"). The Signature, or the verdict's error."""
    p = _path(path)
    if signature is None:
        try:
            with open(p + b".minisig", "rb") as f:
                signature = f.read(16384)
        except FileNotFoundError:
            raise NoSignature(f"no signature: {_os.fsdecode(p)}.minisig") from None
    return _signature_verdict(*_tarn.verify_signature_file(
        p, _public(public_key), _signature_text(signature), min_version, device), p)


def can_sign():
    """Whether this build makes keys and signatures (built with libsodium)."""
    return _tarn.can_sign()


def _can_sign():
    if not _tarn.can_sign():
        raise Error("this build makes no signatures (built without libsodium)")


def signing_keygen(password=None):
    """A new signing key pair: ``(public_text, secret_text)``, the texts of minisign's public and
    secret key files, the secret one encrypted under ``password`` (str) when given."""
    _can_sign()
    code, public, secret = _tarn.sign_keygen(password)
    _raise(code)
    return public, secret


def sign_file(path, secret_key, password=None, version=None, device=None, comment=None):
    """The signature file's text for the file at ``path``, under ``secret_key`` (a secret key
    file's text), with ``version``, ``device`` and ``comment`` in its trusted comment."""
    _can_sign()
    p = _path(path)
    code, text = _tarn.sign_file(p, _signature_text(secret_key), password, version, device,
                                 comment)
    if code == 14:
        raise ValueError("device: 1 to 63 letters, digits, '.', '_', '-'; comment: one line "
                         "without version= or device=")
    _raise(code, p)
    return text
