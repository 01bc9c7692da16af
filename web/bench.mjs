// The page's figures in each browser: the time from navigation start to a
// ready module over several loads, and the module's time to convert a 64 KB
// BASIC source in the worker over several runs. It prints them; it fails
// only when the page does not load or convert.
// Usage: node bench.mjs SITE [BROWSER...]
import path from "node:path";
import { browserNames, loadPage, openBrowser } from "./browsers.mjs";

const site = path.resolve(process.argv[2] || "");
const chosen = process.argv.length > 3 ? process.argv.slice(3) : browserNames;
const loads = 7;
const conversions = 11;

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
        files: [{ file: new File([text], "big64.bas"), basic: true, args: ["-b"] }],
      }).then((a) => ({ results: a.results, bytes: a.image ? a.image.length : 0 })), source);
      if (!answer.bytes) throw new Error(name + ": the source was not converted: " + JSON.stringify(answer.results));
      bytes = answer.bytes;
      converted.push(answer.results[0].ms);
    }
    console.log(name + " (" + opened.version + "): load to ready in ms over " + loads + " loads (the first cold): " +
      ready.join(", ") + " (" + spread(ready) + ")");
    console.log(name + ": converting " + source.length + " bytes of BASIC (a " + bytes + "-byte tape) in the worker, ms over " +
      conversions + " runs: " + spread(converted));
  } finally {
    await opened.close();
  }
}
