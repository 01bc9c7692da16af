// Runs the module away from the page, so that a huge or hostile file never
// freezes it. The build puts this text and the module's into one function,
// which the page starts as a worker from a Blob URL: a page opened from
// file:// may not start a worker from a file. Each request is {id, op, ...};
// each answer {id, ...} or {id, error}, in the order of the requests. The
// module holds the tape last read, numbered by the page (`serial`): a request
// about another tape, made before the page saw the new one, is answered
// {stale: true} and changes nothing.
let started;
const ready = new Promise((resolve) => { started = resolve; });
var Module = {
  onRuntimeInitialized() {
    started();
    postMessage({ ready: true });
  },
};

const encoder = new TextEncoder();

// Calls an export with its arguments: byte arrays and texts (UTF-8, several
// joined by NUL) are copied into the module's memory and passed as a pointer
// and a length; numbers pass as they are.
function call(name, ...args) {
  const passed = [];
  const held = [];
  for (const arg of args) {
    if (typeof arg === "number") {
      passed.push(arg);
      continue;
    }
    const bytes = Array.isArray(arg) ? encoder.encode(arg.join("\0")) : arg;
    const at = Module._malloc(bytes.length || 1);
    if (!at) throw new Error("not enough memory for " + bytes.length + " bytes");
    held.push(at);
    Module.HEAPU8.set(bytes, at);
    passed.push(at, bytes.length);
  }
  try {
    return JSON.parse(Module.UTF8ToString(Module["_" + name](...passed)));
  } finally {
    held.forEach((at) => Module._free(at));
  }
}

function output() {
  const at = Module._page_output_data();
  return Module.HEAPU8.slice(at, at + Module._page_output_size());
}

const bytesOf = async (blob) => new Uint8Array(await blob.arrayBuffer());

// A file's size as the module takes it: sizes past 32 bits would wrap there,
// and any such is out of every bound.
const moduleSize = (size) => Math.min(size, 0xffffffff);

// What cassmak says of an input of this name and size before reading it, if
// anything.
const inputMessage = (name, size, basic) =>
  call("page_input_message", [name], moduleSize(size), basic ? 1 : 0);

// Each input as cassmak stores it; a size outside cassmak's bounds is refused
// before the file is read.
async function pack(files) {
  const results = [];
  const images = [];
  for (const { file, kind, form } of files) {
    const basic = kind === "basic";
    let result = inputMessage(file.name, file.size, basic);
    if (!result.message) {
      const input = await bytesOf(file);
      const start = performance.now();
      result = call("page_pack", [file.name, kind, ...form], input);
      result.ms = performance.now() - start;
      images.push(output());
    }
    results.push(result);
  }
  if (results.some((r) => r.message)) return { results };
  const image = new Uint8Array(images.reduce((n, part) => n + part.length, 0));
  images.reduce((at, part) => (image.set(part, at), at + part.length), 0);
  return { results, image };
}

let heldSerial = 0;

// Bytes of the tape held, for the page, which keeps none of its own.
function heldBytes(offset, size) {
  const at = Module._page_tape_data() + offset;
  return Module.HEAPU8.slice(at, at + size);
}

const onHeld = (run) => (r) => (r.serial === heldSerial ? run(r) : { stale: true });

// Each change to the tape held: its count and damage, or why not.
const changes = {
  remove: (r) => call("page_remove", r.index),
  move: (r) => call("page_move", r.from, r.to),
  retag: (r) => call("page_retag", r.index, r.fields),
};

const ops = {
  // A tape read, or read again with the changes made to it (in a fresh
  // worker, after the one before ran out of memory).
  read: async (r) => {
    // casstool's refusal of a tape too large, before it is read.
    const { message } = call("page_tape_message", [r.file.name], moduleSize(r.file.size));
    if (message) throw new Error(message);
    let answer = call("page_hold_tape", await bytesOf(r.file));
    for (const change of r.changes || []) answer = changes[change.op](change);
    heldSerial = r.serial;
    return answer;
  },
  rows: onHeld((r) => call("page_tape_rows", r.first, r.count)),
  bytes: onHeld((r) => ({ bytes: heldBytes(r.offset, r.size) })),
  image: onHeld(() => ({ bytes: heldBytes(0, Module._page_tape_size()) })),
  check: async (r) => ({ json: call("page_check_source", await bytesOf(r.file)) }),
  renumber: async (r) => call("page_renumber", await bytesOf(r.file), [r.start, r.step]),
  defaults: (r) => call("page_defaults", [r.name]),
  field: (r) => call("page_field_message", [r.field, r.value]),
  retagField: (r) => call("page_retag_message", [r.field, r.value]),
  input: (r) => inputMessage(r.name, r.size, r.basic),
  pack: (r) => pack(r.files),
  list: (r) => call("page_list_basic", r.bytes),
  remove: onHeld(changes.remove),
  move: onHeld(changes.move),
  retag: onHeld(changes.retag),
};

// One request at a time, so that a change asked while a tape is being read
// waits for it and is then seen to be about the tape before.
let queue = ready;
onmessage = (event) => {
  const { id, op } = event.data;
  queue = queue.then(async () => {
    try {
      const answer = await ops[op](event.data);
      // Bytes go to the page without a copy there.
      const moved = [answer.bytes, answer.image].filter(Boolean).map((b) => b.buffer);
      postMessage({ id, ...answer }, moved);
    } catch (error) {
      // After a trap (memory exhausted) the module cannot be called again:
      // the page then starts a fresh worker.
      const dead = error instanceof WebAssembly.RuntimeError;
      postMessage({ id, error: String(error.message || error), dead });
    }
  });
};
