// The page's figures in each browser: the time from navigation start to a
// ready module over several loads; the module's time to convert a 64 KB
// BASIC source in the worker over several runs; and, for tapes of 10,000 and
// 1,000,000 tiny entries and of 64 MiB of zeros, the longest frame of the
// page while it reads the tape, pages and scrolls through it, and changes it
// (with the time each took), side by side. It fails when the page does not
// load, convert or read, or when a frame takes longer than 100 ms.
// Usage: node bench.mjs SITE [BROWSER...]
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { browserNames, loadPage, openBrowser, startFrames, stopFrames } from "./browsers.mjs";

const site = path.resolve(process.argv[2] || "");
const chosen = process.argv.length > 3 ? process.argv.slice(3) : browserNames;
const loads = 7;
const conversions = 11;
const longestAllowed = 100;

const lines = [];
for (let n = 10, total = 0; total < 65000; n += 10) {
  lines.push(n + ' PRINT "SCORE";S:IF S>HI THEN HI=S:GOSUB 9000');
  total += lines.at(-1).length + 1;
}
const source = lines.join("\n") + "\n";

const sorted = (values) => [...values].sort((a, b) => a - b);
const spread = (values) => {
  const v = sorted(values);
  return "min " + v[0].toFixed(1) + ", median " + v[v.length >> 1].toFixed(1) + ", max " + v.at(-1).toFixed(1);
};
const count = (n) => n.toLocaleString("en-US");

// ---- The tapes --------------------------------------------------------------
const work = fs.mkdtempSync(path.join(os.tmpdir(), "cassmak-bench-"));
// Tiny headless blocks of one byte each, then one stored file (which the page
// itself makes), so that the last entry can be retagged.
function tinyTape(name, entries, file) {
  const tiny = Buffer.from([1, 0, 0x78]);
  const bytes = Buffer.alloc(tiny.length * (entries - 1) + file.length);
  for (let at = 0; at < tiny.length * (entries - 1); at += tiny.length) tiny.copy(bytes, at);
  Buffer.from(file).copy(bytes, tiny.length * (entries - 1));
  fs.writeFileSync(path.join(work, name), bytes);
  return { name, entries, file: path.join(work, name), retag: true };
}
function zerosTape(name, size) {
  const fd = fs.openSync(path.join(work, name), "w");
  fs.ftruncateSync(fd, size);
  fs.closeSync(fd);
  // Each entry is an empty block: two bytes of length.
  return { name, entries: size / 2, file: path.join(work, name), retag: false };
}

// ---- One tape in one browser ----------------------------------------------
const statusSays = (page, text, timeout = 600000) => page.waitForFunction(
  (t) => document.getElementById("tape-status").textContent.includes(t), { timeout, polling: 50 }, text);
const shownSays = (page, text) => page.waitForFunction(
  (t) => document.getElementById("page-shown").textContent === t, { timeout: 600000, polling: 50 }, text);

// The longest frame and the time while `action` runs.
async function measured(page, action) {
  await startFrames(page);
  const started = performance.now();
  await action();
  const ms = performance.now() - started;
  return { longest: await stopFrames(page), ms };
}

async function tapeFigures(page, tape) {
  const figures = {};
  // The page doing nothing: what the machine alone costs a frame.
  figures.idle = await measured(page, () => new Promise((resolve) => setTimeout(resolve, 2000)));
  figures.read = await measured(page, async () => {
    await (await page.$("#tape-file")).uploadFile(tape.file);
    await statusSays(page, tape.name + ": " + count(fs.statSync(tape.file).size) + " bytes, " + count(tape.entries) + " entries");
  });
  // The page's own page of rows.
  const size = await page.evaluate(() => pageSize);
  const rows = await page.evaluate(() => document.querySelectorAll("#entries tbody tr").length);
  if (rows !== size) throw new Error(tape.name + ": " + rows + " rows in the page, not " + size);
  figures.scroll = await measured(page, async () => {
    // Down the page by the wheel's steps, then page by page, to the last
    // page, and to an entry in the middle by its number.
    await page.evaluate(async () => {
      for (let y = 0; y < document.documentElement.scrollHeight; y += 300) {
        window.scrollTo(0, y);
        await new Promise((resolve) => requestAnimationFrame(resolve));
      }
    });
    for (let i = 1; i <= 5; ++i) {
      await page.click("#page-next");
      await shownSays(page, "Entries " + count(i * size + 1) + " to " + count(i * size + size) + " of " + count(tape.entries));
    }
    await page.click("#page-last");
    const lastPage = tape.entries - (tape.entries - 1) % size;
    await shownSays(page, "Entries " + count(lastPage) + " to " + count(tape.entries) + " of " + count(tape.entries));
    const middle = Math.floor(tape.entries / 2);
    await page.evaluate((n) => { document.getElementById("page-entry").value = String(n); }, middle);
    await page.click("#page-go button");
    await page.waitForFunction((n) => document.querySelector('#entries tbody tr[aria-rowindex="' + (n + 1) + '"]'),
      { timeout: 600000, polling: 50 }, middle);
  });
  figures.edit = await measured(page, async () => {
    await page.click("#page-first");
    await shownSays(page, "Entries 1 to " + size + " of " + count(tape.entries));
    await page.click('button[aria-label="Remove entry 1"]');
    await statusSays(page, "Entry 1 removed.");
    await page.click('button[aria-label="Move entry 1 down"]');
    await statusSays(page, "Entry 1 moved down.");
    if (tape.retag) {
      const last = tape.entries - 1;
      await page.click("#page-last");
      await page.waitForSelector('button[aria-label="Retag entry ' + last + ': change its header"]');
      await page.click('button[aria-label="Retag entry ' + last + ': change its header"]');
      await page.evaluate(() => { document.getElementById("retag-name").value = "bench"; });
      await page.click("#retag-apply");
      await statusSays(page, "Entry " + last + " has its new header.");
    }
  });
  return figures;
}

// ---- Run --------------------------------------------------------------------
const tapes = [];
const table = new Map();
const heads = [];
let slow = 0;
try {
  for (const name of chosen) {
    const opened = await openBrowser(name);
    try {
      const ready = [];
      for (let i = 0; i < loads; ++i) ready.push(await loadPage(opened.page, site));
      const converted = [];
      let bytes = 0;
      for (let i = 0; i < conversions; ++i) {
        // The tape's bytes stay in the page: only their count comes back.
        const answer = await opened.page.evaluate((text) => ask("pack", {
          files: [{ file: new File([text], "big64.bas"), kind: "basic", form: [] }],
        }).then((a) => ({ results: a.results, bytes: a.image ? a.image.length : 0 })), source);
        if (!answer.bytes) throw new Error(name + ": the source was not converted: " + JSON.stringify(answer.results));
        bytes = answer.bytes;
        converted.push(answer.results[0].ms);
      }
      console.log(name + " (" + opened.version + "): load to ready in ms over " + loads + " loads (the first cold): " +
        ready.join(", ") + " (" + spread(ready) + ")");
      console.log(name + ": converting " + source.length + " bytes of BASIC (a " + bytes + "-byte tape) in the worker, ms over " +
        conversions + " runs: " + spread(converted));
      if (!tapes.length) {
        const file = await opened.page.evaluate(() => ask("pack", {
          files: [{ file: new File(["last"], "last.bin"), kind: "binary", form: [] }],
        }).then((a) => [...a.image]));
        tapes.push(tinyTape("tiny10k.kst", 10000, file), tinyTape("tiny1m.kst", 1000000, file),
          zerosTape("zeros64.kst", 64 << 20));
      }
      heads.push(name + " " + opened.version.replace(/^.*\//, ""));
      for (const tape of tapes) {
        const figures = await tapeFigures(opened.page, tape);
        for (const [phase, { longest, ms }] of Object.entries(figures)) {
          const key = count(tape.entries) + " entries (" + tape.name + "): " + phase;
          if (!table.has(key)) table.set(key, []);
          table.get(key).push(longest.toFixed(0).padStart(4) + " ms (" + (ms / 1000).toFixed(1) + " s)");
          if (phase !== "idle" && longest > longestAllowed) {
            slow += 1;
            console.log(name + ": a frame of " + longest.toFixed(0) + " ms in " + key);
          }
        }
      }
    } finally {
      await opened.close();
    }
  }
} finally {
  fs.rmSync(work, { recursive: true, force: true });
}
const width = Math.max(...[...table.keys()].map((k) => k.length));
console.log("\nThe longest frame of the page (the whole step's time), load average " +
  os.loadavg().map((l) => l.toFixed(1)).join(", ") + " on " + os.cpus().length + " cores:");
console.log("".padEnd(width) + "  " + heads.map((h) => h.padEnd(22)).join("  "));
for (const [key, cells] of table) console.log(key.padEnd(width) + "  " + cells.map((c) => c.padEnd(22)).join("  "));
if (slow) {
  console.log(slow + " steps with a frame over " + longestAllowed + " ms");
  process.exitCode = 1;
} else {
  console.log("every frame within " + longestAllowed + " ms");
}
