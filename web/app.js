// The inspector: the stream objects (compiled to WebAssembly above) driven over slices of the
// picked file, so that a container of any size is checked with a few MiB of memory. Nothing
// is stored and nothing leaves the page.
(function () {
  "use strict";
  const SLICE = 1 << 20; // bytes read from the file at a time
  const OK = 0;
  const BAD_KEY = 7;
  const READ_FAILED = 10;
  const INVALID_ARGUMENT = 14;
  // What the verdicts mean for whoever holds the file, by status, as the headline; the status's
  // word (tarn_status_name) stands beside it for whoever reports it.
  const SENTENCES = {
    0: "The container is intact.",
    1: "This file is not a firmware container.",
    2: "This is a container of a format version this page does not know.",
    3: "The file is shorter or longer than its header says: cut short or joined to something.",
    4: "The container was damaged on its way: get it again.",
    5: "The key does not open this container (or its header is damaged).",
    6: "The image is too large for a container (at most 4294967243 bytes).",
    7: "The key must be 32 hexadecimal digits (0-9, A-F).",
    10: "The file could not be read: it changed on disk, was removed, or may not be read. Pick it again.",
    11: "The result could not be written.",
    14: "This file is already a container: encoding takes a plain image.",
  };
  const $ = (id) => document.getElementById(id);
  let tarn = null; // the module, once it has started
  let mem = {}; // its buffers
  let current = null; // the file picked last
  let verified = null; // the file (and key text) whose full check said ok, for "Save image"
  let run = 0; // the newest run; older ones stop at their next slice

  const wasmBinary = Uint8Array.from(atob(TARN_WASM), (c) => c.charCodeAt(0));
  const ready = createTarnModule({ wasmBinary }).then((m) => {
    tarn = m;
    const alloc = (n) => m._malloc(n);
    const state = Math.max(m._tarn_page_decoder_size(), m._tarn_page_encoder_size());
    mem = { state: alloc(state), key: alloc(m._tarn_page_key_size()), hex: alloc(64),
            info: alloc(m._tarn_page_info_size()), written: alloc(4), header: alloc(52),
            input: alloc(SLICE), output: alloc(SLICE + 8) };
  });

  const heap = () => tarn.HEAPU8;
  const u32 = (ptr) => new DataView(heap().buffer).getUint32(ptr, true);
  const hex32 = (v) => v.toString(16).toUpperCase().padStart(8, "0");
  const wipe = (ptr, n) => heap().fill(0, ptr, ptr + n);

  // tarn_info through the module's accessors: the page holds no offsets of its own.
  function readInfo() {
    const p = mem.info, t = tarn;
    const words = [];
    for (let i = 0; i < 13; ++i) words.push(t._tarn_page_info_word(p, i) >>> 0);
    return { words, imageSize: t._tarn_page_info_image_size(p),
             imageCrc: t._tarn_page_info_image_crc(p) >>> 0,
             payloadCrc: t._tarn_page_info_payload_crc(p) >>> 0,
             payloadChecked: t._tarn_page_info_payload_checked(p) !== 0,
             payloadOk: t._tarn_page_info_payload_ok(p) !== 0,
             imageChecked: t._tarn_page_info_image_checked(p) !== 0,
             imageOk: t._tarn_page_info_image_ok(p) !== 0 };
  }

  // The key in the field into the module's key object: null for none, a status for a bad one.
  function loadKey() {
    const text = $("key").value.trim();
    if (text === "") return null;
    const bytes = new TextEncoder().encode(text);
    if (bytes.length > 64) return BAD_KEY;
    heap().set(bytes, mem.hex);
    const status = tarn._tarn_key_from_text(mem.hex, bytes.length, mem.key);
    wipe(mem.hex, 64);
    return status === OK ? mem.key : BAD_KEY;
  }

  // The verdict as a sentence for a person, the library's word beside it (and in data-status),
  // brought into view and focus. `keyed`: a key was given and used.
  function show(status, info, file, keyed) {
    const word = tarn ? tarn.UTF8ToString(tarn._tarn_status_name(status)) : "";
    const good = status === OK;
    let headline = SENTENCES[status] || "The file could not be read.";
    let detail = "";
    if (good && keyed) {
      headline = "The container is intact and this key opens it.";
      detail = "Both CRC-32 values match: the image is the one the container was made from.";
    } else if (good) {
      headline = "The container arrived intact; the key was not checked.";
      detail = "Without a key the page checked the header and the payload's CRC-32. Whether a " +
               "key opens it, and the image's CRC-32, were not checked: give the key for that.";
    }
    $("verdict").textContent = headline;
    $("verdict").dataset.status = word;
    $("verdict").className = good ? (keyed ? "good" : "partial") : "bad";
    $("word").textContent = word;
    $("explanation").textContent = detail;
    // The header's fields whenever the header was read, key or no key.
    const header = info && status !== 1 && file && file.size >= 52;
    $("image-size").textContent = header ? String(info.imageSize) : "—";
    $("container-size").textContent = file ? String(file.size) : "—";
    $("image-crc32").textContent = header ? hex32(info.imageCrc) : "—";
    $("payload-crc32").textContent = header ? hex32(info.payloadCrc) : "—";
    $("payload-ok").textContent = info && info.payloadChecked ? (info.payloadOk ? "yes" : "no") : "not checked";
    $("image-ok").textContent = info && info.imageChecked ? (info.imageOk ? "yes" : "no") : "not checked";
    $("words").textContent = info ? info.words.map((w) => "0x" + hex32(w)).join(" ") : "";
    $("verdict").scrollIntoView({ block: "center" });
    $("verdict").focus();
  }

  // A state of the page that is not a container's verdict: said in the same place.
  function say(sentence, word) {
    $("verdict").textContent = sentence;
    $("verdict").dataset.status = word;
    $("verdict").className = "bad";
    $("word").textContent = word;
    $("explanation").textContent = "";
    $("verdict").scrollIntoView({ block: "center" });
    $("verdict").focus();
  }

  // The key field marked when its text is not a key: the check goes on without it.
  function markKey(bad) {
    $("key").setAttribute("aria-invalid", bad ? "true" : "false");
    $("key-error").textContent = bad ? SENTENCES[BAD_KEY] + " The check went on without it." : "";
  }

  function clear() {
    for (const id of ["verdict", "word", "explanation", "image-size", "container-size",
                      "image-crc32", "payload-crc32", "payload-ok", "image-ok", "words"]) {
      $(id).textContent = "";
    }
    $("verdict").className = "";
    $("verdict").dataset.status = "";
    $("progress").value = 0;
  }

  // The file's bytes in order, a piece at a time, through one buffer that is read into again
  // where the browser can (a byte stream), so that memory stays the same whatever the size.
  async function* pieces(file) {
    let reader = null;
    try {
      reader = file.stream().getReader({ mode: "byob" });
    } catch (e) {
      reader = null;
    }
    if (reader) {
      let buffer = new ArrayBuffer(SLICE);
      try {
        for (;;) {
          const { value, done } = await reader.read(new Uint8Array(buffer, 0, SLICE));
          if (done) return;
          yield value;
          buffer = value.buffer;
        }
      } finally {
        reader.cancel().catch(() => {});
      }
    }
    for (let at = 0; at < file.size; at += SLICE) {
      yield new Uint8Array(await file.slice(at, at + SLICE).arrayBuffer());
    }
  }

  // One pass of the decoder over the file; `sink` gets each piece of image, unverified. A file
  // that cannot be read (changed, removed, not allowed) gives READ_FAILED.
  async function decodePass(file, key, me, sink) {
    tarn._tarn_decoder_init(mem.state, key === null ? 0 : key);
    let at = 0;
    try {
      for await (const piece of pieces(file)) {
        if (me !== run) break;
        heap().set(piece, mem.input);
        const status = tarn._tarn_decoder_update(mem.state, mem.input, piece.length,
                                                 key === null ? 0 : mem.output, mem.written);
        if (status !== OK) break; // finish repeats it
        if (sink) await sink(heap().slice(mem.output, mem.output + u32(mem.written)));
        at += piece.length;
        $("progress").value = at / file.size;
      }
    } catch (e) {
      tarn._tarn_decoder_finish(mem.state, mem.info); // wipes the key
      wipe(mem.output, SLICE + 8);
      return me === run ? { status: READ_FAILED, info: null } : null;
    }
    const status = tarn._tarn_decoder_finish(mem.state, mem.info);
    wipe(mem.output, SLICE + 8);
    return me === run ? { status, info: readInfo() } : null;
  }

  async function check() {
    const me = ++run;
    clear();
    verified = null;
    $("save").disabled = true;
    const file = current;
    await ready;
    if (!file) return say("Pick a container file first: nothing was checked.", "");
    // A malformed key is marked, and the keyless part of the check goes on.
    let key = loadKey();
    markKey(key === BAD_KEY);
    if (key === BAD_KEY) key = null;
    const result = await decodePass(file, key, me, null);
    if (!result) return;
    $("progress").value = 1;
    show(result.status, result.info, file, key !== null);
    if (result.status === OK && key !== null) {
      verified = { file, key: $("key").value.trim() };
      $("save").disabled = false;
    }
  }

  // Where a result goes: a file the user picks (written only when closed, so abandoned on a
  // failure) where the browser can, else a download made only at the end.
  async function openSink(name) {
    if (window.showSaveFilePicker) {
      const handle = await window.showSaveFilePicker({ suggestedName: name });
      const stream = await handle.createWritable();
      return { write: (bytes) => stream.write(bytes), done: () => stream.close(),
               abandon: () => stream.abort() };
    }
    const parts = [];
    return {
      write: (bytes) => { parts.push(bytes); },
      first: (bytes) => { parts.unshift(bytes); },
      done: () => {
        const link = document.createElement("a");
        link.href = URL.createObjectURL(new Blob(parts, { type: "application/octet-stream" }));
        link.download = name;
        document.body.appendChild(link);
        link.click();
        link.remove();
        setTimeout(() => URL.revokeObjectURL(link.href), 60000);
      },
      abandon: () => { parts.length = 0; },
    };
  }

  function baseName(name, ending) {
    const stem = name.replace(/\.(cnt|bin|img)$/i, "");
    return stem + ending;
  }

  // The image again, checked again while it is written: kept only if both CRCs match again.
  async function save() {
    if (!verified || verified.file !== current || verified.key !== $("key").value.trim()) return;
    let sink;
    try {
      sink = await openSink(baseName(verified.file.name, ".bin"));
    } catch (e) {
      return; // the save dialog cancelled: the page stays as it was
    }
    const me = ++run;
    const file = verified.file;
    const key = loadKey();
    const result = await decodePass(file, key, me, sink.write);
    if (result && result.status === OK) {
      await sink.done();
      $("explanation").textContent = "The image was saved, checked again on the way.";
    } else {
      await sink.abandon();
      if (result) show(result.status, result.info, file, true);
    }
  }

  async function encode() {
    const file = current;
    await ready;
    if (!file) return say("Pick a plain image first: nothing was encoded.", "");
    const key = loadKey();
    markKey(key === BAD_KEY);
    if (key === null || key === BAD_KEY) {
      return say("Give the key to encode with: 32 hexadecimal digits (0-9, A-F).", "bad-key");
    }
    // Only a plain image becomes a container: one that already is one is refused.
    let start;
    try {
      start = new Uint8Array(await file.slice(0, 12).arrayBuffer());
    } catch (e) {
      return say(SENTENCES[READ_FAILED], "read-failed");
    }
    const word = (i) => start[i] | start[i + 1] << 8 | start[i + 2] << 16 | start[i + 3] << 24;
    if (start.length === 12 && word(0) === 0 && word(4) === 0x72617571 && word(8) === 0x74736f62) {
      return say(SENTENCES[INVALID_ARGUMENT], "invalid-argument");
    }
    // The header comes last and goes first: a file picker gets a placeholder then the header.
    let sink;
    try {
      sink = await openSink(file.name + ".cnt");
    } catch (e) {
      return; // the save dialog cancelled: the page stays as it was
    }
    const me = ++run;
    clear();
    if (!sink.first) await sink.write(new Uint8Array(52));
    tarn._tarn_encoder_init(mem.state, key);
    let status = OK;
    let at = 0;
    try {
      for await (const piece of pieces(file)) {
        if (me !== run || status !== OK) break;
        heap().set(piece, mem.input);
        status = tarn._tarn_encoder_update(mem.state, mem.input, piece.length, mem.output, mem.written);
        if (status === OK) {
          try {
            await sink.write(heap().slice(mem.output, mem.output + u32(mem.written)));
          } catch (e) {
            status = 11; // the result could not be written
          }
        }
        at += piece.length;
        $("progress").value = at / file.size;
      }
    } catch (e) {
      status = READ_FAILED;
    }
    if (status === OK) status = tarn._tarn_encoder_finish(mem.state, mem.output, mem.written, mem.header);
    if (status !== OK || me !== run) {
      tarn._tarn_encoder_finish(mem.state, mem.output, mem.written, mem.header); // wipes the key
      await sink.abandon();
      if (me === run) say(SENTENCES[status] || SENTENCES[READ_FAILED], tarn.UTF8ToString(tarn._tarn_status_name(status)));
      return;
    }
    await sink.write(heap().slice(mem.output, mem.output + u32(mem.written)));
    const header = heap().slice(mem.header, mem.header + 52);
    if (sink.first) sink.first(header);
    else await sink.write({ type: "write", position: 0, data: header });
    await sink.done();
    wipe(mem.output, SLICE + 8);
    $("progress").value = 1;
    $("verdict").textContent = "The container was made: " + (file.size + 52) + " bytes.";
    $("verdict").dataset.status = "ok";
    $("verdict").className = "good";
    $("word").textContent = "ok";
    $("verdict").focus();
  }

  function pick(file) {
    current = file || null;
    check();
  }

  // The field forgets its file once taken, so that picking the same file again (changed on
  // disk, or not) checks it again.
  $("file").addEventListener("change", () => {
    const file = $("file").files[0];
    $("file").value = "";
    if (file) pick(file);
  });
  $("check").addEventListener("click", check);
  $("save").addEventListener("click", save);
  $("encode").addEventListener("click", encode);
  $("key").addEventListener("input", () => { $("save").disabled = true; });
  document.addEventListener("dragover", (e) => { e.preventDefault(); document.body.classList.add("dragging"); });
  document.addEventListener("dragleave", () => document.body.classList.remove("dragging"));
  document.addEventListener("drop", (e) => {
    e.preventDefault();
    document.body.classList.remove("dragging");
    if (e.dataTransfer.files.length > 0) pick(e.dataTransfer.files[0]);
  });
})();
