// What the page keeps in the browser, with no browser: every key under the
// page's prefix, nothing lost or thrown when storage is off or full, and
// the table as hex, anything else read as no table.
'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { load } = require('./load');

const { storage } = load(['storage.js']);

// A localStorage of a Map; `refuse` makes reaching it or writing throw, as
// a browser does with storage off or full.
function backing(refuse) {
  const items = new Map();
  const store = {
    getItem: (key) => (items.has(key) ? items.get(key) : null),
    setItem: (key, value) => {
      if (refuse === 'full') throw new Error('QuotaExceededError');
      items.set(key, String(value));
    },
  };
  return { items, reach: () => { if (refuse === 'off') throw new Error('SecurityError'); return store; } };
}

test('values are kept under the page\'s prefix and read back; with storage off or full, nothing kept and nothing thrown', () => {
  const cases = [
    { what: 'storage on', refuse: '', kept: [['klavor-configurator.table', '00ff'], ['klavor-configurator.lang', 'ru']],
      read: { table: '00ff', lang: 'ru', slot: null } },
    { what: 'storage off', refuse: 'off', kept: [], read: { table: null, lang: null, slot: null } },
    { what: 'storage full', refuse: 'full', kept: [], read: { table: null, lang: null, slot: null } },
  ];
  for (const c of cases) {
    const b = backing(c.refuse);
    const kept = storage.open(b.reach);
    kept.set('table', '00ff');
    kept.set('lang', 'ru');
    assert.deepEqual(Array.from(b.items), c.kept, c.what);
    assert.deepEqual({ table: kept.get('table'), lang: kept.get('lang'), slot: kept.get('slot') }, c.read, c.what);
  }
  // Another page's keys on the same file:// origin are not ours.
  const b = backing('');
  b.items.set('table', 'ff00');
  assert.equal(storage.open(b.reach).get('table'), null);
});

test('a table goes to hex and back; anything else stored reads as no table', () => {
  const table = Uint8Array.from({ length: 128 }, (_, i) => (i * 37 + 5) & 255);
  const hex = storage.toHex(table);
  assert.equal(hex.length, 256);
  assert.equal(hex.slice(0, 8), '052a4f74');
  assert.deepEqual(Array.from(storage.fromHex(hex)), Array.from(table));
  assert.equal(storage.toHex(new Uint8Array([0, 9, 10, 255])), '00090aff');
  const refused = [null, undefined, 42, '0', '00f', '00FF', '0x00', '00 ff', 'zz', '00ff\n'];
  for (const value of refused) assert.equal(storage.fromHex(value), null, JSON.stringify(value));
  assert.deepEqual(Array.from(storage.fromHex('')), []);
});
