// The lint of the page's scripts (page.js, and worker.js, which the build
// puts into one function with the module) and of the scripts that drive the
// browsers (Node modules, parts of which run in the page).
import js from "@eslint/js";
import globals from "globals";

export default [
  { ignores: ["node_modules/"] },
  js.configs.recommended,
  { rules: { eqeqeq: "error", "no-var": "error", "prefer-const": "error", "no-use-before-define": ["error", "nofunc"] } },
  {
    files: ["page.js"],
    languageOptions: {
      sourceType: "script",
      // The worker's function, from worker.js as built, which is loaded first.
      globals: { ...globals.browser, cassmakWorker: "readonly" },
    },
  },
  {
    files: ["worker.js"],
    languageOptions: { sourceType: "script", globals: globals.worker },
    // Module is read by the module's own script, which follows this one.
    rules: { "no-var": "off" },
  },
  {
    files: ["*.mjs", "eslint.config.js"],
    languageOptions: {
      sourceType: "module",
      // The functions given to page.evaluate run in the page, with its
      // globals: the page's own ask and pageSize, and axe once loaded.
      globals: { ...globals.node, ...globals.browser, ask: "readonly", pageSize: "readonly", axe: "readonly" },
    },
  },
];
