// The try-it session's rules with no browser, on a stand-in for the C
// side: when an edit starts the session again (once the edits pause, or
// at once before anything goes to it), when the page says the session runs
// an older table, and what a replay or an exited program takes.
'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { load } = require('./load');

const { session: sessions } = load(['session.js']);
const TABLES = { A: [1, 0], B: [2, 0], C: [3, 0] };
const nameOf = (t) => Object.keys(TABLES).find((k) => sessions.sameBytes(TABLES[k], t));

// A session on the test clock, the C side's calls written to `log`, and
// timers that fire when the test lets time pass ("pause").
function harness() {
  const log = [];
  let table = TABLES.A;
  let run = { inputs: 0, exited: false };
  let wall = 0;
  let timers = [];
  let nextTimer = 1;
  const ok = { ok: true, text: () => '' };
  const api = {
    sessionStart: (t, title) => { log.push(`start ${nameOf(t)} "${title}"`); run = { inputs: 0, exited: false }; return ok; },
    sessionFile: (name) => { log.push(`file ${name}`); return ok; },
    sessionReplay: (name) => {
      if (!name.endsWith('.scenario')) return { ok: false, text: () => `${name}:1: not a scenario` };
      log.push(`replay ${name}`);
      run = { inputs: 3, exited: false };
      return ok;
    },
    sessionPress: (t, slot, mods) => { log.push(`press ${slot}${mods ? '+' + mods : ''} at ${t}`); run.inputs++; return ok; },
    sessionTray: (t, what, item) => {
      log.push(`tray ${what}${item ? ' ' + item : ''} at ${t}`);
      run.inputs++;
      if (item === 'Exit') run.exited = true;
      return ok;
    },
    sessionView: () => ({ ...run, lines: [], from: 0 }),
    sessionScenario: () => { log.push('scenario'); return new Uint8Array([0x23]); },
  };
  const clock = sessions.createClock(true, () => 0);
  const s = sessions.create({
    api, clock,
    table: () => table,
    title: () => 'Phone',
    changed: (reset) => s.view(reset),
    later: (f, ms) => { timers.push({ id: nextTimer, f, at: wall + ms }); return nextTimer++; },
    cancel: (id) => { timers = timers.filter((t) => t.id !== id); },
  });
  const steps = {
    start: () => s.start(),
    edit: (t) => { table = TABLES[t]; s.tableChanged(); },
    pause: (ms) => {
      wall += Number(ms);
      for (const t of timers.filter((t) => t.at <= wall)) { timers = timers.filter((x) => x !== t); t.f(); }
    },
    advance: (ms) => s.advance(Number(ms)),
    press: (slot) => s.press(Number(slot), 0),
    win: (slot) => s.press(Number(slot), sessions.MOD_WIN),
    tap: () => s.tray('tap', ''),
    exit: () => s.tray('choose', 'Exit'),
    save: () => log.push(`saved ${s.scenario().name}`),
    replay: (name) => { const error = s.replay({ name, data: new Uint8Array(1) }, [{ name: 'capture-all.reg' }]); if (error) log.push(error); },
  };
  return {
    log,
    run(script) {
      for (const step of script) {
        const [verb, arg] = step.split(' ');
        steps[verb](arg);
      }
    },
    get stale() { return s.stale(); },
    get clock() { return clock.now(); },
  };
}

test('an edit starts a session with no input again once the edits pause, or at once before anything goes to it', () => {
  const cases = [
    { what: 'not within the edit: once the edits pause', script: ['start', 'edit B', 'pause 149'],
      log: ['start A "Phone"'] },
    { what: '150 ms after the edit', script: ['start', 'edit B', 'pause 150'],
      log: ['start A "Phone"', 'start B "Phone"'] },
    { what: 'quick edits start it once, with the last table', script: ['start', 'edit B', 'pause 100', 'edit C', 'pause 100', 'pause 50'],
      log: ['start A "Phone"', 'start C "Phone"'] },
    { what: 'an edit taken back before the pause starts nothing', script: ['start', 'edit B', 'edit A', 'pause 150'],
      log: ['start A "Phone"'] },
    { what: 'a press before the pause: the session starts again first, the press at its 0',
      script: ['start', 'advance 700', 'edit B', 'press 6', 'pause 150'],
      log: ['start A "Phone"', 'start B "Phone"', 'press 6 at 0'] },
    { what: 'a tap the same', script: ['start', 'edit B', 'tap', 'pause 150'],
      log: ['start A "Phone"', 'start B "Phone"', 'tray tap at 0'] },
    { what: 'the test clock moving the same, then on from 0', script: ['start', 'edit B', 'advance 250', 'win 2'],
      log: ['start A "Phone"', 'start B "Phone"', 'press 2+8 at 250'] },
    { what: 'a save the same', script: ['start', 'edit B', 'save'],
      log: ['start A "Phone"', 'start B "Phone"', 'scenario', 'saved session.scenario'] },
    { what: 'a restart by hand takes the edit, and the waiting one is dropped', script: ['start', 'edit B', 'start', 'pause 150'],
      log: ['start A "Phone"', 'start B "Phone"'] },
    { what: 'a session with a press keeps its table', script: ['start', 'advance 1000', 'press 6', 'edit B', 'pause 150', 'press 7'],
      log: ['start A "Phone"', 'press 6 at 1000', 'press 7 at 1000'] },
    { what: 'no session yet: an edit starts nothing', script: ['edit B', 'pause 150'], log: [] },
  ];
  for (const c of cases) {
    const h = harness();
    h.run(c.script);
    assert.deepEqual(h.log, c.log, c.what);
  }
});

test('the page says the session runs an older table only while it does and has inputs', () => {
  const cases = [
    { what: 'just started', script: ['start'], stale: false },
    { what: 'edited with no input yet: it starts again by itself', script: ['start', 'edit B'], stale: false },
    { what: 'edited after a press', script: ['start', 'press 6', 'edit B'], stale: true },
    { what: 'edited back to its table', script: ['start', 'press 6', 'edit B', 'edit A'], stale: false },
    { what: 'restarted', script: ['start', 'press 6', 'edit B', 'start'], stale: false },
    { what: 'edited after the program exited', script: ['start', 'tap', 'exit', 'edit B'], stale: true },
    { what: 'replaying a scenario', script: ['start', 'press 6', 'replay demo.scenario', 'edit B'], stale: false },
  ];
  for (const c of cases) {
    const h = harness();
    h.run(c.script);
    assert.equal(h.stale, c.stale, c.what);
  }
});

test('a replay takes no press, tap or restart from an edit; nor does a program that has exited, until restarted', () => {
  const cases = [
    { what: 'replaying', script: ['start', 'replay demo.scenario', 'edit B', 'pause 150', 'press 6', 'tap', 'save'],
      log: ['start A "Phone"', 'file capture-all.reg', 'replay demo.scenario', 'scenario', 'saved demo.scenario'] },
    { what: 'a replay refused: the session goes on as it was', script: ['start', 'replay notes.txt', 'press 6'],
      log: ['start A "Phone"', 'file capture-all.reg', 'notes.txt:1: not a scenario', 'press 6 at 0'] },
    { what: 'exited', script: ['start', 'tap', 'exit', 'press 6', 'tap', 'start', 'press 6'],
      log: ['start A "Phone"', 'tray tap at 0', 'tray choose Exit at 0', 'start A "Phone"', 'press 6 at 0'] },
  ];
  for (const c of cases) {
    const h = harness();
    h.run(c.script);
    assert.deepEqual(h.log, c.log, c.what);
  }
});

test('the clock: the browser\'s from the moment set, or the test\'s, which moves only when told', () => {
  let performance = 1000.4;
  const real = sessions.createClock(false, () => performance);
  real.set(0);
  performance = 1750.9;
  assert.equal(real.now(), 750);
  real.set(5000);
  performance += 10;
  assert.equal(real.now(), 5010);
  const fake = sessions.createClock(true, () => { throw new Error('the test clock reads no browser time'); });
  assert.equal(fake.now(), 0);
  fake.advance(1501);
  assert.equal(fake.now(), 1501);
  fake.set(0);
  assert.equal(fake.now(), 0);
});
