// The page's budgets, measured in headless chromium on this machine:
//   cmake --build --preset default --target web_bench
// - size: the one file, at most 1 MB;
// - load: from opening the file to a usable page (the module compiled, the
//   buttons drawn), at most 1 s, and to the simulated phone started (the
//   task after that, no budget of its own);
// - check: from an edit to its check on screen (the next frame drawn), at
//   most 50 ms;
// - press: on the simulated phone, from a press to its line on screen (the
//   next frame drawn) in a 10-minute session of 500 presses, at most one
//   frame, 16 ms; and what that costs below: the session run again from the
//   start on a press (the program's run, the new lines told), and a run
//   with every line told, as on opening a session or switching language.
'use strict';
const fs = require('node:fs');
const path = require('node:path');
const { PAGE, PAGE_URL, SOURCE_DIR, launch, openFile } = require('./harness');

const LOADS = 15;
const EDITS = 60;
const SESSION_PRESSES = 500;  // over ten minutes
const MEASURED_PRESSES = 40;

const median = (xs) => { const s = [...xs].sort((a, b) => a - b); return s[Math.floor(s.length / 2)]; };
const fmt = (xs) => `median ${median(xs).toFixed(1)} ms, min ${Math.min(...xs).toFixed(1)}, max ${Math.max(...xs).toFixed(1)} (${xs.length} runs)`;

(async () => {
  const browser = await launch();
  const size = fs.statSync(PAGE).size;
  console.log(`size   ${size} bytes (${(size / 1024).toFixed(0)} KB of the 1024 KB budget)`);

  // Each load in a new browser context, as a user opening the file.
  const loads = [];
  const phones = [];
  for (let i = 0; i < LOADS; i++) {
    const context = await browser.newContext();
    const page = await context.newPage();
    await page.goto(PAGE_URL);
    await page.waitForFunction(() => document.documentElement.dataset.ready);
    const [ready, phone] = await page.evaluate(() => [window.klavorReadyAt, window.klavorPhoneAt]);
    loads.push(ready);
    phones.push(phone);
    await context.close();
  }
  console.log(`load   ${fmt(loads)}   (budget 1000 ms; performance.now() when usable, from navigation start)`);
  console.log(`phone  ${fmt(phones)}   (the same loads to the simulated phone's session started, the task after)`);

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
  await context.close();

  // A ten-minute session on the simulated phone: 500 presses of four
  // captured buttons at 1.2 s, the page's clock moved by the bench.
  const session = await browser.newContext();
  const sim = await session.newPage();
  await sim.goto(PAGE_URL + '?clock=test');
  await sim.waitForFunction(() => document.documentElement.dataset.ready);
  await openFile(sim, path.join(SOURCE_DIR, 'examples/capture-all.klavor'));
  await sim.waitForFunction(() => document.querySelector('#status').textContent.startsWith('Opened'));
  const presses = await sim.evaluate(async ({ n, measured }) => {
    const slots = [6, 2, 0, 7];
    for (let i = 0; i < n; i++) {
      window.klavorClock.advance(1200);
      document.getElementById('sim-key-' + slots[i % 4]).click();
    }
    const work = [];
    const drawn = [];
    for (let i = 0; i < measured; i++) {
      window.klavorClock.advance(1200);
      // From the click to the page laid out with its line (what has to fit
      // in a frame), and to the next frame drawn (a frame's wait included).
      const t0 = performance.now();
      document.getElementById('sim-key-' + slots[i % 4]).click();
      const line = document.querySelector('#sim-timeline .line:last-child');
      line.getBoundingClientRect();
      work.push(performance.now() - t0);
      await new Promise((done) => requestAnimationFrame(() => setTimeout(done, 0)));
      drawn.push(performance.now() - t0);
      const text = line.querySelector('.text').textContent;
      if (!/ to Klavor$/.test(text)) throw new Error(`the press is not the last line: ${text}`);
    }
    return { work, drawn };
  }, { n: SESSION_PRESSES, measured: MEASURED_PRESSES });
  console.log(`press  ${fmt(presses.work)}   (budget 16 ms, one frame; a click on the phone's button to the page ` +
    `laid out with its line, after ${SESSION_PRESSES} presses in ten minutes)`);
  console.log(`drawn  ${fmt(presses.drawn)}   (the same click to the next frame drawn, the wait for that frame included)`);

  // The same session on the C API alone: what a press costs to run again
  // from the start, and a run with all its lines told.
  const cost = await sim.evaluate(async ({ n, measured }) => {
    const K = await createKlavor();
    const put = (bytes) => { const p = K._malloc(bytes.length); K.HEAPU8.set(bytes, p); return p; };
    K._klavor_defaults();
    const table = K.HEAPU8.slice(K._klavor_result(), K._klavor_result() + 128);
    for (const slot of [0, 2, 6, 7]) table[slot * 16] = 2;
    const full = [];
    const rerun = [];
    const slots = [6, 2, 0, 7];
    for (let round = 0; round < 5; round++) {
      K._klavor_session_start(put(table), 128, put(new TextEncoder().encode('Phone\0')));
      for (let i = 0; i < n; i++) K._klavor_session_press(1200 * (i + 1), slots[i % 4], 0);
      let t0 = performance.now();
      K._klavor_session_view(1200 * n, 1);
      full.push(performance.now() - t0);
      for (let i = 0; i < measured; i++) {
        const t = 1200 * (n + i + 1);
        t0 = performance.now();
        K._klavor_session_press(t, slots[i % 4], 0);
        K._klavor_session_view(t, 0);
        rerun.push(performance.now() - t0);
      }
    }
    return { full, rerun };
  }, { n: SESSION_PRESSES, measured: MEASURED_PRESSES });
  console.log(`rerun  ${fmt(cost.rerun)}   (a press added and the session run again from the start, the new lines told)`);
  console.log(`full   ${fmt(cost.full)}   (the same run with all its lines told)`);
  await browser.close();
  const over = [];
  if (size > 1024 * 1024) over.push('size');
  if (median(loads) > 1000) over.push('load');
  if (median(edits) > 50) over.push('check');
  if (median(presses.work) > 16) over.push('press');
  if (over.length) {
    console.log(`over budget: ${over.join(', ')}`);
    process.exitCode = 1;
  }
})().catch((e) => { console.error(e); process.exitCode = 2; });
