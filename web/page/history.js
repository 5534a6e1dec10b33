// Undo and redo: the tables before and after the one being edited, and
// the keys that ask for them. No document: the caller shows the result.
'use strict';

(function (page) {
  // At most `limit` steps back; the oldest goes first.
  function create(limit) {
    const undos = [];
    const redos = [];
    return {
      // `current` is about to be replaced by a new edit: it can be gone
      // back to, and what could have been redone is gone.
      record(current) {
        undos.push(current);
        if (undos.length > limit) undos.shift();
        redos.length = 0;
      },
      // The table to show instead of `current`, or null when there is none.
      undo(current) {
        if (!undos.length) return null;
        redos.push(current);
        return undos.pop();
      },
      redo(current) {
        if (!redos.length) return null;
        undos.push(current);
        return redos.pop();
      },
      get canUndo() { return undos.length > 0; },
      get canRedo() { return redos.length > 0; },
    };
  }

  // Ctrl+Z or Cmd+Z undoes; Ctrl+Y, Ctrl+Shift+Z or Cmd+Shift+Z redoes.
  // With Alt they are neither (AltGr is Ctrl+Alt on Windows).
  const isUndo = (e) => (e.ctrlKey || e.metaKey) && !e.altKey && e.key.toLowerCase() === 'z' && !e.shiftKey;
  function isRedo(e) {
    const k = e.key.toLowerCase();
    return (e.ctrlKey || e.metaKey) && !e.altKey && (k === 'y' || (k === 'z' && e.shiftKey));
  }

  page.history = { create, isUndo, isRedo };
})(page);
