// Loads some of the page's script files with no browser: one after the
// other in one fresh context, sharing the one `page` object, as the page
// has them (web/page/assemble.cjs), with only the globals a test hands in.
'use strict';
const fs = require('node:fs');
const path = require('node:path');
const vm = require('node:vm');

const SOURCE_DIR = path.resolve(__dirname, '../../..');
const PAGE_DIR = path.join(SOURCE_DIR, 'web/page');

// The `page` object the files filled in.
function load(files, globals = {}) {
  const context = vm.createContext({ page: {}, TextEncoder, TextDecoder, ...globals });
  for (const file of files)
    vm.runInContext(fs.readFileSync(path.join(PAGE_DIR, file), 'utf8'), context, { filename: file });
  return context.page;
}

module.exports = { load, SOURCE_DIR };
