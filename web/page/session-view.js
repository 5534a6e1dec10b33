// The try-it panel: the simulated phone's buttons, tray and screen, what
// waits to be sent, and the timeline in klavor-sim's words, with notes
// naming the presses behind each line. The rules are session.js's.
'use strict';

(function (page) {
  const { $, el, say, warn } = page.dom;
  const { T, pressName } = page.i18n;
  const { MOD_WIN, MOD_SHIFT } = page.session;
  const SHOWN_LINES = 300;  // a long session lays out only its last lines
  let session = null;
  let lines = [];           // the timeline's lines so far
  let early = 0;            // how many of them are set aside

  // ---- The timeline ---------------------------------------------------------------
  // Told again from its first line: for a new session (its earlier lines
  // set aside again), or in another language.
  function retell(newSession) {
    const list = $('sim-timeline');
    if (newSession) list.classList.remove('all');
    list.replaceChildren();
    lines = [];
    early = 0;
  }

  // What the session's run says up to now, drawn: the lines that changed
  // or came since the last look, what waits, the screen.
  function update(all) {
    const v = session.view(all);
    const list = $('sim-timeline');
    if (v.error) {
      retell(false);
      warn(v.error);
    } else {
      lines.length = Math.min(lines.length, v.from);
      while (list.children.length > v.from) list.lastElementChild.remove();
      for (const line of v.lines) {
        lines.push(line);
        list.append(lineItem(line, v));
      }
      shorten();
      // The newest line in sight, without moving the page.
      if (v.lines.length) list.scrollTop = list.scrollHeight;
    }
    render();
  }

  // A long session's earlier lines are set aside (kept, not laid out), so
  // that a press costs the same at ten minutes as at ten seconds.
  function shorten() {
    const list = $('sim-timeline');
    const items = list.children;
    const first = Math.max(0, items.length - SHOWN_LINES);
    for (let i = Math.min(early, items.length); i < first; i++) items[i].classList.add('early');
    for (let i = first; i < Math.min(early, items.length); i++) items[i].classList.remove('early');
    early = first;
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
      li.append(el('span', { className: 'note', textContent: noteText(line.note), lang: page.i18n.lang }));
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

  // ---- The phone and what waits ---------------------------------------------------
  function renderClock() {
    const t = session.clock.now();
    $('sim-clock').textContent = `${(t / 1000).toFixed(1)} s`;
    const p = session.state && session.state.pending;
    if (p && p.due !== undefined) $('sim-due').textContent = T('pendingDue', p.action, sec(p.due), sec(Math.max(0, p.due - t)));
  }

  // The banner offering a restart when the table has changed under a session.
  function renderStale() {
    $('sim-stale').hidden = !session.stale();
  }

  function render() {
    const v = session.state;
    const replay = session.replaying;
    const off = !!replay || v.exited || !!v.error;
    document.querySelectorAll('.sim-key').forEach((b) => { if (b.disabled !== off) b.disabled = off; });
    $('sim-app-title').textContent = replay || `"${session.title}"`;
    $('sim-tray').hidden = !v.tray || !!v.modal || off;
    $('sim-all').hidden = !replay || session.clock.now() >= v.end;
    renderStale();
    $('sim-state').textContent = v.error ? '' : replay ? T('simReplay', replay, sec(v.end))
      : v.exited ? T('simExited', v.exitCode) : T('simRunning', session.title);

    const pending = $('sim-pending');
    const p = v.pending;
    if (!p) {
      pending.replaceChildren(el('p', { textContent: T('simNothing') }));
    } else {
      const parts = [el('strong', { textContent: T('pendingHead', p.button, p.presses) }), ' '];
      if (p.due !== undefined) parts.push(el('span', { id: 'sim-due' }), p.index < p.count ? T('pendingMore') : T('pendingLast'));
      else parts.push(T('pendingWaits'));
      pending.replaceChildren(el('p', {}, ...parts));
    }

    // The screen: the menu or the box in front, and the keys the application got.
    const modal = $('sim-modal');
    modal.hidden = !v.modal || off;
    if (v.modal && !off) {
      const choice = (text, what, item, lang) => el('button', {
        type: 'button', className: 'small', textContent: text, lang, onclick: () => tray(what, item),
      });
      if (v.modal.kind === 'menu') {
        modal.replaceChildren(el('p', { className: 'sim-modal-title', textContent: T('menu') }),
          ...v.modal.items.map((item) => choice(item, 'choose', item, 'en')), choice(T('dismiss'), 'dismiss', ''));
      } else {
        modal.replaceChildren(el('p', { className: 'sim-modal-title', textContent: v.modal.caption, lang: 'en' }),
          ...v.modal.items.map((line) => el('p', { textContent: line, lang: 'en' })), choice(T('ok'), 'close', ''));
      }
    }
    const got = lines.filter((l) => l.keys).slice(-4);
    $('sim-gets').replaceChildren(...got.map((l) => el('li', { textContent: l.text.trim(), lang: 'en' })));
    renderClock();
  }

  // ---- What the owner does --------------------------------------------------------
  const press = (slot, mods) => page.dom.report(session.press(slot, mods));
  const tray = (what, item) => page.dom.report(session.tray(what, item));

  function heldMods() {
    if ($('sim-win').getAttribute('aria-pressed') === 'true') return MOD_WIN;
    if ($('sim-shift').getAttribute('aria-pressed') === 'true') return MOD_SHIFT;
    return 0;
  }

  async function replayFiles(files) {
    const main = files.find((f) => /\.scenario$/i.test(f.name)) || files[0];
    const read = [];
    for (const f of files) {
      const data = await page.files.read(f);
      if (!data) return;
      read.push({ name: f.name, data, main: f === main });
    }
    const error = session.replay(read.find((f) => f.main), read.filter((f) => !f.main));
    if (error) warn(T('notOpened', error));
    else say(T('replaying', main.name));
  }

  // Each frame: the clock, and what the next line's time brings.
  function tick() {
    if (!session.state) return;
    if (session.due()) update(false);
    else renderClock();
  }

  function build() {
    const clock = page.session.createClock(/[?&]clock=test(&|$)/.test(location.search), () => performance.now());
    session = page.session.create({
      api: page.api, clock,
      table: () => page.table.bytes,
      // Russian phones' application has its Russian title, which the program finds as on the phone.
      title: () => (page.i18n.lang === 'ru' ? '\u0422\u0435\u043b\u0435\u0444\u043e\u043d' : 'Phone'),
      changed: (reset) => {
        if (reset) retell(true);
        update(reset);
      },
      later: (f, ms) => setTimeout(f, ms),
      cancel: (timer) => clearTimeout(timer),
    });
    page.table.onChange(() => {
      session.tableChanged();
      if (session.state) renderStale();
    });

    const keys = $('sim-keys');
    page.catalog.buttons.forEach((name, slot) => {
      const b = el('button', { type: 'button', id: 'sim-key-' + slot, className: 'sim-key' });
      // Named by what it shows: the key that presses it, and the button.
      b.append(el('kbd', { textContent: String(slot + 1) }), ' ', name);
      b.setAttribute('aria-keyshortcuts', String(slot + 1));
      b.addEventListener('click', () => press(slot, heldMods()));
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
      press(Number(m[2]) - 1, e.altKey || e.metaKey ? MOD_WIN : e.shiftKey ? MOD_SHIFT : heldMods());
    });
    $('sim-tray').addEventListener('click', () => tray('tap', ''));
    $('sim-restart').addEventListener('click', () => session.start());
    $('sim-stale-restart').addEventListener('click', () => session.start());
    $('sim-save').addEventListener('click', () => {
      const { name, bytes } = session.scenario();
      page.files.save(bytes, name);
      say(T('saved', name));
    });
    page.files.chooser('sim-open', { id: 'sim-input', accept: '.scenario,.txt,.klavor,.reg,.bin,.cab', multiple: true },
      replayFiles);
    $('sim-all').addEventListener('click', () => {
      clock.set(session.state.end);
      update(false);
    });
    $('sim-earlier').addEventListener('click', () => {
      $('sim-timeline').classList.add('all');
      $('sim-earlier').hidden = true;
    });
    if (clock.test) {
      window.klavorClock = {
        advance: (ms) => {
          session.advance(ms);
          tick();
        },
        get now() { return clock.now(); },
      };
    } else {
      const loop = () => { tick(); requestAnimationFrame(loop); };
      requestAnimationFrame(loop);
    }
  }

  // The timeline's notes, in the language just chosen.
  function relabel() {
    if (session.state) {
      retell(false);
      update(true);
    }
  }

  page.sessionView = {
    build, relabel,
    start: () => session.start(),
  };
})(page);
