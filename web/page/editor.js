// The eight buttons (drawn on the phone and listed) and the editor of the
// one chosen: its mode, what each number of presses sends, its key, and
// what the check says of it; then the whole check's list. All of it as the
// library's view of the table says.
'use strict';

(function (page) {
  const { $, el } = page.dom;
  const { T, capital, count, pressName } = page.i18n;
  const CAPTURE = 2;  // the mode that counts presses
  let selected = 0;   // the button being edited

  // ---- What each button does, in short ------------------------------------------
  function findingsOf(slot) {
    return page.table.view.findings.filter((f) => f.slot === slot || f.others.includes(slot));
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
    if (b.mode !== CAPTURE) return '';
    return b.presses.map((p) => `${p.index + 1}\u00d7 ${actionText(p)}`).join(' \u00b7 ');
  }
  // A sign beside the words, so that colour is not all that tells them apart.
  function signed(error, text) {
    const sign = el('span', { textContent: error ? '\u2715 ' : '\u26a0 ' });
    sign.setAttribute('aria-hidden', 'true');
    return [sign, text];
  }

  // A button's name is what it shows, in the order shown; what each press
  // sends, in words, is its description.
  function fillSummary(button, b) {
    const found = findingsOf(b.slot);
    const error = found.some((f) => f.error);
    const sends = sendsText(b);
    const counted = countText(found);
    const said = b.mode === CAPTURE ? b.presses.map((p) => T('sends', pressName(p.index), actionText(p))).join(', ') : '';
    // Spaces between the parts, as a reader of the text takes them (the
    // layout sets them apart anyway).
    const parts = [
      el('span', { className: 'name', textContent: b.name }),
      el('span', { className: 'mode', textContent: modeText(b) }),
      sends ? el('span', { className: 'sends', textContent: sends }) : null,
      counted ? el('span', { className: 'badge ' + (error ? 'error' : 'warning') }, ...signed(error, counted)) : null,
      said ? el('span', { id: button.id + '-says', hidden: true, textContent: said }) : null,
    ].filter(Boolean);
    button.replaceChildren(...parts.flatMap((part, i) => (i ? [' ', part] : [part])));
    button.setAttribute('aria-label', [`${b.name} \u2014 ${modeText(b)}`, sends, counted].filter(Boolean).join('; '));
    if (said) button.setAttribute('aria-describedby', button.id + '-says');
    else button.removeAttribute('aria-describedby');
    button.setAttribute('aria-pressed', String(b.slot === selected));
  }

  // The library's findings are in English, on every page.
  function findingItem(f, where) {
    const kind = f.error ? T('Error') : T('Warning');
    return el('li', { className: 'finding ' + (f.error ? 'error' : 'warning') },
      el('strong', { textContent: (f.error ? '\u2715 ' : '\u26a0 ') + kind + (where ? ` (${where})` : '') + ': ' }),
      el('span', { textContent: f.message, lang: 'en' }));
  }

  // ---- Drawing ------------------------------------------------------------------------
  function render() {
    const view = page.table.view;
    for (const b of view.buttons) {
      fillSummary($('draw-' + b.slot), b);
      fillSummary($('list-' + b.slot), b);
    }
    document.querySelectorAll('svg .key').forEach((k) => k.classList.toggle('on', Number(k.dataset.slot) === selected));
    renderEditor(view);
    renderCheck(view);
  }

  function renderEditor(view) {
    const { catalog } = page;
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

  function renderCheck(view) {
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

  // ---- Choosing and changing --------------------------------------------------------
  function select(slot, focus) {
    selected = slot;
    page.store.set('slot', String(slot));
    page.render();
    if (focus) {
      $('editor-title').focus();
      $('editor').scrollIntoView({ block: 'nearest' });
    }
  }

  // A change to the button being edited: null, or why the library refused it.
  function change(field, press, word) {
    const error = page.table.edit(selected, field, press, word);
    if (!error) $('alert').textContent = '';
    return error;
  }

  // The buttons, the modes and the press rows, once the catalog is known.
  function build(slot) {
    const { catalog } = page;
    selected = Number.isInteger(slot) && slot >= 0 && slot < catalog.buttons.length ? slot : 0;
    const list = $('button-list');
    catalog.buttons.forEach((name, i) => {
      list.append(el('li', {}, el('button', { type: 'button', id: 'list-' + i, className: 'summary' })));
    });
    document.querySelectorAll('button[data-slot]').forEach((e) => {
      e.addEventListener('click', () => select(Number(e.dataset.slot), true));
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
      $(id).addEventListener('change', () => page.dom.report(change('mode', 0, m.word)));
    }

    const rows = $('press-rows');
    catalog.pressWords.forEach((word, i) => {
      const action = el('button', { type: 'button', className: 'action' });
      action.addEventListener('click', () => page.picker.open('action', i));
      rows.append(el('li', { className: 'press' },
        el('div', { className: 'press-head' }, el('span', { className: 'press-word' }), action),
        el('p', { className: 'timing', lang: 'en' }),
        el('ul', { className: 'findings' })));
    });
    const used = () => page.table.view.buttons[selected].presses.length;
    $('add-press').addEventListener('click', () => {
      const n = used();
      page.dom.report(change('presses', 0, String(n)));
      const next = $('press-rows').children[n];
      if (next && !next.hidden) next.querySelector('.action').focus();
    });
    $('remove-press').addEventListener('click', () => {
      page.dom.report(change('presses', 0, String(used() - 2)));
      if ($('remove-press').hidden) $('add-press').focus();
    });
    $('change-key').addEventListener('click', () => page.picker.open('key', 0));
  }

  page.editor = {
    build, render, select, change, actionText,
    get selected() { return selected; },
  };
})(page);
