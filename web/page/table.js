// The configuration being edited: the 128-byte table, what the library
// says of it (its view), its undo history and its copy in the browser's
// storage. Whatever shows it is told of each change.
'use strict';

(function (page) {
  const HISTORY = 200;
  const history = page.history.create(HISTORY);
  const listeners = [];
  let bytes = null;
  let view = null;

  // At start: the table kept from the last visit, or the built-in one.
  function load() {
    const kept = page.storage.fromHex(page.store.get('table'));
    bytes = kept && page.api.isTable(kept) ? kept : page.api.defaults();
    view = page.api.view(bytes);
  }

  // A new table; `record`: an edit that Undo takes back.
  function set(next, record) {
    if (record) history.record(bytes);
    bytes = next;
    page.store.set('table', page.storage.toHex(bytes));
    view = page.api.view(bytes);
    listeners.forEach((listener) => listener());
  }

  // One change in the text form's words: null, or the library's reason
  // for refusing it (then nothing changes).
  function edit(slot, field, press, word) {
    const r = page.api.edit(bytes, slot, field, press, word);
    if (!r.ok) return r.text();
    set(r.bytes, true);
    return null;
  }

  // False when there is nothing to undo or redo.
  function step(back) {
    const other = back ? history.undo(bytes) : history.redo(bytes);
    if (!other) return false;
    set(other, false);
    return true;
  }

  page.table = {
    load, set, edit,
    undo: () => step(true),
    redo: () => step(false),
    onChange: (listener) => listeners.push(listener),
    get bytes() { return bytes; },
    get view() { return view; },
    get canUndo() { return history.canUndo; },
    get canRedo() { return history.canRedo; },
  };
})(page);
