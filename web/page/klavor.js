// The configurator page's own script: events, drawing, files in and out.
// Every rule about configurations (names, words, the check, timing, file
// formats) is the C++ configuration library's, reached through the small C
// API in web/api; this script only shows what it says.
'use strict';

(function () {
  const STORE = 'klavor-configurator.';  // every file:// page shares one origin
  const $ = (id) => document.getElementById(id);
  const encoder = new TextEncoder();
  const decoder = new TextDecoder();

  let K = null;          // the WebAssembly module
  let catalog = null;    // buttons, modes, press words, keys, labels
  let table = null;      // the 128-byte value being edited
  let view = null;       // what the library says of it
  let selected = 0;      // the button being edited
  const undoStack = [];
  const redoStack = [];
  const HISTORY = 200;

  // ---- The C API ---------------------------------------------------------------
  // Strings and byte arrays go in through the module's heap; the answer comes
  // back as bytes, copied out (a view would not survive memory growth).
  function call(name, ...args) {
    const held = [];
    const real = args.map((a) => {
      if (typeof a === 'number') return a;
      const bytes = typeof a === 'string' ? encoder.encode(a + '\0') : a;
      const p = K._malloc(Math.max(bytes.length, 1));
      K.HEAPU8.set(bytes, p);
      held.push(p);
      return p;
    });
    try {
      const ok = K['_' + name](...real) === 1;
      const p = K._klavor_result();
      const bytes = K.HEAPU8.slice(p, p + K._klavor_result_size());
      return { ok, bytes, text: () => decoder.decode(bytes) };
    } finally {
      held.forEach((p) => K._free(p));
    }
  }
  const api = {
    defaults: () => call('klavor_defaults').bytes,
    program: () => call('klavor_program').bytes,
    catalog: () => JSON.parse(call('klavor_catalog').text()),
    view: (t) => JSON.parse(call('klavor_view', t, t.length).text()),
    isTable: (t) => call('klavor_view', t, t.length).ok,
    edit: (t, slot, field, press, word) => call('klavor_edit', t, t.length, slot, field, press, word),
    open: (name, data) => call('klavor_open', name, data, data.length),
    export: (t, kind, name, force) => call('klavor_export', t, t.length, kind, name, force ? 1 : 0),
  };

  const toHex = (bytes) => Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
  function fromHex(hex) {
    if (typeof hex !== 'string' || !/^([0-9a-f]{2})*$/.test(hex)) return null;
    return Uint8Array.from(hex.match(/../g) || [], (h) => parseInt(h, 16));
  }

  // ---- Small helpers ---------------------------------------------------------------
  function el(tag, props, ...children) {
    const e = document.createElement(tag);
    Object.assign(e, props || {});
    for (const c of children) if (c !== null && c !== undefined) e.append(c);
    return e;
  }
  const plural = (n, one) => `${n === 0 ? 'no' : n} ${one}${n === 1 ? '' : 's'}`;
  const pressName = (i) => `${catalog.pressWords[i]} press`;
  const capital = (s) => s.charAt(0).toUpperCase() + s.slice(1);
  function say(text) {
    $('alert').textContent = '';
    $('status').textContent = text;
  }
  function warn(text) {
    $('status').textContent = '';
    $('alert').textContent = text;
  }
  function store(key, value) {
    try { localStorage.setItem(STORE + key, value); } catch (e) { /* storage off: nothing kept */ }
  }
  function stored(key) {
    try { return localStorage.getItem(STORE + key); } catch (e) { return null; }
  }

  // ---- Changing the table --------------------------------------------------------------
  function setTable(next, record) {
    if (record) {
      undoStack.push(table);
      if (undoStack.length > HISTORY) undoStack.shift();
      redoStack.length = 0;
    }
    table = next;
    store('table', toHex(table));
    render();
  }

  function edit(slot, field, press, word) {
    const r = api.edit(table, slot, field, press, word);
    if (!r.ok) return r.text();
    setTable(r.bytes, true);
    $('alert').textContent = '';
    return null;
  }

  function undo() {
    if (!undoStack.length) return;
    redoStack.push(table);
    setTable(undoStack.pop(), false);
    say('Undone.');
  }
  function redo() {
    if (!redoStack.length) return;
    undoStack.push(table);
    setTable(redoStack.pop(), false);
    say('Redone.');
  }

  // ---- What each button does, in short ---------------------------------------------------
  function findingsOf(slot) {
    return view.findings.filter((f) => f.slot === slot || f.others.includes(slot));
  }
  function countText(list) {
    const errors = list.filter((f) => f.error).length;
    const warnings = list.length - errors;
    const parts = [];
    if (errors) parts.push(plural(errors, 'error'));
    if (warnings) parts.push(plural(warnings, 'warning'));
    return parts.join(', ');
  }
  const modeText = (b) => b.modeWord;
  // Klavor's own codes are keys too: "Camera*3" (= Enter).
  const actionText = (p) => p.action + (p.sameKey ? ` (= ${p.sameKey})` : '');
  function sendsText(b) {
    if (b.mode !== 2) return '';
    return b.presses.map((p) => `${p.index + 1}\u00d7 ${actionText(p)}`).join(' \u00b7 ');
  }

  function fillSummary(button, b) {
    const found = findingsOf(b.slot);
    button.replaceChildren(...[
      el('span', { className: 'name', textContent: b.name }),
      el('span', { className: 'mode', textContent: modeText(b) }),
      b.mode === 2 ? el('span', { className: 'sends', textContent: sendsText(b) }) : null,
      found.length ? el('span', {
        className: 'badge ' + (found.some((f) => f.error) ? 'error' : 'warning'),
        textContent: (found.some((f) => f.error) ? '\u2715 ' : '\u26a0 ') + countText(found),
      }) : null].filter(Boolean));
    const pressesSaid = b.mode === 2
      ? b.presses.map((p) => `${pressName(p.index)} sends ${actionText(p)}`).join(', ')
      : '';
    button.setAttribute('aria-label', [b.name, modeText(b), pressesSaid, countText(found)].filter(Boolean).join('; '));
    button.setAttribute('aria-pressed', String(b.slot === selected));
  }

  // ---- Rendering ---------------------------------------------------------------------------
  function render() {
    view = api.view(table);
    for (const b of view.buttons) {
      fillSummary($('draw-' + b.slot), b);
      fillSummary($('list-' + b.slot), b);
    }
    document.querySelectorAll('svg .key').forEach((k) => k.classList.toggle('on', Number(k.dataset.slot) === selected));
    renderEditor();
    renderCheck();
    renderFiles();
    $('undo').disabled = !undoStack.length;
    $('redo').disabled = !redoStack.length;
    document.documentElement.dataset.renders = String(Number(document.documentElement.dataset.renders || 0) + 1);
  }

  function findingItem(f, where) {
    const kind = f.error ? 'Error' : 'Warning';
    return el('li', { className: 'finding ' + (f.error ? 'error' : 'warning') },
      el('strong', { textContent: (f.error ? '\u2715 ' : '\u26a0 ') + kind + (where ? ` (${where})` : '') + ': ' }),
      f.message);
  }

  function renderEditor() {
    const b = view.buttons[selected];
    $('editor-title').textContent = b.name;
    $('key-text').textContent = `Its own key: ${b.key}. `;
    for (const m of catalog.modes) {
      const radio = $('mode-' + m.mode);
      radio.checked = b.mode === m.mode;
    }
    const odd = $('mode-odd');
    odd.hidden = catalog.modes.some((m) => m.mode === b.mode);
    odd.textContent = odd.hidden ? '' : `It holds ${b.modeWord}, which the program takes as leave.`;
    $('presses-note').textContent = b.note
      ? capital(b.note) + '. What the presses would send:'
      : 'What each number of presses sends, and when:';

    const rows = $('press-rows').children;
    const own = view.findings.filter((f) => f.slot === selected);
    for (let i = 0; i < rows.length; i++) {
      const row = rows[i];
      const p = b.presses[i];
      row.hidden = !p;
      if (!p) continue;
      row.querySelector('.action').textContent = actionText(p);
      row.querySelector('.action').setAttribute('aria-label',
        `${capital(pressName(i))} sends ${actionText(p)}. Change it`);
      row.querySelector('.timing').textContent = p.timing ? capital(p.timing) + '.' : '';
      row.querySelector('.findings').replaceChildren(
        ...own.filter((f) => f.presses.includes(i)).map((f) => findingItem(f)));
    }
    const add = $('add-press');
    const used = b.presses.length;
    add.hidden = used >= catalog.pressWords.length;
    add.textContent = add.hidden ? '' : `Add a ${pressName(used)}`;
    const remove = $('remove-press');
    remove.hidden = used <= 1;
    remove.textContent = remove.hidden ? '' : `Remove the ${pressName(used - 1)}`;

    const general = view.findings.filter((f) =>
      (f.slot === selected && !f.presses.length) || (f.slot !== selected && f.others.includes(selected)));
    $('button-findings').replaceChildren(...general.map((f) =>
      findingItem(f, f.slot === selected ? '' : `from ${view.buttons[f.slot].name}`)));
  }

  function renderCheck() {
    const n = view.findings.length;
    $('check-summary').textContent = n
      ? `${capital(plural(view.errors, 'error'))}, ${plural(view.warnings, 'warning')}.`
      : 'No errors, no warnings: the phone will do what the buttons say.';
    $('check-list').replaceChildren(...view.findings.map((f) => {
      const b = view.buttons[f.slot];
      const where = b.name + (f.presses.length ? ', ' + f.presses.map((i) => pressName(i)).join(' and ') : '');
      const item = findingItem(f, where);
      item.append(' ', el('button', {
        type: 'button', className: 'small', textContent: `Edit ${b.name}`,
        onclick: () => select(f.slot, true),
      }));
      return item;
    }));
  }

  function renderFiles() {
    const blocked = view.errors > 0;
    $('blocked').hidden = !blocked;
    $('force-line').hidden = !blocked;
    if (!blocked) $('force').checked = false;
    $('download-reg').disabled = blocked && !$('force').checked;
    $('download-cab').disabled = blocked && !$('force').checked;
  }

  // ---- Building the page's fixed parts ----------------------------------------------------
  function build() {
    const list = $('button-list');
    catalog.buttons.forEach((name, slot) => {
      list.append(el('li', {}, el('button', { type: 'button', id: 'list-' + slot, className: 'summary' })));
    });
    document.querySelectorAll('[data-slot]').forEach((e) => {
      if (e.tagName === 'BUTTON') e.addEventListener('click', () => select(Number(e.dataset.slot), true));
    });
    list.addEventListener('click', (e) => {
      const b = e.target.closest('button');
      if (b) select(Number(b.id.slice(5)), true);
    });

    const modes = $('mode-options');
    for (const m of catalog.modes) {
      const id = 'mode-' + m.mode;
      modes.append(el('div', { className: 'mode-option' },
        el('input', { type: 'radio', name: 'mode', id, value: m.word }),
        el('label', { htmlFor: id }, el('strong', { textContent: capital(m.word) }), ' ',
          el('span', { textContent: m.sentence }))));
      $(id).addEventListener('change', () => report(edit(selected, 'mode', 0, m.word)));
    }

    const rows = $('press-rows');
    catalog.pressWords.forEach((word, i) => {
      const action = el('button', { type: 'button', className: 'action' });
      action.addEventListener('click', () => openPicker('action', i));
      rows.append(el('li', { className: 'press' },
        el('div', { className: 'press-head' },
          el('span', { className: 'press-word', textContent: capital(pressName(i)) + ' sends ' }), action),
        el('p', { className: 'timing' }),
        el('ul', { className: 'findings' })));
    });
    $('add-press').addEventListener('click', () => {
      const used = view.buttons[selected].presses.length;
      report(edit(selected, 'presses', 0, String(used)));
      const next = $('press-rows').children[used];
      if (next && !next.hidden) next.querySelector('.action').focus();
    });
    $('remove-press').addEventListener('click', () => {
      const used = view.buttons[selected].presses.length;
      report(edit(selected, 'presses', 0, String(used - 2)));
      if ($('remove-press').hidden) $('add-press').focus();
    });
    $('change-key').addEventListener('click', () => openPicker('key', 0));

    $('undo').addEventListener('click', undo);
    $('redo').addEventListener('click', redo);
    $('reset').addEventListener('click', () => {
      setTable(api.defaults(), true);
      say('Back to the built-in configuration, which leaves every button alone (Undo brings yours back).');
    });
    $('open-button').addEventListener('click', () => $('open-input').click());
    $('open-input').addEventListener('change', () => {
      const file = $('open-input').files[0];
      $('open-input').value = '';
      if (file) openFile(file);
    });
    $('download-cab').addEventListener('click', () => download('cab', 'Klavor.cab'));
    $('download-reg').addEventListener('click', () => download('reg', 'Klavor.reg'));
    $('download-text').addEventListener('click', () => download('text', 'Klavor.klavor'));
    $('force').addEventListener('change', renderFiles);

    buildPicker();
    document.addEventListener('keydown', onShortcut);
    setUpDrop();
    const exe = api.program();
    $('program-line').textContent =
      `The cabinet's klavor.exe is the phone build's this page carries (${exe.length.toLocaleString('en')} bytes).`;
  }

  function report(error) {
    if (error) warn(error);
  }

  function select(slot, focus) {
    selected = slot;
    store('slot', String(slot));
    render();
    if (focus) {
      $('editor-title').focus();
      $('editor').scrollIntoView({ block: 'nearest' });
    }
  }

  // ---- Undo and redo from the keyboard --------------------------------------------------
  function isUndo(e) {
    return (e.ctrlKey || e.metaKey) && !e.altKey && e.key.toLowerCase() === 'z' && !e.shiftKey;
  }
  function isRedo(e) {
    const k = e.key.toLowerCase();
    return (e.ctrlKey || e.metaKey) && !e.altKey && (k === 'y' || (k === 'z' && e.shiftKey));
  }
  function onShortcut(e) {
    if (!isUndo(e) && !isRedo(e)) return;
    // A text field keeps its own undo.
    if (e.target.matches && e.target.matches('input[type=text], input[type=search]')) return;
    e.preventDefault();
    if (isUndo(e)) undo(); else redo();
  }

  // ---- Files ---------------------------------------------------------------------------------
  async function openFile(file) {
    let data;
    try {
      data = new Uint8Array(await file.arrayBuffer());
    } catch (e) {
      warn(`${file.name}: cannot read: ${e.message}`);
      return;
    }
    const r = api.open(file.name, data);
    if (!r.ok) {
      warn(`Not opened. ${r.text()}`);
      return;
    }
    setTable(r.bytes, true);
    const v = view;
    say(`Opened ${file.name}` + (v.findings.length ? `: ${plural(v.errors, 'error')}, ${plural(v.warnings, 'warning')}, listed under Check.` : '.'));
  }

  function download(kind, name) {
    const r = api.export(table, kind, name, $('force').checked);
    if (!r.ok) {
      warn(r.text());
      return;
    }
    const url = URL.createObjectURL(new Blob([r.bytes], { type: 'application/octet-stream' }));
    const a = el('a', { href: url, download: name });
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(url), 10000);
    say(`${name} made (${r.bytes.length.toLocaleString('en')} bytes).`);
  }

  function setUpDrop() {
    const drop = $('drop');
    let depth = 0;
    const hasFiles = (e) => e.dataTransfer && Array.from(e.dataTransfer.types).includes('Files');
    document.addEventListener('dragenter', (e) => {
      if (!hasFiles(e)) return;
      depth++;
      drop.hidden = false;
    });
    document.addEventListener('dragleave', () => {
      if (--depth <= 0) { depth = 0; drop.hidden = true; }
    });
    document.addEventListener('dragover', (e) => { if (hasFiles(e)) e.preventDefault(); });
    document.addEventListener('drop', (e) => {
      depth = 0;
      drop.hidden = true;
      if (!hasFiles(e)) return;
      e.preventDefault();
      const file = e.dataTransfer.files[0];
      if (file) openFile(file);
    });
  }

  // ---- The key picker ------------------------------------------------------------------------
  const picker = { kind: 'action', press: 0, group: 0, listening: false, current: null };

  function pickerEntries() {
    // The key groups, then Klavor's own codes (actions only).
    const groups = catalog.groups.map((g) => ({
      name: g.name,
      entries: g.keys.map((k) => ({
        word: k.name,
        label: k.name,
        also: k.printed !== k.name ? k.printed : '',
        code: k.vk,
      })),
    }));
    if (picker.kind === 'action') {
      groups.push({
        name: "Klavor's own codes",
        entries: catalog.labels.map((l) => ({ word: l.word, label: l.word.replace(/"/g, ''), also: '', code: l.code })),
      });
    }
    return groups;
  }

  function buildPicker() {
    $('picker-search').addEventListener('input', fillPicker);
    $('picker-cancel').addEventListener('click', () => closePicker());
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
    const groups = pickerEntries();
    if (picker.group >= groups.length) picker.group = 0;
    set.replaceChildren(el('legend', { textContent: 'Show' }), ...groups.map((g, i) => {
      const id = 'picker-group-' + i;
      const input = el('input', { type: 'radio', name: 'picker-group', id, checked: i === picker.group });
      input.addEventListener('change', () => { picker.group = i; $('picker-search').value = ''; fillPicker(); });
      return el('span', { className: 'group-option' }, input, el('label', { htmlFor: id, textContent: capital(g.name) }));
    }));
  }

  function fillPicker() {
    const query = $('picker-search').value.trim().toLowerCase();
    const groups = pickerEntries();
    let entries;
    if (query) {
      const seen = new Set();
      entries = [];
      for (const g of groups)
        for (const e of g.entries)
          if (e.label.toLowerCase().includes(query) && !seen.has(e.word)) { seen.add(e.word); entries.push(e); }
      // Names that start with what was typed first.
      entries.sort((a, b) => Number(!a.label.toLowerCase().startsWith(query)) - Number(!b.label.toLowerCase().startsWith(query)));
    } else {
      entries = groups[picker.group].entries;
    }
    $('picker-empty').hidden = entries.length > 0;
    $('picker-keys').replaceChildren(...entries.map((e) => {
      const isCurrent = picker.current !== null && e.word.toLowerCase() === picker.current.toLowerCase();
      const b = el('button', { type: 'button', className: 'key' + (isCurrent ? ' current' : '') },
        el('span', { textContent: e.label }),
        e.also ? el('small', { textContent: ` = ${e.also}` }) : null);
      b.setAttribute('aria-label', e.label + (e.also ? `, the same key as ${e.also}` : '') +
        (isCurrent ? ', chosen now' : ''));
      if (isCurrent) b.setAttribute('aria-current', 'true');
      b.addEventListener('click', () => choose(e.word));
      return b;
    }));
  }

  function openPicker(kind, press) {
    const b = view.buttons[selected];
    picker.kind = kind;
    picker.press = press;
    const p = b.presses[press];
    picker.current = kind === 'key' ? b.key : p.base;
    $('picker-title').textContent = kind === 'key'
      ? `The key ${b.name} sends (now ${b.key})`
      : `What ${b.name}'s ${pressName(press)} sends (now ${p.action})`;
    $('picker-win-line').hidden = kind === 'key';
    $('picker-win').checked = kind === 'action' && p.win;
    $('picker-search').value = '';
    $('picker-hex').value = '';
    $('picker-error').textContent = '';
    // Start where the current choice is.
    const groups = pickerEntries();
    const at = groups.findIndex((g) => g.entries.some((e) => e.word.toLowerCase() === String(picker.current).toLowerCase()));
    picker.group = at >= 0 ? at : 0;
    fillGroups();
    fillPicker();
    $('picker').showModal();
    $('picker-search').focus();
  }

  function closePicker() {
    listen(false);
    if ($('picker').open) $('picker').close();
  }

  // A key name, label or code; the Win box holds the Windows key with it.
  function choose(word) {
    if (!word) {
      $('picker-error').textContent = 'Type a code first, such as 0x41.';
      return;
    }
    const win = picker.kind === 'action' && $('picker-win').checked;
    const field = picker.kind === 'key' ? 'key' : win ? 'win-action' : 'action';
    const error = edit(selected, field, picker.press, word);
    if (error) {
      $('picker-error').textContent = error;
      return;
    }
    closePicker();
    const target = picker.kind === 'key' ? $('change-key') : $('press-rows').children[picker.press].querySelector('.action');
    target.focus();
    say(picker.kind === 'key' ? `${view.buttons[selected].name}'s key is now ${view.buttons[selected].key}.`
      : `${capital(pressName(picker.press))} of ${view.buttons[selected].name} now sends ${view.buttons[selected].presses[picker.press].action}.`);
  }

  function listen(on) {
    picker.listening = on;
    $('picker-listen').textContent = on ? 'Stop listening' : 'Press a key to pick it';
    $('picker-listen').setAttribute('aria-pressed', String(on));
    $('picker-listening').textContent = on
      ? 'Listening: press the key (Esc stops; Ctrl+Z and Ctrl+Y stay undo and redo).'
      : '';
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

  // ---- Start ---------------------------------------------------------------------------------
  async function start() {
    K = await createKlavor();
    catalog = api.catalog();
    table = fromHex(stored('table'));
    if (!table || !api.isTable(table)) table = api.defaults();
    const slot = Number(stored('slot'));
    selected = Number.isInteger(slot) && slot >= 0 && slot < catalog.buttons.length ? slot : 0;
    build();
    render();
    document.documentElement.dataset.ready = 'true';
    window.klavorReadyAt = performance.now();
  }

  start().catch((e) => {
    document.documentElement.dataset.failed = 'true';
    warn('The page could not start: ' + e.message);
  });
})();
