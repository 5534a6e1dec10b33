// Editing on the page, by mouse and by keyboard alone, gives the value
// klavorcfg makes of the same choices written as text; undo, redo and a
// reload lose nothing.
'use strict';
const { test, before, after } = require('node:test');
const { assert, launch, openPage, download, regOf, pick } = require('./harness');

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

const row = (i) => `#press-rows > li:nth-child(${i + 1}) .action`;

test('choices made by clicking give the .reg klavorcfg makes of them', async () => {
  const { page, log } = await openPage(browser);
  // Green: double Enter, triple Win+D.
  await page.click('#list-6');
  await page.check('#mode-2');
  await pick(page, row(0), 'TTalk');
  await pick(page, row(1), 'Enter');
  assert.equal(await page.textContent(row(1)), '"Camera*3" (= Enter)');  // one code, two names
  await pick(page, row(2), 'D', { win: true });
  // Volume Up taken from everyone.
  await page.click('#draw-4');
  await page.check('#mode-1');
  // Calendar: singles send A, no triple (its stored action stays).
  await page.click('#draw-0');
  await page.check('#mode-2');
  await page.click('#remove-press');
  await pick(page, row(0), 'A', { win: false });
  // Record: a fourth press with a code given in hex.
  await page.click('#list-3');
  await page.check('#mode-2');
  await page.click('#add-press');
  await page.click(row(3));
  await page.fill('#picker-hex', '0x12C1');
  await page.click('#picker-hex-use');
  // Camera's own key changed.
  await page.click('#list-2');
  await page.click('#change-key');
  await page.fill('#picker-search', 'TRecord');
  await page.click('#picker-keys button:has(span:text-is("TRecord"))');

  const reg = await download(page, '#download-reg');
  assert.equal(reg.name, 'Klavor.reg');
  assert.equal(reg.bytes.toString(), regOf([
    'Green     capture  single TTalk  double Enter  triple Win+D',
    'Volume Up free',
    'Calendar  capture  single A  double "Calendar*2"  triple "Calendar*3"  presses 1',
    'Record    capture  single Win+App4  double "Record*2"  triple "Record*3"  4x 0x12C1',
    'Camera    leave    key TRecord',
  ].join('\n')).toString());
  assert.deepEqual(log.errors, []);
});

// Tab until the focus is on what `selector` finds: keyboard alone reaches it.
async function tabTo(page, selector, limit = 80) {
  for (let i = 0; i < limit; i++) {
    if (await page.evaluate((s) => document.activeElement && document.activeElement.matches(s), selector)) return;
    await page.keyboard.press('Tab');
  }
  assert.fail(`${selector} is not reached with Tab`);
}

test('the keyboard alone makes the same choices', async () => {
  const { page, log } = await openPage(browser);
  const k = page.keyboard;
  await tabTo(page, '#list-7');  // Red
  await k.press('Enter');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'editor-title');
  await tabTo(page, '#mode-0');
  await k.press('ArrowDown');      // free
  await k.press('ArrowDown');      // capture
  assert.equal(await page.isChecked('#mode-2'), true);
  await tabTo(page, '#remove-press');
  await k.press('Enter');          // no triple
  await tabTo(page, row(0));
  await k.press('Enter');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'picker-search');
  await k.type('r');
  await tabTo(page, '#picker-win');
  await k.press('Space');
  await tabTo(page, '#picker-keys button:first-child');
  assert.equal(await page.textContent('#picker-keys button:first-child'), 'R');
  await k.press('Enter');
  // The picker closes and gives the focus back to what opened it.
  assert.equal(await page.evaluate(() => document.activeElement.matches('#press-rows > li:nth-child(1) .action')), true);
  await k.press('Enter');
  await k.press('Escape');         // cancelled: nothing changes
  await tabTo(page, row(1));
  await k.press('Enter');
  await tabTo(page, '#picker-hex');
  await k.type('0x1b');
  await k.press('Enter');
  assert.equal(await page.textContent(row(0)), 'Win+R');
  assert.equal(await page.textContent(row(1)), 'Esc');

  await tabTo(page, '#download-reg');
  const [dl] = await Promise.all([page.waitForEvent('download'), k.press('Enter')]);
  const bytes = require('node:fs').readFileSync(await dl.path());
  assert.equal(bytes.toString(), regOf('Red capture single Win+R double Esc triple "Red*3" presses 1').toString());
  assert.deepEqual(log.errors, []);
});

test('undo and redo, by buttons and keys; picking a key by pressing it never takes Ctrl+Z', async () => {
  const { page } = await openPage(browser);
  const empty = (await download(page, '#download-reg')).bytes.toString();
  await page.click('#list-6');
  await page.check('#mode-1');                         // 1: Green free
  await page.check('#mode-2');                         // 2: Green capture
  await page.click('#add-press');                      // 3: a 4x press
  const three = (await download(page, '#download-reg')).bytes.toString();
  assert.equal(three, regOf('Green capture single "Green Btn" double "Green*2" triple "Green*3" presses 3').toString());
  await page.click('#undo');
  await page.keyboard.press('Control+z');
  assert.equal(await page.isChecked('#mode-1'), true);
  await page.keyboard.press('Meta+z');
  assert.equal((await download(page, '#download-reg')).bytes.toString(), empty);
  assert.equal(await page.isDisabled('#undo'), true);
  await page.keyboard.press('Control+y');
  await page.keyboard.press('Meta+Shift+z');
  await page.click('#redo');
  assert.equal((await download(page, '#download-reg')).bytes.toString(), three);
  assert.equal(await page.isDisabled('#redo'), true);

  // Listening for a key: Ctrl+Z still undoes (the 4x press goes), and the
  // next plain key is the one picked.
  await page.click(row(0));
  await page.click('#picker-listen');
  await page.keyboard.press('Control+z');
  assert.equal(await page.isVisible('#picker[open]'), true);
  assert.equal(await page.getAttribute('#picker-listen', 'aria-pressed'), 'true');
  assert.equal(await page.locator('#press-rows > li:not([hidden])').count(), 3);
  await page.keyboard.press('q');
  assert.equal(await page.isVisible('#picker[open]'), false);
  assert.equal(await page.textContent(row(0)), 'Q');
  // A new edit after an undo drops what could have been redone.
  assert.equal(await page.isDisabled('#redo'), true);
  // Typing in a text field keeps the field's own undo.
  await page.click(row(1));
  await page.fill('#picker-search', 'abc');
  await page.keyboard.press('Control+z');
  assert.equal(await page.textContent(row(0)), 'Q');
});

test('a reload keeps the configuration and the button being edited, under prefixed keys', async () => {
  const { context, page } = await openPage(browser);
  await page.click('#list-5');
  await page.check('#mode-2');
  await pick(page, row(0), 'Down', { win: false });
  const before = (await download(page, '#download-reg')).bytes.toString();
  await page.reload();
  await page.waitForFunction(() => document.documentElement.dataset.ready);
  assert.equal(await page.textContent('#editor-title'), 'Volume Dn');
  assert.equal(await page.textContent(row(0)), 'Down');
  assert.equal((await download(page, '#download-reg')).bytes.toString(), before);
  const keys = await page.evaluate(() => Object.keys(localStorage));
  assert.ok(keys.length > 0 && keys.every((key) => key.startsWith('klavor-configurator.')), keys.join());
  // A stored value that is not a table is set aside for the built-in one.
  await page.evaluate(() => localStorage.setItem('klavor-configurator.table', '00ff'));
  await page.reload();
  await page.waitForFunction(() => document.documentElement.dataset.ready);
  assert.equal(await page.textContent(row(0)), '"Volume Dn"');
  await context.close();
});
