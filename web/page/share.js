// Passing a configuration on: the link with the share code in its
// fragment, the code alone, a code or link pasted, a link opened; and the
// cheat sheet. The codes and the sheet's lines are the library's.
'use strict';

(function (page) {
  const { $, el, say, warn } = page.dom;
  const { T } = page.i18n;

  function build() {
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
    $('print').addEventListener('click', () => window.print());
  }

  function render() {
    const code = page.api.shareCode(page.table.bytes);
    $('share-code').value = code;
    // The page's address alone: a test's ?clock=test is not passed on.
    $('share-link').value = location.href.split(/[?#]/)[0] + '#' + code;
    renderSheet();
  }

  function problem(p) {
    if (p.problem === 'version') return T('shareVersion', p.version);
    if (p.problem === 'damaged') return T('shareDamaged');
    return T('shareForeign');
  }

  // A code or a whole link. A refused one changes nothing, stored or shown.
  function openShared(text) {
    const r = page.api.shareRead(text);
    if (!r.ok) {
      warn(T('sharedRefused', problem(JSON.parse(r.text()))));
      return false;
    }
    page.table.set(r.bytes, true);
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

  // One line per captured button: what one, two, three... presses send.
  function renderSheet() {
    const lines = page.api.sheet(page.table.bytes);
    const plain = (s) => s.replace(/"/g, '');
    $('sheet-lines').replaceChildren(...(lines.length ? lines.map((l) => {
      const said = l.takenBy >= 0
        ? T('sheetTaken', page.catalog.buttons[l.takenBy], l.takerSends)
        : l.sends.map((s) => `${T('sheetPresses', s.presses)}: ${plain(s.action)}${s.sameKey ? ` (= ${s.sameKey})` : ''}`).join('; ');
      return el('li', {}, el('strong', { textContent: l.button }), ' \u2014 ', said);
    }) : [el('li', { textContent: T('sheetNone') })]));
  }

  page.share = { build, render, openFragment };
})(page);
