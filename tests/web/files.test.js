// Files in and out: what the page opens and writes is what klavorcfg reads
// and writes, both ways; a bad file is refused with its name and line and
// changes nothing.
'use strict';
const { test, before, after } = require('node:test');
const { execFileSync } = require('node:child_process');
const { assert, fs, path, launch, openPage, download, openFile, klavorcfg, cabOf, tempDir, SOURCE_DIR, PHONE_EXE,
  PHONE_SETUP } = require('./harness');

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

const examples = path.join(SOURCE_DIR, 'examples');

async function opened(page) {
  await page.waitForFunction(() => document.querySelector('#status').textContent || document.querySelector('#alert').textContent);
  return { status: await page.textContent('#status'), alert: await page.textContent('#alert') };
}

async function regNow(page) {
  if (await page.isVisible('#force')) await page.check('#force');  // there only while an error stands
  return (await download(page, '#download-reg')).bytes.toString();
}

test('every configuration in examples/ opens as klavorcfg reads it; the rest are refused by line', async () => {
  const { page, log } = await openPage(browser);
  const files = fs.readdirSync(examples).sort();
  const configs = files.filter((f) => /\.(klavor|reg)$/.test(f));
  assert.ok(configs.length >= 4, configs.join());
  for (const name of configs) {
    await page.evaluate(() => { document.querySelector('#status').textContent = ''; });
    await openFile(page, path.join(examples, name));
    const said = await opened(page);
    assert.match(said.status, new RegExp(`^Opened ${name.replace('.', '\\.')}`), said.alert);
    const cli = klavorcfg(['reg', path.join(examples, name), '--no-check']);
    assert.equal(cli.status, 0, cli.err);
    assert.equal(await regNow(page), cli.out.toString(), name);
  }
  // Scenarios and their timelines are no configurations: refused, with
  // the line the text form stops at, and nothing changes.
  const before = await regNow(page);
  for (const name of files.filter((f) => !configs.includes(f))) {
    await page.evaluate(() => { for (const id of ['#status', '#alert']) document.querySelector(id).textContent = ''; });
    await openFile(page, path.join(examples, name));
    const said = await opened(page);
    assert.match(said.alert, new RegExp(`^Not opened\\. ${name.replace('.', '\\.')}:\\d+: `), name);
  }
  assert.equal(await regNow(page), before);
  assert.deepEqual(log.errors, []);
});

test('a malformed file is refused with its name and line, as klavorcfg says it, and the buttons stay', async () => {
  const { page } = await openPage(browser);
  const dir = tempDir();
  const cases = {
    'bad.klavor': '# mine\nGreen capture single TTalk\nRed capture single "red*2"\n',
    'short.reg': 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvane]\r\n"klavorKeyTable"=hex:01,02\r\n',
    'short.bin': Buffer.alloc(127),
    'broken.reg': 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvane]\r\n"klavorKeyTable"=hex:0g\r\n',
  };
  const before = await regNow(page);
  for (const [name, content] of Object.entries(cases)) {
    const file = path.join(dir, name);
    fs.writeFileSync(file, content);
    const cli = klavorcfg(['reg', file]);
    assert.equal(cli.status, 2, name);
    // The download before said what it made: clear both, to wait for this open's words.
    await page.evaluate(() => { for (const id of ['#status', '#alert']) document.querySelector(id).textContent = ''; });
    await openFile(page, file);
    const said = await opened(page);
    // klavorcfg names the path it was given; the page, the file's name.
    assert.equal(said.alert, `Not opened. ${cli.err.trim().split(dir + path.sep).join('')}`, name);
  }
  assert.match(await page.textContent('#alert'), /./);
  assert.equal(await regNow(page), before);
});

test('the page and klavorcfg trade files both ways: text, .reg and raw image', async () => {
  const { page } = await openPage(browser);
  const dir = tempDir();
  // klavorcfg -> page: what show prints, a .reg and a raw image.
  const source = path.join(dir, 'mine.klavor');
  fs.writeFileSync(source, '\ufeffGreen capture single TTalk double Win+D\r\nRecord free\r\nslot 2 capture key 0xC3 single 0x12C1\r\n');
  const reg = klavorcfg(['reg', source]).out;
  const shown = klavorcfg(['show', source]).out;
  fs.writeFileSync(path.join(dir, 'shown.klavor'), shown);
  fs.writeFileSync(path.join(dir, 'mine.reg'), reg);
  const image = Buffer.from(reg.toString().match(/hex:([\s\S]*)/)[1].replace(/[^0-9a-f]/g, ''), 'hex');
  assert.equal(image.length, 128);
  fs.writeFileSync(path.join(dir, 'mine.bin'), image);
  // Notepad's "Unicode": UTF-16 with a byte order mark.
  fs.writeFileSync(path.join(dir, 'notepad.klavor'),
    Buffer.concat([Buffer.from([0xff, 0xfe]), Buffer.from(fs.readFileSync(source, 'utf8').slice(1), 'utf16le')]));
  for (const name of ['mine.klavor', 'shown.klavor', 'mine.reg', 'mine.bin', 'notepad.klavor']) {
    await page.click('#reset');
    await openFile(page, path.join(dir, name));
    assert.equal(await regNow(page), reg.toString(), name);
  }
  // page -> klavorcfg: the text it writes reads back to the same value.
  const text = await download(page, '#download-text');
  assert.equal(text.name, 'Klavor.klavor');
  assert.equal(text.bytes.toString(), klavorcfg(['show', path.join(dir, 'mine.bin')]).out.toString()
    .replace('# ' + path.join(dir, 'mine.bin'), '# Klavor.klavor'));
  fs.writeFileSync(path.join(dir, 'Klavor.klavor'), text.bytes);
  assert.equal(klavorcfg(['reg', path.join(dir, 'Klavor.klavor')]).out.toString(), reg.toString());
});

test('a file dropped on the page opens', async () => {
  const { page } = await openPage(browser);
  const text = fs.readFileSync(path.join(examples, 'road-of-one-event.klavor'), 'utf8');
  await page.evaluate((content) => {
    const data = new DataTransfer();
    data.items.add(new File([content], 'dropped.klavor'));
    for (const type of ['dragenter', 'dragover', 'drop'])
      document.querySelector('#editor').dispatchEvent(new DragEvent(type, { bubbles: true, cancelable: true, dataTransfer: data }));
  }, text);
  const said = await opened(page);
  assert.equal(said.status, 'Opened dropped.klavor.');
  assert.equal(await page.isVisible('#drop'), false);
  assert.match(await page.textContent('#list-0'), /capture/);
});

test('Klavor.cab is klavorcfg cab\'s, byte for byte; cabextract and gcab read its members; the page opens cabinets', async () => {
  const { page, log } = await openPage(browser);
  const dir = tempDir();
  const text = 'Green capture single TTalk double Win+D triple Enter\nRecord free\nCamera capture key 0xC3 single 0x12C1\n';
  fs.writeFileSync(path.join(dir, 'mine.klavor'), text);
  await openFile(page, path.join(dir, 'mine.klavor'));
  const cab = await download(page, '#download-cab');
  assert.equal(cab.name, 'Klavor.cab');
  const made = cabOf(text);
  assert.ok(cab.bytes.equals(made), `the page's ${cab.bytes.length} bytes against klavorcfg's ${made.length}`);
  fs.writeFileSync(path.join(dir, 'Klavor.cab'), cab.bytes);

  // Two readers nobody here wrote: the members in the cabinet's order, the
  // setup program right after the control file, each read the same by both;
  // KLAVOR.999 is the phone build's klavor_setup.dll, KLAVOR.001 its klavor.exe.
  const file = path.join(dir, 'Klavor.cab');
  const listed = {
    cabextract: execFileSync(process.env.CABEXTRACT, ['-l', file]).toString().split('\n')
      .map((line) => line.match(/^\s*\d+ \|.*\| (\S+)$/)).filter(Boolean).map((m) => m[1]),
    gcab: execFileSync(process.env.GCAB, ['-l', file]).toString().split('\n')
      .map((line) => line.match(/^(\S+) \d+ /)).filter(Boolean).map((m) => m[1]),
  };
  const members = ['KLAVOR.000', 'KLAVOR.999', 'KLAVOR.001'];
  assert.deepEqual(listed, { cabextract: members, gcab: members });
  execFileSync(process.env.CABEXTRACT, ['-q', '-d', path.join(dir, 'cabextract'), file]);
  execFileSync(process.env.GCAB, ['-x', '-C', path.join(dir, 'gcab'), file]);
  for (const m of members)
    assert.ok(fs.readFileSync(path.join(dir, 'cabextract', m)).equals(fs.readFileSync(path.join(dir, 'gcab', m))), m);
  for (const [m, carried] of [['KLAVOR.999', PHONE_SETUP], ['KLAVOR.001', PHONE_EXE]])
    assert.ok(fs.readFileSync(path.join(dir, 'cabextract', m)).equals(fs.readFileSync(carried)), `${m}: ${carried}`);
  // The page says what it carries, with their sizes.
  const sizes = [PHONE_EXE, PHONE_SETUP].map((f) => fs.statSync(f).size.toLocaleString('en'));
  assert.match(await page.textContent('#program-line'),
    new RegExp(`klavor\\.exe \\(${sizes[0]} bytes\\).*klavor_setup\\.dll \\(${sizes[1]} bytes\\)`));
  // klavorcfg reads the page's cabinet as the configuration it was made of,
  // with the setup program for the installer to run.
  const shown = klavorcfg(['show', file]);
  assert.equal(shown.status, 0, shown.err);
  assert.match(shown.out.toString(), /^# KLAVOR\.999, Klavor's setup program, ends a running Klavor/m);
  assert.equal(klavorcfg(['reg', path.join(dir, 'Klavor.cab')]).out.toString(),
    klavorcfg(['reg', path.join(dir, 'mine.klavor')]).out.toString());

  // And the page opens a cabinet klavorcfg made; one without the value is refused.
  await page.click('#reset');
  await openFile(page, path.join(dir, 'Klavor.cab'));
  assert.equal((await opened(page)).status, 'Opened Klavor.cab.');
  assert.ok((await download(page, '#download-cab')).bytes.equals(made));
  const bare = klavorcfg(['cab', '--no-config', '-o', path.join(dir, 'bare.cab'), '--exe', PHONE_EXE]);
  assert.equal(bare.status, 0, bare.err);
  await openFile(page, path.join(dir, 'bare.cab'));
  await page.waitForFunction(() => document.querySelector('#alert').textContent);
  assert.equal(await page.textContent('#alert'), 'Not opened. bare.cab: the cabinet sets no klavorKeyTable value');
  assert.deepEqual(log.errors, []);
});
