// The page's budgets, measured in headless chromium on this machine:
//   cmake --build --preset default --target web_bench
// - size: the one file, at most 1 MB;
// - load: from opening the file to a usable page (the module compiled, the
//   buttons drawn), at most 1 s;
// - check: from an edit to its check on screen (the next frame drawn), at
//   most 50 ms.
'use strict';
const fs = require('node:fs');
const path = require('node:path');
const { PAGE, PAGE_URL, SOURCE_DIR, launch, openFile } = require('./harness');

const LOADS = 15;
const EDITS = 60;

const median = (xs) => { const s = [...xs].sort((a, b) => a - b); return s[Math.floor(s.length / 2)]; };
const fmt = (xs) => `median ${median(xs).toFixed(1)} ms, min ${Math.min(...xs).toFixed(1)}, max ${Math.max(...xs).toFixed(1)} (${xs.length} runs)`;

(async () => {
  const browser = await launch();
  const size = fs.statSync(PAGE).size;
  console.log(`size   ${size} bytes (${(size / 1024).toFixed(0)} KB of the 1024 KB budget)`);

  // Each load in a new browser context, as a user opening the file.
  const loads = [];
  for (let i = 0; i < LOADS; i++) {
    const context = await browser.newContext();
    const page = await context.newPage();
    await page.goto(PAGE_URL);
    await page.waitForFunction(() => window.klavorReadyAt !== undefined);
    loads.push(await page.evaluate(() => window.klavorReadyAt));
    await context.close();
  }
  console.log(`load   ${fmt(loads)}   (budget 1000 ms; performance.now() when usable, from navigation start)`);

  // Edits on a configuration that captures every button, each followed by
  // the library's check and the page drawn again.
  const context = await browser.newContext();
  const page = await context.newPage();
  await page.goto(PAGE_URL);
  await page.waitForFunction(() => window.klavorReadyAt !== undefined);
  await openFile(page, path.join(SOURCE_DIR, 'examples/capture-all.klavor'));
  await page.waitForFunction(() => document.querySelector('#status').textContent.startsWith('Opened'));
  await page.click('#list-6');
  const edits = await page.evaluate(async (count) => {
    const times = [];
    for (let i = 0; i < count; i++) {
      const radio = document.getElementById(i % 2 ? 'mode-2' : 'mode-1');
      const t0 = performance.now();
      radio.click();
      await new Promise((done) => requestAnimationFrame(() => setTimeout(done, 0)));
      times.push(performance.now() - t0);
    }
    return times;
  }, EDITS);
  console.log(`check  ${fmt(edits)}   (budget 50 ms; a click on a mode to the next frame drawn)`);
  await browser.close();
  const over = [];
  if (size > 1024 * 1024) over.push('size');
  if (median(loads) > 1000) over.push('load');
  if (median(edits) > 50) over.push('check');
  if (over.length) {
    console.log(`over budget: ${over.join(', ')}`);
    process.exitCode = 1;
  }
})().catch((e) => { console.error(e); process.exitCode = 2; });
