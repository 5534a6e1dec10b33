// Files in and out: the one way to choose files (a button with a hidden
// file input behind it), a file dropped on the page, reading them into
// bytes, and the downloads, handed to the user from their own click.
'use strict';

(function (page) {
  const { $, el, say, warn } = page.dom;
  const { T, count, number } = page.i18n;

  // `button` opens the system's file chooser; the files chosen go to `open`.
  function chooser(button, { id, accept, multiple }, open) {
    const input = el('input', { type: 'file', id, className: 'hidden-input', tabIndex: -1, accept, multiple: !!multiple });
    input.setAttribute('aria-hidden', 'true');
    $(button).after(input);
    $(button).addEventListener('click', () => input.click());
    input.addEventListener('change', () => {
      const files = Array.from(input.files);
      input.value = '';
      if (files.length) open(files);
    });
  }

  // The file's bytes, or null when it cannot be read (and the page says so).
  async function read(file) {
    try {
      return new Uint8Array(await file.arrayBuffer());
    } catch (e) {
      warn(T('cannotRead', file.name, e.message));
      return null;
    }
  }

  // A configuration in any form klavorcfg reads; a bad one changes nothing.
  async function openConfiguration([file]) {
    const data = await read(file);
    if (!data) return;
    const r = page.api.open(file.name, data);
    if (!r.ok) {
      warn(T('notOpened', r.text()));
      return;
    }
    page.table.set(r.bytes, true);
    const v = page.table.view;
    say(v.findings.length ? T('openedWith', file.name, count(v.errors, 'error'), count(v.warnings, 'warning'))
      : T('opened', file.name));
  }

  // Gives the user a file.
  function save(bytes, name) {
    const url = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
    const a = el('a', { href: url, download: name });
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(url), 10000);
  }

  function download(kind, name) {
    const r = page.api.export(page.table.bytes, kind, name, $('force').checked);
    if (!r.ok) {
      warn(r.text());
      return;
    }
    save(r.bytes, name);
    say(T('made', name, number(r.bytes.length)));
  }

  // While the check finds an error, no .cab or .reg unless made anyway.
  function render() {
    const blocked = page.table.view.errors > 0;
    $('blocked').hidden = !blocked;
    $('force-line').hidden = !blocked;
    if (!blocked) $('force').checked = false;
    $('download-reg').disabled = blocked && !$('force').checked;
    $('download-cab').disabled = blocked && !$('force').checked;
  }

  function renderProgramLine() {
    $('program-line').textContent = T('program', page.api.program().length, page.api.setupProgram().length);
  }

  // A file dragged over the page shows where to drop it; dropped, it opens.
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
      const files = Array.from(e.dataTransfer.files);
      if (files.length) openConfiguration(files);
    });
  }

  function build() {
    chooser('open-button', { id: 'open-input', accept: '.klavor,.txt,.reg,.bin,.cab' }, openConfiguration);
    $('download-cab').addEventListener('click', () => download('cab', 'Klavor.cab'));
    $('download-reg').addEventListener('click', () => download('reg', 'Klavor.reg'));
    $('download-text').addEventListener('click', () => download('text', 'Klavor.klavor'));
    $('force').addEventListener('change', render);
    setUpDrop();
  }

  page.files = { build, render, renderProgramLine, chooser, read, save };
})(page);
