// The page as a whole: one file under its size budget that sends nothing,
// usable with the keyboard, a screen reader, a dark system setting and a
// 360-pixel touch screen.
'use strict';
const { test, before, after } = require('node:test');
const { assert, fs, path, PAGE, launch, openPage, foreignRequests, download, openFile, pick, tempDir, SOURCE_DIR } =
  require('./harness');

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

const SHOTS = process.env.KLAVOR_SCREENSHOTS;  // where to leave screenshots for people to look at

test('one file of at most 1 MB, with the policy that forbids every request and says so', async () => {
  const size = fs.statSync(PAGE).size;
  assert.ok(size <= 1024 * 1024, `the page is ${size} bytes`);
  const html = fs.readFileSync(PAGE, 'utf8');
  const csp = /<meta http-equiv="Content-Security-Policy" content="([^"]*)">/.exec(html);
  assert.ok(csp, 'no policy');
  assert.match(csp[1], /^default-src 'none'; /);
  assert.doesNotMatch(csp[1], /'unsafe-inline'|'unsafe-eval'|https?:|data:|blob:|\*/);
  // Nothing but the page itself: no src or href that loads anything.
  assert.doesNotMatch(html.replace(/<script>[\s\S]*?<\/script>/g, ''), /\s(src|href)="(?!#)/);
  const { page } = await openPage(browser);
  assert.match(await page.textContent('#offline'), /makes no network request/);
  assert.equal(await page.isVisible('#offline'), true);
});

test('no request leaves the page, whatever the user does and whatever a script tries', async () => {
  const { page, log } = await openPage(browser);
  await page.click('#list-6');
  await page.check('#mode-2');
  await pick(page, '#press-rows > li:nth-child(1) .action', 'Enter');
  await download(page, '#download-reg');
  await download(page, '#download-text');
  await openFile(page, path.join(SOURCE_DIR, 'examples/capture-all.reg'));
  await page.waitForFunction(() => document.querySelector('#status').textContent.startsWith('Opened'));
  assert.deepEqual(foreignRequests(log), []);
  assert.deepEqual(log.errors, []);
  // The policy refuses what a script might try: the browser itself stops
  // each attempt (its reason: csp), so nothing reaches the network.
  const failed = [];
  page.on('requestfailed', (r) => failed.push(`${r.url()} ${r.failure().errorText}`));
  const before = log.requests.length;
  const refused = await page.evaluate(async () => {
    let violations = 0;
    document.addEventListener('securitypolicyviolation', () => { violations++; });
    const tries = [
      fetch('http://127.0.0.1:9/x').then(() => 'fetched', () => 'refused'),
      new Promise((done) => { const img = new Image(); img.onerror = () => done('refused'); img.onload = () => done('loaded'); img.src = 'http://127.0.0.1:9/x.png'; }),
    ];
    const results = await Promise.all(tries);
    await new Promise((done) => setTimeout(done, 100));
    return { results, violations };
  });
  assert.deepEqual(refused.results, ['refused', 'refused']);
  assert.equal(refused.violations, 2);
  const attempts = log.requests.slice(before);
  assert.deepEqual(failed.sort(), attempts.map((url) => `${url} csp`).sort());
  log.requests.length = before;
  assert.deepEqual(foreignRequests(log), []);
});

test('every control has an accessible name, and focus is visible', async () => {
  const { page } = await openPage(browser);
  await page.click('#list-6');
  await page.check('#mode-2');
  await page.click('#press-rows > li:nth-child(1) .action');  // the picker's controls too
  const nameless = await page.evaluate(() => {
    const name = (e) => (e.getAttribute('aria-label') || (e.labels && Array.from(e.labels).map((l) => l.textContent).join(' ')) ||
      e.textContent || '').trim();
    return Array.from(document.querySelectorAll('button, input, select, textarea, [tabindex]'))
      .filter((e) => !e.classList.contains('hidden-input') && e.id !== 'editor-title' && e.getClientRects().length && !name(e))
      .map((e) => e.outerHTML.slice(0, 80));
  });
  assert.deepEqual(nameless, []);
  await page.keyboard.press('Escape');
  await page.keyboard.press('Tab');
  const outline = await page.evaluate(() => {
    const s = getComputedStyle(document.activeElement);
    return `${s.outlineStyle} ${s.outlineWidth}`;
  });
  assert.equal(outline, 'solid 3px');
});

function luminance(rgb) {
  const [r, g, b] = rgb.match(/\d+/g).map(Number);
  return (0.2126 * r + 0.7152 * g + 0.0722 * b) / 255;
}

test('the system\'s light or dark setting; screenshots of both', async () => {
  for (const scheme of ['light', 'dark']) {
    const { context, page } = await openPage(browser, { colorScheme: scheme });
    const bg = await page.evaluate(() => getComputedStyle(document.documentElement).backgroundColor);
    const fg = await page.evaluate(() => getComputedStyle(document.body).color);
    if (scheme === 'dark') assert.ok(luminance(bg) < 0.2 && luminance(fg) > 0.8, `${bg} ${fg}`);
    else assert.ok(luminance(bg) > 0.9 && luminance(fg) < 0.2, `${bg} ${fg}`);
    if (SHOTS) {
      await openFile(page, path.join(SOURCE_DIR, 'examples/runaway.klavor'));
      await page.waitForFunction(() => document.querySelector('#status').textContent.startsWith('Opened'));
      await page.click('#list-0');
      await page.screenshot({ path: path.join(SHOTS, `page-${scheme}.png`), fullPage: true });
    }
    await context.close();
  }
});

test('360 pixels wide, by touch: nothing wider than the screen, every control big enough to tap', async () => {
  const { context, page, log } = await openPage(browser, { viewport: { width: 360, height: 740 }, hasTouch: true, isMobile: true });
  const check = async (what) => {
    const wide = await page.evaluate(() => document.documentElement.scrollWidth);
    assert.ok(wide <= 360, `${what}: the page is ${wide} px wide`);
    const small = await page.evaluate(() => Array.from(document.querySelectorAll('button, input[type=text], input[type=search]'))
      .filter((e) => e.getClientRects().length && e.getBoundingClientRect().height < 44)
      .map((e) => `${e.id || e.textContent.trim()}: ${e.getBoundingClientRect().height}`));
    assert.deepEqual(small, [], what);
  };
  await check('the page');
  await page.tap('#list-7');
  await page.tap('label[for=mode-2]');
  await page.tap('#press-rows > li:nth-child(2) .action');
  await check('the picker');
  await page.tap('label[for=picker-group-1]');
  await page.tap('#picker-keys button:has(span:text-is("Z"))');
  assert.equal(await page.textContent('#press-rows > li:nth-child(2) .action'), 'Z');
  await check('the editor');
  if (SHOTS) await page.screenshot({ path: path.join(SHOTS, 'page-360.png'), fullPage: true });
  assert.deepEqual(log.errors, []);
  await context.close();
});
