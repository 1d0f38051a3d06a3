#!/usr/bin/env python3
"""Writes the known-answer containers as C arrays for the test firmware.
Usage: make_vectors.py KNOWN_ANSWERS_JSON OUTPUT_H"""
import json
import sys

known = json.load(open(sys.argv[1]))["containers"]
out = ["/* Made by make_vectors.py from the known answers. */",
       "static const struct Vector {", "  const char* key;", "  unsigned image_size;",
       "  const unsigned char* image;", "  unsigned container_size;",
       "  const unsigned char* container;", "} kVectors[] = {"]
for c in known:
    def array(hex_text):
        data = bytes.fromhex(hex_text)
        return len(data), "(const unsigned char[]){" + ",".join(str(b) for b in data or b"\0") + "}"
    n, image = array(c["image_hex"])
    m, container = array(c["container_hex"])
    out.append(f'  {{"{c["key"]}", {n}, {image}, {m}, {container}}},')
out.append("};")
# Single blocks under several keys: the plain words as bytes, and the enciphered bytes.
out.append("static const struct Block {\n  const char* key;\n  unsigned char plain[8], cipher[8];\n} kBlocks[] = {")
for c in json.load(open(sys.argv[1]))["cipher"]:
    plain = bytes.fromhex(c["plain_bytes"])
    cipher = bytes.fromhex(c["cipher_bytes"])
    out.append(f'  {{"{c["key"]}", {{{",".join(map(str, plain))}}}, {{{",".join(map(str, cipher))}}}}},')
out.append("};")
open(sys.argv[2], "w").write("\n".join(out) + "\n")
