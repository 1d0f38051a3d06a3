// The inspector's engine, in a Web Worker: the core (compiled to WebAssembly above) driven over
// slices of the picked file, so that a container of any size is checked with a few MiB of
// memory and the page's own thread stays free to draw. One worker a run: cancelling a run ends
// its worker. Messages in: {op: "check" | "save" | "encode", file, key, signature: {text,
// publicKey} or null, portable}; for a check split between workers, {op: "range", file, key,
// from, to} to each and then {op: "judge", file, parts} with their results in order; and
// {op: "ack"} for each piece of output the page has written;
// out: {kernels: "simd" | "portable"}, {words}, {progress: bytes}, {badKey}, {piece}, {done:
// {status, info, header, signature}}. A signature is checked in the same pass that checks the
// container. `portable` asks for the portable kernels where SIMD would be used.
"use strict";
const SLICE = 1 << 20; // bytes read from the file at a time
const OK = 0;
const BAD_KEY = 7;
const READ_FAILED = 10;
const INVALID_ARGUMENT = 14;
const TEXT_MAX = 16384; // a signature file's text, or a public key's
let tarn = null;
let mem = {};

// A module of one function returning a 128-bit constant: valid only where the browser has
// WebAssembly SIMD, which then gets the SIMD kernels' build; any other the portable one.
const SIMD_PROBE = new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0,
                                   10, 22, 1, 20, 0, 253, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                   0, 0, 0, 0, 11]);
let ready = null;

function load(wantPortable) {
  const kernels = !wantPortable && WebAssembly.validate(SIMD_PROBE) ? "simd" : "portable";
  const create = kernels === "simd" ? createTarnSimd : createTarnPortable;
  return create({
    wasmBinary: Uint8Array.from(atob(TARN_WASM[kernels]), (c) => c.charCodeAt(0)),
  }).then((m) => {
    postMessage({ kernels });
    return m;
  });
}

function start(m) {
  tarn = m;
  const alloc = (n) => m._malloc(n);
  const state = Math.max(m._tarn_page_decoder_size(), m._tarn_page_encoder_size());
  mem = { state: alloc(state), key: alloc(m._tarn_page_key_size()), hex: alloc(64),
          info: alloc(m._tarn_page_info_size()), written: alloc(4), header: alloc(52),
          input: alloc(SLICE), output: alloc(SLICE + 8),
          verifier: alloc(m._tarn_page_verifier_size()), publicKey: alloc(m._tarn_page_public_key_size()),
          signatureInfo: alloc(m._tarn_page_signature_info_size()), text: alloc(TEXT_MAX),
          registers: alloc(m._tarn_page_registers_size()) };
  // The library's words for its statuses, by number, for the page to show.
  const words = [];
  for (let s = 0; s < 32; ++s) words.push(m.UTF8ToString(m._tarn_status_name(s)));
  postMessage({ words });
}

const heap = () => tarn.HEAPU8;
const u32 = (ptr) => new DataView(heap().buffer).getUint32(ptr, true);
const wipe = (ptr, n) => heap().fill(0, ptr, ptr + n);

// tarn_info through the module's accessors: no offsets of its own.
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

// What a signature said: its key id, version and device, and why not.
function readSignature(status) {
  const p = mem.signatureInfo, t = tarn;
  return { status, keyId: t.UTF8ToString(t._tarn_page_signature_key_id(p)),
           version: t._tarn_page_signature_has_version(p) ? t._tarn_page_signature_version(p) : null,
           device: t.UTF8ToString(t._tarn_page_signature_device(p)) || null,
           reason: t.UTF8ToString(t._tarn_page_signature_reason(p)) };
}

// Text into the module's text buffer: its length, or -1 when it is too long to be what it says.
function putText(text) {
  const bytes = new TextEncoder().encode(text);
  if (bytes.length > TEXT_MAX) return -1;
  heap().set(bytes, mem.text);
  return bytes.length;
}

// The checker made ready for a signature file's text under a public key's: {live: true}, or
// the verdict already reached (a public key that is not one: INVALID_ARGUMENT).
function startSignature(signature) {
  let n = putText(signature.publicKey);
  if (n < 0 || tarn._tarn_public_key_from_text(mem.publicKey, mem.text, n) !== OK) {
    return { done: { status: INVALID_ARGUMENT, badPublicKey: true } };
  }
  n = putText(signature.text);
  heap().fill(0, mem.signatureInfo, mem.signatureInfo + tarn._tarn_page_signature_info_size());
  // A text too long is no signature file: refused as one.
  const status = tarn._tarn_verifier_init(mem.verifier, mem.publicKey, mem.text, Math.max(n, 0), 0,
                                          mem.signatureInfo);
  return status === OK ? { live: true } : { done: readSignature(status) };
}

// The key's text into the module's key object: null for none, BAD_KEY for one that is not.
function loadKey(text) {
  if (text === "") return null;
  const bytes = new TextEncoder().encode(text);
  if (bytes.length > 64) return BAD_KEY;
  heap().set(bytes, mem.hex);
  const status = tarn._tarn_key_from_text(mem.hex, bytes.length, mem.key);
  wipe(mem.hex, 64);
  return status === OK ? mem.key : BAD_KEY;
}

// The key for a check: a malformed one is said, and the keyless part of the check goes on.
function checkKey(text) {
  const key = loadKey(text);
  if (key !== BAD_KEY) return key;
  postMessage({ badKey: true });
  return null;
}

// The file's bytes in order, through one buffer read into again where the browser can.
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

// A piece of output to the page, which writes it and says so before the next one is made.
let acknowledged = null;
function give(bytes) {
  const wait = new Promise((resolve) => { acknowledged = resolve; });
  postMessage({ piece: bytes.buffer }, [bytes.buffer]);
  return wait;
}

// Progress, a few times a second: bytes done.
let reported = 0;
function progress(at) {
  const now = performance.now();
  if (now - reported < 50) return;
  reported = now;
  postMessage({ progress: at });
}

async function decode(file, text, output, signature) {
  const signed = signature ? startSignature(signature) : null;
  const key = checkKey(text);
  tarn._tarn_decoder_init(mem.state, key === null ? 0 : key);
  let at = 0;
  try {
    for await (const piece of pieces(file)) {
      heap().set(piece, mem.input);
      if (signed && signed.live) tarn._tarn_verifier_update(mem.verifier, mem.input, piece.length);
      const status = tarn._tarn_decoder_update(mem.state, mem.input, piece.length,
                                               key === null ? 0 : mem.output, mem.written);
      if (status !== OK) break; // finish repeats it
      if (output) await give(heap().slice(mem.output, mem.output + u32(mem.written)));
      at += piece.length;
      progress(at);
    }
  } catch (e) {
    tarn._tarn_decoder_finish(mem.state, mem.info); // wipes the key
    wipe(mem.output, SLICE + 8);
    return { status: READ_FAILED, info: null, keyed: key !== null };
  }
  const status = tarn._tarn_decoder_finish(mem.state, mem.info);
  wipe(mem.output, SLICE + 8);
  let signatureResult = signed ? signed.done : null;
  if (signed && signed.live) {
    // Only a whole file was fed to the checker: after a container that failed early, the
    // signature is not judged (the container's verdict says all).
    signatureResult = at === file.size
        ? readSignature(tarn._tarn_verifier_finish(mem.verifier, mem.signatureInfo)) : null;
  }
  return { status, info: readInfo(), keyed: key !== null, signature: signatureResult };
}

// The container's header, read again: null where it cannot be read.
async function readHeader(file) {
  try {
    const header = new Uint8Array(await file.slice(0, 52).arrayBuffer());
    heap().set(header, mem.header);
    return header;
  } catch (e) {
    return null;
  }
}

// The verdict on a container whose header fails, or cannot be read, without its payload
// (marked `early`: it ends a split check at once); null where the header holds.
async function headerVerdict(file) {
  const header = await readHeader(file);
  if (header === null) return { status: READ_FAILED, info: null, early: true };
  const status = tarn._tarn_page_header_verdict(mem.header, header.length, file.size, mem.info);
  return status === OK ? null : { status, info: readInfo(), keyed: false, early: true };
}

// One stretch of a check split between workers: [from, to) of the file, all payload,
// through the pass; its finished CRC-32s. The first stretch's worker checks the header first.
async function range(file, text, from, to) {
  const key = checkKey(text);
  const early = from === 52 ? await headerVerdict(file) : null;
  if (early !== null) {
    if (key !== null) wipe(key, tarn._tarn_page_key_size());
    return early;
  }
  tarn._tarn_page_registers_start(mem.registers);
  let at = 0;
  try {
    for await (const piece of pieces(file.slice(from, to))) {
      heap().set(piece, mem.input);
      tarn._tarn_page_pass(key === null ? 0 : key, mem.registers, mem.input, piece.length);
      at += piece.length;
      progress(at);
    }
  } catch (e) {
    at = -1;
  }
  if (key !== null) wipe(key, tarn._tarn_page_key_size());
  wipe(mem.input, SLICE);
  if (at !== to - from) return { status: READ_FAILED };
  return { status: OK, keyed: key !== null, size: to - from,
           payload: tarn._tarn_page_payload_crc(mem.registers) >>> 0,
           image: tarn._tarn_page_image_crc(mem.registers) >>> 0 };
}

// The verdict on a split check: the header read again, the stretches' CRC-32s joined in order.
async function judge(file, parts) {
  const header = await readHeader(file);
  if (header === null) return { status: READ_FAILED, info: null };
  let { payload, image } = parts[0];
  for (const part of parts.slice(1)) {
    payload = tarn._tarn_page_crc_join(payload, part.payload, part.size) >>> 0;
    image = tarn._tarn_page_crc_join(image, part.image, part.size) >>> 0;
  }
  const status = tarn._tarn_page_judge(mem.header, header.length, file.size, payload, image,
                                       parts[0].keyed ? 1 : 0, mem.info);
  return { status, info: readInfo(), keyed: parts[0].keyed };
}

async function encode(file, text) {
  const key = loadKey(text);
  if (key === null || key === BAD_KEY) return { status: BAD_KEY };
  tarn._tarn_encoder_init(mem.state, key);
  let status = OK;
  let at = 0;
  try {
    for await (const piece of pieces(file)) {
      heap().set(piece, mem.input);
      status = tarn._tarn_encoder_update(mem.state, mem.input, piece.length, mem.output, mem.written);
      if (status !== OK) break;
      await give(heap().slice(mem.output, mem.output + u32(mem.written)));
      at += piece.length;
      progress(at);
    }
  } catch (e) {
    status = READ_FAILED;
  }
  if (status === OK) status = tarn._tarn_encoder_finish(mem.state, mem.output, mem.written, mem.header);
  if (status !== OK) {
    tarn._tarn_encoder_finish(mem.state, mem.output, mem.written, mem.header); // wipes the key
    return { status };
  }
  await give(heap().slice(mem.output, mem.output + u32(mem.written)));
  const header = heap().slice(mem.header, mem.header + 52);
  wipe(mem.output, SLICE + 8);
  return { status, header: header.buffer };
}

onmessage = async (e) => {
  const msg = e.data;
  if (msg.op === "ack") {
    const go = acknowledged;
    acknowledged = null;
    if (go) go();
    return;
  }
  if (!ready) ready = load(msg.portable === true).then(start);
  await ready;
  let done;
  if (msg.op === "encode") done = await encode(msg.file, msg.key);
  else if (msg.op === "range") done = await range(msg.file, msg.key, msg.from, msg.to);
  else if (msg.op === "judge") done = await judge(msg.file, msg.parts);
  else done = await decode(msg.file, msg.key, msg.op === "save", msg.signature);
  postMessage({ done });
};
