#!/usr/bin/env python3
"""Writes signed test containers' signatures as C strings for the test firmware: the containers
the firmware makes (its images under its key), signed in minisign's format by a test signing
key, with the trusted comments the updater's checks need. Ed25519 is written out here from its
definition (Python's integers and hashlib), so that the firmware checks signatures made by code
that shares nothing with its own.
Usage: make_signatures.py OUTPUT_H"""
import base64
import hashlib
import sys
import zlib

KEY_WORDS = (0x01234567, 0x89ABCDEF, 0xFEDCBA98, 0x76543210)  # the firmware's test key
SEED = bytes(range(101, 133))  # the test signing key's seed: for tests alone
KEY_ID = b"dev-test"
BIG = 100 * 1024 + 5

# --- The container, as the encoder makes it.


def image(n, salt=0):
    return bytes((i * 7 + (i >> 9) + n + salt) & 0xFF for i in range(n))


def encipher(v0, v1):
    k0, k1, k2, k3 = KEY_WORDS
    total = 0
    for _ in range(32):
        total = (total + 0x9E3779B9) & 0xFFFFFFFF
        v0 = (v0 + (((v1 << 4) & 0xFFFFFFFF) + (k0 ^ v1) + ((v1 >> 5) ^ total) + k1)) & 0xFFFFFFFF
        v1 = (v1 + (((v0 << 4) & 0xFFFFFFFF) + (k2 ^ v0) + ((v0 >> 5) ^ total) + k3)) & 0xFFFFFFFF
    return v0, v1


def container(plain):
    payload = bytearray()
    whole = len(plain) - len(plain) % 8
    for at in range(0, whole, 8):
        v0, v1 = encipher(int.from_bytes(plain[at:at + 4], "little"),
                          int.from_bytes(plain[at + 4:at + 8], "little"))
        payload += v0.to_bytes(4, "little") + v1.to_bytes(4, "little")
    payload += plain[whole:]
    words = [0, 0x72617571, 0x74736F62, 0x0055454E, 0, 1, 0, zlib.crc32(payload),
             zlib.crc32(plain), 11, 0, 328, len(plain)]
    return b"".join(w.to_bytes(4, "little") for w in words) + bytes(payload)

# --- Ed25519 signing.


P = 2**255 - 19
L = 2**252 + 27742317777372353535851937790883648493
D = -121665 * pow(121666, P - 2, P) % P


def add(p, q):
    a = (p[1] - p[0]) * (q[1] - q[0]) % P
    b = (p[1] + p[0]) * (q[1] + q[0]) % P
    c = 2 * p[3] * q[3] * D % P
    d = 2 * p[2] * q[2] % P
    e, f, g, h = b - a, d - c, d + c, b + a
    return (e * f % P, g * h % P, f * g % P, e * h % P)


def times(s, p):
    q = (0, 1, 1, 0)
    while s:
        if s & 1:
            q = add(q, p)
        p = add(p, p)
        s >>= 1
    return q


def encode(p):
    zi = pow(p[2], P - 2, P)
    x, y = p[0] * zi % P, p[1] * zi % P
    return (y | (x & 1) << 255).to_bytes(32, "little")


BY = 4 * pow(5, P - 2, P) % P
BX = pow((BY * BY - 1) * pow(D * BY * BY + 1, P - 2, P), (P + 3) // 8, P)
if (BX * BX - (BY * BY - 1) * pow(D * BY * BY + 1, P - 2, P)) % P:
    BX = BX * pow(2, (P - 1) // 4, P) % P
if BX & 1:
    BX = P - BX
BASE = (BX, BY, 1, BX * BY % P)


def number(data):
    return int.from_bytes(hashlib.sha512(data).digest(), "little")


h = hashlib.sha512(SEED).digest()
SECRET = (int.from_bytes(h[:32], "little") & ((1 << 254) - 8)) | (1 << 254)
PREFIX = h[32:]
PUBLIC = encode(times(SECRET, BASE))


def sign(message):
    r = number(PREFIX + message) % L
    big_r = encode(times(r, BASE))
    s = (r + number(big_r + PUBLIC + message) % L * SECRET) % L
    return big_r + s.to_bytes(32, "little")

# --- minisign's files.


def b64(data):
    return base64.b64encode(data).decode()


def signature_file(data, comment):
    sig = sign(hashlib.blake2b(data, digest_size=64).digest())
    return (f"untrusted comment: signature from the test key\n{b64(b'ED' + KEY_ID + sig)}\n"
            f"trusted comment: {comment}\n{b64(sign(sig + comment.encode()))}\n")


def c_string(name, text):
    lines = "".join(f'\n    "{line}\\n"' for line in text.splitlines())
    return f"static const char {name}[] ={lines};"


small = container(image(5 * 1024 + 3))
big = container(image(BIG))
out = ["/* Made by make_signatures.py: signatures of the containers the firmware makes. */",
       c_string("kSigningPublicKey",
                f"untrusted comment: minisign public key\n{b64(b'Ed' + KEY_ID + PUBLIC)}"),
       c_string("kSignedSmall", signature_file(small, "timestamp:1 version=5 device=test-board")),
       c_string("kSignedBig", signature_file(big, "version=5\tdevice=test-board")),
       c_string("kSignedOlder", signature_file(small, "version=3 device=test-board")),
       c_string("kSignedOtherDevice", signature_file(small, "version=5 device=other-board"))]
open(sys.argv[1], "w").write("\n".join(out) + "\n")
