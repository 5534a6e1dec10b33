// The check and the timing as the page shows them: the library's own words,
// at the button and the press they concern, and an error that stops the
// .reg until the user makes it anyway.
'use strict';
const { test, before, after } = require('node:test');
const { assert, fs, path, launch, openPage, download, klavorcfg, regOf, cabOf, pick, tempDir, SOURCE_DIR } =
  require('./harness');

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

const row = (i) => `#press-rows > li:nth-child(${i + 1})`;

test('a loop made by editing blocks the .reg and names both buttons; making it anyway is --no-check', async () => {
  const { page, log } = await openPage(browser);
  await page.click('#list-0');
  await page.check('#mode-2');
  await pick(page, `${row(0)} .action`, 'App2', { win: false });
  assert.equal(await page.textContent('#check-summary'), 'No errors, no warnings: the phone will do what the buttons say.');
  await page.click('#list-1');
  await page.check('#mode-2');
  assert.equal(await page.isDisabled('#download-reg'), false);
  await pick(page, `${row(0)} .action`, 'App1', { win: false });

  const loop = 'Calendar single sends App2, a press of Contacts; Contacts single sends App1, a press of Calendar ' +
    'again: from one press Klavor would send actions on its own forever, 2 actions every 12 ticks, until it exits';
  assert.equal(await page.textContent('#check-summary'), '1 error, no warnings.');
  assert.equal(await page.textContent('#check-list > li'), `\u2715 Error (Calendar, single press): ${loop} Edit Calendar`);
  // Said at both buttons, in words and not by colour alone.
  for (const id of ['#list-0', '#list-1', '#draw-0', '#draw-1'])
    assert.match(await page.textContent(id), /1 error/, id);
  assert.match(await page.getAttribute('#list-0', 'aria-label'), /1 error$/);
  assert.equal(await page.textContent('#button-findings'), `\u2715 Error (from Calendar): ${loop}`);
  await page.click('#list-0');
  assert.equal(await page.textContent(`${row(0)} .findings`), `\u2715 Error: ${loop}`);

  assert.equal(await page.isDisabled('#download-reg'), true);
  assert.equal(await page.isDisabled('#download-cab'), true);
  assert.equal(await page.isVisible('#blocked'), true);
  await page.check('#force');
  const text = fs.readFileSync(path.join(SOURCE_DIR, 'examples/runaway.klavor'), 'utf8')
    .replace('Calendar  capture  single App2', 'Calendar  capture  single App2  double "Calendar*2"  triple "Calendar*3"')
    .replace('Contacts  capture  single App1', 'Contacts  capture  single App1  double "Contacts*2"  triple "Contacts*3"');
  assert.equal((await download(page, '#download-reg')).bytes.toString(), regOf(text, ['--no-check']).toString());
  assert.ok((await download(page, '#download-cab')).bytes.equals(cabOf(text, ['--no-check'])));
  // Undoing the last edit ends the error, and the box goes with it.
  await page.keyboard.press('Control+z');
  assert.equal(await page.isDisabled('#download-reg'), false);
  assert.equal(await page.isDisabled('#download-cab'), false);
  assert.equal(await page.isVisible('#force'), false);
  assert.deepEqual(log.errors, []);
});

test('warnings stand at the press they concern; the text download keeps working', async () => {
  const { page } = await openPage(browser);
  await page.click('#list-4');                    // Volume Up: double and triple send code 0
  await page.check('#mode-2');
  const warning = 'Volume Up double and triple send code 0 ("FAKE"), which nothing receives';
  assert.equal(await page.textContent(`${row(0)} .findings`), '');
  for (const i of [1, 2]) assert.equal(await page.textContent(`${row(i)} .findings`), `\u26a0 Warning: ${warning}`);
  assert.equal(await page.textContent('#check-summary'), 'No errors, 1 warning.');
  assert.equal(await page.isDisabled('#download-reg'), false);
});

test('when each press is sent: the sentences klavorcfg timing prints', async () => {
  const { page } = await openPage(browser);
  // Contacts on Camera's key: Camera, later in the table, takes its presses.
  const text = 'Green capture single TTalk double Enter triple Win+D\nCamera capture single A\n' +
    'Contacts capture key App3 single B\nRecord free\n';
  const dir = tempDir();
  fs.writeFileSync(path.join(dir, 'timing.klavor'), text);
  await page.setInputFiles('#open-input', path.join(dir, 'timing.klavor'));
  await page.waitForFunction(() => document.querySelector('#status').textContent.startsWith('Opened'));
  const cli = klavorcfg(['timing', path.join(dir, 'timing.klavor')]);
  assert.equal(cli.status, 0, cli.err);
  // Button by button, the page's sentences against the command's lines.
  const lines = cli.out.toString().split('\n');
  const expected = {};
  let button = null;
  for (const line of lines) {
    const note = /^([^ ].*?): (.*)$/.exec(line);
    if (note) { expected[note[1]] = { note: note[2], presses: [] }; continue; }
    if (/^[^ ]/.test(line)) { button = line; expected[button] = { note: '', presses: [] }; continue; }
    const press = /^ {2}[^:]+: (.*)$/.exec(line);
    if (press) expected[button].presses.push(press[1]);
  }
  assert.deepEqual(expected.Green.presses, [
    'sent 0.5-0.6 s after the press, since a double press is configured; for the double, press again within 0.5 s',
    'sent 0.5-0.6 s after the second press, since a triple press is configured; for the triple, press again within 0.5 s',
    'sent within 0.1 s of the third press',
  ]);
  for (const [slot, name] of [[6, 'Green'], [2, 'Camera'], [1, 'Contacts'], [3, 'Record'], [0, 'Calendar']]) {
    await page.click(`#list-${slot}`);
    const shown = await page.$$eval('#press-rows > li:not([hidden]) .timing', (ps) => ps.map((p) => p.textContent));
    const want = expected[name].presses.map((s) => s.charAt(0).toUpperCase() + s.slice(1) + '.');
    assert.deepEqual(shown.filter(Boolean), want, name);
    const note = await page.textContent('#presses-note');
    if (expected[name].note) assert.ok(note.toLowerCase().startsWith(expected[name].note.toLowerCase()), `${name}: ${note}`);
  }
  assert.equal(expected.Contacts.note, 'its presses go to Camera, later in the table on the same key');
  assert.equal(expected.Record.note, 'free: Klavor takes its presses and sends nothing');
  assert.deepEqual(expected.Camera.presses, ['sent within 0.1 s of the press']);
});
