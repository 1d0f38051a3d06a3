#!/usr/bin/env python3
"""Checks the decoder's budget on the device and prints the figures: the code and constant
data the library adds to a firmware that only decodes (from the linker's map), and the
deepest stack below tarn_decoder_update (from the compiler's call graph with stack usage).
Usage: budget.py MAP_FILE CALLGRAPH_DIR [CODE_LIMIT STACK_LIMIT]"""
import glob
import re
import sys

map_file, graph_dir = sys.argv[1], sys.argv[2]
code_limit = int(sys.argv[3]) if len(sys.argv) > 3 else 4096
stack_limit = int(sys.argv[4]) if len(sys.argv) > 4 else 256

# Input sections of the library's objects kept in the firmware: ".text.f 0xADDR 0xSIZE lib(obj)".
sizes = {}
text = open(map_file).read()
for m in re.finditer(r"^ (\.(?:text|rodata)[^\s]*)\s*\n?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S+)",
                     text, re.M):
    section, size, origin = m.group(1), int(m.group(2), 16), m.group(3)
    if "libtarn.a(" in origin:
        obj = origin.split("(")[1].rstrip(")")
        sizes[obj] = sizes.get(obj, 0) + size
code = sum(sizes.values())

# The call graph: nodes carry their own frame ("N bytes"), edges the calls.
frames, calls = {}, {}
for path in glob.glob(graph_dir + "/**/*.ci", recursive=True):
    for node in re.finditer(r'node: \{ title: "([^"]+)" label: "[^"]*?\\n[^"]*?\\n(\d+) bytes', open(path).read()):
        frames[node.group(1)] = max(frames.get(node.group(1), 0), int(node.group(2)))
    for edge in re.finditer(r'edge: \{ sourcename: "([^"]+)" targetname: "([^"]+)"', open(path).read()):
        calls.setdefault(edge.group(1), set()).add(edge.group(2))


def deepest(name, seen=()):
    if name in seen:
        raise SystemExit(f"recursion through {name}")
    below = [deepest(c, seen + (name,)) for c in calls.get(name, ())]
    return frames.get(name, 0) + max(below, default=0)


stack = deepest("tarn_decoder_update")
unknown = sorted(c for c in calls.get("tarn_decoder_update", ()) if c not in frames)
print(f"decoder code and constant data: {code} bytes (limit {code_limit}); by object: "
      + ", ".join(f"{k} {v}" for k, v in sorted(sizes.items())))
print(f"stack below tarn_decoder_update: {stack} bytes (limit {stack_limit})"
      + (f", plus the C library's {', '.join(unknown)}" if unknown else ""))
if code == 0 or stack == 0:
    raise SystemExit("nothing measured")
sys.exit(0 if code <= code_limit and stack <= stack_limit else 1)
