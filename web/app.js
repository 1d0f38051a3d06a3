// The inspector's page: what a person sees and does. The work runs in a Web Worker (the engine,
// built into this file as TARN_ENGINE), so that the page keeps drawing, shows the bytes done
// and the time left, and can cancel at once. Nothing is stored and nothing leaves the page.
(function () {
  "use strict";
  const OK = 0;
  const BAD_KEY = 7;
  const READ_FAILED = 10;
  const WRITE_FAILED = 11;
  const INVALID_ARGUMENT = 14;
  // What the verdicts mean for whoever holds the file, by status, as the headline; the status's
  // word (tarn_status_name, from the engine) stands beside it for whoever reports it.
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
    13: "Cancelled: nothing was claimed about the file.",
    14: "This file is already a container: encoding takes a plain image.",
  };
  const CANCELLED = 13;
  const BAD_SIGNATURE = 16;
  // What a signature's verdict means, by status.
  const SIGNATURE_SENTENCES = {
    16: "The signature does not hold: do not install this container.",
    17: "No signature where one is required.",
    18: "Signed as an older version than required.",
    19: "Signed for another device.",
  };
  const $ = (id) => document.getElementById(id);
  let words = []; // the library's words by status, from the engine
  let current = null; // the file picked last
  let verified = null; // the file (and key text) whose full check said ok, for "Save image"
  let active = null; // the run under way: its worker and how it ends
  let signatureFile = null; // the .minisig picked beside the container

  const hex32 = (v) => v.toString(16).toUpperCase().padStart(8, "0");
  const wordOf = (status) => words[status] || "";

  // Runs jobs, each in a worker of its own, on one file: `messages` say what each does (op,
  // key, and the rest). `onPiece` writes each piece of output (the engine waits for it). The
  // progress shown is the bytes all of them have done. Resolves with their results in order,
  // or {status: CANCELLED} when cancelled.
  function runJobs(messages, file, onPiece) {
    if (active) cancel();
    const started = performance.now();
    const done = messages.map(() => 0);
    const results = [];
    let left = messages.length;
    const workers = messages.map(() => new Worker(URL.createObjectURL(
      new Blob([TARN_ENGINE], { type: "text/javascript" }))));
    return new Promise((resolve) => {
      active = { workers, end: resolve };
      $("cancel").disabled = false;
      workers.forEach((worker, i) => {
        worker.onmessage = async (e) => {
          const msg = e.data;
          if (msg.words) words = msg.words;
          if (msg.kernels) document.body.dataset.kernels = msg.kernels;
          if (msg.badKey) markKey(true);
          if (msg.progress !== undefined) {
            done[i] = msg.progress;
            showProgress(done.reduce((a, b) => a + b, 0), file.size, started);
          }
          if (msg.piece) {
            try {
              await onPiece(new Uint8Array(msg.piece));
              worker.postMessage({ op: "ack" });
            } catch (err) {
              finish({ status: WRITE_FAILED });
            }
          }
          if (msg.done && msg.done.early) return finish(msg.done); // the others' work is moot
          if (msg.done) {
            results[i] = msg.done;
            if (--left === 0) finish(results);
          }
        };
        worker.onerror = () => finish({ status: READ_FAILED });
        // "#portable" in the address: the portable kernels, for comparison.
        const portable = location.hash === "#portable";
        const message = messages[i];
        const withSignature = message.op === "check" || message.op === "save";
        (withSignature ? signatureOf() : Promise.resolve(null)).then(
          (signature) => worker.postMessage({ ...message, file, signature, portable }),
          () => finish({ status: READ_FAILED }));
      });
    });
  }

  // One job in one worker: its result, or {status: CANCELLED}.
  async function runJob(message, file, onPiece) {
    const results = await runJobs([message], file, onPiece);
    return Array.isArray(results) ? results[0] : results;
  }

  // A check of a large file without a signature is split between workers, one a processor up
  // to eight, where the computer has two or more: a stretch of the payload each, cut on blocks'
  // edges; the verdict from the stretches' CRC-32s, joined by the library, or from the header
  // alone where it fails.
  const SPLIT_FROM = 64 << 20;
  const MOST_WORKERS = 8;
  function workersFor(file) {
    const signed = signatureFile && $("public-key").value.trim() !== "";
    if (file.size < SPLIT_FROM || signed) return 1;
    return Math.max(1, Math.min(navigator.hardwareConcurrency || 1, MOST_WORKERS));
  }

  async function checkSplit(file, key, n) {
    const stretch = Math.floor((file.size - 52) / 8 / n) * 8;
    const cuts = Array.from({ length: n + 1 }, (_, i) => (i === n ? file.size : 52 + i * stretch));
    const stretches = cuts.slice(1).map((to, i) => ({ op: "range", key, from: cuts[i], to }));
    const parts = await runJobs(stretches, file, null);
    if (!Array.isArray(parts)) return parts; // cancelled, or the header's verdict
    if (parts.some((p) => p.status !== OK)) return { status: READ_FAILED, info: null };
    return runJob({ op: "judge", parts }, file, null);
  }

  // The signature file's text and the public key, when both are given.
  async function signatureOf() {
    const publicKey = $("public-key").value.trim();
    if (!signatureFile || publicKey === "") return null;
    return { text: await signatureFile.text(), publicKey };
  }

  function finish(result) {
    if (!active) return;
    const { workers, end } = active;
    active = null;
    for (const worker of workers) worker.terminate();
    $("cancel").disabled = true;
    $("progress-text").textContent = "";
    end(result);
  }

  function cancel() {
    finish({ status: CANCELLED });
  }

  function showProgress(done, total, started) {
    const share = total > 0 ? done / total : 1;
    $("progress").value = share;
    const seconds = (performance.now() - started) / 1000;
    const left = share > 0 ? seconds * (1 - share) / share : 0;
    $("progress-text").textContent =
      `${Math.floor(share * 100)}% — about ${Math.max(1, Math.round(left))} s left`;
  }

  // The verdict as a sentence for a person, the library's word beside it (and in data-status),
  // brought into view and focus. `keyed`: a key was given and used.
  function show(status, info, file, keyed) {
    const word = wordOf(status);
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
    focusVerdict();
  }

  // The signature's verdict beside the container's; a failed one makes the headline.
  function showSignature(sig, containerGood) {
    $("public-key").setAttribute("aria-invalid", sig && sig.badPublicKey ? "true" : "false");
    $("public-key-error").textContent = sig && sig.badPublicKey
      ? "This is not a public key: give the line beginning RW from the signer's .pub file." : "";
    if (!sig || sig.badPublicKey) {
      $("signature-verdict").textContent = signatureFile && !sig ? (
        $("public-key").value.trim() === "" ? "not checked: give the signer's public key"
                                            : "not checked: the container failed its own checks")
        : sig ? "not checked" : "";
      return;
    }
    const what = `key ${sig.keyId}` + (sig.version !== null ? `, version ${sig.version}` : "") +
                 (sig.device ? `, device ${sig.device}` : "");
    if (sig.status === OK) {
      $("signature-verdict").textContent = `signed by ${what}`;
      if (containerGood) {
        $("verdict").textContent += ` Signed by key ${sig.keyId}` +
          (sig.version !== null ? `, version ${sig.version}.` : ".");
      }
      return;
    }
    $("signature-verdict").textContent = `${wordOf(sig.status)}: ${sig.reason || what}`;
    if (containerGood) {
      $("verdict").textContent = SIGNATURE_SENTENCES[sig.status] || SIGNATURE_SENTENCES[BAD_SIGNATURE];
      $("verdict").dataset.status = wordOf(sig.status);
      $("verdict").className = "bad";
      $("word").textContent = wordOf(sig.status);
      $("explanation").textContent = sig.reason ? `Why: ${sig.reason}.` : "";
    }
  }

  // A state of the page that is not a container's verdict: said in the same place.
  function say(sentence, word) {
    $("verdict").textContent = sentence;
    $("verdict").dataset.status = word;
    $("verdict").className = "bad";
    $("word").textContent = word;
    $("explanation").textContent = "";
    focusVerdict();
  }

  function focusVerdict() {
    $("verdict").scrollIntoView({ block: "center" });
    $("verdict").focus();
  }

  // The key field marked when its text is not a key: a check goes on without it.
  function markKey(bad) {
    $("key").setAttribute("aria-invalid", bad ? "true" : "false");
    $("key-error").textContent = bad ? SENTENCES[BAD_KEY] + " The check went on without it." : "";
  }

  function clear() {
    for (const id of ["verdict", "word", "explanation", "image-size", "container-size",
                      "image-crc32", "payload-crc32", "payload-ok", "image-ok", "words",
                      "progress-text", "signature-verdict"]) {
      $(id).textContent = "";
    }
    $("verdict").className = "";
    $("verdict").dataset.status = "";
    $("progress").value = 0;
  }

  const keyText = () => $("key").value.trim();

  async function check() {
    clear();
    verified = null;
    $("save").disabled = true;
    const file = current;
    if (!file) return say("Pick a container file first: nothing was checked.", "");
    markKey(false);
    const key = keyText();
    const workers = workersFor(file);
    document.body.dataset.workers = String(workers);
    const result = workers > 1 ? await checkSplit(file, key, workers)
                               : await runJob({ op: "check", key }, file, null);
    if (result.status === CANCELLED) return say(SENTENCES[CANCELLED], wordOf(CANCELLED));
    $("progress").value = 1;
    show(result.status, result.info, file, result.keyed);
    showSignature(result.signature, result.status === OK);
    if (result.status === OK && result.keyed && (!result.signature || result.signature.status === OK)) {
      verified = { file, key };
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
    if (!verified || verified.file !== current || verified.key !== keyText()) return;
    const file = verified.file;
    let sink;
    try {
      sink = await openSink(baseName(file.name, ".bin"));
    } catch (e) {
      return; // the save dialog cancelled: the page stays as it was
    }
    const result = await runJob({ op: "save", key: keyText() }, file, (bytes) => sink.write(bytes));
    if (result.status === OK) {
      await sink.done();
      $("explanation").textContent = "The image was saved, checked again on the way.";
    } else {
      await sink.abandon();
      if (result.status === CANCELLED) say(SENTENCES[CANCELLED], wordOf(CANCELLED));
      else show(result.status, result.info, file, true);
    }
  }

  async function encode() {
    const file = current;
    if (!file) return say("Pick a plain image first: nothing was encoded.", "");
    const key = keyText();
    if (key === "") return say("Give the key to encode with: 32 hexadecimal digits (0-9, A-F).", "bad-key");
    // Only a plain image becomes a container: one that already is one is refused.
    let start;
    try {
      start = new Uint8Array(await file.slice(0, 12).arrayBuffer());
    } catch (e) {
      return say(SENTENCES[READ_FAILED], wordOf(READ_FAILED));
    }
    const word = (i) => start[i] | start[i + 1] << 8 | start[i + 2] << 16 | start[i + 3] << 24;
    if (start.length === 12 && word(0) === 0 && word(4) === 0x72617571 && word(8) === 0x74736f62) {
      return say(SENTENCES[INVALID_ARGUMENT], wordOf(INVALID_ARGUMENT) || "invalid-argument");
    }
    // The header comes last and goes first: a file picker gets a placeholder then the header.
    let sink;
    try {
      sink = await openSink(file.name + ".cnt");
    } catch (e) {
      return; // the save dialog cancelled: the page stays as it was
    }
    clear();
    if (!sink.first) await sink.write(new Uint8Array(52));
    const result = await runJob({ op: "encode", key }, file, (bytes) => sink.write(bytes));
    if (result.status !== OK) {
      await sink.abandon();
      markKey(result.status === BAD_KEY);
      return say(SENTENCES[result.status] || SENTENCES[READ_FAILED], wordOf(result.status));
    }
    const header = new Uint8Array(result.header);
    if (sink.first) sink.first(header);
    else await sink.write({ type: "write", position: 0, data: header });
    await sink.done();
    $("progress").value = 1;
    $("verdict").textContent = "The container was made: " + (file.size + 52) + " bytes.";
    $("verdict").dataset.status = wordOf(OK);
    $("verdict").className = "good";
    $("word").textContent = wordOf(OK);
    focusVerdict();
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
  $("signature").addEventListener("change", () => {
    signatureFile = $("signature").files[0] || null;
    $("signature").value = "";
    if (current) check();
  });
  $("check").addEventListener("click", check);
  $("save").addEventListener("click", save);
  $("encode").addEventListener("click", encode);
  $("cancel").addEventListener("click", cancel);
  $("key").addEventListener("input", () => { $("save").disabled = true; });
  document.addEventListener("dragover", (e) => { e.preventDefault(); document.body.classList.add("dragging"); });
  document.addEventListener("dragleave", () => document.body.classList.remove("dragging"));
  document.addEventListener("drop", (e) => {
    e.preventDefault();
    document.body.classList.remove("dragging");
    if (e.dataTransfer.files.length > 0) pick(e.dataTransfer.files[0]);
  });
})();
