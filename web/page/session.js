// Trying the configuration on the simulated phone, as rules with no
// document (the session view draws it). A session is a scenario of the
// owner's inputs, each at its time since the session began; the C++ side
// runs it on the simulated phone and says what happened up to a moment.
'use strict';

(function (page) {
  const MOD_WIN = 8;    // klavor_session_press's modifiers
  const MOD_SHIFT = 4;
  const QUIET = 150;    // ms without an edit before a session with no input yet starts again

  const sameBytes = (a, b) => a.length === b.length && a.every((x, i) => x === b[i]);

  // The page's clock: the browser's (`performanceNow`), or with `test` one
  // that moves only when told to, so that gaps are exact to the millisecond.
  function createClock(test, performanceNow) {
    let base = 0;
    let at = 0;
    return {
      test,
      now: () => (test ? at : Math.floor(performanceNow() - base)),
      set(t) {
        if (test) at = t;
        else base = performanceNow() - t;
      },
      advance(ms) { at += ms; },
    };
  }

  // api: the C API's session calls; table(): the table being edited;
  // title(): the phone application's title for a new session;
  // changed(reset): what the session shows has changed, from its first
  // line when `reset`. later and cancel: setTimeout and clearTimeout.
  function create({ api, clock, table, title, changed, later, cancel }) {
    let started = null;   // the table the running session started with
    let name = null;      // the scenario being replayed, if one is
    let phone = '';       // the running session's application title
    let state = null;     // the session's last view
    let next = null;      // when its next line is due
    let restart = 0;      // the timer of a restart waiting for the edits to pause

    function start() {
      cancel(restart);
      restart = 0;
      started = table();
      phone = title();
      name = null;
      api.sessionStart(started, phone);
      clock.set(0);
      changed(true);
    }

    // A scenario, with the files opened with it: null, or what is wrong
    // (then the session goes on as it was).
    function replay(main, others) {
      for (const f of others) api.sessionFile(f.name, f.data);
      const r = api.sessionReplay(main.name, main.data);
      if (!r.ok) return r.text();
      cancel(restart);
      restart = 0;
      name = main.name;
      started = null;
      clock.set(0);
      changed(true);
      return null;
    }

    // The owner's own session, not a replay, once started.
    const live = () => state !== null && name === null;
    const behind = () => live() && !sameBytes(started, table());

    // The table was edited. The running program does not see it (Klavor
    // reads its table when it starts), so a session with no input yet
    // simply starts again with it: once the edits pause, so that the
    // edit's check is drawn first and a run of quick edits starts it once.
    function tableChanged() {
      if (!behind() || state.inputs !== 0) return;
      cancel(restart);
      restart = later(settle, QUIET);
    }
    // Whatever goes to the session before then (a press, a tap, a save, the
    // test clock moving) starts it at once, so that it goes to the program
    // as configured now.
    function settle() {
      if (!restart) return;
      cancel(restart);
      restart = 0;
      if (behind() && state.inputs === 0) start();
    }
    // A session with inputs runs a table other than the one being edited.
    const stale = () => behind() && state.inputs > 0;

    // A press or a tap, at the clock's time: null, or what is wrong. None
    // while a scenario is replayed, or after the program has exited.
    function input(send) {
      settle();
      if (!live() || state.exited) return null;
      const r = send(clock.now());
      if (!r.ok) return r.text();
      changed(false);
      return null;
    }

    // What the session's run says up to now: the lines that changed since
    // the last look (all of them with `all`), what waits, the screen.
    function view(all) {
      const v = api.sessionView(clock.now(), !!all);
      state = v;
      next = v.next === undefined ? null : v.next;
      return v;
    }

    return {
      start, replay, tableChanged, settle, stale, view,
      press: (slot, mods) => input((t) => api.sessionPress(t, slot, mods)),
      tray: (what, item) => input((t) => api.sessionTray(t, what, item)),
      // The next line's time has come: the view is out of date.
      due: () => state !== null && next !== null && clock.now() >= next,
      // The session as a scenario file: its name and bytes.
      scenario() {
        settle();
        return { name: name || 'session.scenario', bytes: api.sessionScenario() };
      },
      advance(ms) {
        settle();
        clock.advance(ms);
      },
      get state() { return state; },
      get replaying() { return name; },
      get title() { return phone; },
      clock,
    };
  }

  page.session = { MOD_WIN, MOD_SHIFT, QUIET, createClock, create, sameBytes };
})(page);
