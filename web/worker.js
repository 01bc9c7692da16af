// Runs the module away from the page, so that a huge or hostile file never
// freezes it. Each request is {id, op, bytes}; each answer {id, json} or
// {id, error}.
"use strict";
const tapeLimit = 1024 * 1024 * 1024 - 1;
var Module = {
  onRuntimeInitialized() {
    postMessage({ ready: true });
  },
};
importScripts("module.js");

function call(name, bytes) {
  const at = Module._malloc(bytes.length || 1);
  Module.HEAPU8.set(bytes, at);
  try {
    return JSON.parse(Module.UTF8ToString(Module["_" + name](at, bytes.length)));
  } finally {
    Module._free(at);
  }
}

onmessage = async (event) => {
  const { id, op, file } = event.data;
  try {
    if (op === "read" && file.size > tapeLimit)
      throw new Error(file.name + ": larger than 1 GiB, not a tape image");
    const bytes = new Uint8Array(await file.arrayBuffer());
    const name = op === "read" ? "page_read_tape" : "page_check_source";
    postMessage({ id, json: call(name, bytes) });
  } catch (error) {
    postMessage({ id, error: String(error.message || error) });
  }
};
