// A configuration passed on: the link that opens the page with it, the
// code to paste, a damaged or foreign fragment refused with the stored
// configuration untouched; the printed cheat sheet; the page in Russian.
'use strict';
const { test, before, after } = require('node:test');
const vm = require('node:vm');
const { assert, fs, path, PAGE_URL, launch, openPage, openTestClock, openFile, download, regOf, timeline, tempDir, SOURCE_DIR } =
  require('./harness');

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

const SHOTS = process.env.KLAVOR_SCREENSHOTS;
const TEXT = 'Green capture single TTalk double Space triple Win+D\nContacts capture key App3\nCamera free\n' +
  'Record capture single "Record*2"\n';
const stored = (page) => page.evaluate(() => localStorage.getItem('klavor-configurator.table'));

async function withConfig(page) {
  const dir = tempDir();
  fs.writeFileSync(path.join(dir, 'mine.klavor'), TEXT);
  await openFile(page, path.join(dir, 'mine.klavor'));
  await page.waitForFunction(() => /^(Opened|Открыт) mine/.test(document.querySelector('#status').textContent));
}

test('a link opens the page with the configuration; a damaged or foreign one is refused and changes nothing', async () => {
  const { context, page } = await openPage(browser);
  await withConfig(page);
  const link = await page.inputValue('#share-link');
  const code = await page.inputValue('#share-code');
  assert.match(code, /^klavor=1\.[A-Za-z0-9_-]{176}$/);
  assert.equal(link, `${PAGE_URL}#${code}`);
  const reg = regOf(TEXT).toString();

  // Someone else's browser: nothing stored, the link alone.
  const other = await browser.newContext({ acceptDownloads: true });
  const theirs = await other.newPage();
  await theirs.goto(link);
  await theirs.waitForFunction(() => document.documentElement.dataset.ready);
  assert.equal(await theirs.textContent('#status'), 'Opened the shared configuration (Undo brings yours back).');
  assert.equal((await download(theirs, '#download-reg')).bytes.toString(), reg);
  assert.equal(new URL(theirs.url()).hash, '');  // opened once: a reload keeps what they do next
  await other.close();

  // In the first browser, now holding a different table: what is refused
  // leaves it, shown and stored, as it was.
  await page.click('#reset');
  const before = await stored(page);
  const damaged = code.slice(0, 40) + (code[40] === 'A' ? 'B' : 'A') + code.slice(41);
  const refusals = [
    [damaged, 'it is damaged (a character was changed, lost or added on the way)'],
    [code.slice(0, -3), 'it is damaged (a character was changed, lost or added on the way)'],
    ['klavor=2.' + code.slice(9), 'it is a Klavor configuration of version 2, which this page does not read'],
    ['settings=on', 'it is not a Klavor configuration'],
  ];
  for (const [fragment, why] of refusals) {
    const p = await context.newPage();
    await p.goto(link.split('#')[0] + '#' + fragment);
    await p.waitForFunction(() => document.documentElement.dataset.ready);
    assert.equal(await p.textContent('#alert'),
      `The shared configuration was not opened: ${why}. Your configuration is unchanged.`, fragment);
    assert.equal(await stored(p), before, fragment);
    assert.equal(await p.inputValue('#share-code'), await page.inputValue('#share-code'));
    await p.close();
  }
  // A place on the page is no configuration to open.
  const p = await context.newPage();
  await p.goto(link.split('#')[0] + '#editor-title');
  await p.waitForFunction(() => document.documentElement.dataset.ready);
  assert.equal(await p.textContent('#alert'), '');
  await p.close();

  // The code pasted, as sent by mail (wrapped), opens the same.
  await page.fill('#share-paste', code.slice(0, 90) + '\n' + code.slice(90));
  await page.click('#share-open');
  assert.equal((await download(page, '#download-reg')).bytes.toString(), reg);
  assert.notEqual(await stored(page), before);
});

test('the printed cheat sheet: a line per captured button, the sheet alone, black on white', async () => {
  const { page } = await openPage(browser);
  await withConfig(page);
  const lines = await page.$$eval('#sheet-lines li', (ls) => ls.map((l) => l.textContent));
  assert.deepEqual(lines, [
    'Contacts \u2014 its presses go to Camera, later in the table on the same key, which sends nothing',
    'Record \u2014 one press: Record*2 (= Backspace)',
    'Green \u2014 one press: TTalk; two presses: Space; three presses: Win+D',
  ]);
  await page.emulateMedia({ media: 'print' });
  const shown = await page.evaluate(() => Array.from(document.querySelectorAll('main > section, body > header'))
    .filter((e) => getComputedStyle(e).display !== 'none').map((e) => e.id || e.tagName));
  assert.deepEqual(shown, ['sheet']);
  assert.equal(await page.evaluate(() => getComputedStyle(document.querySelector('#sheet-lines li')).color), 'rgb(0, 0, 0)');
  assert.equal(await page.isVisible('#print'), false);
  if (SHOTS) {
    await page.screenshot({ path: path.join(SHOTS, 'sheet-print.png'), fullPage: true });
    fs.writeFileSync(path.join(SHOTS, 'sheet.pdf'), await page.pdf({ format: 'A4' }));
  }
});

test('the page in Russian: every string in the table, the browser\'s language, switchable; the phone says "Телефон"', async () => {
  // Both languages hold the same strings.
  const sandbox = {};
  vm.runInNewContext(fs.readFileSync(path.join(SOURCE_DIR, 'web/page/strings.js'), 'utf8') + '\nthis.S = STRINGS;', sandbox);
  assert.deepEqual(Object.keys(sandbox.S.ru).sort(), Object.keys(sandbox.S.en).sort());
  for (const [key, value] of Object.entries(sandbox.S.ru))
    assert.equal(typeof value, typeof sandbox.S.en[key], key);

  const { page, log } = await openTestClock(browser, { locale: 'ru-RU' });
  assert.equal(await page.getAttribute('html', 'lang'), 'ru');
  assert.equal(await page.textContent('h1'), 'Настройка Klavor');
  // No English left in the page's own words (the library's are marked lang="en").
  const english = await page.evaluate(() => Array.from(document.querySelectorAll('[data-t]'))
    .filter((e) => /\b(the|and|of|your)\b/.test(e.textContent)).map((e) => e.dataset.t));
  assert.deepEqual(english, []);
  await withConfig(page);
  assert.match(await page.textContent('#status'), /^Открыт mine\.klavor/);
  assert.match(await page.textContent('#sheet-lines'), /Green — одно нажатие: TTalk; два нажатия: Space; три нажатия: Win\+D/);
  await page.evaluate(() => window.klavorClock.advance(1000));
  await page.click('#sim-key-6');
  await page.evaluate(() => window.klavorClock.advance(200));
  await page.click('#sim-key-6');
  await page.evaluate(() => window.klavorClock.advance(100));
  assert.equal(await page.textContent('#sim-pending'),
    'Green: 2 нажатия пока. Пошлёт Space в 1.700 с (через 0.400 с), если до тех пор её не нажать ещё раз.');
  await page.evaluate(() => window.klavorClock.advance(1000));
  assert.ok((await timeline(page)).includes('   1.700 s  "Телефон" gets 0x20'));
  if (SHOTS) {
    await page.click('#list-6');
    await page.screenshot({ path: path.join(SHOTS, 'page-ru.png'), fullPage: true });
  }
  // Switched, and remembered over the browser's own language.
  await page.selectOption('#lang', 'en');
  assert.equal(await page.textContent('h1'), 'Klavor configurator');
  assert.match(await page.textContent('#sim-timeline'), /Green: press 2, 0\.200 s after press 1/);
  await page.reload();
  await page.waitForFunction(() => document.documentElement.dataset.ready);
  assert.equal(await page.getAttribute('html', 'lang'), 'en');
  assert.deepEqual(log.errors, []);
});
