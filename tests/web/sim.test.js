// Trying a configuration on the page's simulated phone, with the page's
// clock moved by the test: the keys at their times, to the millisecond;
// the session saved as a scenario is klavor-sim's timeline; a scenario
// opened on the page replays as klavor-sim tells it.
'use strict';
const { test, before, after } = require('node:test');
const { assert, fs, path, launch, openTestClock, openFile, download, klavorSim, timeline, tempDir, SOURCE_DIR } =
  require('./harness');

const SHOTS = process.env.KLAVOR_SCREENSHOTS;
let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

// Green: single TTalk, double Space, triple Win+D; Red and Camera captured
// with their built-in codes. Klavor starts with the session, at 0 s: its
// ticks fall on every 100 ms from there.
const CONFIG = 'Green capture single TTalk double Space triple Win+D\nRed capture\nCamera capture\n';

async function configured(options) {
  const dir = tempDir();
  fs.writeFileSync(path.join(dir, 'try.klavor'), CONFIG);
  const opened = await openTestClock(browser, options);
  await openFile(opened.page, path.join(dir, 'try.klavor'));
  await opened.page.waitForFunction(() => document.querySelector('#status').textContent.startsWith('Opened'));
  return opened;
}

const advance = (page, ms) => page.evaluate((ms) => window.klavorClock.advance(ms), ms);
const clockNow = (page) => page.evaluate(() => window.klavorClock.now);
const gets = async (page) => (await timeline(page)).filter((l) => l.includes(' gets '));
const slots = { Calendar: 0, Contacts: 1, Camera: 2, Record: 3, Green: 6, Red: 7 };

test('presses at exact gaps give the keys at their times, the 500 and 600 ms edges included', async () => {
  const { page, log } = await configured();
  const cases = [
    { what: 'a single press on a tick goes 500 ms later', presses: [[1000, 'Green']],
      gets: ['   1.500 s  "Phone" gets Green key (0x72)'] },
    { what: 'one just after a tick, 599 ms later', presses: [[1001, 'Green']],
      gets: ['   1.600 s  "Phone" gets Green key (0x72)'] },
    { what: 'a second press 500 ms after the first still makes a double', presses: [[1000, 'Green'], [1500, 'Green']],
      gets: ['   2.000 s  "Phone" gets 0x20'] },
    { what: '501 ms after it, two singles', presses: [[1000, 'Green'], [1501, 'Green']],
      gets: ['   1.500 s  "Phone" gets Green key (0x72)', '   2.100 s  "Phone" gets Green key (0x72)'] },
    { what: 'the third press is the last count: sent on the next tick', presses: [[1000, 'Green'], [1200, 'Green'], [1350, 'Green']],
      gets: ['   1.400 s  "Phone" gets Win+0x44'] },
    { what: 'another button drops the sequence waiting', presses: [[1000, 'Green'], [1200, 'Red']],
      gets: ['   1.700 s  "Phone" gets Red Btn (0x04)'] },
  ];
  for (const c of cases) {
    await page.click('#sim-restart');
    assert.equal(await clockNow(page), 0, c.what);
    for (const [at, button] of c.presses) {
      await advance(page, at - await clockNow(page));
      await page.click(`#sim-key-${slots[button]}`);
    }
    await advance(page, 3000);
    assert.deepEqual(await gets(page), c.gets, c.what);
  }

  // As it happens: nothing before its time, the sequence waiting in view.
  await page.click('#sim-restart');
  await advance(page, 1000);
  await page.click('#sim-key-6');
  await advance(page, 200);
  await page.click('#sim-key-6');
  await advance(page, 200);
  assert.equal(await page.textContent('#sim-pending'),
    'Green: 2 presses so far. Sends Space at 1.700 s (in 0.300 s), unless it is pressed again before then.');
  await advance(page, 299);
  assert.deepEqual(await gets(page), []);
  await advance(page, 1);
  assert.deepEqual(await gets(page), ['   1.700 s  "Phone" gets 0x20']);
  assert.equal(await page.textContent('#sim-pending'), 'Nothing waits to be sent.');
  // The send, beside the presses that made it; a press too late, with its gap.
  const notes = () => page.$$eval('#sim-timeline .line', (ls) => ls.filter((l) => l.querySelector('.note'))
    .map((l) => `${l.querySelector('.text').textContent.trim()} | ${l.querySelector('.note').textContent}`));
  await advance(page, 550);
  await page.click('#sim-key-6');
  await advance(page, 1000);
  assert.deepEqual((await notes()).slice(2), [
    '1.700 s  "Phone" gets 0x20 | \u2190 from 2 presses of Green, 0.200 s apart',
    '2.250 s    hot key 6 to Klavor | Green: press 1; too late to count with the press before: it came 1.050 s after ' +
      'it, and had to come within 0.500 s; the double press had been sent at 1.700 s',
    '2.800 s  "Phone" gets Green key (0x72) | \u2190 from 1 press of Green',
  ]);
  // Another button's press says which sequence it drops.
  await page.click('#sim-key-6');
  await advance(page, 100);
  await page.click('#sim-key-2');
  await advance(page, 1000);
  assert.match((await notes()).at(-2), /hot key 2 to Klavor \| Camera: press 1; Green's press is dropped: another button/);
  assert.deepEqual(log.errors, []);
});

test('the keys 1 to 8 press the buttons, with Shift, with Alt for Win; the tray as on the phone', async () => {
  const { page, log } = await configured();
  await page.focus('#sim-phone');
  await advance(page, 1000);
  await page.keyboard.press('7');           // Green
  await advance(page, 1000);
  await page.keyboard.press('Shift+7');     // Green with Shift
  await advance(page, 1000);
  await page.keyboard.press('Alt+8');       // Red with Win
  await advance(page, 1000);
  await page.click('#sim-win');             // held: the next click is with Win
  await page.click('#sim-key-2');
  await page.click('#sim-win');
  await advance(page, 1000);
  const lines = await timeline(page);
  for (const line of ['   1.000 s    hot key 6 to Klavor', '   2.000 s  press Green with Shift', '   2.000 s    hot key 518 to Klavor',
    '   3.000 s  press Red with Win', '   3.000 s    hot key 263 to Klavor', '   4.000 s  press Camera with Win'])
    assert.ok(lines.includes(line), `${line}\n${lines.join('\n')}`);

  // The tray: the menu, About and its box, then Exit, as the phone shows them.
  await page.click('#sim-tray');
  assert.deepEqual(await page.$$eval('#sim-modal button', (bs) => bs.map((b) => b.textContent)),
    ['About Klavor', 'Exit', 'Tap elsewhere (no choice)']);
  await advance(page, 500);
  await page.click('#sim-modal button:text-is("About Klavor")');
  assert.match(await page.textContent('#sim-modal'), /^About.*Klavor for HTC Himalaya\/Andes\/Alpine\/Magician/);
  await advance(page, 500);
  await page.click('#sim-modal button:text-is("OK")');
  assert.equal(await page.isVisible('#sim-modal'), false);
  await page.click('#sim-tray');
  await advance(page, 400);
  await page.click('#sim-modal button:text-is("Exit")');
  assert.deepEqual((await timeline(page)).slice(-3), ['   6.400 s  menu closes with command 3028',
    '   6.400 s  tray icon 5000 disappears', '   6.400 s  Klavor exits with code 1']);
  assert.match(await page.textContent('#sim-state'), /Klavor has exited with code 1/);
  assert.equal(await page.isDisabled('#sim-key-6'), true);
  // Restart: a new session, the clock at 0 again.
  await page.click('#sim-restart');
  assert.equal(await page.isDisabled('#sim-key-6'), false);
  assert.deepEqual(await timeline(page), ['   0.000 s  configuration: hex, 128 bytes; coredll with UnregisterFunc1; screen 240x320',
    '   0.000 s  the phone application\'s window "Phone" is up', '   0.000 s  Klavor starts', '   0.000 s  tray icon 5000 appears']);
  assert.deepEqual(log.errors, []);
});

test('an edit restarts a session with nothing in it before the next press; one with presses keeps its table', async () => {
  const { page, log } = await configured();  // opened onto the session the built-in table started
  await page.click('#sim-key-6');  // at once: Green is captured only in the file
  await advance(page, 1000);
  assert.ok((await timeline(page)).includes('   0.000 s    hot key 6 to Klavor'));
  assert.equal(await page.isVisible('#sim-stale'), false);
  const before = await timeline(page);
  await page.click('#list-6');
  await page.click('#mode-0');  // Green left alone
  await advance(page, 1000);
  assert.equal(await page.isVisible('#sim-stale'), true);
  assert.deepEqual((await timeline(page)).slice(0, before.length), before);
  await page.click('#sim-stale-restart');
  await page.click('#sim-key-6');
  await advance(page, 1000);
  assert.ok(!(await timeline(page)).some((l) => l.includes('hot key 6')));
  assert.deepEqual(log.errors, []);
});

test('a session saved as a scenario: klavor-sim prints the page\'s timeline', async () => {
  const { page, log } = await configured();
  const steps = [[700, 6], [180, 6], [900, 7], [90, 7], [95, 7], [1300, 2], [400, 6], [620, 6]];
  for (const [gap, slot] of steps) {
    await advance(page, gap);
    await page.click(`#sim-key-${slot}`);
  }
  await advance(page, 800);
  await page.click('#sim-tray');
  await advance(page, 250);
  await page.click('#sim-modal button:text-is("Tap elsewhere (no choice)")');
  await page.click('#sim-key-6');
  await advance(page, 300);
  if (SHOTS) await page.locator('#try').screenshot({ path: path.join(SHOTS, 'try.png') });
  const dir = tempDir();
  const saved = await download(page, '#sim-save');
  assert.equal(saved.name, 'session.scenario');
  const file = path.join(dir, saved.name);
  fs.writeFileSync(file, saved.bytes);
  const sim = klavorSim([file]);
  assert.equal(sim.status, 3, sim.err);  // still running when the scenario ends
  // What the page shows by now is the start of klavor-sim's timeline ...
  const shown = await timeline(page);
  const printed = sim.out.split('\n').slice(0, -1);
  assert.deepEqual(shown, printed.slice(0, shown.length));
  assert.ok(shown.length > 20);
  // ... and, once the scenario's end has come, all of it, to the byte.
  await advance(page, 10000);
  assert.equal((await timeline(page)).join('\n') + '\n', sim.out);
  assert.deepEqual(log.errors, []);
});

test('a scenario opened on the page replays as klavor-sim tells it; one without its files is refused', async () => {
  const { page, log } = await openTestClock(browser);
  const demo = path.join(SOURCE_DIR, 'examples/demo.scenario');
  await page.setInputFiles('#sim-input', demo);
  await page.waitForFunction(() => document.querySelector('#alert').textContent);
  assert.equal(await page.textContent('#alert'), 'Not opened. demo.scenario:7: config: capture-all.reg: not opened with ' +
    'the scenario (open it together with the scenario)');
  await page.setInputFiles('#sim-input', [demo, path.join(SOURCE_DIR, 'examples/capture-all.reg')]);
  await page.waitForFunction(() => document.querySelector('#status').textContent === 'Replaying demo.scenario.');
  assert.equal(await page.isDisabled('#sim-key-0'), true);
  await advance(page, 8100);
  const expected = fs.readFileSync(path.join(SOURCE_DIR, 'examples/demo.expected'), 'utf8').split('\n').slice(0, -1);
  const shown = await timeline(page);
  assert.deepEqual(shown, expected.filter((l, i) => i < shown.length));
  assert.equal(shown.at(-1), '   8.000 s    hot key 6 to Klavor');
  await page.click('#sim-all');
  assert.equal((await timeline(page)).join('\n'), expected.join('\n'));
  assert.equal(await page.isVisible('#sim-all'), false);
  assert.deepEqual(log.errors, []);
});
