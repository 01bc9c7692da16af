#!/usr/bin/env bash
# The web page: the WebAssembly build, the lint of its scripts (web/
# package.json) and the browser test in headless Chromium and Firefox ESR.
source "$(dirname "$0")/common.sh"

part "web page: the WebAssembly build and the browser test in headless Chromium and Firefox ESR"
web_start=$(date +%s)
cmake --workflow --preset web
# The test compares the page's downloads with the native tools' (build/).
cmake --preset default >/dev/null
cmake --build --preset default --target cassmak casstool >/dev/null
wc -c build-web/site/index.html build-web/site/page.js build-web/site/worker.js
# puppeteer-core and axe-core from the lock file; the test drives the
# installed browsers and downloads none.
(cd web && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund)
# The lint of the page's scripts (eslint, web/eslint.config.js).
(cd web && npm run --silent lint)
timeout 600 node web/browser_test.mjs build-web/site build build-web/screenshots
echo "web part: $(($(date +%s) - web_start)) s"
