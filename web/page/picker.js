// The key picker: a dialog to choose a key for a press or for the button
// itself, by search, by group, by a code in hex, or by pressing the key
// (which never takes Ctrl+Z or Ctrl+Y: they stay undo and redo).
'use strict';

(function (page) {
  const { $, el } = page.dom;
  const { T, capital, pressName } = page.i18n;
  const { isUndo, isRedo } = page.history;
  const picker = { kind: 'action', press: 0, group: 0, listening: false, current: null };

  // The key groups, then Klavor's own codes (actions only).
  function entries() {
    const { catalog } = page;
    const groups = catalog.groups.map((g) => ({
      name: T('groups')[g.name] || g.name,
      entries: g.keys.map((k) => ({
        word: k.name,
        label: k.name,
        also: k.printed !== k.name ? k.printed : '',
        code: k.vk,
      })),
    }));
    if (picker.kind === 'action') {
      groups.push({
        name: T('ownCodes'),
        entries: catalog.labels.map((l) => ({ word: l.word, label: l.word.replace(/"/g, ''), also: '', code: l.code })),
      });
    }
    return groups;
  }

  function build() {
    $('picker-search').addEventListener('input', fill);
    $('picker-cancel').addEventListener('click', () => close());
    $('picker-hex-use').addEventListener('click', () => choose($('picker-hex').value.trim()));
    $('picker-hex').addEventListener('keydown', (e) => {
      if (e.key === 'Enter') { e.preventDefault(); choose($('picker-hex').value.trim()); }
    });
    $('picker-listen').addEventListener('click', () => listen(!picker.listening));
    $('picker').addEventListener('cancel', (e) => {
      // Esc while listening stops listening; otherwise it closes the picker.
      if (picker.listening) { e.preventDefault(); listen(false); }
    });
    $('picker').addEventListener('close', () => listen(false));
    window.addEventListener('keydown', onListenKey, true);
  }

  function fillGroups() {
    const set = $('picker-groups');
    const groups = entries();
    if (picker.group >= groups.length) picker.group = 0;
    set.replaceChildren(el('legend', { textContent: T('show') }), ...groups.map((g, i) => {
      const id = 'picker-group-' + i;
      const input = el('input', { type: 'radio', name: 'picker-group', id, checked: i === picker.group });
      input.addEventListener('change', () => { picker.group = i; $('picker-search').value = ''; fill(); });
      return el('span', { className: 'group-option' }, input, el('label', { htmlFor: id, textContent: capital(g.name) }));
    }));
  }

  function fill() {
    const query = $('picker-search').value.trim().toLowerCase();
    const groups = entries();
    let shown;
    if (query) {
      const seen = new Set();
      shown = [];
      for (const g of groups)
        for (const e of g.entries)
          if (e.label.toLowerCase().includes(query) && !seen.has(e.word)) { seen.add(e.word); shown.push(e); }
      // Names that start with what was typed first.
      shown.sort((a, b) => Number(!a.label.toLowerCase().startsWith(query)) - Number(!b.label.toLowerCase().startsWith(query)));
    } else {
      shown = groups[picker.group].entries;
    }
    $('picker-empty').hidden = shown.length > 0;
    $('picker-keys').replaceChildren(...shown.map((e) => {
      const isCurrent = picker.current !== null && e.word.toLowerCase() === picker.current.toLowerCase();
      const b = el('button', { type: 'button', className: 'key' + (isCurrent ? ' current' : '') },
        el('span', { textContent: e.label }),
        e.also ? el('small', { textContent: ` = ${e.also}` }) : null);
      b.setAttribute('aria-label', (e.also ? T('sameKeyAs', e.label, e.also) : e.label) + (isCurrent ? T('chosenNow') : ''));
      if (isCurrent) b.setAttribute('aria-current', 'true');
      b.addEventListener('click', () => choose(e.word));
      return b;
    }));
  }

  // For the button being edited: its key (kind "key") or what press
  // `press` sends (kind "action").
  function open(kind, press) {
    const b = page.table.view.buttons[page.editor.selected];
    picker.kind = kind;
    picker.press = press;
    const p = b.presses[press];
    picker.current = kind === 'key' ? b.key : p.base;
    $('picker-title').textContent = kind === 'key'
      ? T('pickKeyTitle', b.name, b.key)
      : T('pickActionTitle', b.name, pressName(press), p.action);
    $('picker-win-line').hidden = kind === 'key';
    $('picker-win').checked = kind === 'action' && p.win;
    $('picker-search').value = '';
    $('picker-hex').value = '';
    $('picker-error').textContent = '';
    // Start where the current choice is.
    const groups = entries();
    const at = groups.findIndex((g) => g.entries.some((e) => e.word.toLowerCase() === String(picker.current).toLowerCase()));
    picker.group = at >= 0 ? at : 0;
    fillGroups();
    fill();
    $('picker').showModal();
    $('picker-search').focus();
  }

  function close() {
    listen(false);
    if ($('picker').open) $('picker').close();
  }

  // A key name, label or code; the Win box holds the Windows key with it.
  function choose(word) {
    if (!word) {
      $('picker-error').textContent = T('typeCode');
      return;
    }
    const win = picker.kind === 'action' && $('picker-win').checked;
    const field = picker.kind === 'key' ? 'key' : win ? 'win-action' : 'action';
    const error = page.editor.change(field, picker.press, word);
    if (error) {
      $('picker-error').textContent = error;
      return;
    }
    close();
    const target = picker.kind === 'key' ? $('change-key') : $('press-rows').children[picker.press].querySelector('.action');
    target.focus();
    const b = page.table.view.buttons[page.editor.selected];
    page.dom.say(picker.kind === 'key' ? T('keyNow', b.name, b.key)
      : T('actionNow', capital(pressName(picker.press)), b.name, b.presses[picker.press].action));
  }

  function listen(on) {
    picker.listening = on;
    $('picker-listen').textContent = on ? T('stopListening') : T('listen');
    $('picker-listen').setAttribute('aria-pressed', String(on));
    $('picker-listening').textContent = on ? T('listening') : '';
  }

  function onListenKey(e) {
    if (!picker.listening) return;
    // Undo and redo are never taken, nor a modifier on its own.
    if (isUndo(e) || isRedo(e)) return;
    if (['Shift', 'Control', 'Alt', 'Meta', 'AltGraph', 'OS'].includes(e.key)) return;
    if (e.key === 'Escape') return;  // the dialog's cancel stops listening
    e.preventDefault();
    e.stopPropagation();
    // A browser's keyCode is the Windows virtual key for the keys that have one.
    if (!e.keyCode) return;
    listen(false);
    choose('0x' + e.keyCode.toString(16).toUpperCase().padStart(2, '0'));
  }

  page.picker = {
    build, open,
    // In the language just chosen.
    relabel: () => listen(picker.listening),
  };
})(page);
