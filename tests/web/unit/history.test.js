// Undo and redo with no browser: the tables gone back and forth through,
// the limit, and which keys ask for them (never Ctrl+Alt+Z, AltGr+Z).
'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { load } = require('./load');

const { history } = load(['history.js']);

// Steps on a table that starts as "A": "edit X" makes X the table, "undo"
// and "redo" go back and forth; what the page then shows, and whether its
// Undo and Redo buttons are on.
function run(steps, limit = 200) {
  const h = history.create(limit);
  let shown = 'A';
  for (const step of steps) {
    const [verb, table] = step.split(' ');
    if (verb === 'edit') {
      h.record(shown);
      shown = table;
    } else {
      const other = verb === 'undo' ? h.undo(shown) : h.redo(shown);
      if (other !== null) shown = other;
    }
  }
  return { shown, undo: h.canUndo, redo: h.canRedo };
}

test('undo and redo go back and forth; a new edit drops what could be redone; the oldest goes past the limit', () => {
  const cases = [
    { what: 'nothing to undo at first', steps: ['undo', 'redo'], want: { shown: 'A', undo: false, redo: false } },
    { what: 'an edit undone', steps: ['edit B', 'undo'], want: { shown: 'A', undo: false, redo: true } },
    { what: 'and redone', steps: ['edit B', 'undo', 'redo'], want: { shown: 'B', undo: true, redo: false } },
    { what: 'two edits undone in turn', steps: ['edit B', 'edit C', 'undo', 'undo', 'undo'],
      want: { shown: 'A', undo: false, redo: true } },
    { what: 'redone in turn', steps: ['edit B', 'edit C', 'undo', 'undo', 'redo', 'redo', 'redo'],
      want: { shown: 'C', undo: true, redo: false } },
    { what: 'an edit after an undo drops the redo', steps: ['edit B', 'edit C', 'undo', 'edit D', 'redo'],
      want: { shown: 'D', undo: true, redo: false } },
    { what: 'and undoes to the table before it', steps: ['edit B', 'edit C', 'undo', 'edit D', 'undo', 'undo'],
      want: { shown: 'A', undo: false, redo: true } },
    { what: 'at most three steps back', limit: 3, steps: ['edit B', 'edit C', 'edit D', 'edit E', 'edit F',
      'undo', 'undo', 'undo', 'undo'], want: { shown: 'C', undo: false, redo: true } },
    { what: 'and all of them redone', limit: 3, steps: ['edit B', 'edit C', 'edit D', 'edit E', 'edit F',
      'undo', 'undo', 'undo', 'redo', 'redo', 'redo'], want: { shown: 'F', undo: true, redo: false } },
  ];
  for (const c of cases) assert.deepEqual(run(c.steps, c.limit), c.want, c.what);
});

test('Ctrl+Z and Cmd+Z undo; Ctrl+Y and Shift with Z redo; with Alt, or without Ctrl or Cmd, neither', () => {
  const cases = [
    ['Ctrl+z', 'undo'], ['Ctrl+Z', 'undo'], ['Meta+z', 'undo'],
    ['Ctrl+Shift+Z', 'redo'], ['Meta+Shift+Z', 'redo'], ['Ctrl+y', 'redo'], ['Meta+y', 'redo'], ['Ctrl+Shift+Y', 'redo'],
    ['Ctrl+Alt+z', ''], ['Ctrl+Alt+y', ''], ['Alt+z', ''], ['z', ''], ['Shift+Z', ''], ['y', ''], ['Ctrl+x', ''],
    ['Ctrl+Control', ''],
  ];
  for (const [keys, want] of cases) {
    const parts = keys.split('+');
    const e = { key: parts.pop() };
    for (const mod of ['Ctrl', 'Meta', 'Shift', 'Alt']) e[mod.toLowerCase() + 'Key'] = parts.includes(mod);
    const got = history.isUndo(e) ? 'undo' : history.isRedo(e) ? 'redo' : '';
    assert.equal(got, want, keys);
  }
});
