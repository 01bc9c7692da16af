"use strict";
const worker = new Worker("worker.js");
const waiting = new Map();
let nextId = 0;
let tape = null;

worker.onmessage = (event) => {
  const { id, ready } = event.data;
  if (ready) {
    document.body.dataset.ready = "true";
    document.body.dataset.readyMs = Math.round(performance.now());
    return;
  }
  waiting.get(id)(event.data);
  waiting.delete(id);
};

function ask(op, file) {
  return new Promise((resolve) => {
    waiting.set(++nextId, resolve);
    worker.postMessage({ id: nextId, op, file });
  });
}

const $ = (id) => document.getElementById(id);

function download(bytes, name) {
  const link = document.createElement("a");
  link.href = URL.createObjectURL(new Blob([bytes]));
  link.download = name;
  link.click();
  URL.revokeObjectURL(link.href);
}

function hex(bytes) {
  const lines = [];
  for (let at = 0; at < bytes.length; at += 16) {
    const row = Array.from(bytes.subarray(at, at + 16));
    lines.push(at.toString(16).padStart(6, "0") + "  " +
      row.map((b) => b.toString(16).padStart(2, "0")).join(" ").padEnd(48) + "  " +
      row.map((b) => (b >= 0x20 && b < 0x7f ? String.fromCharCode(b) : ".")).join(""));
  }
  return lines.join("\n");
}

function cell(row, text) {
  row.insertCell().textContent = text;
}

async function readTape(file) {
  $("tape-status").textContent = "Reading " + file.name + "...";
  const answer = await ask("read", file);
  const body = $("entries").tBodies[0];
  body.replaceChildren();
  if (answer.error) {
    $("tape-status").textContent = answer.error;
    return;
  }
  tape = { name: file.name, bytes: new Uint8Array(await file.arrayBuffer()) };
  const entries = answer.json.entries;
  for (const e of entries) {
    const row = body.insertRow();
    if (e.problem) row.className = "damaged";
    const isFile = e.kind === "file";
    const fields = [e.entry, e.offset, e.kind, isFile ? e.number : "-", isFile ? "'" + e.type + "'" : "-",
      isFile ? "0x" + e.address.toString(16).toUpperCase().padStart(4, "0") : "-", e.length,
      isFile ? '"' + e.name + '"' : "-", e.checksums, e.problem];
    fields.forEach((text) => cell(row, text));
    const actions = row.insertCell();
    const payload = tape.bytes.subarray(e.payload_offset, e.payload_offset + e.payload_size);
    const save = document.createElement("button");
    save.textContent = "Download";
    save.setAttribute("aria-label", "Download the payload of entry " + e.entry);
    save.onclick = () => download(payload, tape.name.replace(/\.kst$/i, "") + "-" + e.entry + ".bin");
    const show = document.createElement("button");
    show.textContent = "Hex";
    show.setAttribute("aria-label", "Show entry " + e.entry + " in hex");
    show.onclick = () => { $("hex").textContent = hex(payload); };
    actions.append(save, show);
  }
  $("tape-status").textContent = file.name + ": " + tape.bytes.length + " bytes, " +
    entries.length + (entries.length === 1 ? " entry" : " entries") +
    (entries.some((e) => e.problem) ? ", damaged entries marked" : "");
}

let checking = null;
async function checkSource() {
  const text = $("source").value;
  const answer = await ask("check", new Blob([text]));
  const list = $("warnings");
  list.replaceChildren();
  if (answer.error) return;
  for (const w of answer.json.warnings) {
    const item = document.createElement("li");
    item.textContent = w.line + ":" + w.column + ": " + w.message + " [" + w.kind + "] Fix: " + w.fix;
    list.append(item);
  }
  $("check-status").textContent = answer.json.warnings.length
    ? answer.json.warnings.length + " warning" + (answer.json.warnings.length === 1 ? "" : "s")
    : "no problems";
}

$("tape-file").onchange = (event) => event.target.files[0] && readTape(event.target.files[0]);
$("source").oninput = () => {
  clearTimeout(checking);
  checking = setTimeout(checkSource, 150);
};
