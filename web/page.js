"use strict";
// The page: it keeps what the user chose and shows what the worker answers.
// Every byte of a tape is made or read by the module in the worker.
const $ = (id) => document.getElementById(id);
const waiting = new Map();
let nextId = 0;
let restoreId = 0;
let worker;
// The tape shown: {name, file, changes, changed, serial, count, size,
// damaged}. The module in the worker holds its bytes and gives the page
// those it wants; the page keeps the file read and the changes made to it,
// to give to a fresh worker. Each tape read gets a new serial number, which
// every question about it carries.
let tape = null;
let serials = 0;

function startWorker() {
  // From inlined text (worker.js defines cassmakWorker): a page opened from
  // file:// may not start a worker from a file.
  const url = URL.createObjectURL(new Blob(["(" + cassmakWorker + ")()"], { type: "text/javascript" }));
  worker = new Worker(url);
  worker.onmessage = (event) => {
    const answer = event.data;
    if (answer.ready) {
      URL.revokeObjectURL(url);
      document.body.dataset.ready = "true";
      document.body.dataset.readyMs = Math.round(performance.now());
      return;
    }
    waiting.get(answer.id)(answer);
    waiting.delete(answer.id);
    if (answer.dead) {
      worker.terminate();
      for (const resolve of waiting.values()) resolve({ error: "the worker stopped; try again" });
      waiting.clear();
      const restoring = answer.id === restoreId;
      startWorker();
      // The fresh module holds no tape: it gets the one shown again, unless
      // that is what it could not hold.
      if (tape && !restoring) {
        ask("read", { file: tape.file, serial: tape.serial, changes: tape.changes });
        restoreId = nextId;
      }
    }
  };
}
startWorker();
// What the module says of the tapes it makes, whatever the file: the BASIC
// type among them.
const tapeDefaults = ask("defaults", { name: "" });

function ask(op, request = {}) {
  return new Promise((resolve) => {
    waiting.set(++nextId, resolve);
    worker.postMessage({ id: nextId, op, ...request });
  });
}

function download(bytes, name) {
  const link = document.createElement("a");
  link.href = URL.createObjectURL(new Blob([bytes]));
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

function element(tag, props = {}, ...children) {
  const node = Object.assign(document.createElement(tag), props);
  node.append(...children);
  return node;
}

function button(text, label, onclick) {
  const node = element("button", { type: "button", textContent: text, onclick });
  node.setAttribute("aria-label", label);
  return node;
}

function field(id, label, input, message) {
  input.id = id;
  input.setAttribute("aria-describedby", message.id);
  return element("div", { className: "field" }, element("label", { htmlFor: id, textContent: label }), input, message);
}

// Shows the answer for a typed value beside its field, unless it is stale.
async function showMessage(input, message, asking) {
  const value = input.value;
  const answer = value === "" ? { message: "" } : await asking(value);
  if (input.value !== value) return;
  message.textContent = answer.message || answer.error || "";
  input.setAttribute("aria-invalid", message.textContent ? "true" : "false");
}

const plural = (n, word) => n.toLocaleString("en-US") + " " + word + (n === 1 ? "" : "s");
// A problem of a source where it stands, as casstool words it after SOURCE:
// "3:7: error: MESSAGE [kind]".
const problemItem = (where, severity) => (p) => element("li", {
  textContent: where + p.line + ":" + p.column + ": " + severity + ": " + p.message + " [" + p.kind + "]" });
const dropTarget = (zone, take) => {
  zone.ondragover = (event) => { event.preventDefault(); zone.classList.add("over"); };
  zone.ondragleave = () => zone.classList.remove("over");
  zone.ondrop = (event) => {
    event.preventDefault();
    zone.classList.remove("over");
    take([...event.dataTransfer.files]);
  };
};

// ---- Make a tape ----
// Each field as the page labels it (with cassmak's option) and as the module names it.
const options = [["-m", "Name"], ["-n", "File number"], ["-t", "Type"], ["-a", "Address"]];
const fieldOf = { "-m": "name", "-n": "number", "-t": "type", "-a": "address" };
const allowed = { binary: ["-m", "-n", "-t", "-a"], headless: [], basic: ["-m", "-n"] };
const items = [];
let itemCount = 0;

// cassmak's defaults for the file as the module gives them, as hints.
function defaults(item) {
  const name = item.defaults.name;
  return { "-m": /^[\x20-\x7e]*$/.test(name) ? name : "from the file name",
    ...(item.kind === "basic" ? item.defaults.basic : item.defaults.binary) };
}

async function checkSize(item) {
  const answer = await ask("input", { name: item.file.name, size: item.file.size, basic: item.kind === "basic" });
  item.sizeMessage = answer.message || answer.error || "";
  item.result.textContent = item.sizeMessage;
}

function renderItem(item, index) {
  const id = "file" + item.id;
  const kind = element("select", {}, ...[["binary", "binary file"], ["headless", "headless block"],
    ["basic", "BASIC program (text)"]].map(([value, text]) => element("option", { value, textContent: text })));
  kind.value = item.kind;
  const fields = element("div", { className: "fields" }, field(id + "-kind", "Stored as", kind, element("span", { id: id + "-kind-msg" })));
  const hints = defaults(item);
  for (const [option, label] of options) {
    const message = element("span", { className: "message", id: id + option + "-msg", role: "status" });
    const taken = allowed[item.kind].includes(option);
    // A field the kind does not take shows no default: for a BASIC program
    // its fixed type and address, for a headless block nothing.
    const fixed = item.kind === "basic" ? item.defaults.basic[option] : "";
    const input = element("input", { value: taken ? item.fields[option] || "" : fixed,
      placeholder: taken ? hints[option] : "", disabled: !taken, spellcheck: false, autocomplete: "off" });
    input.oninput = () => {
      item.fields[option] = input.value;
      showMessage(input, message, (value) => ask("field", { field: fieldOf[option], value })).then(() => {
        item.messages[option] = message.textContent;
      });
    };
    message.textContent = input.disabled ? "" : item.messages[option] || "";
    fields.append(field(id + option, label + " (" + option + ")", input, message));
  }
  kind.onchange = () => {
    item.kind = kind.value;
    renderItems(id + "-kind");
    checkSize(item);
  };
  const name = item.file.name;
  const head = element("div", { className: "item-head" },
    element("strong", { textContent: name }), " " + plural(item.file.size, "byte") + " ",
    button("Up", "Move " + name + " up", () => moveItem(index, -1)),
    button("Down", "Move " + name + " down", () => moveItem(index, 1)),
    button("Remove", "Remove " + name + " from the list", () => { items.splice(index, 1); renderItems(); }));
  head.querySelectorAll("button")[0].disabled = index === 0;
  head.querySelectorAll("button")[1].disabled = index === items.length - 1;
  item.result = element("p", { className: "message", role: "status", textContent: item.sizeMessage || "" });
  return element("li", { id }, head, fields, item.result);
}

function renderItems(focus) {
  $("make-list").replaceChildren(...items.map(renderItem));
  $("make-button").disabled = items.length === 0;
  $("make-empty").hidden = items.length > 0;
  $("make-chosen").textContent = items.length ? plural(items.length, "file") + " listed below; more are added at the end"
    : "or drop them on this box";
  if (focus && $(focus)) $(focus).focus();
}

function moveItem(index, step) {
  const [item] = items.splice(index, 1);
  items.splice(index + step, 0, item);
  renderItems();
  // Keep the focus on the moved file's button, or on the other one at an end.
  const buttons = $("file" + item.id).querySelectorAll(".item-head button");
  (buttons[step < 0 ? 0 : 1].disabled ? buttons[step < 0 ? 1 : 0] : buttons[step < 0 ? 0 : 1]).focus();
}

async function addFiles(files) {
  // Listed once the module has said what each gets by default.
  const added = await Promise.all(files.map(async (file) => ({ id: ++itemCount, file,
    kind: /\.(bas|txt)$/i.test(file.name) ? "basic" : "binary", fields: {}, messages: {}, sizeMessage: "",
    defaults: await ask("defaults", { name: file.name }) })));
  items.push(...added);
  added.forEach(checkSize);
  renderItems();
}

async function makeTape() {
  const status = $("make-status");
  const warnings = $("make-warnings");
  warnings.replaceChildren();
  if (items.some((item) => allowed[item.kind].some((option) => item.messages[option]))) {
    status.textContent = "Correct the values marked beside their fields first.";
    return;
  }
  $("make-read").hidden = true;
  status.textContent = "Making the tape...";
  const started = performance.now();
  const files = items.map((item) => {
    const form = [];
    for (const option of allowed[item.kind])
      if (item.fields[option]) form.push(fieldOf[option], item.fields[option]);
    return { file: item.file, kind: item.kind, form };
  });
  const answer = await ask("pack", { files });
  if (answer.error) {
    status.textContent = answer.error;
    return;
  }
  answer.results.forEach((result, i) => {
    items[i].result.textContent = result.message;
    // Label errors and references to missing lines, found in numbering a
    // labelled source, where they stand in the file.
    const where = items[i].file.name + ":";
    warnings.append(...(result.errors || []).map(problemItem(where, "error")),
      ...(result.missing || []).map(problemItem(where, "warning")));
    for (const w of result.warnings || [])
      warnings.append(element("li", { textContent: items[i].file.name + ", line " + w.line + ": " + w.text }));
  });
  if (!answer.image) {
    status.textContent = "No tape made: " + answer.results.find((r) => r.message).message;
    return;
  }
  const ms = answer.results.reduce((sum, r) => sum + r.ms, 0);
  document.body.dataset.packMs = ms.toFixed(2);
  document.body.dataset.makeMs = (performance.now() - started).toFixed(1);
  const name = $("tape-name").value || "tape.kst";
  download(answer.image, name);
  $("make-read").hidden = false;
  $("make-read").onclick = () => readTape(new File([answer.image], name)).then(() => $("read").scrollIntoView());
  status.textContent = name + ": " + plural(answer.image.length, "byte") + ", " +
    plural(items.length, "entry").replace("entrys", "entries") + ", made in " + ms.toFixed(1) + " ms" +
    (warnings.children.length ? "; the BASIC import warns about the lines below" : "");
}

$("make-files").onchange = (event) => { addFiles([...event.target.files]); event.target.value = ""; };
dropTarget($("make"), addFiles);
$("make-button").onclick = makeTape;

// ---- Read and change a tape ----
// One page of the tape's entries is shown at a time, whatever their number.
let editing = false;
const pageSize = 25;
const view = { first: 0 };
const pageOf = (index) => index - index % pageSize;

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

const baseName = () => tape.name.replace(/\.kst$/i, "");
const entries = (n) => plural(n, "entry").replace("entrys", "entries");

// The bytes of an entry's payload, from the worker.
async function payloadOf(e) {
  const answer = await ask("bytes", { serial: tape.serial, offset: e.payload_offset, size: e.payload_size });
  if (!answer.bytes) $("tape-status").textContent = answer.error || "The tape is being read again; try again.";
  return answer.bytes;
}

async function showListing(e) {
  const payload = await payloadOf(e);
  if (!payload) return;
  const answer = await ask("list", { bytes: payload });
  if (answer.error) {
    $("tape-status").textContent = answer.error;
    return;
  }
  const text = answer.text;
  $("listing-heading").textContent = "BASIC listing of entry " + e.entry;
  $("listing").textContent = text;
  $("listing-warnings").replaceChildren(...answer.warnings.map((w) => element("li", { textContent: w })));
  $("listing-download").onclick = () => download(Uint8Array.from(text, (c) => c.charCodeAt(0)),
    baseName() + "-" + e.entry + ".bas");
  $("listing-box").hidden = false;
  $("listing-download").focus();
}

// One change at a time: the entry numbers of a second one would be those
// before the first.
async function edit(op, request, done, focus, index) {
  if (editing) {
    $("tape-status").textContent = "Wait until the change before is done.";
    return false;
  }
  editing = true;
  const shown = tape;
  let answer;
  try {
    answer = await ask(op, { serial: shown.serial, ...request });
  } finally {
    editing = false;
  }
  if (tape !== shown) return false;
  if (answer.stale || answer.error || answer.message) {
    $("tape-status").textContent = answer.error || answer.message || "The tape is being read again; try again.";
    return false;
  }
  tape.changes.push({ op, ...request });
  Object.assign(tape, { count: answer.count, size: answer.size, damaged: answer.damaged, changed: true });
  // Their entry numbers may no longer be the same entries.
  for (const box of ["retag", "listing-box", "hex-box"]) $(box).hidden = true;
  if (index !== undefined) view.first = pageOf(index);
  await showRows(done);
  const targets = focus.map((label) => document.querySelector(label.startsWith("#") ? label : 'button[aria-label="' + label + '"]'));
  const target = targets.find((t) => t && !t.disabled);
  if (target) target.focus();
  return true;
}

let retagOpener = null;
function closeRetag() {
  $("retag").hidden = true;
  if (retagOpener && retagOpener.isConnected) retagOpener.focus();
}

function retagForm(e) {
  const form = $("retag");
  retagOpener = document.activeElement;
  $("retag-legend").textContent = "New header for entry " + e.entry + " (an empty field keeps its value)";
  const current = { name: e.name.trimEnd(), number: e.number, type: e.type,
    address: "0x" + e.address.toString(16).toUpperCase().padStart(4, "0") };
  for (const name of ["name", "number", "type", "address"]) {
    const input = $("retag-" + name);
    input.value = "";
    input.placeholder = current[name];
    $("retag-" + name + "-msg").textContent = "";
    input.oninput = () => showMessage(input, $("retag-" + name + "-msg"), (value) => ask("retagField", { field: name, value }));
  }
  form.onsubmit = async (event) => {
    event.preventDefault();
    const fields = ["name", "number", "type", "address"].map((name) => $("retag-" + name).value);
    await edit("retag", { index: e.entry - 1, fields }, "Entry " + e.entry + " has its new header.",
      ["Retag entry " + e.entry + ": change its header"], e.entry - 1);
  };
  form.hidden = false;
  $("retag-name").focus();
}

const columns = ["entry", "offset", "kind", "no", "type", "addr", "length", "name", "checksums", "problem"];

async function showHex(e) {
  const payload = await payloadOf(e);
  if (!payload) return;
  $("hex-heading").textContent = "Entry " + e.entry + " in hex: " + plural(payload.length, "byte") +
    (e.kind === "file" ? ' of "' + e.name.trimEnd() + '"' : "");
  $("hex").textContent = hex(payload);
  $("hex-box").hidden = false;
}

function renderRow(body, e, basicType) {
  const row = body.insertRow();
  // The table holds one page of the entries: each row says which it is.
  row.setAttribute("aria-rowindex", e.entry + 1);
  if (e.problem) row.className = "damaged";
  const isFile = e.kind === "file";
  const fields = [e.entry, e.offset, e.kind, isFile ? e.number : "-", isFile ? "'" + e.type + "'" : "-",
    isFile ? "0x" + e.address.toString(16).toUpperCase().padStart(4, "0") : "-", e.length,
    isFile ? '"' + e.name + '"' : "-", e.checksums, e.problem];
  fields.forEach((text, column) => {
    const cell = row.insertCell();
    cell.textContent = text;
    cell.className = columns[column];
    cell.dataset.label = columns[column];
  });
  const hasData = !(isFile && e.checksums.includes("no data"));
  const i = e.entry - 1;
  const n = " entry " + e.entry;
  const views = [
    button("Payload", "Download the payload of" + n,
      () => payloadOf(e).then((bytes) => bytes && download(bytes, baseName() + "-" + e.entry + ".bin"))),
    button("Hex", "Show" + n + " in hex", () => showHex(e)),
  ];
  views[0].disabled = !hasData;
  if (isFile && e.type === basicType && hasData)
    views.push(button("Listing", "Show the BASIC listing of" + n, () => showListing(e)));
  const up = "Move entry " + i + " up";
  const down = "Move entry " + (i + 2) + " down";
  const changes = [
    button("Up", "Move" + n + " up", () => edit("move", { from: i, to: i - 1 }, "Entry " + e.entry + " moved up.",
      [up, up.replace(" up", " down")], i - 1)),
    button("Down", "Move" + n + " down", () => edit("move", { from: i, to: i + 1 }, "Entry " + e.entry + " moved down.",
      [down, down.replace(" down", " up")], i + 1)),
    button("Remove", "Remove" + n, () => edit("remove", { index: i }, "Entry " + e.entry + " removed.", ["#tape-download"],
      Math.min(i, tape.count - 2))),
  ];
  changes[0].disabled = i === 0;
  changes[1].disabled = i === tape.count - 1;
  if (isFile) changes.push(button("Retag", "Retag" + n + ": change its header", () => retagForm(e)));
  // Viewing and changing each stay on one line; the cell breaks between them.
  const cell = Object.assign(row.insertCell(), { className: "actions" });
  cell.append(element("span", { className: "group" }, ...views), " ", element("span", { className: "group" }, ...changes));
}

// Shows the page of entries from view.first, and with `done` (after a
// read or a change) the tape's status.
async function showRows(done) {
  const shown = tape;
  view.first = Math.max(0, Math.min(view.first, pageOf(Math.max(0, tape.count - 1))));
  const first = view.first;
  const answer = await ask("rows", { serial: shown.serial, first, count: pageSize });
  // Another page, change or tape was asked for meanwhile: its answer shows it.
  if (tape !== shown || view.first !== first || answer.stale) return;
  if (answer.error) {
    $("tape-status").textContent = answer.error;
    return;
  }
  const basicType = (await tapeDefaults).basic_type;
  const body = element("tbody");
  for (const e of answer.entries) renderRow(body, e, basicType);
  $("entries").tBodies[0].replaceWith(body);
  $("entries").setAttribute("aria-rowcount", tape.count + 1);
  const last = first + answer.entries.length;
  $("pager").hidden = tape.count <= pageSize;
  $("page-shown").textContent = "Entries " + (first + 1).toLocaleString("en-US") + " to " +
    last.toLocaleString("en-US") + " of " + tape.count.toLocaleString("en-US");
  $("page-first").disabled = $("page-previous").disabled = first === 0;
  $("page-next").disabled = $("page-last").disabled = last >= tape.count;
  // A page button that has just become disabled gives the focus to its opposite.
  const opposite = { "page-first": "page-last", "page-previous": "page-next", "page-next": "page-previous",
    "page-last": "page-first" }[document.activeElement.id];
  if (opposite && document.activeElement.disabled) $(opposite).focus();
  if (done === undefined) return;
  $("read-empty").hidden = true;
  $("entries-box").hidden = false;
  $("tape-actions").hidden = false;
  $("entries").setAttribute("aria-label", "Entries of " + tape.name);
  $("tape-chosen").textContent = "Shown below: " + tape.name;
  $("tape-download").disabled = !tape.changed;
  $("tape-status").textContent = (done ? done + " " : "") + tape.name + ": " + plural(tape.size, "byte") + ", " +
    entries(tape.count) + (tape.damaged ? ", damaged entries marked" : "");
}

function showPage(first) {
  view.first = first;
  return showRows();
}

function resetTape() {
  $("entries").tBodies[0].replaceChildren();
  for (const box of ["entries-box", "listing-box", "retag", "hex-box", "tape-actions"]) $(box).hidden = true;
  $("read-empty").hidden = false;
  $("tape-chosen").textContent = "or drop it on this box";
  $("tape-download").disabled = true;
  $("hex").textContent = "";
}

async function readTape(file) {
  $("tape-status").textContent = "Reading " + file.name + "...";
  const serial = ++serials;
  const answer = await ask("read", { file, serial });
  if (answer.error) {
    // What the user had, unsaved changes included, stays until a file is read.
    $("tape-status").textContent = answer.error;
    return;
  }
  // A file chosen later is read later, and shown instead.
  if (serial !== serials) return;
  resetTape();
  tape = { name: file.name, file, changes: [], changed: false, serial, count: answer.count, size: answer.size,
    damaged: answer.damaged };
  view.first = 0;
  await showRows("");
}

$("tape-file").onchange = (event) => event.target.files[0] && readTape(event.target.files[0]);
dropTarget($("read"), (files) => files[0] && readTape(files[0]));
$("tape-download").onclick = async () => {
  const { name } = tape;
  const answer = await ask("image", { serial: tape.serial });
  if (answer.bytes) download(answer.bytes, name);
  else $("tape-status").textContent = answer.error || "The tape is being read again; try again.";
};
$("retag-cancel").onclick = closeRetag;
$("retag").onkeydown = (event) => {
  if (event.key === "Escape") closeRetag();
};
$("page-first").onclick = () => showPage(0);
$("page-previous").onclick = () => showPage(view.first - pageSize);
$("page-next").onclick = () => showPage(view.first + pageSize);
$("page-last").onclick = () => showPage(pageOf(tape.count - 1));
$("page-go").onsubmit = async (event) => {
  event.preventDefault();
  const typed = $("page-entry").value.trim();
  const entry = /^[0-9]+$/.test(typed) ? Number(typed) : 0;
  if (entry < 1 || entry > tape.count) {
    $("page-entry-msg").textContent = "Type an entry number from 1 to " + tape.count.toLocaleString("en-US") + ".";
    $("page-entry").setAttribute("aria-invalid", "true");
    return;
  }
  $("page-entry-msg").textContent = "";
  $("page-entry").setAttribute("aria-invalid", "false");
  await showPage(pageOf(entry - 1));
  const row = document.querySelector('#entries tbody tr[aria-rowindex="' + (entry + 1) + '"]');
  const target = row && [...row.querySelectorAll("button")].find((b) => !b.disabled);
  if (target) target.focus();
};

// ---- Check a BASIC source ----
let checking = null;
async function checkSource() {
  const text = $("source").value;
  const answer = await ask("check", { file: new Blob([text]) });
  const list = $("warnings");
  list.replaceChildren();
  if (answer.error) {
    $("check-status").textContent = answer.error;
    return;
  }
  for (const w of answer.json.warnings)
    list.append(element("li", { textContent: w.line + ":" + w.column + ": " + w.message + " [" + w.kind + "]" }));
  const count = answer.json.warnings.length;
  $("check-status").textContent = count ? plural(count, "warning") : "no problems";
}
$("source").oninput = () => {
  clearTimeout(checking);
  checking = setTimeout(checkSource, 150);
};

// ---- Renumber it ----
// The text is replaced only by a renumbering that is not refused.
$("renumber").onsubmit = async (event) => {
  event.preventDefault();
  const answer = await ask("renumber", {
    file: new Blob([$("source").value]), start: $("renumber-start").value, step: $("renumber-step").value });
  const list = $("renumber-problems");
  const status = $("renumber-status");
  list.replaceChildren();
  if (answer.error) {
    status.textContent = answer.error;
    return;
  }
  list.append(...answer.errors.map(problemItem("", "error")), ...answer.warnings.map(problemItem("", "warning")));
  if (answer.refused) {
    status.textContent = "Not renumbered, the text is as it was: " + answer.message + ".";
    return;
  }
  $("source").value = answer.text;
  status.textContent = "Renumbered " + plural(answer.lines, "line") +
    (answer.warnings.length ? "; " + plural(answer.warnings.length, "reference") + " to a missing line left as written" : "") + ".";
  checkSource();
};
