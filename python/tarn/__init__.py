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
from ._version import __version__

__all__ = [
    "__version__", "Key", "Info", "Encoder", "Decoder", "encode", "decode", "encode_file",
    "decode_file", "rekey_file", "verify_file", "Error", "NotAContainer", "UnknownVersion",
    "WrongSize", "PayloadDamaged", "ImageMismatch", "TooLarge", "BadKey", "Cancelled",
    "CantOpenInput", "CantCreateOutput", "ReadFailed", "WriteFailed", "HEADER_SIZE",
    "MAX_IMAGE_SIZE",
]

HEADER_SIZE = 52
"""The size of a container's header: a container is this much longer than its image."""
MAX_IMAGE_SIZE = 4294967243
"""The largest image whose container fits the format's 32-bit sizes."""

# The C interface's statuses, by number.
_STATUS_NAMES = [
    "TARN_OK", "TARN_NOT_A_CONTAINER", "TARN_UNKNOWN_VERSION", "TARN_WRONG_SIZE",
    "TARN_PAYLOAD_DAMAGED", "TARN_IMAGE_MISMATCH", "TARN_TOO_LARGE", "TARN_BAD_KEY",
    "TARN_CANT_OPEN_INPUT", "TARN_CANT_CREATE_OUTPUT", "TARN_READ_FAILED", "TARN_WRITE_FAILED",
    "TARN_NO_MEMORY", "TARN_CANCELLED", "TARN_INVALID_ARGUMENT", "TARN_INTERNAL_ERROR",
]
# The words of tarntool's JSON for the verdicts on a container.
_VERDICTS = {
    0: "ok", 1: "not-a-container", 2: "unknown-version", 3: "wrong-size",
    4: "payload-damaged", 5: "image-mismatch",
}


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


_CLASSES = {c.status: c for c in (
    NotAContainer, UnknownVersion, WrongSize, PayloadDamaged, ImageMismatch, TooLarge, BadKey,
    Cancelled, CantOpenInput, CantCreateOutput, ReadFailed, WriteFailed)}


def _cause(status, path):
    """The errno of what stands in the way of a file, where the system tells it."""
    try:
        if status == "TARN_CANT_OPEN_INPUT":
            if _os.path.isdir(path):
                return _errno.EISDIR
            _os.close(_os.open(path, _os.O_RDONLY | getattr(_os, "O_NONBLOCK", 0)))
            return None
        if status == "TARN_CANT_CREATE_OUTPUT":
            if _os.path.isdir(path):
                return _errno.EISDIR
            folder = _os.path.dirname(path) or b"."
            if not _os.path.isdir(folder):
                return _errno.ENOENT
            if not _os.access(folder, _os.W_OK):
                return _errno.EACCES
    except OSError as e:
        return e.errno
    return None


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
    name = _STATUS_NAMES[code] if 0 <= code < len(_STATUS_NAMES) else "TARN_ERROR"
    text = _tarn.status_string(code)
    cls = _CLASSES.get(name)
    if cls is None:
        raise Error(text)
    if issubclass(cls, OSError):
        number = _cause(name, path) if path is not None else None
        shown = _os.fsdecode(path) if path is not None else None
        exc = _with_cause(cls, number)(number, text + (f" ({_os.strerror(number)})" if number else ""), shown)
    else:
        exc = cls(text)
    exc.info = info
    raise exc


def _about(code, src, dst):
    """The file a failure of a file call is about: the output for creating and writing it."""
    return dst if _STATUS_NAMES[code] in ("TARN_CANT_CREATE_OUTPUT", "TARN_WRITE_FAILED") else src


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
        """A key from a key file as tarntool reads it: 32 hexadecimal digits, optionally with
        blanks around them and one line ending; BadKey otherwise."""
        with open(_path(path), "rb") as f:
            text = bytearray(f.read(4097))
        try:
            if len(text) > 4096:
                raise BadKey(f"{_os.fsdecode(path)}: not a key (32 hexadecimal digits expected)")
            body = bytes(text).strip(b" \t")
            for ending in (b"\r\n", b"\n"):
                if body.endswith(ending):
                    body = body[:-len(ending)].rstrip(b" \t")
                    break
            native = _tarn.key_from_hex(body)
            if native is None:
                raise BadKey(f"{_os.fsdecode(path)}: not a key (32 hexadecimal digits expected)")
            return cls._of(native)
        finally:
            text[:] = bytes(len(text))

    def __repr__(self):
        return "tarn.Key(<hidden>)"

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
        return cls(_VERDICTS.get(code, "unreadable"),
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


def encode(image, key):
    """The container of ``image`` (any bytes-like object, read without a copy) under ``key``."""
    code, container = _tarn.encode(image, _native(key))
    _raise(code)
    return container


def decode(container, key):
    """The image in ``container`` (any bytes-like object), checked: raises the verdict's error
    (NotAContainer, PayloadDamaged, ImageMismatch, ...) unless both CRCs match."""
    code, image = _tarn.decode(container, _native(key))
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
    if code not in _VERDICTS:
        _raise(code, p)
    return Info._of(code, info)


class Encoder:
    """Makes a container a piece at a time: ``update(data)`` gives the payload's next bytes
    (whole blocks; up to 7 bytes wait), ``finish()`` the ``(tail, header)`` that end it: the
    container is ``header + the updates' bytes + tail``."""

    def __init__(self, key):
        self._enc = _tarn.Encoder(_native(key))

    def update(self, data):
        code, out = self._enc.update(data)
        _raise(code)
        return out

    def finish(self):
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

    def update(self, data):
        code, out = self._dec.update(data)
        _raise(code)
        return out

    def finish(self):
        code, d = self._dec.finish()
        info = Info._of(code, d)
        _raise(code, info=info)
        return info

    def __reduce__(self):
        raise TypeError("a tarn.Decoder holds a key and does not pickle")
