// What the page's browser tests share: Debian's chromium driven by
// playwright-core, the built page opened from file://, and klavorcfg run on
// the same choices to compare bytes with.
'use strict';
const assert = require('node:assert/strict');
const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { pathToFileURL } = require('node:url');
const { chromium } = require('playwright-core');

const env = (name) => {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set (the tests run from ctest)`);
  return value;
};
const PAGE = env('KLAVOR_PAGE');
const PAGE_URL = pathToFileURL(PAGE).href;
const KLAVORCFG = env('KLAVORCFG');
const KLAVOR_SIM = env('KLAVOR_SIM');
const SOURCE_DIR = env('KLAVOR_SOURCE_DIR');
// The phone build's klavor.exe, named to klavorcfg cab: its default is
// found from where klavorcfg is, which a build folder of another name moves.
const PHONE_EXE = env('KLAVOR_PHONE_EXE');
// The cabinet's setup program, which klavorcfg cab takes from beside that exe.
const PHONE_SETUP = path.join(path.dirname(PHONE_EXE), 'klavor_setup.dll');
const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';

// As root, with no network: no sandbox, and nothing of Chromium's own that
// would try to reach a server.
const FLAGS = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
  '--disable-component-update', '--disable-sync'];

function launch() {
  return chromium.launch({ executablePath: CHROMIUM, args: FLAGS });
}

function tempDir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'klavor-page-'));
}

// A page opened fresh, with whatever it logs or requests recorded: the
// tests fail on any console error, page error or request beyond the file.
async function openPage(browser, options = {}) {
  const context = options.context || await browser.newContext({
    viewport: options.viewport || { width: 1280, height: 900 },
    colorScheme: options.colorScheme || 'light',
    acceptDownloads: true,
    hasTouch: !!options.hasTouch,
    isMobile: !!options.isMobile,
    locale: options.locale,
  });
  const page = await context.newPage();
  const log = { errors: [], requests: [] };
  page.on('console', (m) => { if (m.type() === 'error' || m.type() === 'warning') log.errors.push(m.text()); });
  page.on('pageerror', (e) => log.errors.push(e.message));
  page.on('request', (r) => log.requests.push(r.url()));
  await page.goto(PAGE_URL + (options.query || '') + (options.fragment || ''));
  await ready(page);
  return { context, page, log };
}

async function ready(page) {
  await page.waitForFunction(() => document.documentElement.dataset.ready || document.documentElement.dataset.failed);
  assert.equal(await page.evaluate(() => document.documentElement.dataset.failed), undefined,
    await page.textContent('#alert'));
}

// The page's requests beyond loading its own file.
function foreignRequests(log) {
  return log.requests.filter((url) => url.split(/[?#]/)[0] !== PAGE_URL);
}

// Clicks a download button and gives the file's name and bytes.
async function download(page, selector) {
  const [dl] = await Promise.all([page.waitForEvent('download'), page.click(selector)]);
  const file = await dl.path();
  return { name: dl.suggestedFilename(), bytes: fs.readFileSync(file) };
}

// Opens a file through the page's file input, as the Open button does.
async function openFile(page, file) {
  await page.setInputFiles('#open-input', file);
}

// klavorcfg on a file: its exit status, standard output (bytes) and error.
function klavorcfg(args, options = {}) {
  const r = spawnSync(KLAVORCFG, args, { cwd: options.cwd, maxBuffer: 1 << 24 });
  return { status: r.status, out: r.stdout, err: r.stderr.toString() };
}

// klavor-sim on a scenario: its exit status, timeline and error.
function klavorSim(args, options = {}) {
  const r = spawnSync(KLAVOR_SIM, args, { cwd: options.cwd, maxBuffer: 1 << 24 });
  return { status: r.status, out: r.stdout.toString(), err: r.stderr.toString() };
}

// The page with a clock the test moves (window.klavorClock.advance).
async function openTestClock(browser, options = {}) {
  return openPage(browser, { ...options, query: '?clock=test' });
}

// The simulated phone's timeline as the page shows it, one string per line.
function timeline(page) {
  return page.$$eval('#sim-timeline .line .text', (lines) => lines.map((l) => l.textContent));
}

// The .reg klavorcfg makes of a configuration text.
function regOf(text, extra = []) {
  const dir = tempDir();
  const file = path.join(dir, 'choices.klavor');
  fs.writeFileSync(file, text);
  const r = klavorcfg(['reg', file, ...extra]);
  assert.equal(r.status, 0, r.err);
  return r.out;
}

// Picks an action through the key picker: search for `name` and take the
// entry whose name it is.
async function pick(page, opener, name, options = {}) {
  await page.click(opener);
  await page.waitForSelector('#picker[open]');
  if (options.win !== undefined) await page.setChecked('#picker-win', options.win);
  await page.fill('#picker-search', name);
  await page.click(`#picker-keys button:has(span:text-is("${name}"))`);
  await page.waitForSelector('#picker:not([open])', { state: 'attached' });
}

// The cabinet klavorcfg makes of a configuration text, with the phone
// build's klavor.exe and the klavor_setup.dll beside it.
function cabOf(text, extra = []) {
  const dir = tempDir();
  const file = path.join(dir, 'choices.klavor');
  fs.writeFileSync(file, text);
  const r = klavorcfg(['cab', file, '-o', path.join(dir, 'out.cab'), '--exe', PHONE_EXE, ...extra]);
  assert.equal(r.status, 0, r.err);
  return fs.readFileSync(path.join(dir, 'out.cab'));
}

module.exports = {
  assert, fs, path, execFileSync, PAGE, PAGE_URL, SOURCE_DIR, PHONE_EXE, PHONE_SETUP, launch, openPage, openTestClock, ready,
  foreignRequests, download, openFile, klavorcfg, klavorSim, timeline, regOf, cabOf, pick, tempDir,
};
