// The page against axe-core's rules (WCAG 2 A and AA, and axe's best
// practices): no violation in light or dark, wide or 360 pixels wide by
// touch, as opened, with a configuration that has an error and a button in
// the editor, in the middle of a session, and with the key picker open;
// and the Russian page.
'use strict';
const { test, before, after } = require('node:test');
const { assert, fs, path, launch, openTestClock, openFile, SOURCE_DIR } = require('./harness');

// axe-core from the lock file, evaluated in the page through the browser's
// debugging protocol, which the page's own policy (its scripts by their
// hashes only) leaves alone: the page is tested as it is served.
const AXE = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

// What axe finds broken, one line per rule with the elements.
async function violations(page) {
  if (!await page.evaluate(() => typeof window.axe === 'object')) await page.evaluate(AXE);
  return page.evaluate(async () => {
    const r = await window.axe.run(document, { resultTypes: ['violations'] });
    return r.violations.map((v) => `${v.id} (${v.impact}): ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`);
  });
}

const advance = (page, ms) => page.evaluate((ms) => window.klavorClock.advance(ms), ms);

// Each step leaves the page in the state named, one after the other.
const STEPS = [
  ['as opened', async () => {}],
  ['a configuration with an error, a button in the editor', async (page) => {
    await openFile(page, path.join(SOURCE_DIR, 'examples/runaway.klavor'));
    await page.waitForFunction(() => /^(Opened|Открыт) /.test(document.querySelector('#status').textContent));
    await page.click('#list-0');
    await page.waitForSelector('#press-rows > li:nth-child(1):not([hidden])');
  }],
  ['Green captured, and pressed on the simulated phone: a double waiting', async (page) => {
    await page.click('#list-6');
    await page.check('#mode-2');
    await page.click('#sim-restart');
    for (const gap of [1000, 200, 800, 150]) {
      await advance(page, gap);
      await page.click('#sim-key-6');
    }
    await advance(page, 100);
    await page.waitForSelector('#sim-due');
  }],
  ['the key picker open', async (page) => {
    await page.click('#press-rows > li:nth-child(1) .action');
    await page.waitForSelector('#picker[open]');
  }],
];

const VIEWS = [
  { name: 'light, wide', colorScheme: 'light' },
  { name: 'dark, wide', colorScheme: 'dark' },
  { name: 'light, 360 px by touch', colorScheme: 'light', viewport: { width: 360, height: 740 }, hasTouch: true, isMobile: true },
  { name: 'dark, 360 px by touch', colorScheme: 'dark', viewport: { width: 360, height: 740 }, hasTouch: true, isMobile: true },
];

test('no axe violation in light or dark, wide or 360 px, before and after a button is opened in the editor', async () => {
  const found = {};  // all of them, not only the first
  for (const view of VIEWS) {
    const { context, page, log } = await openTestClock(browser, view);
    for (const [state, step] of STEPS) {
      await step(page);
      const broken = await violations(page);
      if (broken.length) found[`${view.name}, ${state}`] = broken;
    }
    assert.deepEqual(log.errors, [], view.name);
    await context.close();
  }
  assert.deepEqual(found, {});
});

test('no axe violation on the Russian page', async () => {
  const { context, page, log } = await openTestClock(browser, { locale: 'ru-RU' });
  assert.equal(await page.getAttribute('html', 'lang'), 'ru');
  for (const [, step] of STEPS.slice(1, 3)) await step(page);
  assert.deepEqual(await violations(page), []);
  assert.deepEqual(log.errors, []);
  await context.close();
});
