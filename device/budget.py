#!/usr/bin/env python3
"""Checks the decoder's budget on the device and prints the figures: the code and constant
data the library adds to a firmware that only decodes (the sections the linker kept, from its
map), and the deepest stack below any of the decoder's calls (the compiler's call graph with
each frame, and for the C library's functions, which have no such graph, their own prologues
read from the firmware; a tail call counted without the frame its caller gave back).
The same for a firmware that only checks signatures, with "verifier" after the limits.
Usage: budget.py MAP_FILE ELF_FILE CALLGRAPH_DIR OBJDUMP [CODE_LIMIT STACK_LIMIT [verifier]]"""
import glob
import re
import subprocess
import sys

map_file, elf, graph_dir, objdump = sys.argv[1:5]
code_limit = int(sys.argv[5]) if len(sys.argv) > 5 else 3072
stack_limit = int(sys.argv[6]) if len(sys.argv) > 6 else 256
what = sys.argv[7] if len(sys.argv) > 7 else "decoder"
ENTRIES = {
    "decoder": ["tarn_key_from_bytes", "tarn_decoder_init", "tarn_decoder_update",
                "tarn_decoder_step", "tarn_decoder_finish", "tarn_decoder_save",
                "tarn_decoder_resume", "tarn_decoder_position"],
    "verifier": ["tarn_public_key_from_text", "tarn_verifier_init", "tarn_verifier_update",
                 "tarn_verifier_finish", "tarn_verifier_save", "tarn_verifier_resume"],
}[what]

# Input sections of the core's object (tarn_core.c, the amalgamation) that the linker kept:
# ".text.f 0xADDR 0xSIZE OBJECT" after the map's "Linker script and memory map" (what comes
# before it was discarded).
text = open(map_file).read()
kept = text[text.index("Linker script and memory map"):]
sizes = {}
for m in re.finditer(r"^ (\.(?:text|rodata)[^\s]*)\s*\n?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S+)",
                     kept, re.M):
    section, size, origin = m.group(1), int(m.group(2), 16), m.group(3)
    if "tarn_core.c" in origin:
        name = re.sub(r"^\.(text|rodata)\.?", "", section) or section
        sizes[name] = sizes.get(name, 0) + size
code = sum(sizes.values())

# The call graph: nodes carry their own frame ("N bytes"), edges the calls.
frames, calls = {}, {}
for path in glob.glob(graph_dir + "/**/*.ci", recursive=True):
    graph = open(path).read()
    for node in re.finditer(r'node: \{ title: "([^"]+)" label: "[^"]*?\\n[^"]*?\\n(\d+) bytes', graph):
        frames[node.group(1)] = max(frames.get(node.group(1), 0), int(node.group(2)))
    for edge in re.finditer(r'edge: \{ sourcename: "([^"]+)" targetname: "([^"]+)"', graph):
        calls.setdefault(edge.group(1), set()).add(edge.group(2))

# The C library's functions: their frame from the prologue in the firmware (registers pushed,
# then any "sub sp"); they call nothing that uses more.
disassembly = subprocess.run([objdump, "-d", elf], capture_output=True, text=True, check=True).stdout


def prologue_frame(name):
    m = re.search(r"^[0-9a-f]+ <%s>:\n((?:.*\n){1,12})" % re.escape(name), disassembly, re.M)
    if not m:
        raise SystemExit(f"no frame known for {name}")
    frame = 0
    for line in m.group(1).splitlines():
        push = re.search(r"\b(?:push|stmdb\s+sp!),?\s*\{([^}]*)\}", line)
        if push:
            regs = 0
            for part in push.group(1).split(","):
                part = part.strip()
                r = re.match(r"r(\d+)-r(\d+)", part)
                regs += int(r.group(2)) - int(r.group(1)) + 1 if r else 1
            frame += 4 * regs
        sub = re.search(r"\bsub(?:\.w)?\s+sp,\s*(?:sp,\s*)?#(\d+)", line)
        if sub:
            frame += int(sub.group(1))
    return frame


# Tail calls: a function that ends by branching to another (b, not bl) has given back its frame
# before the other runs, so that callee's stack counts from the caller's caller.
def branches(name):
    m = re.search(r"^[0-9a-f]+ <%s>:\n((?:.+\n)*)" % re.escape(name), disassembly, re.M)
    body = m.group(1) if m else ""
    called = set(re.findall(r"\tbl(?:x)?\s+[0-9a-f]+ <([^>+]+)>", body))
    jumped = set(re.findall(r"\tb(?:\.[nw])?\s+[0-9a-f]+ <([^>+]+)>", body)) - {name}
    return jumped - called


def deepest(name, seen=()):
    if name in seen:
        raise SystemExit(f"recursion through {name}")
    if name not in frames:
        return prologue_frame(name)
    tails = branches(name.split(":")[-1])
    below, beside = [], []
    for c in calls.get(name, ()):
        (beside if c.split(":")[-1] in tails else below).append(deepest(c, seen + (name,)))
    return max([frames[name] + max(below, default=0)] + beside)


stacks = {entry: deepest(entry) for entry in ENTRIES if entry in frames}
stack = max(stacks.values(), default=0)
largest = sorted(sizes.items(), key=lambda kv: -kv[1])
print(f"{what} code and constant data: {code} bytes (limit {code_limit}); largest: "
      + ", ".join(f"{k} {v}" for k, v in largest[:6]))
print(f"stack below the {what}'s calls: {stack} bytes at most (limit {stack_limit}); "
      + ", ".join(f"{k} {v}" for k, v in stacks.items()))
if code == 0 or stack == 0 or len(stacks) != len(ENTRIES):
    raise SystemExit(f"nothing measured, or a call of the {what} missing from the graph")
sys.exit(0 if code <= code_limit and stack <= stack_limit else 1)
