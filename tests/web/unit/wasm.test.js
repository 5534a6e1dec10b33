// The page's way into the C API, with no browser and no WebAssembly: the
// functions it calls are klavor_api.h's, taking what the header says; on a
// stand-in module, each call hands the C side exactly its arguments
// (strings UTF-8 and ended by a zero, byte arrays with their length), frees
// all it took, and copies the answer out.
'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { load, SOURCE_DIR } = require('./load');

const { wasm } = load(['wasm.js']);

// The header's functions and what each takes: a byte array and its
// length are one `bytes`, a string `text`, a number `int`.
function headerFunctions() {
  const header = fs.readFileSync(path.join(SOURCE_DIR, 'web/api/klavor_api.h'), 'utf8')
    .replace(/\/\/.*$/gm, '').replace(/\s+/g, ' ');
  const functions = {};
  for (const [, name, params] of header.matchAll(/\b(klavor_[a-z_]+)\(([^)]*)\);/g)) {
    const kinds = [];
    const list = params.trim() === 'void' ? [] : params.split(',').map((p) => p.trim());
    for (let i = 0; i < list.length; i++) {
      if (/^const unsigned char\*/.test(list[i]) && /^unsigned \w+$/.test(list[i + 1] || '')) { kinds.push('bytes'); i++; }
      else if (/^const char\*/.test(list[i])) kinds.push('text');
      else if (/^(int|unsigned) \w+$/.test(list[i])) kinds.push('int');
      else throw new Error(`${name}: a parameter this test does not know: ${list[i]}`);
    }
    functions[name] = kinds;
  }
  return functions;
}

test('the page calls the functions klavor_api.h declares, with the arguments it declares', () => {
  const declared = headerFunctions();
  assert.equal(Object.keys(declared).length, 20);
  assert.deepEqual(Object.keys(wasm.FUNCTIONS).sort(), Object.keys(declared).sort());
  for (const [name, kinds] of Object.entries(declared)) assert.deepEqual(Array.from(wasm.FUNCTIONS[name]), kinds, name);
});

// A stand-in for emscripten's module: a heap of 64 bytes that grows, to a
// new array, whenever an allocation does not fit (as memory growth does:
// a table does not fit at first), and every function recording what it was
// given and answering `answer`.
function standIn({ answer = '[1]', returns = 1 } = {}) {
  const K = { HEAPU8: new Uint8Array(64), live: new Set(), calls: [], mallocs: 0 };
  let top = 16;
  K._malloc = (n) => {
    K.mallocs++;
    const p = top;
    top += n;
    while (top > K.HEAPU8.length) {
      const grown = new Uint8Array(K.HEAPU8.length * 2);
      grown.set(K.HEAPU8);
      K.HEAPU8 = grown;
    }
    K.live.add(p);
    return p;
  };
  K._free = (p) => assert.ok(K.live.delete(p), `freed ${p} twice or never taken`);
  let result = [0, 0];
  K._klavor_result = () => result[0];
  K._klavor_result_size = () => result[1];
  for (const name of Object.keys(wasm.FUNCTIONS).filter((n) => !n.startsWith('klavor_result'))) {
    K['_' + name] = (...args) => {
      K.calls.push({ name, args, heap: K.HEAPU8.slice() });
      if (returns === 'throw') throw new Error('abort');
      const bytes = new TextEncoder().encode(answer);
      const p = K._malloc(bytes.length);
      K.live.delete(p);  // the module's own buffer
      K.HEAPU8.set(bytes, p);
      result = [p, bytes.length];
      return returns;
    };
  }
  return K;
}

// What the C side got, as the test reads it from the heap: a number as is,
// an address as the string (to its zero) or bytes the expectation holds.
function decode(call, expected) {
  return expected.map((want, i) => {
    const a = call.args[i];
    if (typeof want === 'number') return a;
    if (typeof want === 'string') return new TextDecoder().decode(call.heap.subarray(a, call.heap.indexOf(0, a)));
    return Array.from(call.heap.subarray(a, a + want.length));
  });
}
const plain = (expected) => expected.map((w) => (typeof w === 'object' ? Array.from(w) : w));

test('each call hands the C side exactly its arguments, and frees what it took', () => {
  const T = Uint8Array.from({ length: 128 }, (_, i) => (i * 7) & 255);
  const DATA = new Uint8Array([0xff, 0xfe, 0, 0x31]);
  const EMPTY = new Uint8Array(0);
  const cases = [
    ['defaults', [], 'klavor_defaults', []],
    ['program', [], 'klavor_program', []],
    ['setupProgram', [], 'klavor_setup_program', []],
    ['catalog', [], 'klavor_catalog', []],
    ['view', [T], 'klavor_view', [T, 128]],
    ['isTable', [T], 'klavor_view', [T, 128]],
    ['edit', [T, 3, 'win-action', 1, 'Win+D'], 'klavor_edit', [T, 128, 3, 'win-action', 1, 'Win+D']],
    ['open', ['Настройка.klavor', DATA], 'klavor_open', ['Настройка.klavor', DATA, 4]],
    ['open', ['empty.reg', EMPTY], 'klavor_open', ['empty.reg', EMPTY, 0]],
    ['export', [T, 'cab', 'Klavor.cab', true], 'klavor_export', [T, 128, 'cab', 'Klavor.cab', 1]],
    ['export', [T, 'reg', 'Klavor.reg', false], 'klavor_export', [T, 128, 'reg', 'Klavor.reg', 0]],
    ['shareCode', [T], 'klavor_share_code', [T, 128]],
    ['shareRead', ['klavor=1.AAAA'], 'klavor_share_read', ['klavor=1.AAAA']],
    ['sheet', [T], 'klavor_sheet', [T, 128]],
    ['sessionStart', [T, 'Телефон'], 'klavor_session_start', [T, 128, 'Телефон']],
    ['sessionFile', ['capture-all.reg', DATA], 'klavor_session_file', ['capture-all.reg', DATA, 4]],
    ['sessionReplay', ['demo.scenario', DATA], 'klavor_session_replay', ['demo.scenario', DATA, 4]],
    ['sessionPress', [1500, 6, 8], 'klavor_session_press', [1500, 6, 8]],
    ['sessionTray', [2250, 'choose', 'About Klavor'], 'klavor_session_tray', [2250, 'choose', 'About Klavor']],
    ['sessionTray', [0, 'tap', ''], 'klavor_session_tray', [0, 'tap', '']],
    ['sessionView', [700, true], 'klavor_session_view', [700, 1]],
    ['sessionView', [700, false], 'klavor_session_view', [700, 0]],
    ['sessionScenario', [], 'klavor_session_scenario', []],
  ];
  for (const [method, args, name, expected] of cases) {
    const K = standIn();
    wasm.connect(K)[method](...args);
    assert.equal(K.calls.length, 1, method);
    assert.equal(K.calls[0].name, name, method);
    assert.equal(K.calls[0].args.length, expected.length, method);
    assert.deepEqual(decode(K.calls[0], expected), plain(expected), `${method} ${args}`);
    assert.deepEqual(Array.from(K.live), [], `${method}: not freed`);
  }
});

test('the answer: copied out, JSON read, ok only for 1; the heap moving and a failing call lose nothing', () => {
  const T = new Uint8Array(128).fill(0x11);
  // Copied, not a view: the heap changing after the call does not change it.
  let K = standIn({ answer: 'Green capture' });
  const r = wasm.connect(K).edit(T, 6, 'mode', 0, 'capture');
  K.HEAPU8.fill(0);
  assert.equal(r.ok, true);
  assert.equal(r.text(), 'Green capture');
  assert.deepEqual(Array.from(r.bytes), Array.from(new TextEncoder().encode('Green capture')));
  // 0 is a message, not the answer; JSON answers are read.
  for (const [returns, ok] of [[1, true], [0, false], [2, false]]) {
    K = standIn({ answer: 'bad.klavor:3: unknown action', returns });
    assert.equal(wasm.connect(K).open('bad.klavor', T).ok, ok, String(returns));
  }
  K = standIn({ answer: '{"buttons":["Calendar"],"inputs":2}' });
  assert.deepEqual(JSON.parse(JSON.stringify(wasm.connect(K).catalog())), { buttons: ['Calendar'], inputs: 2 });
  assert.equal(wasm.connect(standIn({ answer: 'Телефон' })).shareCode(T), 'Телефон');
  // The heap grows while the arguments go in: each is in the heap the C side gets.
  K = standIn();
  wasm.connect(K).sessionStart(T, 'Phone');
  assert.ok(K.HEAPU8.length > 64);
  assert.deepEqual(decode(K.calls[0], [T, 128, 'Phone']), [Array.from(T), 128, 'Phone']);
  // The C side failing still frees all the call took.
  K = standIn({ returns: 'throw' });
  assert.throws(() => wasm.connect(K).export(T, 'cab', 'Klavor.cab', false), /abort/);
  assert.deepEqual(Array.from(K.live), []);
});

test('a call with the wrong arguments, or a module without a function, is refused before anything is taken', () => {
  const T = new Uint8Array(128);
  const cases = [
    [(api) => api.view('00ff'), /klavor_view: argument 1 is not bytes/],
    [(api) => api.edit(T, 3, 'action', 1), /klavor_edit: argument 5 is not text/],
    [(api) => api.edit(T, '3', 'action', 1, 'A'), /klavor_edit: argument 2 is not int/],
    [(api) => api.open(T, 'name'), /klavor_open: argument 1 is not text/],
    [(api) => api.sessionPress(100, 6), /klavor_session_press: argument 3 is not int/],
  ];
  for (const [call, message] of cases) {
    const K = standIn();
    assert.throws(() => call(wasm.connect(K)), message);
    assert.equal(K.mallocs, 0);
    assert.equal(K.calls.length, 0);
  }
  const K = standIn();
  delete K._klavor_sheet;
  delete K._klavor_session_view;
  assert.throws(() => wasm.connect(K), /the WebAssembly module has no klavor_sheet, klavor_session_view$/);
});
