// Drives the built page from file:// (no flags) in headless Chromium and in
// Firefox ESR, every check in both: makes a tape, reads it back, extracts,
// lists and changes it, checks a source, feeds it hostile files, and compares
// every download byte for byte with what cassmak and casstool give for the
// same inputs and options. Then it walks the page through its states (empty,
// files chosen and a tape made, a damaged tape read, a source with warnings,
// an edit in progress, an error shown) in the light and the dark scheme: axe
// with the WCAG 2.1 A and AA rules on each, no control clipped and no
// sideways scroll from 320 px up, visible focus, and a screenshot of each
// from the top. Last, the whole round trip by keyboard alone.
// Usage: node browser_test.mjs SITE BUILD OUT [BROWSER...]
import { spawnSync } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { createRequire } from "node:module";
import { browserNames, loadPage, openBrowser, startFrames, stopFrames } from "./browsers.mjs";

const [site, build, out] = process.argv.slice(2, 5).map((a) => path.resolve(a));
const chosen = process.argv.length > 5 ? process.argv.slice(5) : browserNames;
if (!out) {
  console.error("usage: node browser_test.mjs SITE BUILD OUT [BROWSER...]");
  process.exit(2);
}
fs.mkdirSync(out, { recursive: true });
const axeSource = fs.readFileSync(createRequire(import.meta.url).resolve("axe-core/axe.min.js"), "utf8");
const cassmak = path.join(build, "cassmak");
const casstool = path.join(build, "casstool");
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// ---- Inputs and what the tools make of them ----------------------------------
const work = fs.mkdtempSync(path.join(os.tmpdir(), "cassmak-web-"));
const at = (name) => path.join(work, name);
const write = (name, data) => (fs.writeFileSync(at(name), data), at(name));
const sparse = (name, size) => {
  const fd = fs.openSync(at(name), "w");
  fs.ftruncateSync(fd, size);
  fs.closeSync(fd);
  return at(name);
};

// The tool's run in the work folder, so that its messages name files as the page does.
function tool(program, ...args) {
  const run = spawnSync(program, args.map(String), { cwd: work });
  return { status: run.status, stdout: run.stdout, stderr: run.stderr.toString() };
}
// What `cassmak OPTIONS FILE` writes (FILE.kst: the default output, whose name gives the tape name).
function packed(file, ...options) {
  const run = tool(cassmak, ...options, file);
  if (run.status !== 0) throw new Error("cassmak " + options.join(" ") + " " + file + ": " + run.stderr);
  return fs.readFileSync(at(file + ".kst"));
}
// cassmak's message for OPTIONS FILE, without the empty line after it.
function refusal(file, ...options) {
  const run = tool(cassmak, ...options, file);
  if (run.status === 0) throw new Error("cassmak took " + file);
  return run.stderr.replace(/\n+$/, "");
}
const concat = (...parts) => Buffer.concat(parts);

let seed = 18;
const random = () => {
  // A fixed sequence, so that a failure comes back the same.
  seed = (seed * 1103515245 + 12345) % 2147483648;
  return seed >> 16 & 0xff;
};
const randomBytes = (n) => Buffer.from(Array.from({ length: n }, random));

const files = {
  loader: write("loader.bin", randomBytes(300)),
  hello: write("hello.bin", Buffer.from(Array.from({ length: 256 }, (_, i) => i))),
  table: write("table.dat", Buffer.from("levels\x00\x01\x02", "latin1")),
};
const gameText = '10 REM guess\r\n30 PRINT "HI"\n20 GOTO 10\n40 REM ' + "X".repeat(80) + "\n50 A\n";
files.game = write("game.bas", gameText);
const longName = "a-file-with-a-very-long-name-that-has-no-space-to-break-it-anywhere-at-all-0123456789abcdef.bin";
files.long = write(longName, Buffer.from("long"));
const pitfalls = "10 print 1\n20 GOTO 10\n5 A\n";
write("pitfalls.bas", pitfalls);

// A tape whose every entry is damaged in another way, each with its
// problem, the first with a long one: a header whose length field and
// checksum no longer agree with its data, and a bad data byte.
function damagedTape() {
  const file = Buffer.from(packed("loader.bin"));
  const head = 2 + 48; // the header block's length field, then the sync pattern
  file.writeUInt16LE(4096, head + 4);
  file[file.length - 5] ^= 0xff;
  const program = packed("game.bas", "-b");
  const headless = packed("table.dat", "-hless");
  return concat(file, program, headless, packed("hello.bin").subarray(0, 40));
}

// ---- One browser's session -----------------------------------------------------
class Failure extends Error {}

async function session(name, scheme = "light") {
  const downloads = fs.mkdtempSync(path.join(work, "downloads-" + name + "-" + scheme + "-"));
  const opened = await openBrowser(name, { downloads, scheme });
  const { page } = opened;
  const requests = [];
  page.on("request", (request) => requests.push(request.url()));
  page.setDefaultTimeout(30000);
  await page.setViewport({ width: 1280, height: 800 });
  const s = { name, scheme, page, downloads, requests, opened, passed: 0 };
  s.check = (what, condition, detail) => {
    if (!condition) throw new Failure(name + ": FAIL: " + what + (detail === undefined ? "" : "\n" + JSON.stringify(detail)));
    s.passed += 1;
    console.log(name + ": ok: " + what);
  };
  s.eval = (fn, ...args) => page.evaluate(fn, ...args);
  // The page redraws a table or list whole: a condition is asked again until it holds.
  s.wait = async (condition, what, ms = 20000) => {
    const end = Date.now() + ms;
    for (;;) {
      let answer;
      try {
        answer = await condition();
      } catch (error) {
        if (error instanceof Failure) throw error;
        answer = false;
      }
      if (answer) return answer;
      if (Date.now() > end) throw new Failure(name + ": FAIL: timed out waiting for " + what);
      await sleep(40);
    }
  };
  s.text = (selector) => s.eval((sel) => document.querySelector(sel)?.textContent ?? "", selector);
  s.status = (id) => s.text("#" + id);
  s.upload = async (selector, ...paths) => (await page.$(selector)).uploadFile(...paths);
  s.click = (selector) => page.click(selector);
  s.press = (key) => page.keyboard.press(key);
  s.focused = () => s.eval(() => {
    const a = document.activeElement;
    return a ? a.getAttribute("aria-label") || a.id || a.textContent : "";
  });
  // As a user empties a field and types: a change without events is not one.
  s.typeInto = async (selector, text) => {
    await page.focus(selector);
    await s.eval((sel) => document.querySelector(sel).select(), selector);
    await s.press("Backspace");
    if (text) await page.keyboard.type(text);
  };
  s.downloaded = async (file, action) => {
    const target = path.join(downloads, file);
    fs.rmSync(target, { force: true });
    await action();
    let size = -1;
    await s.wait(() => {
      // Chromium writes NAME.crdownload, Firefox NAME.part, until done.
      const parts = fs.readdirSync(downloads).filter((f) => f.endsWith(".crdownload") || f.endsWith(".part"));
      if (!fs.existsSync(target) || parts.length) return false;
      const now = fs.statSync(target).size;
      const settled = now === size;
      size = now;
      return settled;
    }, "the download of " + file);
    return fs.readFileSync(target);
  };
  s.items = () => s.eval(() => document.querySelectorAll("#make-list > li").length);
  s.itemNames = () => s.eval(() => [...document.querySelectorAll("#make-list > li strong")].map((e) => e.textContent));
  s.item = (index, css) => "#make-list > li:nth-child(" + (index + 1) + ") " + css;
  s.itemMessage = (index, option) => s.text(s.item(index, "[id$='" + option + "-msg']"));
  s.rows = () => s.eval(() => document.querySelectorAll("#entries tbody tr").length);
  s.cells = () => s.eval(() => [...document.querySelectorAll("#entries tbody tr")].map((r) =>
    [...r.cells].map((c) => c.textContent)));
  s.clearMakeList = async () => {
    while (await s.items()) await s.click("#make-list > li:first-child .item-head button:last-of-type");
  };
  s.readTape = async (file, count) => {
    await s.upload("#tape-file", file);
    await s.wait(async () => (await s.rows()) === count && (await s.status("tape-status")).includes("entr"),
      "the entries of " + path.basename(file));
  };
  // A round trip to the worker through the page's own function.
  s.responds = async () => {
    const started = Date.now();
    const answer = await s.eval(() => ask("field", { field: "number", value: "100" }));
    return Date.now() - started < 5000 && answer.message.startsWith("After '-n'");
  };
  s.drop = (zone, file, data) => s.eval((zone, file, b64) => {
    const bytes = Uint8Array.from(atob(b64), (c) => c.charCodeAt(0));
    const transfer = new DataTransfer();
    transfer.items.add(new File([bytes], file));
    document.getElementById(zone).dispatchEvent(
      new DragEvent("drop", { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }, zone, file, Buffer.from(data).toString("base64"));
  s.close = () => opened.close();
  return s;
}

// ---- The checks of what the page does --------------------------------------
async function functions(s) {
  const { page, check, wait } = s;
  const figures = { ready: [] };
  for (let i = 0; i < 3; ++i) figures.ready.push(await loadPage(page, site));
  check("the worker starts from file:// without file access flags, and gets ready", true);
  const size = ["worker.js", "page.js"].reduce((n, f) => n + fs.statSync(path.join(site, f)).size, 0);
  figures.bytes = size;
  check("script and WebAssembly together within 400 KB (" + size + " bytes)", size <= 400 * 1024, size);

  // ---- Make a tape: a binary with options, one without, a headless block, BASIC ----
  await s.upload("#make-files", files.loader, files.hello, files.table, files.game);
  await wait(async () => (await s.items()) === 4, "four files listed");
  check("four chosen files are listed in order",
    JSON.stringify(await s.itemNames()) === JSON.stringify(["loader.bin", "hello.bin", "table.dat", "game.bas"]));
  const fieldState = (index, option) => s.eval((sel) => {
    const e = document.querySelector(sel);
    return { disabled: e.disabled, placeholder: e.placeholder, value: e.value };
  }, s.item(index, "input[id$='" + option + "']"));
  const basicType = await fieldState(3, "-t");
  const basicAddress = await fieldState(3, "-a");
  check("a .bas file is taken as BASIC, its type and address fixed and shown as values",
    (await s.text(s.item(3, "select option:checked"))).startsWith("BASIC") &&
    basicType.disabled && basicType.value === ">" && basicAddress.disabled && basicAddress.value === "0x2401",
    [basicType, basicAddress]);
  const hints = [];
  for (const option of ["-m", "-n", "-t", "-a"]) hints.push((await fieldState(1, option)).placeholder);
  check("the defaults are shown: the name from the file, 0, '?', 0",
    JSON.stringify(hints) === JSON.stringify(["HELLO", "0", "?", "0"]), hints);
  await page.select(s.item(2, "select"), "headless");
  await wait(async () => (await fieldState(2, "-n")).disabled, "the headless block's fields disabled");
  const headless = [];
  for (const option of ["-m", "-n", "-t", "-a"]) headless.push(await fieldState(2, option));
  check("a headless block takes no header fields, and they show no defaults",
    headless.every((f) => f.disabled && f.placeholder === "" && f.value === ""), headless);
  check("beside the file chooser the page says what is listed, not that nothing is chosen",
    (await s.status("make-chosen")).startsWith("4 files listed below") &&
    await s.eval(() => document.getElementById("make-empty").hidden));

  // Bad values get cassmak's own messages beside the field.
  for (const [option, value] of [["-a", "70000"], ["-a", "0x"], ["-n", "100"], ["-t", "AB"], ["-t", " "],
    ["-m", "ABCDEFGHI"]]) {
    await s.typeInto(s.item(0, "input[id$='" + option + "']"), value);
    const expected = refusal("loader.bin", option, value);
    await wait(async () => (await s.itemMessage(0, option)) !== "", "the message of " + option);
    const shown = await s.itemMessage(0, option);
    check(option + " '" + value + "': the page says '" + expected + "' as cassmak does", shown === expected, shown);
    check(option + " '" + value + "' marks its field invalid",
      await s.eval((sel) => document.querySelector(sel).getAttribute("aria-invalid"),
        s.item(0, "input[id$='" + option + "']")) === "true");
  }
  await s.click("#make-button");
  await wait(async () => (await s.status("make-status")).includes("Correct the values"), "the refusal to make");
  check("no tape is made while a field is marked", true);
  for (const [option, value] of [["-n", "3"], ["-a", "0x4000"], ["-t", "B"], ["-m", "demo"]])
    await s.typeInto(s.item(0, "input[id$='" + option + "']"), value);
  await s.typeInto(s.item(3, "input[id$='-n']"), "1");
  await s.typeInto(s.item(3, "input[id$='-m']"), "guess");
  await wait(async () => {
    for (const o of ["-a", "-n", "-t", "-m"]) if (await s.itemMessage(0, o)) return false;
    return true;
  }, "the messages cleared");
  check("good values clear the messages", true);

  // Reorder by keyboard: table.dat up, to the second place.
  await page.focus('button[aria-label="Move table.dat up"]');
  await s.press("Enter");
  await wait(async () => (await s.itemNames())[1] === "table.dat", "table.dat moved up");
  check("Enter on Up moves a file up and keeps the focus on it", (await s.focused()) === "Move table.dat up");
  await s.typeInto("#tape-name", "made.kst");
  const made = await s.downloaded("made.kst", () => s.click("#make-button"));
  const expected = concat(packed("loader.bin", "-n", "3", "-a", "0x4000", "-t", "B", "-m", "demo"),
    packed("table.dat", "-hless"), packed("hello.bin"), packed("game.bas", "-b", "-n", "1", "-m", "guess"));
  check("the made tape is cassmak's four runs, appended in the order shown", made.equals(expected),
    [made.length, expected.length]);
  const progress = tool(cassmak, "-b", "-n", "1", "-m", "guess", "game.bas").stdout.toString();
  const warnings = [];
  for (const piece of progress.split("\r")) {
    if (!piece.startsWith("Line: ")) continue;
    const [number, ...texts] = piece.split("\t");
    for (const text of texts) warnings.push("game.bas, line " + number.slice(6) + ": " + text.replace(/\n$/, ""));
  }
  const shownWarnings = await s.eval(() => [...document.querySelectorAll("#make-warnings li")].map((li) => li.textContent));
  check("the import's warnings per line are cassmak's: " + JSON.stringify(warnings),
    JSON.stringify(shownWarnings) === JSON.stringify(warnings) && warnings.length >= 3, shownWarnings);
  check("the status names the tape and its size",
    (await s.status("make-status")).replaceAll(",", "").includes("made.kst: " + made.length + " bytes"));
  write("made.kst", made);
  await s.click("#make-read");
  await wait(async () => (await s.status("tape-status")).includes("made.kst: 898 bytes"), "the made tape read");
  check("the tape just made can be read on the page at once", (await s.rows()) === 4);

  // Refusals as cassmak words them, without reading the file.
  await s.clearMakeList();
  check("an emptied list shows what to do again", await s.eval(() => !document.getElementById("make-empty").hidden &&
    document.getElementById("make-chosen").textContent === "or drop them on this box"));
  const huge = sparse("huge.bin", 10 * 1024 * 1024);
  const over = write("over.bin", Buffer.alloc(65534, "x"));
  await s.upload("#make-files", huge, over);
  await wait(async () => (await s.items()) === 2 && (await s.text(s.item(1, "p.message"))) !== "", "the size messages");
  for (const [i, file] of [[0, "huge.bin"], [1, "over.bin"]]) {
    const shown = await s.text(s.item(i, "p.message"));
    check(file + " as a binary: '" + shown + "', as cassmak says", shown === refusal(file));
  }
  await s.clearMakeList();
  await s.upload("#make-files", write("big.bas", "1 A\n".repeat(10000)));
  await wait(async () => (await s.items()) === 1, "big.bas listed");
  await s.click("#make-button");
  await wait(async () => (await s.status("make-status")).includes("No tape made"), "the refusal of big.bas");
  check("a program over the image limit is refused with cassmak's message",
    (await s.text(s.item(0, "p.message"))) === refusal("big.bas", "-b"));

  // The benchmark's figure: a 64 KB BASIC source converted.
  await s.clearMakeList();
  const lines = [];
  for (let n = 10, total = 0; total < 65000; n += 10) {
    lines.push(n + ' PRINT "SCORE";S:IF S>HI THEN HI=S:GOSUB 9000');
    total += lines.at(-1).length + 1;
  }
  const source64 = write("big64.bas", lines.join("\n") + "\n");
  await s.upload("#make-files", source64);
  await wait(async () => (await s.items()) === 1, "big64.bas listed");
  await s.typeInto("#tape-name", "big64.kst");
  const made64 = await s.downloaded("big64.kst", () => s.click("#make-button"));
  figures.packMs = Number(await s.eval(() => document.body.dataset.packMs));
  figures.makeMs = Number(await s.eval(() => document.body.dataset.makeMs));
  figures.sourceBytes = fs.statSync(source64).size;
  check("the 64 KB source's tape is cassmak's", made64.equals(packed("big64.bas", "-b")));
  await s.clearMakeList();

  // Dropped files: onto the list of files, and a tape onto the reading side.
  await s.drop("make", "dropped.bas", gameText);
  await wait(async () => (await s.items()) === 1, "the dropped file listed");
  check("a file dropped on the page joins the list, as BASIC by its name",
    (await s.itemNames())[0] === "dropped.bas" && (await fieldState(0, "-t")).disabled);
  await s.clearMakeList();
  await s.drop("read", "dropped.kst", made);
  await wait(async () => (await s.status("tape-status")).includes("dropped.kst: 898 bytes"), "the dropped tape read");
  check("a tape dropped on the page is read", (await s.rows()) === 4);

  // ---- Read it back ----
  await s.readTape(at("made.kst"), 4);
  const listed = tool(casstool, "list", "--json", "made.kst").stdout.toString().trim().split("\n").map((l) => JSON.parse(l));
  const asColumns = (e) => {
    const file = e.kind === "file";
    return [String(e.entry), String(e.offset), e.kind, file ? String(e.number) : "-", file ? "'" + e.type + "'" : "-",
      file ? "0x" + e.address.toString(16).toUpperCase().padStart(4, "0") : "-", String(e.length),
      file ? '"' + e.name + '"' : "-"];
  };
  let cells = await s.cells();
  check("the rows are casstool list's", listed.every((e, i) =>
    JSON.stringify(cells[i].slice(0, 8)) === JSON.stringify(asColumns(e))), cells);
  check("a sound tape has no marked row", await s.eval(() =>
    [...document.querySelectorAll("#entries tbody tr")].every((r) => !r.className)));
  for (let entry = 1; entry <= 4; ++entry) {
    const got = await s.downloaded("made-" + entry + ".bin",
      () => s.click('button[aria-label="Download the payload of entry ' + entry + '"]'));
    check("the payload of entry " + entry + " is casstool extract's",
      got.equals(tool(casstool, "extract", "made.kst", entry).stdout));
  }
  await s.click('button[aria-label="Show entry 3 in hex"]');
  // The worker answers after the click returns: a loaded machine shows it later.
  await wait(async () => (await s.text("#hex")) !== "", "the hex view");
  check("the hex view shows the payload under a heading that names its entry",
    (await s.text("#hex")).startsWith("000000  00 01 02 03") &&
    (await s.text("#hex-heading")) === 'Entry 3 in hex: 256 bytes of "HELLO"',
    await s.text("#hex-heading"));
  check("only the BASIC program offers a listing", JSON.stringify(await s.eval(() =>
    [...document.querySelectorAll("#entries tbody tr")].map((r) =>
      [...r.querySelectorAll("button")].filter((b) => b.textContent === "Listing").length))) === "[0,0,0,1]");
  await s.click('button[aria-label="Show the BASIC listing of entry 4"]');
  await wait(async () => (await s.text("#listing")) !== "", "the listing");
  const listing = tool(casstool, "basic", "made.kst", "4");
  const gotListing = await s.downloaded("made-4.bas", () => s.click("#listing-download"));
  check("the listing download is casstool basic's", gotListing.equals(listing.stdout));
  check("the listing is shown", Buffer.from(await s.text("#listing"), "latin1").equals(listing.stdout));
  check("a listing that comes back identically has no warnings", listing.status === 0 &&
    await s.eval(() => document.querySelectorAll("#listing-warnings li").length === 0));

  // ---- Change it: remove, move, retag ----
  const changed = async (action) => {
    await action();
    await wait(() => s.eval(() => !document.getElementById("tape-download").disabled), "a change");
    return s.downloaded("made.kst", () => s.click("#tape-download"));
  };
  write("rm.kst", made);
  tool(casstool, "rm", "-q", "rm.kst", "2");
  let got = await changed(() => s.click('button[aria-label="Remove entry 2"]'));
  check("removing entry 2 gives casstool rm's image", got.equals(fs.readFileSync(at("rm.kst"))));
  await wait(async () => (await s.rows()) === 3, "three rows");
  await page.focus('button[aria-label="Move entry 3 up"]');
  await s.press("Enter");
  await wait(async () => (await s.cells())[1][7] === '"GUESS   "', "the program moved up");
  got = await s.downloaded("made.kst", () => s.click("#tape-download"));
  check("moving the program up gives cassmak's runs in the new order", got.equals(concat(
    packed("loader.bin", "-n", "3", "-a", "0x4000", "-t", "B", "-m", "demo"),
    packed("game.bas", "-b", "-n", "1", "-m", "guess"), packed("hello.bin"))));
  await s.click('button[aria-label="Retag entry 1: change its header"]');
  for (const [field, value] of [["number", "12abc"], ["type", "AB"], ["address", "65536"], ["name", "ABCDEFGHI"]]) {
    await s.typeInto("#retag-" + field, value);
    await wait(async () => (await s.status("retag-" + field + "-msg")) !== "", "the refusal of " + field);
    check("retag " + field + " '" + value + "' is refused beside its field: " + await s.status("retag-" + field + "-msg"), true);
    await s.typeInto("#retag-" + field, "");
    await wait(async () => (await s.status("retag-" + field + "-msg")) === "", "the refusal of " + field + " gone");
  }
  for (const [field, value] of [["name", "new"], ["number", "9"], ["type", "%"], ["address", "0x1234"]])
    await s.typeInto("#retag-" + field, value);
  await s.click("#retag-apply");
  await wait(async () => (await s.cells())[0][7] === '"NEW     "', "the new header");
  got = await s.downloaded("made.kst", () => s.click("#tape-download"));
  check("retagging entry 1 gives cassmak's run with the new options", got.equals(concat(
    packed("loader.bin", "-n", "9", "-a", "0x1234", "-t", "%", "-m", "new"),
    packed("game.bas", "-b", "-n", "1", "-m", "guess"), packed("hello.bin"))));
  await page.focus('button[aria-label="Retag entry 2: change its header"]');
  await s.press("Enter");
  await s.press("Escape");
  check("Escape closes the retag form and gives the focus back to its button",
    await s.eval(() => document.getElementById("retag").hidden) &&
    (await s.focused()) === "Retag entry 2: change its header");
  await page.focus('button[aria-label="Retag entry 2: change its header"]');
  await s.press("Enter");
  await s.typeInto("#retag-number", "5");
  await s.typeInto("#retag-name", "other");
  await page.focus("#retag-apply");
  await s.press("Enter");
  await wait(async () => (await s.cells())[1][7] === '"OTHER   "', "the program's new header");
  got = await s.downloaded("made.kst", () => s.click("#tape-download"));
  check("retagging the program by keyboard gives cassmak -b with the new options", got.equals(concat(
    packed("loader.bin", "-n", "9", "-a", "0x1234", "-t", "%", "-m", "new"),
    packed("game.bas", "-b", "-n", "5", "-m", "other"), packed("hello.bin"))));
  const rowsBefore = await s.rows();
  await s.upload("#tape-file", sparse("gib.kst", 2 ** 30 + 1));
  await wait(async () => (await s.status("tape-status")).includes("larger than 1 GiB"), "the refusal of 1 GiB + 1");
  const kept = await s.downloaded("made.kst", () => s.click("#tape-download"));
  check("a file refused after a change keeps the changed tape shown and ready to download",
    (await s.rows()) === rowsBefore && kept.equals(got));

  await bigTape(s);

  // ---- Check a source with known pitfalls ----
  await page.focus("#source");
  await page.keyboard.type(pitfalls);
  await wait(() => s.eval(() => document.querySelectorAll("#warnings li").length === 2), "two warnings");
  const shown = await s.eval(() => [...document.querySelectorAll("#warnings li")].map((li) => li.textContent));
  const said = tool(casstool, "check", "pitfalls.bas").stdout.toString().trim().split("\n").map((line) =>
    line.slice("pitfalls.bas:".length).replace(": warning: ", ": "));
  check("the warnings are casstool check's, each once with its fix: " + JSON.stringify(said),
    JSON.stringify(shown) === JSON.stringify(said), shown);

  // ---- Renumber a labelled source, by keyboard ----
  const renumbered = async (source, start, step) => {
    await s.eval((text) => { document.getElementById("source").value = text; }, source);
    for (const [id, value] of [["renumber-start", start], ["renumber-step", step]]) {
      // Typed over what the field holds (a triple click selects nothing in Firefox).
      await page.focus("#" + id);
      await s.eval((field) => document.getElementById(field).select(), id);
      await page.keyboard.type(value);
    }
    await s.eval(() => { document.getElementById("renumber-status").textContent = ""; });
    await page.keyboard.press("Enter");
    await wait(() => s.eval(() => document.getElementById("renumber-status").textContent !== ""), "the renumbering");
    return s.eval(() => document.getElementById("source").value);
  };
  const labelled = "@top: PRINT \"\\@\"\n  GOTO @top\n100 GOSUB 7\n\n40 ON X GOTO @top,100\n";
  write("labelled.bas", labelled);
  const renum = tool(casstool, "renum", "labelled.bas", "--start", "100", "--step", "5");
  const renumShown = await renumbered(labelled, "100", "5");
  check("renumbering a labelled source gives casstool renum's text", renumShown === renum.stdout.toString(),
    renumShown);
  const wrong = "10 GOTO @nowhere\n@a: PRINT\n@a: END\n";
  write("wrong.bas", wrong);
  const refusedLines = tool(casstool, "renum", "wrong.bas").stderr.toString().split("\n")
    .filter((line) => line.includes(": error: ")).map((line) => line.slice("wrong.bas:".length));
  const refusedShown = await renumbered(wrong, "10", "10");
  const refusedList = await s.eval(() => [...document.querySelectorAll("#renumber-problems li")].map((li) => li.textContent));
  check("a source with label errors is left as it was, with casstool renum's errors: " + await s.status("renumber-status"),
    refusedShown === wrong && JSON.stringify(refusedList) === JSON.stringify(refusedLines), refusedList);

  // ---- Hostile files ----
  const cut = write("cut.kst", made.subarray(0, made.length - 13));
  const cutList = tool(casstool, "list", "--json", "cut.kst").stdout.toString().trim().split("\n").map((l) => JSON.parse(l));
  await s.readTape(cut, cutList.length);
  cells = await s.cells();
  const marked = await s.eval(() => [...document.querySelectorAll("#entries tbody tr")].map((r) => r.className === "damaged"));
  check("a truncated image: the entries casstool marks damaged are marked, with its problems",
    cutList.every((e, i) => marked[i] === (e.problem !== null) && cells[i][9] === (e.problem || "")) &&
    (await s.status("tape-status")).includes("damaged entries marked"), cells);
  const tableRows = tool(casstool, "list", "cut.kst").stdout.toString().split("\n").slice(2, -2);
  check("a truncated image: the checksums column is casstool list's",
    tableRows.length === cells.length && cells.every((c, i) => (tableRows[i] + " ").includes(" " + c[8] + " ")),
    [cells.map((c) => c[8]), tableRows]);
  await s.click('button[aria-label="Move entry ' + cutList.length + ' up"]');
  await wait(async () => (await s.status("tape-status")).includes("cut short"), "the refusal to move");
  check("the entry cut short is not moved from the end: " + await s.status("tape-status"),
    await s.eval(() => document.getElementById("tape-download").disabled));
  check("after the truncated image the page responds", await s.responds());
  await s.upload("#tape-file", write("random.kst", randomBytes(256 * 1024)));
  await wait(async () => (await s.status("tape-status")).includes("random.kst: 262,144 bytes"), "random bytes read");
  check("random bytes end with a status: " + await s.status("tape-status"), true);
  check("after random bytes the page responds", await s.responds());
  await s.eval((text) => {
    document.getElementById("check-status").textContent = "";
    document.getElementById("source").value = text;
    document.getElementById("source").dispatchEvent(new Event("input"));
  }, randomBytes(5000).toString("latin1"));
  await wait(async () => /warning|no problems/.test(await s.status("check-status")), "the check of random text");
  check("random text in the check ends with a count: " + await s.status("check-status"), await s.responds());
  const gib = sparse("gib.kst", 2 ** 30 + 1);
  let started = Date.now();
  await s.upload("#tape-file", gib);
  await wait(async () => (await s.status("tape-status")).includes("larger than 1 GiB"), "the refusal of 1 GiB + 1");
  check("a sparse file of 1 GiB + 1 byte is refused at once with casstool's reason (" + (Date.now() - started) + " ms)",
    "casstool: " + await s.status("tape-status") === tool(casstool, "list", "gib.kst").stderr.trim());
  await s.upload("#make-files", gib);
  await wait(async () => (await s.items()) === 1 && (await s.text(s.item(0, "p.message"))) !== "", "the size message");
  check("the same file as a binary gets cassmak's size message at once",
    (await s.text(s.item(0, "p.message"))) === refusal("gib.kst"));
  // 64 MiB of empty blocks: the worker walks them while the page goes on.
  const zeros = sparse("zeros.kst", 64 << 20);
  await s.upload("#make-files", files.hello);
  await wait(async () => (await s.items()) === 2, "hello.bin listed");
  await s.upload("#tape-file", zeros);
  await sleep(200);
  started = Date.now();
  await s.click('button[aria-label="Move hello.bin up"]');
  await wait(async () => (await s.itemNames())[0] === "hello.bin", "hello.bin moved", 5000);
  const answered = Date.now() - started;
  const busy = (await s.status("tape-status")).includes("Reading zeros.kst");
  check("while the worker reads 64 MiB (" + (busy ? "still reading" : "done already") + "), a button answers in " +
    answered + " ms", answered < 2000);
  await wait(async () => (await s.status("tape-status")).includes("33,554,432 entries"), "the 64 MiB image", 300000);
  check("the 64 MiB image ends with its count, one page of its entries shown, each to change: " +
    await s.status("tape-status"), (await s.rows()) <= 100 &&
    await s.eval(() => !!document.querySelector('button[aria-label="Remove entry 1"]')));
  check("after 64 MiB the page responds", await s.responds());
  await s.clearMakeList();
  return figures;
}

// ---- A tape of many entries -----------------------------------------------
// 20,000 entries: tiny headless blocks, then hello.bin. The page shows a page
// of them at a time, reaches the last, and changes it as casstool does.
async function bigTape(s) {
  const { page, check, wait } = s;
  write("x.dat", "x");
  const tiny = packed("x.dat", "-hless");
  const blocks = Buffer.concat(Array(19999).fill(tiny));
  const bigBytes = concat(blocks, packed("hello.bin"));
  const big = write("big.kst", bigBytes);
  await startFrames(page);
  await s.upload("#tape-file", big);
  await wait(async () => (await s.status("tape-status")).includes("big.kst: " + bigBytes.length.toLocaleString("en-US") +
    " bytes, 20,000 entries"), "the 20,000 entries of big.kst");
  const longest = await stopFrames(page);
  // A page drawing 10,000 rows at once took seconds; the bound leaves room
  // for a loaded machine.
  check("reading 20,000 entries, the longest frame of the page is " + longest.toFixed(0) + " ms", longest < 2000);
  const rows = await s.rows();
  check("the table holds one page of the entries (" + rows + " rows) and says how many there are",
    rows > 0 && rows <= 100 && await s.eval(() => document.getElementById("entries").getAttribute("aria-rowcount")) === "20001");
  const violations = await axeViolations(s);
  check("with pages of entries, axe finds no WCAG 2.1 A or AA violation", violations.length === 0, violations);
  await page.focus("#page-last");
  await s.press("Enter");
  const lastRow = 'tr[aria-rowindex="20001"]';
  await wait(async () => (await s.text("#entries " + lastRow + " td.entry")) === "20000", "the last page");
  check("Enter on Last page shows the last entry, hello.bin, and the focus goes to First page",
    (await s.text("#entries " + lastRow + " td.name")) === '"HELLO   "' && (await s.focused()) === "page-first");
  await s.click('button[aria-label="Retag entry 20000: change its header"]');
  await s.typeInto("#retag-name", "last");
  await s.click("#retag-apply");
  await wait(async () => (await s.text("#entries " + lastRow + " td.name")) === '"LAST    "', "the last entry retagged");
  let got = await s.downloaded("big.kst", () => s.click("#tape-download"));
  check("retagging the last of 20,000 entries gives cassmak's run with the new name",
    got.equals(concat(blocks, packed("hello.bin", "-m", "last"))));
  await s.click('button[aria-label="Remove entry 20000"]');
  await wait(async () => (await s.status("tape-status")).includes("19,999 entries"), "the last entry removed");
  got = await s.downloaded("big.kst", () => s.click("#tape-download"));
  check("removing the last of 20,000 entries leaves the others' bytes", got.equals(blocks) &&
    (await s.text("#entries tbody tr:last-child td.entry")) === "19999");
  await s.typeInto("#page-entry", "12345");
  await s.press("Enter");
  await wait(async () => (await s.focused()) === "Download the payload of entry 12345", "entry 12345 shown");
  check("an entry number typed shows its page, the focus on its first button", true);
  await s.typeInto("#page-entry", "20000");
  await s.press("Enter");
  await wait(async () => (await s.status("page-entry-msg")) !== "", "the refusal of entry 20000");
  check("an entry past the last is refused beside the field: " + await s.status("page-entry-msg"),
    await s.eval(() => document.getElementById("page-entry").getAttribute("aria-invalid")) === "true");
}

// ---- The page's states, as a person sees them --------------------------------
const wcag = ["wcag2a", "wcag2aa", "wcag21a", "wcag21aa"];
const widths = [320, 375, 390, 480, 640, 768, 1024, 1199, 1201, 1280, 1600];

// Brings a fresh page through each state in turn, calling `seen` at each.
async function tour(s, seen) {
  const { page, wait } = s;
  await page.setViewport({ width: 1280, height: 800 });
  await loadPage(page, site);
  await seen("empty");
  await s.upload("#make-files", files.loader, files.long, files.game);
  await wait(async () => (await s.items()) === 3, "three files listed");
  await s.typeInto("#tape-name", "a-tape-name-that-goes-on-without-a-break-to-see-that-the-status-wraps.kst");
  await s.click("#make-button");
  await wait(async () => (await s.status("make-status")).includes("warns about the lines below"), "the tape made");
  await seen("tape-made");
  write("damaged.kst", damagedTape());
  await s.readTape(at("damaged.kst"), 4);
  await s.click('button[aria-label="Show entry 3 in hex"]');
  // The worker answers after the click returns: a loaded machine shows it later.
  await wait(async () => (await s.text("#hex")) !== "", "the hex view");
  await s.click('button[aria-label="Show the BASIC listing of entry 2"]');
  await wait(async () => (await s.text("#listing")) !== "", "the listing");
  await seen("tape-read");
  await page.focus("#source");
  await page.keyboard.type(pitfalls);
  await wait(async () => (await s.status("check-status")) === "2 warnings", "the check's warnings");
  await seen("source-warnings");
  await s.click('button[aria-label="Retag entry 2: change its header"]');
  await s.typeInto("#retag-number", "100");
  await wait(async () => (await s.status("retag-number-msg")) !== "", "the refusal of the number");
  await s.typeInto("#retag-name", "renamed");
  await seen("edit");
  await s.typeInto(s.item(0, "input[id$='-a']"), "70000");
  await wait(async () => (await s.itemMessage(0, "-a")) !== "", "the refusal of the address");
  await s.click("#make-button");
  await wait(async () => (await s.status("make-status")).includes("Correct the values"), "the refusal to make");
  await s.upload("#tape-file", sparse("gib.kst", 2 ** 30 + 1));
  await wait(async () => (await s.status("tape-status")).includes("larger than 1 GiB"), "the refusal of 1 GiB + 1");
  await seen("error");
}

async function axeViolations(s) {
  if (!(await s.eval(() => typeof axe !== "undefined"))) await s.eval(axeSource);
  return s.eval((tags) => axe.run(document, { runOnly: { type: "tag", values: tags }, resultTypes: ["violations"] })
    .then((r) => r.violations.map((v) => ({ id: v.id, help: v.help, nodes: v.nodes.map((n) => n.target.join(" ")) }))), wcag);
}

// What overflows at the current width: the page's sideways scroll, any
// control out of the viewport or cut by a box that clips it, a button's text
// on more than one line, and in the table a row's buttons on more than two.
function layoutFaults() {
  const faults = [];
  const width = document.documentElement.clientWidth;
  if (document.documentElement.scrollWidth > width) faults.push("sideways scroll: " + document.documentElement.scrollWidth);
  const shown = (e) => e.getClientRects().length > 0 && getComputedStyle(e).visibility !== "hidden";
  const name = (e) => e.tagName.toLowerCase() + (e.id ? "#" + e.id : "") + " " +
    (e.getAttribute("aria-label") || e.textContent.trim().slice(0, 30));
  for (const control of document.querySelectorAll("button, input, select, textarea, label")) {
    if (!shown(control)) continue;
    const box = control.getBoundingClientRect();
    if (box.left < -0.5 || box.right > width + 0.5) faults.push("out of the page: " + name(control));
    for (let up = control.parentElement; up && up !== document.body; up = up.parentElement) {
      const style = getComputedStyle(up);
      if (style.overflowX === "visible" && style.overflowY === "visible") continue;
      const clip = up.getBoundingClientRect();
      if (box.left < clip.left - 0.5 || box.right > clip.right + 0.5 || box.top < clip.top - 0.5 || box.bottom > clip.bottom + 0.5)
        faults.push("cut off by " + up.tagName.toLowerCase() + ": " + name(control));
    }
    if (control.tagName === "BUTTON") {
      const range = document.createRange();
      range.selectNodeContents(control);
      if (new Set([...range.getClientRects()].map((r) => Math.round(r.top))).size > 1) faults.push("text wraps: " + name(control));
    }
  }
  if (shown(document.querySelector("#entries thead")))
    for (const cell of document.querySelectorAll("#entries td.actions"))
      if (new Set([...cell.querySelectorAll("button")].map((b) => Math.round(b.getBoundingClientRect().top))).size > 2)
        faults.push("buttons on more than two lines: row " + cell.parentElement.rowIndex);
  return faults;
}

// Tabs through the whole page; each control reached must show its focus
// (an outline of its own, or, for a file input shown as its label, the label's).
async function focusFaults(s) {
  const faults = [];
  // A click on the title starts the walk at the top of the page.
  await s.eval(() => window.scrollTo(0, 0));
  await s.click("h1");
  // The walk stops at the page's last control: past it the focus would go to
  // the browser's own bar, and headless Firefox does not give it back.
  const last = await s.eval(() => [...document.querySelectorAll(
    "button:enabled, input:enabled, select:enabled, textarea:enabled, [tabindex='0']")]
    .filter((e) => e.getClientRects().length).at(-1).id);
  const seen = new Set();
  for (let i = 0; i < 200; ++i) {
    await s.press("Tab");
    const result = await s.eval(() => {
      const e = document.activeElement;
      if (!e || e === document.body) return null;
      const key = e.id || e.getAttribute("aria-label") || e.outerHTML.slice(0, 60);
      const shown = e.type === "file" ? e.labels[0] : e;
      const style = getComputedStyle(shown);
      const visible = style.outlineStyle !== "none" && parseFloat(style.outlineWidth) >= 2;
      return { key, visible, focusVisible: e.matches(":focus-visible"), style: style.outlineStyle + " " + style.outlineWidth, has: document.hasFocus() };
    });
    if (!result || seen.has(result.key)) break; // past the last control, or round again
    seen.add(result.key);
    if (!result.visible || !result.focusVisible) faults.push(result);
    if (result.key === last) break;
  }
  return { faults, count: seen.size, keys: [...seen] };
}

async function states(s) {
  const { page, check, name, scheme } = s;
  const announced = async (selector) => s.eval((sel) => {
    const e = document.querySelector(sel);
    return !!e && e.textContent !== "" && !!e.closest("[role=status], [role=alert], [aria-live]");
  }, selector);
  await tour(s, async (state) => {
    await page.setViewport({ width: 1280, height: 800 });
    const violations = await axeViolations(s);
    check(state + ", " + scheme + ": axe finds no WCAG 2.1 A or AA violation", violations.length === 0, violations);
    if (scheme === "light") {
      const faults = [];
      for (const width of widths) {
        await page.setViewport({ width, height: 800 });
        for (const fault of await s.eval(layoutFaults)) faults.push(width + " px: " + fault);
      }
      check(state + ": at " + widths.join(", ") + " px no control is clipped and nothing scrolls sideways",
        faults.length === 0, faults);
    }
    if (state === "tape-read") {
      check("the long problem wraps in its own column, the table's actions keep two lines at most (see above)",
        (await s.text("#entries tbody tr:first-child td.problem")).length > 60);
      check("the hex view names its entry", (await s.text("#hex-heading")) === "Entry 3 in hex: 9 bytes");
    }
    if (state === "empty")
      check("the empty page says what to do instead of showing an empty table and box", await s.eval(() =>
        !document.getElementById("make-empty").hidden && !document.getElementById("read-empty").hidden &&
        document.getElementById("entries-box").hidden && document.getElementById("hex-box").hidden));
    if (state === "tape-made") check("the tape's result is announced", await announced("#make-status"));
    if (state === "source-warnings") check("the check's count is announced", await announced("#check-status"));
    if (state === "edit") {
      check("the refused field's message is announced", await announced("#retag-number-msg"));
      if (scheme === "light") {
        const { faults, count, keys } = await focusFaults(s);
        check("each of the " + count + " controls reached by Tab shows its focus", count > 20 && faults.length === 0, [faults, keys]);
      }
    }
    if (state === "error") {
      check("the tape's error is announced", await announced("#tape-status"));
      check("the field's refusal is announced", await announced(s.item(0, "[id$='-a-msg']")));
      check("the refusal to make is announced", await announced("#make-status"));
    }
    // Each from the top, the whole page: 1280x800 and 390x844, and in the
    // light scheme at 200% zoom, which to the page is a window of half the
    // CSS pixels at twice the device pixels.
    const shots = [[1280, 800, 1, ""], [390, 844, 1, ""]];
    if (scheme === "light") shots.push([640, 400, 2, "-zoom200"]);
    for (const [width, height, scale, suffix] of shots) {
      await page.setViewport({ width, height, deviceScaleFactor: scale });
      await s.eval(() => window.scrollTo(0, 0));
      await sleep(100);
      const file = [name, state, scheme, width * scale + "x" + height * scale + suffix].join("-") + ".png";
      await page.screenshot({ path: path.join(out, file), fullPage: true });
    }
    await page.setViewport({ width: 1280, height: 800 });
  });
}

// ---- Keyboard only ----------------------------------------------------------
// Choosing files is the one step not done by keys: the input is reached by
// Tab, but the picker it opens belongs to the system and cannot be driven
// headless, so the driver sets its files once it has the focus.
async function keyboard(s) {
  const { page, check, wait } = s;
  await page.setViewport({ width: 1280, height: 800 });
  await loadPage(page, site);
  const tabTo = async (label, key = "Tab") => {
    for (let i = 0; i < 80; ++i) {
      if ((await s.focused()) === label) return;
      if (key === "Shift+Tab") {
        await page.keyboard.down("Shift");
        await s.press("Tab");
        await page.keyboard.up("Shift");
      } else {
        await s.press(key);
      }
    }
    throw new Failure(s.name + ": FAIL: " + key + " never reached " + label);
  };
  await tabTo("make-files");
  await s.upload("#make-files", files.loader, files.hello);
  await wait(async () => (await s.items()) === 2, "two files listed");
  await tabTo("Move hello.bin up");
  await s.press("Enter");
  await wait(async () => (await s.itemNames())[0] === "hello.bin", "hello.bin moved up");
  check("keys: Enter moves hello.bin up, the focus stays on it", (await s.focused()) === "Move hello.bin down");
  await page.keyboard.down("Shift");
  await s.press("Tab");
  await page.keyboard.up("Shift");
  check("keys: Shift+Tab from it goes back to the file chooser, as it now leads the list",
    (await s.focused()) === "make-files");
  // loader.bin, now second, as a headless block, by the arrow keys on its kind.
  const kind = await s.eval(() => document.querySelector("#make-list > li:nth-child(2) select").id);
  await tabTo(kind);
  await s.press("ArrowDown");
  await wait(() => s.eval((id) => document.getElementById(id)?.value === "headless", kind), "the kind changed by an arrow");
  check("keys: ArrowDown on a file's kind makes it a headless block, the focus stays there", (await s.focused()) === kind);
  await tabTo("make-button");
  const made = await s.downloaded("tape.kst", () => s.press(" "));
  const expected = concat(packed("hello.bin"), packed("loader.bin", "-hless"));
  check("keys: Space on Make downloads cassmak's tape of the two in the new order", made.equals(expected));
  await tabTo("make-read");
  await s.press("Enter");
  await wait(async () => (await s.rows()) === 2 && (await s.status("tape-status")).includes("tape.kst"), "the tape read back");
  const cells = await s.cells();
  check("keys: Enter on Read it below reads it back: hello.bin, then the headless block",
    cells[0][7] === '"HELLO   "' && cells[1][2] === "headless", cells);
  await tabTo("Remove entry 1");
  await s.press("Enter");
  await wait(async () => (await s.rows()) === 1, "entry 1 removed");
  check("keys: after Remove the focus is on Download the changed tape", (await s.focused()) === "tape-download");
  const changed = await s.downloaded("tape.kst", () => s.press("Enter"));
  check("keys: Enter downloads the changed tape, the headless block alone", changed.equals(packed("loader.bin", "-hless")));
}

// ---- No outside request -----------------------------------------------------
// Every request of the session was file:, data: or blob:. Firefox's BiDi
// reports no file: or blob: request, Chromium does; both report any other,
// which the canary at the end shows: a request from a worker to a local
// server must be seen.
async function noNetwork(s) {
  const { check } = s;
  const own = s.requests.filter((u) => /^(file|data|blob):/.test(u));
  const other = s.requests.filter((u) => !/^(file|data|blob):/.test(u));
  check("no outside request: " + s.requests.length + " requests, all file:, data: or blob:",
    own.length > 0 && other.length === 0, other);
  const heard = [];
  const server = http.createServer((request, response) => {
    heard.push(request.url);
    response.setHeader("Access-Control-Allow-Origin", "*");
    response.end("canary");
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  const url = "http://127.0.0.1:" + server.address().port + "/canary";
  await s.eval((url) => new Promise((resolve) => {
    const worker = new Worker(URL.createObjectURL(new Blob(["fetch('" + url + "').finally(() => postMessage(1))"])));
    worker.onmessage = resolve;
  }), url);
  await s.wait(() => s.requests.includes(url), "the canary's request", 5000).catch(() => {});
  server.close();
  check("the request log sees a request that leaves the page (a worker's, to a local server)",
    heard.length === 1 && s.requests.includes(url), [heard, s.requests.slice(-3)]);
}

// ---- Run ---------------------------------------------------------------------
let total = 0;
const summary = [];
try {
  for (const name of chosen) {
    const started = Date.now();
    const s = await session(name);
    let figures;
    try {
      console.log(name + ": " + s.opened.version);
      figures = await functions(s);
      await noNetwork(s);
      await states(s);
      await keyboard(s);
    } finally {
      await s.close();
    }
    const dark = await session(name, "dark");
    try {
      await states(dark);
    } finally {
      await dark.close();
    }
    total += s.passed + dark.passed;
    summary.push(name + " (" + s.opened.version + "): " + (s.passed + dark.passed) + " checks passed in " +
      Math.round((Date.now() - started) / 1000) + " s; load to ready " + figures.ready.join(", ") +
      " ms (three loads); " + figures.sourceBytes + " bytes of BASIC converted in " + figures.packMs.toFixed(2) +
      " ms in the worker, " + figures.makeMs + " ms from the click to the tape; script and WebAssembly " +
      figures.bytes + " bytes");
  }
} catch (error) {
  console.error(error instanceof Failure ? error.message : error);
  process.exitCode = 1;
} finally {
  fs.rmSync(work, { recursive: true, force: true });
}
for (const line of summary) console.log(line);
if (!process.exitCode) console.log("browser tests passed: " + total + " checks in " + chosen.join(" and ") +
  "; screenshots in " + out);
