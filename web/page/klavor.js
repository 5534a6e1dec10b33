// The configurator page's own script: events, drawing, files in and out,
// the simulated phone's session, sharing and printing, the language.
// Every rule about configurations (names, words, the check, timing, file
// formats, share codes, the cheat sheet) and everything the simulated phone
// does is the C++ code's, reached through the small C API in web/api; this
// script only shows what it says, in the words of strings.js.
'use strict';

(function () {
  const STORE = 'klavor-configurator.';  // every file:// page shares one origin
  const $ = (id) => document.getElementById(id);
  const encoder = new TextEncoder();
  const decoder = new TextDecoder();
  const MOD_WIN = 8;
  const MOD_SHIFT = 4;

  let K = null;          // the WebAssembly module
  let catalog = null;    // buttons, modes, press words, keys, labels
  let table = null;      // the 128-byte value being edited
  let view = null;       // what the library says of it
  let selected = 0;      // the button being edited
  let lang = 'en';
  const undoStack = [];
  const redoStack = [];
  const HISTORY = 200;

  // ---- Words ---------------------------------------------------------------------------
  function T(key, ...args) {
    const s = key in STRINGS[lang] ? STRINGS[lang][key] : STRINGS.en[key];
    return typeof s === 'function' ? s(...args) : s;
  }
  // A text with **bold** and `code` marked, as elements: nothing is parsed as HTML.
  function rich(target, text) {
    const parts = String(text).split(/(\*\*[^*]+\*\*|`[^`]+`)/).filter(Boolean).map((p) => {
      if (p.startsWith('**')) return el('strong', { textContent: p.slice(2, -2) });
      if (p.startsWith('`')) return el('code', { textContent: p.slice(1, -1) });
      return p;
    });
    target.replaceChildren(...parts);
  }
  function applyStrings() {
    document.documentElement.lang = lang;
    document.querySelectorAll('[data-t]').forEach((e) => {
      if (e.tagName === 'TITLE') e.textContent = T(e.dataset.t);
      else rich(e, T(e.dataset.t));
    });
    document.querySelectorAll('[data-t-label]').forEach((e) => e.setAttribute('aria-label', T(e.dataset.tLabel)));
    $('lang').value = lang;
  }

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
    shareCode: (t) => call('klavor_share_code', t, t.length).text(),
    shareRead: (text) => call('klavor_share_read', text),
    sheet: (t) => JSON.parse(call('klavor_sheet', t, t.length).text()),
    sessionStart: (t, title) => call('klavor_session_start', t, t.length, title),
    sessionFile: (name, data) => call('klavor_session_file', name, data, data.length),
    sessionReplay: (name, data) => call('klavor_session_replay', name, data, data.length),
    sessionPress: (t, slot, mods) => call('klavor_session_press', t, slot, mods),
    sessionTray: (t, what, item) => call('klavor_session_tray', t, what, item),
    sessionView: (now, all) => JSON.parse(call('klavor_session_view', now, all ? 1 : 0).text()),
    sessionScenario: () => call('klavor_session_scenario').bytes,
  };

  const toHex = (bytes) => Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
  function fromHex(hex) {
    if (typeof hex !== 'string' || !/^([0-9a-f]{2})*$/.test(hex)) return null;
    return Uint8Array.from(hex.match(/../g) || [], (h) => parseInt(h, 16));
  }
  const sameBytes = (a, b) => a.length === b.length && a.every((x, i) => x === b[i]);

  // ---- Small helpers ---------------------------------------------------------------
  function el(tag, props, ...children) {
    const e = document.createElement(tag);
    Object.assign(e, props || {});
    for (const c of children) if (c !== null && c !== undefined) e.append(c);
    return e;
  }
  const count = (n, what) => T('count', n, what);
  const pressName = (i) => T('press', i, catalog.pressWords[i]);
  const capital = (s) => s.charAt(0).toUpperCase() + s.slice(1);
  const number = (n) => n.toLocaleString(lang);
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
    tableChangedForSession();
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
    say(T('undone'));
  }
  function redo() {
    if (!redoStack.length) return;
    undoStack.push(table);
    setTable(redoStack.pop(), false);
    say(T('redone'));
  }

  // ---- What each button does, in short ---------------------------------------------------
  function findingsOf(slot) {
    return view.findings.filter((f) => f.slot === slot || f.others.includes(slot));
  }
  function countText(list) {
    const errors = list.filter((f) => f.error).length;
    const warnings = list.length - errors;
    const parts = [];
    if (errors) parts.push(count(errors, 'error'));
    if (warnings) parts.push(count(warnings, 'warning'));
    return parts.join(', ');
  }
  const modeText = (b) => T('modeWord', b.modeWord);
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
      ? b.presses.map((p) => T('sends', pressName(p.index), actionText(p))).join(', ')
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
    renderShare();
    renderSheet();
    $('undo').disabled = !undoStack.length;
    $('redo').disabled = !redoStack.length;
    document.documentElement.dataset.renders = String(Number(document.documentElement.dataset.renders || 0) + 1);
  }

  // The library's findings are in English, on every page.
  function findingItem(f, where) {
    const kind = f.error ? T('Error') : T('Warning');
    return el('li', { className: 'finding ' + (f.error ? 'error' : 'warning') },
      el('strong', { textContent: (f.error ? '\u2715 ' : '\u26a0 ') + kind + (where ? ` (${where})` : '') + ': ' }),
      el('span', { textContent: f.message, lang: 'en' }));
  }

  function renderEditor() {
    const b = view.buttons[selected];
    $('editor-title').textContent = b.name;
    $('key-text').textContent = T('keyText', b.key);
    catalog.modes.forEach((m, i) => {
      $('mode-' + m.mode).checked = b.mode === m.mode;
      $('mode-word-' + m.mode).textContent = capital(T('modeWord', m.word));
      $('mode-sentence-' + m.mode).textContent = T('modes')[i];
    });
    const odd = $('mode-odd');
    odd.hidden = catalog.modes.some((m) => m.mode === b.mode);
    odd.textContent = odd.hidden ? '' : T('oddMode', b.modeWord);
    const note = $('presses-note');
    note.lang = b.note ? 'en' : '';
    note.textContent = b.note ? T('pressesNote', capital(b.note)) : T('pressesPlain');

    const rows = $('press-rows').children;
    const own = view.findings.filter((f) => f.slot === selected);
    for (let i = 0; i < rows.length; i++) {
      const row = rows[i];
      const p = b.presses[i];
      row.hidden = !p;
      row.querySelector('.press-word').textContent = T('sendsRow', capital(pressName(i)));
      if (!p) continue;
      row.querySelector('.action').textContent = actionText(p);
      row.querySelector('.action').setAttribute('aria-label', T('changeIt', capital(pressName(i)), actionText(p)));
      row.querySelector('.timing').textContent = p.timing ? capital(p.timing) + '.' : '';
      row.querySelector('.findings').replaceChildren(
        ...own.filter((f) => f.presses.includes(i)).map((f) => findingItem(f)));
    }
    const add = $('add-press');
    const used = b.presses.length;
    add.hidden = used >= catalog.pressWords.length;
    add.textContent = add.hidden ? '' : T('addPress', pressName(used));
    const remove = $('remove-press');
    remove.hidden = used <= 1;
    remove.textContent = remove.hidden ? '' : T('removePress', pressName(used - 1));

    const general = view.findings.filter((f) =>
      (f.slot === selected && !f.presses.length) || (f.slot !== selected && f.others.includes(selected)));
    $('button-findings').replaceChildren(...general.map((f) =>
      findingItem(f, f.slot === selected ? '' : T('fromButton', view.buttons[f.slot].name))));
  }

  function renderCheck() {
    const n = view.findings.length;
    $('check-summary').textContent = n
      ? T('findingsSummary', capital(count(view.errors, 'error')), count(view.warnings, 'warning'))
      : T('noFindings');
    $('check-list').replaceChildren(...view.findings.map((f) => {
      const b = view.buttons[f.slot];
      const where = b.name + (f.presses.length ? ', ' + f.presses.map((i) => pressName(i)).join(T('and')) : '');
      const item = findingItem(f, where);
      item.append(' ', el('button', {
        type: 'button', className: 'small', textContent: T('editButton', b.name),
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
        el('label', { htmlFor: id }, el('strong', { id: 'mode-word-' + m.mode }), ' ',
          el('span', { id: 'mode-sentence-' + m.mode }))));
      $(id).addEventListener('change', () => report(edit(selected, 'mode', 0, m.word)));
    }

    const rows = $('press-rows');
    catalog.pressWords.forEach((word, i) => {
      const action = el('button', { type: 'button', className: 'action' });
      action.addEventListener('click', () => openPicker('action', i));
      rows.append(el('li', { className: 'press' },
        el('div', { className: 'press-head' }, el('span', { className: 'press-word' }), action),
        el('p', { className: 'timing', lang: 'en' }),
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
      say(T('backToDefaults'));
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
    $('lang').addEventListener('change', () => setLanguage($('lang').value, true));

    buildPicker();
    buildSession();
    buildShare();
    $('print').addEventListener('click', () => window.print());
    document.addEventListener('keydown', onShortcut);
    setUpDrop();
  }

  function renderProgramLine() {
    $('program-line').textContent = T('program', number(api.program().length));
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
  async function readFile(file) {
    try {
      return new Uint8Array(await file.arrayBuffer());
    } catch (e) {
      warn(T('cannotRead', file.name, e.message));
      return null;
    }
  }

  async function openFile(file) {
    const data = await readFile(file);
    if (!data) return;
    const r = api.open(file.name, data);
    if (!r.ok) {
      warn(T('notOpened', r.text()));
      return;
    }
    setTable(r.bytes, true);
    const v = view;
    say(v.findings.length ? T('openedWith', file.name, count(v.errors, 'error'), count(v.warnings, 'warning'))
      : T('opened', file.name));
  }

  // Gives the user a file, from their own action.
  function save(bytes, name) {
    const url = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
    const a = el('a', { href: url, download: name });
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(url), 10000);
  }

  function download(kind, name) {
    const r = api.export(table, kind, name, $('force').checked);
    if (!r.ok) {
      warn(r.text());
      return;
    }
    save(r.bytes, name);
    say(T('made', name, number(r.bytes.length)));
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
    set.replaceChildren(el('legend', { textContent: T('show') }), ...groups.map((g, i) => {
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
      b.setAttribute('aria-label', (e.also ? T('sameKeyAs', e.label, e.also) : e.label) + (isCurrent ? T('chosenNow') : ''));
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
      ? T('pickKeyTitle', b.name, b.key)
      : T('pickActionTitle', b.name, pressName(press), p.action);
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
      $('picker-error').textContent = T('typeCode');
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
    const b = view.buttons[selected];
    say(picker.kind === 'key' ? T('keyNow', b.name, b.key)
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

  // ---- Trying it on the simulated phone --------------------------------------------------------
  // The session is a scenario of the owner's inputs, each at its time since
  // the session began; the C++ side runs it on the simulated phone and says
  // what happened up to a moment. The clock is the browser's, or, with
  // ?clock=test in the address, one the tests move (window.klavorClock).
  const clock = { test: /[?&]clock=test(&|$)/.test(location.search), base: 0, at: 0 };
  const sim = {
    table: null, title: '', replay: null, lines: [], next: null, state: null, frame: 0, early: 0,
  };
  const now = () => (clock.test ? clock.at : Math.floor(performance.now() - clock.base));

  function buildSession() {
    const keys = $('sim-keys');
    catalog.buttons.forEach((name, slot) => {
      const b = el('button', { type: 'button', id: 'sim-key-' + slot, className: 'sim-key' });
      b.dataset.sim = String(slot);
      b.addEventListener('click', () => simPress(slot, heldMods()));
      keys.append(b);
    });
    for (const id of ['sim-win', 'sim-shift']) {
      $(id).addEventListener('click', () => $(id).setAttribute('aria-pressed',
        String($(id).getAttribute('aria-pressed') !== 'true')));
    }
    $('sim-phone').addEventListener('keydown', (e) => {
      const m = /^(Digit|Numpad)([1-8])$/.exec(e.code);
      if (!m || e.ctrlKey || e.repeat) return;
      e.preventDefault();
      // Alt (or the system's own Windows or Command key) stands for Win.
      const mods = e.altKey || e.metaKey ? MOD_WIN : e.shiftKey ? MOD_SHIFT : heldMods();
      simPress(Number(m[2]) - 1, mods);
    });
    $('sim-tray').addEventListener('click', () => simTray('tap', ''));
    $('sim-restart').addEventListener('click', () => startSession());
    $('sim-stale-restart').addEventListener('click', () => startSession());
    $('sim-save').addEventListener('click', () => {
      if (restartTimer) restartIfEmpty();
      const name = sim.replay || 'session.scenario';
      save(api.sessionScenario(), name);
      say(T('saved', name));
    });
    $('sim-open').addEventListener('click', () => $('sim-input').click());
    $('sim-input').addEventListener('change', async () => {
      const files = Array.from($('sim-input').files);
      $('sim-input').value = '';
      if (files.length) await replayFiles(files);
    });
    $('sim-all').addEventListener('click', () => setClock(sim.state.end));
    $('sim-earlier').addEventListener('click', () => {
      $('sim-timeline').classList.add('all');
      $('sim-earlier').hidden = true;
    });
    if (clock.test) {
      window.klavorClock = {
        advance: (ms) => {
          if (restartTimer) restartIfEmpty();
          clock.at += ms;
          simTick();
        },
        get now() { return clock.at; },
      };
    } else {
      const loop = () => { simTick(); sim.frame = requestAnimationFrame(loop); };
      sim.frame = requestAnimationFrame(loop);
    }
  }

  function heldMods() {
    if ($('sim-win').getAttribute('aria-pressed') === 'true') return MOD_WIN;
    if ($('sim-shift').getAttribute('aria-pressed') === 'true') return MOD_SHIFT;
    return 0;
  }

  function setClock(t) {
    if (clock.test) clock.at = t;
    else clock.base = performance.now() - t;
    simUpdate();
  }

  function startSession() {
    clearTimeout(restartTimer);
    restartTimer = 0;
    $('sim-timeline').classList.remove('all');
    sim.table = table;
    sim.title = lang === 'ru' ? '\u0422\u0435\u043b\u0435\u0444\u043e\u043d' : 'Phone';
    sim.replay = null;
    api.sessionStart(table, sim.title);
    setClock(0);
  }

  async function replayFiles(files) {
    const main = files.find((f) => /\.scenario$/i.test(f.name)) || files[0];
    const datas = [];
    for (const f of files) {
      const data = await readFile(f);
      if (!data) return;
      datas.push([f, data]);
    }
    for (const [f, data] of datas) if (f !== main) api.sessionFile(f.name, data);
    const r = api.sessionReplay(main.name, datas.find(([f]) => f === main)[1]);
    if (!r.ok) {
      warn(T('notOpened', r.text()));
      return;
    }
    sim.replay = main.name;
    sim.table = null;
    $('sim-timeline').classList.remove('all');
    setClock(0);
    say(T('replaying', main.name));
  }

  // A session with nothing in it yet simply starts again with the change,
  // once the edits pause: the edit's check is drawn first, and a run of
  // quick edits starts it once. A press or a tap before then starts it
  // at once, so that it goes to the program as configured now.
  let restartTimer = 0;
  function tableChangedForSession() {
    if (!sim.state || sim.replay) return;
    const changed = !sameBytes(sim.table, table);
    if (changed && sim.state.inputs === 0) {
      clearTimeout(restartTimer);
      restartTimer = setTimeout(restartIfEmpty, 150);
    } else {
      $('sim-stale').hidden = !changed;
    }
  }
  function restartIfEmpty() {
    clearTimeout(restartTimer);
    restartTimer = 0;
    if (sim.state && !sim.replay && sim.state.inputs === 0 && !sameBytes(sim.table, table)) startSession();
  }

  function simPress(slot, mods) {
    if (restartTimer) restartIfEmpty();
    if (sim.replay || !sim.state || sim.state.exited) return;
    const r = api.sessionPress(now(), slot, mods);
    if (!r.ok) { warn(r.text()); return; }
    simUpdate();
  }

  function simTray(what, item) {
    if (restartTimer) restartIfEmpty();
    const r = api.sessionTray(now(), what, item);
    if (!r.ok) { warn(r.text()); return; }
    simUpdate();
  }

  // Each frame: the clock, and what the next line's time brings.
  function simTick() {
    if (!sim.state) return;
    if (sim.next !== null && now() >= sim.next) simUpdate();
    else renderClock();
  }

  // What the session's run says up to now: the lines that changed or came
  // since the last look, the sequence waiting, the screen.
  function simUpdate(all) {
    const v = api.sessionView(now(), !!all);
    sim.state = v;
    sim.next = v.next === undefined ? null : v.next;
    const list = $('sim-timeline');
    if (v.error) {
      sim.lines = [];
      list.replaceChildren();
      warn(v.error);
    } else {
      sim.lines.length = Math.min(sim.lines.length, v.from);
      while (list.children.length > v.from) list.lastElementChild.remove();
      for (const line of v.lines) {
        sim.lines.push(line);
        list.append(lineItem(line, v));
      }
      shortenTimeline();
      // The newest line in sight, without moving the page.
      if (v.lines.length) list.scrollTop = list.scrollHeight;
    }
    renderSession();
  }

  // A long session's earlier lines are set aside (kept, not laid out), so
  // that a press costs the same at ten minutes as at ten seconds.
  const SHOWN_LINES = 300;
  function shortenTimeline() {
    const list = $('sim-timeline');
    const lines = list.children;
    const first = Math.max(0, lines.length - SHOWN_LINES);
    for (let i = Math.min(sim.early, lines.length); i < first; i++) lines[i].classList.add('early');
    for (let i = first; i < Math.min(sim.early, lines.length); i++) lines[i].classList.remove('early');
    sim.early = first;
    const more = $('sim-earlier');
    more.hidden = first === 0 || list.classList.contains('all');
    more.textContent = T('earlierLines', first);
  }

  function lineItem(line, v) {
    const li = el('li', { className: 'line' + (line.last && !v.exited ? ' end' : '') });
    li.dataset.ms = String(line.t);
    li.append(el('span', { className: 'text', textContent: line.text }));
    if (line.note) {
      li.classList.add('note-' + line.note.kind);
      li.append(el('span', { className: 'note', textContent: noteText(line.note), lang }));
    }
    return li;
  }

  function noteText(n) {
    if (n.kind === 'sent') {
      const gaps = n.presses.slice(1).map((t, i) => t - n.presses[i]);
      return '\u2190 ' + T('noteSent', n.button, n.presses.length, gaps);
    }
    let text = T('notePress', n.button, n.n, n.gap) + (n.injected ? T('noteInjected') : '');
    if (n.late) text += '; ' + T('noteLate', n.late.gap, n.late.within, pressName(n.late.index), n.late.sentAt);
    if (n.drops) text += '; ' + T('noteDrops', n.drops.button, n.drops.presses);
    return text;
  }

  function renderClock() {
    const t = now();
    $('sim-clock').textContent = `${(t / 1000).toFixed(1)} s`;
    const p = sim.state && sim.state.pending;
    if (p && p.due !== undefined) $('sim-due').textContent = T('pendingDue', p.action, sec(p.due), sec(Math.max(0, p.due - t)));
  }

  function renderSession() {
    const v = sim.state;
    const t = now();
    const off = !!sim.replay || v.exited || !!v.error;
    document.querySelectorAll('.sim-key').forEach((b) => { if (b.disabled !== off) b.disabled = off; });
    $('sim-app-title').textContent = sim.replay ? sim.replay : `"${sim.title}"`;
    $('sim-tray').hidden = !v.tray || !!v.modal || off;
    $('sim-all').hidden = !sim.replay || t >= v.end;
    $('sim-stale').hidden = !!sim.replay || !sim.table || sameBytes(sim.table, table);
    $('sim-state').textContent = v.error ? '' : sim.replay ? T('simReplay', sim.replay, sec(v.end))
      : v.exited ? T('simExited', v.exitCode) : T('simRunning', sim.title);

    // What waits to be sent.
    const pending = $('sim-pending');
    const p = v.pending;
    if (!p) {
      pending.replaceChildren(el('p', { textContent: T('simNothing') }));
    } else {
      const parts = [el('strong', { textContent: T('pendingHead', p.button, p.presses) }), ' '];
      if (p.due !== undefined) {
        parts.push(el('span', { id: 'sim-due' }),
          p.index < p.count ? T('pendingMore') : T('pendingLast'));
      } else {
        parts.push(T('pendingWaits'));
      }
      pending.replaceChildren(el('p', {}, ...parts));
    }

    // The screen: the menu or the box in front, and the keys the application got.
    const modal = $('sim-modal');
    modal.hidden = !v.modal || off;
    if (v.modal && !off) {
      if (v.modal.kind === 'menu') {
        modal.replaceChildren(el('p', { className: 'sim-modal-title', textContent: T('menu') }),
          ...v.modal.items.map((item) => el('button', {
            type: 'button', className: 'small', textContent: item, lang: 'en', onclick: () => simTray('choose', item),
          })),
          el('button', { type: 'button', className: 'small', textContent: T('dismiss'), onclick: () => simTray('dismiss', '') }));
      } else {
        modal.replaceChildren(el('p', { className: 'sim-modal-title', textContent: v.modal.caption, lang: 'en' }),
          ...v.modal.items.map((line) => el('p', { textContent: line, lang: 'en' })),
          el('button', { type: 'button', className: 'small', textContent: T('ok'), onclick: () => simTray('close', '') }));
      }
    }
    const got = sim.lines.filter((l) => l.keys).slice(-4);
    $('sim-gets').replaceChildren(...got.map((l) => el('li', { textContent: l.text.trim(), lang: 'en' })));
    renderClock();
  }

  // ---- Sharing ---------------------------------------------------------------------------------
  function buildShare() {
    const copy = (id) => {
      const field = $(id);
      const done = () => say(T('copied'));
      const byHand = () => { field.focus(); field.select(); say(T('copyByHand')); };
      if (navigator.clipboard && navigator.clipboard.writeText) navigator.clipboard.writeText(field.value).then(done, byHand);
      else byHand();
    };
    $('share-copy-link').addEventListener('click', () => copy('share-link'));
    $('share-copy-code').addEventListener('click', () => copy('share-code'));
    const paste = () => { if ($('share-paste').value.trim()) openShared($('share-paste').value); };
    $('share-open').addEventListener('click', paste);
    $('share-paste').addEventListener('keydown', (e) => { if (e.key === 'Enter') { e.preventDefault(); paste(); } });
    window.addEventListener('hashchange', () => openFragment());
  }

  function renderShare() {
    const code = api.shareCode(table);
    $('share-code').value = code;
    // The page's address alone: a test's ?clock=test is not passed on.
    $('share-link').value = location.href.split(/[?#]/)[0] + '#' + code;
  }

  function shareProblem(p) {
    if (p.problem === 'version') return T('shareVersion', p.version);
    if (p.problem === 'damaged') return T('shareDamaged');
    return T('shareForeign');
  }

  // A code or a whole link. A refused one changes nothing, stored or shown.
  function openShared(text) {
    const r = api.shareRead(text);
    if (!r.ok) {
      warn(T('sharedRefused', shareProblem(JSON.parse(r.text()))));
      return false;
    }
    setTable(r.bytes, true);
    say(T('sharedOpened'));
    return true;
  }

  // The page opened with a fragment: a configuration, unless it only names
  // a place on the page (the skip link's).
  function openFragment() {
    const fragment = location.hash.slice(1);
    if (!fragment) return;
    let id = fragment;
    try { id = decodeURIComponent(fragment); } catch (e) { /* not a place then */ }
    if (document.getElementById(id)) return;
    // Opened once: a reload keeps the edits made since, not the link's table.
    if (openShared(fragment)) history.replaceState(null, '', location.pathname + location.search);
  }

  // ---- The cheat sheet -----------------------------------------------------------------------
  function renderSheet() {
    const lines = api.sheet(table);
    const plain = (s) => s.replace(/"/g, '');
    $('sheet-lines').replaceChildren(...(lines.length ? lines.map((l) => {
      const said = l.takenBy >= 0
        ? T('sheetTaken', catalog.buttons[l.takenBy], l.takerSends)
        : l.sends.map((s) => `${T('sheetPresses', s.presses)}: ${plain(s.action)}${s.sameKey ? ` (= ${s.sameKey})` : ''}`).join('; ');
      return el('li', {}, el('strong', { textContent: l.button }), ' \u2014 ', said);
    }) : [el('li', { textContent: T('sheetNone') })]));
  }

  // ---- The language ----------------------------------------------------------------------------
  function setLanguage(next, chosen) {
    lang = STRINGS[next] ? next : 'en';
    if (chosen) store('lang', lang);
    applyStrings();
    document.querySelectorAll('.sim-key').forEach((b) => {
      const slot = Number(b.dataset.sim);
      b.replaceChildren(el('kbd', { textContent: String(slot + 1) }), ' ', catalog.buttons[slot]);
      b.setAttribute('aria-label', T('simKeyLabel', slot + 1, catalog.buttons[slot]));
    });
    listen(picker.listening);
    renderProgramLine();
    render();
    if (sim.state) {
      $('sim-timeline').replaceChildren();
      sim.lines = [];
      sim.early = 0;
      simUpdate(true);
    }
  }

  function browserLanguage() {
    const wanted = stored('lang') || (navigator.languages || [navigator.language]).map((l) => String(l).slice(0, 2))
      .find((l) => STRINGS[l]);
    return STRINGS[wanted] ? wanted : 'en';
  }

  // ---- Start ---------------------------------------------------------------------------------
  async function start() {
    lang = browserLanguage();
    applyStrings();
    K = await createKlavor();
    catalog = api.catalog();
    table = fromHex(stored('table'));
    if (!table || !api.isTable(table)) table = api.defaults();
    const slot = Number(stored('slot'));
    selected = Number.isInteger(slot) && slot >= 0 && slot < catalog.buttons.length ? slot : 0;
    build();
    setLanguage(lang, false);
    openFragment();
    window.klavorReadyAt = performance.now();
    // The simulated phone starts in the next task: its first run (the
    // program's code compiled on first use) need not hold up the editor.
    await new Promise((done) => setTimeout(done, 0));
    startSession();
    window.klavorPhoneAt = performance.now();
    document.documentElement.dataset.ready = 'true';
  }

  start().catch((e) => {
    document.documentElement.dataset.failed = 'true';
    warn(T('cannotStart', e.message));
  });
})();
