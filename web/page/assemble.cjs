// Puts the page together as one file:
//   node assemble.cjs klavor.html klavor.css klavor_wasm.js OUT.html strings.js dom.js ... main.js
// The style, the WebAssembly module (emscripten's glue with the wasm inside)
// and the page's script go inline, and the Content-Security-Policy allows
// exactly those three by their hashes and nothing else: no request of any
// kind can leave the page.
//
// The page's script is its files one after the other, inside one function
// so that none of it is global: the table of strings first, then the
// modules, each of which keeps its own state and registers what it offers
// on the one object `page` (tests/web/unit loads them the same way, with
// no browser). The last, main.js, starts the page.
'use strict';
const fs = require('fs');
const crypto = require('crypto');

const [templateFile, cssFile, moduleFile, outFile, ...pageJsFiles] = process.argv.slice(2);
if (!pageJsFiles.length) {
  console.error('usage: node assemble.cjs TEMPLATE.html STYLE.css MODULE.js OUT.html PAGE.js...');
  process.exit(2);
}
const read = (file) => fs.readFileSync(file, 'utf8');
const hash = (text) => `'sha256-${crypto.createHash('sha256').update(text, 'utf8').digest('base64')}'`;

function inline(text, file) {
  // Nothing inside may end the element early.
  if (/<\/(script|style)/i.test(text)) throw new Error(`${file}: holds a closing </script> or </style> tag`);
  return text;
}

const css = inline(read(cssFile), cssFile);
const glue = inline(read(moduleFile), moduleFile);
const pageJs = ["'use strict';", '(function () {', 'const page = {};',
  ...pageJsFiles.map((file) => inline(read(file), file)), '})();', ''].join('\n');
const csp = [
  "default-src 'none'",
  `script-src ${hash(glue)} ${hash(pageJs)} 'wasm-unsafe-eval'`,
  `style-src ${hash(css)}`,
  "img-src 'none'",
  "base-uri 'none'",
  "form-action 'none'",
].join('; ');

const template = read(templateFile);
const parts = { '@CSP@': csp, '@STYLE@': css, '@MODULE@': glue, '@SCRIPT@': pageJs };
for (const mark of Object.keys(parts))
  if (template.split(mark).length !== 2) throw new Error(`${templateFile}: ${mark} must appear once`);
const page = template.replace(/@(CSP|STYLE|MODULE|SCRIPT)@/g, (mark) => parts[mark]);
const tmp = `${outFile}.new`;
fs.writeFileSync(tmp, page);
fs.renameSync(tmp, outFile);
