// Starts the installed Chromium (over the DevTools protocol) or Firefox ESR
// (over WebDriver BiDi; Debian has no geckodriver) with a fresh profile, for
// the browser test and the benchmark. Nothing is downloaded: puppeteer-core
// only drives the browsers it is given.
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import puppeteer from "puppeteer-core";

export const browserNames = ["chromium", "firefox"];

const executables = { chromium: "/usr/bin/chromium", firefox: "/usr/bin/firefox-esr" };

// Chromium runs as root in CI, which needs --no-sandbox; the rest keeps it
// from calling home, so that the page's own requests are all there is.
const chromiumFlags = ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
  "--disable-component-update", "--disable-sync", "--no-first-run", "--disable-quic",
  "--disable-default-apps", "--disable-extensions"];

// Opens `name` with downloads going to `downloads` (if given) and the
// page's colour scheme `scheme` ("light" or "dark"). Firefox over BiDi cannot
// emulate the scheme per page, so it gets it as a preference of the profile.
export async function openBrowser(name, { downloads, scheme = "light" } = {}) {
  const executablePath = executables[name];
  if (!executablePath) throw new Error("no such browser: " + name);
  if (!fs.existsSync(executablePath)) throw new Error(name + " is not installed (" + executablePath + ")");
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "cassmak-" + name + "-"));
  const browser = await puppeteer.launch(name === "chromium"
    ? { browser: "chrome", executablePath, headless: true, userDataDir: profile, args: chromiumFlags }
    : { browser: "firefox", executablePath, headless: true, userDataDir: profile,
        extraPrefsFirefox: {
          "layout.css.prefers-color-scheme.content-override": scheme === "dark" ? 0 : 1,
          // The downloads panel would take the focus from the page.
          "browser.download.alwaysOpenPanel": false,
        } });
  const context = downloads
    ? await browser.createBrowserContext({ downloadBehavior: { policy: "allow", downloadPath: downloads } })
    : browser.defaultBrowserContext();
  const page = await context.newPage();
  // A page that does not have the focus shows none (Firefox draws no :focus-visible).
  await page.bringToFront();
  if (name === "chromium") await page.emulateMediaFeatures([{ name: "prefers-color-scheme", value: scheme }]);
  return {
    browser, page, version: await browser.version(),
    async close() {
      await browser.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// Loads the page from file:// and waits for its module; answers the
// page's own time from navigation start to ready, in milliseconds.
export async function loadPage(page, site) {
  await page.goto("file://" + path.join(site, "index.html"));
  await page.waitForFunction(() => document.body.dataset.ready === "true", { timeout: 20000, polling: 20 });
  return Number(await page.evaluate(() => document.body.dataset.readyMs));
}

// The longest gap between two animation frames of the page from
// startFrames to stopFrames, in milliseconds: the longest the page could not
// answer the user.
export function startFrames(page) {
  return page.evaluate(() => {
    const probe = { longest: 0, running: true };
    let last = performance.now();
    const tick = () => {
      const now = performance.now();
      probe.longest = Math.max(probe.longest, now - last);
      last = now;
      if (probe.running) requestAnimationFrame(tick);
    };
    requestAnimationFrame(tick);
    window.frameProbe = probe;
  });
}

export function stopFrames(page) {
  return page.evaluate(() => new Promise((resolve) => {
    // One more frame, so that a task still running when asked is counted.
    requestAnimationFrame(() => {
      window.frameProbe.running = false;
      resolve(window.frameProbe.longest);
    });
  }));
}
