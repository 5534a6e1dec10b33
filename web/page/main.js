// The configurator page's start: the WebAssembly module, the table kept
// from the last visit, the page's parts built and drawn, then the
// simulated phone's session. Also what belongs to the page as a whole:
// the toolbar, undo and redo from the keyboard, and the language.
//
// Every rule about configurations (names, words, the check, timing, file
// formats, share codes, the cheat sheet) and everything the simulated phone
// does is the C++ code's, reached through the C API in web/api (wasm.js);
// the page's script only shows what it says, in the words of strings.js.
'use strict';

(function (page) {
  const { $, say, warn } = page.dom;
  const { T } = page.i18n;
  const { isUndo, isRedo } = page.history;

  // Everything that shows the table, drawn again.
  function render() {
    page.editor.render();
    page.files.render();
    page.share.render();
    $('undo').disabled = !page.table.canUndo;
    $('redo').disabled = !page.table.canRedo;
    document.documentElement.dataset.renders = String(Number(document.documentElement.dataset.renders || 0) + 1);
  }

  function undo() {
    if (page.table.undo()) say(T('undone'));
  }
  function redo() {
    if (page.table.redo()) say(T('redone'));
  }
  function onShortcut(e) {
    if (!isUndo(e) && !isRedo(e)) return;
    // A text field keeps its own undo.
    if (e.target.matches && e.target.matches('input[type=text], input[type=search]')) return;
    e.preventDefault();
    if (isUndo(e)) undo(); else redo();
  }

  function setLanguage(next, chosen) {
    const lang = page.i18n.setLanguage(next);
    if (chosen) page.store.set('lang', lang);
    page.i18n.applyStrings();
    page.picker.relabel();
    page.files.renderProgramLine();
    render();
    page.sessionView.relabel();
  }

  function build() {
    page.table.onChange(render);  // first: the session hears of a change after it is drawn
    page.editor.build(Number(page.store.get('slot')));
    $('undo').addEventListener('click', undo);
    $('redo').addEventListener('click', redo);
    $('reset').addEventListener('click', () => {
      page.table.set(page.api.defaults(), true);
      say(T('backToDefaults'));
    });
    $('lang').addEventListener('change', () => setLanguage($('lang').value, true));
    page.files.build();
    page.picker.build();
    page.sessionView.build();
    page.share.build();
    document.addEventListener('keydown', onShortcut);
  }

  page.render = render;

  async function start() {
    page.store = page.storage.open(() => window.localStorage);
    page.i18n.setLanguage(page.i18n.pick(page.store.get('lang'), navigator.languages || [navigator.language]));
    page.i18n.applyStrings();
    page.api = page.wasm.connect(await createKlavor());
    page.catalog = page.api.catalog();
    page.table.load();
    build();
    setLanguage(page.i18n.lang, false);
    page.share.openFragment();
    window.klavorReadyAt = performance.now();
    // The simulated phone starts in the next task: its first run (the
    // program's code compiled on first use) need not hold up the editor.
    await new Promise((done) => setTimeout(done, 0));
    page.sessionView.start();
    window.klavorPhoneAt = performance.now();
    document.documentElement.dataset.ready = 'true';
  }

  start().catch((e) => {
    document.documentElement.dataset.failed = 'true';
    warn(T('cannotStart', e.message));
  });
})(page);
