#!/usr/bin/env python3
"""Builds the container inspector into one self-contained page: the core compiled to
WebAssembly with Emscripten (the sources lib/sources.txt lists), and the page's
HTML, CSS and JavaScript with the module inlined, under a Content-Security-Policy that allows
no connection at all. Usage: build.py OUTPUT_DIR (scripts/build-web runs it)."""
import base64
import hashlib
import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
out_dir = os.path.abspath(sys.argv[1])
os.makedirs(out_dir, exist_ok=True)



def listed(*parts):
    """The library's sources of those parts, as lib/sources.txt lists them."""
    found = []
    for line in open(os.path.join(ROOT, "lib", "sources.txt")):
        words = line.split()
        if len(words) == 2 and not line.startswith("#") and words[0] in parts:
            found.append(os.path.join(ROOT, "lib", words[1]))
    return found


# Two builds of the core: with the portable kernels, and with the WebAssembly SIMD ones; the
# engine loads the second where the browser validates SIMD. The layout's accessors in both.
layout = os.path.join(HERE, "layout.c")  # sizes and fields, asked of the module
exported = ["tarn_decoder_init", "tarn_decoder_update", "tarn_decoder_finish",
            "tarn_encoder_init", "tarn_encoder_update", "tarn_encoder_finish",
            "tarn_key_from_hex", "tarn_key_from_text", "tarn_version", "tarn_status_name",
            "tarn_page_decoder_size", "tarn_page_encoder_size", "tarn_page_key_size",
            "tarn_page_info_size", "tarn_page_info_word", "tarn_page_info_image_size",
            "tarn_page_info_container_size", "tarn_page_info_image_crc",
            "tarn_page_info_payload_crc", "tarn_page_info_payload_checked",
            "tarn_page_info_payload_ok", "tarn_page_info_image_checked",
            "tarn_page_info_image_ok", "tarn_public_key_from_text", "tarn_verifier_init",
            "tarn_verifier_update", "tarn_verifier_finish", "tarn_page_verifier_size",
            "tarn_page_public_key_size", "tarn_page_signature_info_size",
            "tarn_page_signature_key_id", "tarn_page_signature_has_version",
            "tarn_page_signature_version", "tarn_page_signature_device",
            "tarn_page_signature_reason", "tarn_page_registers_size",
            "tarn_page_registers_start", "tarn_page_pass", "tarn_page_payload_crc",
            "tarn_page_image_crc", "tarn_page_crc_join", "tarn_page_header_verdict",
            "tarn_page_judge", "malloc", "free"]
env = dict(os.environ, NODE_PATH=os.pathsep.join(
    # Debian's JavaScript modules (the optimiser's parser), for a Node.js that does not look
    # there itself.
    p for p in (os.environ.get("NODE_PATH"), "/usr/share/nodejs") if p))


def build(name, kernels, flags):
    """One module: its loader's code (its factory `name`) and its WebAssembly, as text."""
    module = os.path.join(out_dir, name + ".js")
    subprocess.run([
        "emcc", "-std=c99", "-Wall", "-Wextra", "-pedantic", "-Werror", *flags,
        "-I" + os.path.join(ROOT, "include"), "-I" + os.path.join(ROOT, "lib"),
        "-DTARN_STATIC", "-DTARN_BUILDING_LIBRARY", *listed("core", kernels), layout,
        "-sEXPORTED_FUNCTIONS=" + ",".join("_" + f for f in exported),
        "-sEXPORTED_RUNTIME_METHODS=UTF8ToString",
        "-sMODULARIZE=1", "-sEXPORT_NAME=" + name,
        "-sENVIRONMENT=worker", "-sFILESYSTEM=0", "-sDYNAMIC_EXECUTION=0",
        "-sINITIAL_MEMORY=16777216", "-sALLOW_MEMORY_GROWTH=0",
        "-o", module,
    ], check=True, env=env)
    wasm = module[:-3] + ".wasm"
    loader, code = open(module).read(), base64.b64encode(open(wasm, "rb").read()).decode()
    os.remove(module)
    os.remove(wasm)
    return loader, code


# The portable build small; the SIMD one for speed (its groups' loops unrolled: 16 KiB of
# WebAssembly against 12 KiB at -Os, and about a third faster).
portable_loader, portable_code = build("createTarnPortable", "portable", ["-Os"])
simd_loader, simd_code = build("createTarnSimd", "simd", ["-O3", "-msimd128"])


def read(name):
    with open(os.path.join(HERE, name)) as f:
        return f.read()


def digest(text):
    return "'sha256-" + base64.b64encode(hashlib.sha256(text.encode()).digest()).decode() + "'"


# The modules' code goes into the page as text, handed to the loaders: nothing is fetched, not
# even from a data: address. The engine runs in a Web Worker made from a text the page holds:
# both loaders, both modules' code and engine.js; the page's own script is app.js.
engine = (portable_loader + "\n" + simd_loader +
          f'\nconst TARN_WASM = {{ portable: "{portable_code}", simd: "{simd_code}" }};\n' +
          read("engine.js"))
script = "const TARN_ENGINE = " + json.dumps(engine) + ";\n" + read("app.js")
style = read("style.css")
# Nothing may be fetched or sent: no connections, no forms, no frames, no other scripts.
policy = ("default-src 'none'; script-src " + digest(script) + " 'wasm-unsafe-eval'; "
          "style-src " + digest(style) + "; img-src 'none'; connect-src 'none'; "
          "form-action 'none'; base-uri 'none'; frame-src 'none'; worker-src blob:")
page = read("index.html")
page = page.replace("<!-- POLICY -->", f'<meta http-equiv="Content-Security-Policy" content="{policy}">')
page = page.replace("/* STYLE */", style).replace("/* SCRIPT */", script)
with open(os.path.join(out_dir, "index.html"), "w") as f:
    f.write(page)
print(f"{os.path.join(out_dir, 'index.html')}: {len(page.encode()) // 1024} KiB, self-contained")
