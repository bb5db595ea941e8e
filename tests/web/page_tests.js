// The page in a real headless browser, driven through its DevTools protocol: each case loads the
// page with the stand-in MIDI access of standin.js over the page's virtual device, opens a file as
// a person would, answers the dialogs, and checks what the page said and what the device got. The
// page is served with the headers a host should send, and whatever its content security policy
// blocks fails the case.
// Usage: node page_tests.js SITE_DIR FILES_DIR EXPECTED.json SHOTS_DIR [CASE...]
'use strict';
const fs = require('fs');
const path = require('path');
const zlib = require('zlib');
const driver = require('./driver');
const timed = require('./timed_midi');

const { dialog, press, check, same } = driver;

const [site, files, expectedFile, shots, ...only] = process.argv.slice(2);
const expected = JSON.parse(fs.readFileSync(expectedFile, 'utf8'));
const standinSource = fs.readFileSync(path.join(__dirname, 'standin.js'), 'utf8');
const axeSource = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
const FAILURE = 'The update failed for the following reason:\n\n';
// The screens the page is checked on; the phones as a phone's browser lays pages out.
const screens = {
  desktop: { width: 1024, height: 768 },
  phone: { width: 390, height: 844, isMobile: true, hasTouch: true },
  narrow: { width: 360, height: 740, isMobile: true, hasTouch: true },
};

let browser;
let base;
let log = [];
let policy; // the current case's watch on the content security policy

// `viewport`: the window's size; `at`: where the page is served (by default the server every case
// shares); `lasting`: in the browser's own profile, not a new private one.
async function openPage(standIn, { viewport = { width: 548, height: 350 }, at = base, lasting = false } = {}) {
  const context = lasting ? browser.defaultBrowserContext() : await browser.createBrowserContext();
  const tab = await context.newPage();
  await tab.setViewport(viewport);
  log = [];
  tab.on('console', (message) => log.push(message.text()));
  tab.on('pageerror', (error) => log.push(`page error: ${error.message}`));
  policy = await driver.watchPolicy(tab);
  await tab.evaluateOnNewDocument(`window.__standIn = ${JSON.stringify(standIn)};\n${standinSource}`);
  await tab.goto(`${at}/index.html`);
  await Promise.race([tab.waitForSelector('body[data-state=idle]'), policy.violated]);
  return tab;
}

const record = (tab) => tab.evaluate(() => window.__standInRecord);
const wakeLock = async (tab) => JSON.stringify((await record(tab)).wakeLock);
const deviceReport = (tab) => tab.evaluate(() => window.__standInReport());
const openFile = (tab, name) => driver.openFile(tab, path.join(files, name));
// Opens the file and answers its confirmation with "Update Now".
async function confirmed(tab, name) {
  await openFile(tab, name);
  await dialog(tab, 'confirm');
  await press(tab, 'confirm', 'yes');
}
const runUpdate = (tab, name, options) => driver.runUpdate(tab, path.join(files, name), options);

const device = (behaviour = '', file = '/files/demo.upd') => ({ device: { file, behaviour } });
const text = (tab, id) => tab.$eval(`#${id}`, (e) => (e.hidden ? '' : e.textContent));

// axe's serious and critical findings on the page as it is now. Its source goes in through the
// DevTools protocol, as the tests' own scripts do, which the page's policy does not govern.
async function accessible(tab, when) {
  if (!await tab.evaluate(() => Boolean(window.axe))) await tab.evaluate(axeSource);
  const found = await tab.evaluate(async () => (await window.axe.run(document, { resultTypes: ['violations'] }))
    .violations.filter((v) => v.impact === 'serious' || v.impact === 'critical')
    .map((v) => `${v.id} (${v.impact}) at ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`));
  check(found.length === 0, `axe, ${when}: ${found.join('; ')}`);
}

// What a person cannot reach on the screen as it is: a page wider than the screen, a control of the
// page beyond its sides, a control of the open dialog beyond any edge, a button or list too small
// for a finger.
async function reachable(tab, when) {
  const faults = await tab.evaluate(() => {
    const out = [];
    // The screen as the page's viewport declares it: a phone's browser zooms out of a page wider
    // than that, which then fits its (zoomed) window.
    const { clientWidth: width, clientHeight: height, scrollWidth: wide } = document.documentElement;
    if (wide > width) out.push(`the page is ${wide} px wide`);
    if (window.innerWidth > width) out.push(`the browser zoomed out to ${window.innerWidth} px`);
    const open = document.querySelector('dialog[open]');
    const controls = (open || document.getElementById('window')).querySelectorAll('button, select, label, input');
    for (const control of controls) {
      const r = control.getBoundingClientRect();
      if (r.width === 0 && r.height === 0) continue;
      const name = `${control.tagName.toLowerCase()} '${control.id || control.textContent.trim().slice(0, 24)}'`;
      if (r.left < 0 || r.right > width) out.push(`${name} spans x ${r.left}..${r.right}`);
      if (open && (r.top < 0 || r.bottom > height)) out.push(`${name} spans y ${r.top}..${r.bottom}`);
      if (/^(BUTTON|SELECT)$/.test(control.tagName) && r.height < 44) out.push(`${name} is ${r.height} px high`);
    }
    return out;
  });
  check(faults.length === 0, `on the screen, ${when}: ${faults.join('; ')}`);
}

// Both checks at one moment of the run.
async function usable(tab, when) {
  await accessible(tab, when);
  await reachable(tab, when);
}

// How the page ends the run: the look of the result and the bar, its heading, its sentence, what
// the live region said; the verdict box closed first.
async function outcome(tab) {
  await press(tab, 'box', 'ok');
  await tab.waitForSelector('body[data-state=idle] #result:not([hidden])');
  await tab.waitForFunction(() => document.getElementById('live').textContent !== '', { polling: 50 });
  return tab.evaluate(() => {
    const shown = (id) => document.getElementById(id);
    return {
      look: shown('result').className,
      bar: shown('rows').className,
      colour: getComputedStyle(shown('result')).backgroundColor,
      fill: getComputedStyle(shown('fill')).backgroundImage + getComputedStyle(shown('fill')).backgroundColor,
      heading: shown('result-heading').textContent,
      verdict: shown('verdict').textContent,
      live: shown('live').textContent,
    };
  });
}

// The file "Save log" downloads, once the browser says it has written it all.
async function savedLog(tab) {
  const downloads = fs.mkdtempSync(path.join(shots, 'downloads-'));
  const session = await browser.target().createCDPSession();
  try {
    await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads,
      browserContextId: tab.browserContext().id, eventsEnabled: true });
    let name = null;
    session.on('Browser.downloadWillBegin', (event) => { name = event.suggestedFilename; });
    const written = new Promise((resolve, reject) => session.on('Browser.downloadProgress', (event) => {
      if (event.state === 'completed') resolve();
      if (event.state === 'canceled') reject(new Error('the browser canceled the download'));
    }));
    await tab.click('#save-log');
    await driver.bounded(20, 'the saved log', written);
    same(name, 'midiupdate-log.txt', 'the saved log\'s name');
    return fs.readFileSync(path.join(downloads, name), 'utf8');
  } finally {
    await session.detach();
  }
}

// Tab until `id` has the focus (at most `presses` times).
async function tabTo(tab, id, presses = 20) {
  for (let i = 0; i < presses; i++) {
    if (await tab.evaluate(() => document.activeElement && document.activeElement.id) === id) return;
    await tab.keyboard.press('Tab');
  }
  check(false, `${id} never had the focus after ${presses} presses of Tab`);
}

// Opens `name` from the keyboard: Tab to Open..., Enter, the file chooser answered.
async function openByKeys(tab, name) {
  // The browser takes the chooser from the page once it has the tests' request to; a script run in
  // the page after that request (tabTo's) is answered only once the page has it too.
  const chooser = tab.waitForFileChooser({ timeout: 0 });
  await tabTo(tab, 'open');
  await tab.keyboard.press('Enter');
  await (await chooser).accept([path.join(files, name)]);
}

// A whole update of the demo on one screen, checked at each moment (axe, reach), with its pictures.
async function onScreen(tab, size) {
  await tab.setViewport(screens[size]);
  await usable(tab, 'before a file');
  await openFile(tab, 'demo.upd');
  await dialog(tab, 'confirm');
  await usable(tab, 'at the confirmation');
  await tab.screenshot({ path: path.join(shots, `page-${size}-confirm.png`) });
  await press(tab, 'confirm', 'yes');
  let box = await dialog(tab, 'box');
  await usable(tab, 'at the file\'s message');
  await press(tab, 'box', 'ok');
  box = await dialog(tab, 'box', box.shown);
  same(box.caption, 'Important', 'the preparation message');
  await usable(tab, 'during the update');
  await tab.screenshot({ path: path.join(shots, `page-${size}-updating.png`) });
  await tab.$eval('#bar', (e) => e.scrollIntoView({ block: 'center' }));
  await tab.screenshot({ path: path.join(shots, `page-${size}-running.png`) });
  while (box.caption === 'Important') {
    await press(tab, 'box', 'ok');
    box = await dialog(tab, 'box', box.shown);
  }
  same(box.text, expected.verdicts.accept, 'the verdict');
  await usable(tab, 'at the verdict');
  await press(tab, 'box', 'ok');
  await tab.waitForSelector('body[data-state=idle] #result:not([hidden])');
  await usable(tab, 'after the update');
  await tab.screenshot({ path: path.join(shots, `page-${size}.png`), fullPage: true });
}

// MIDI access refused, against MIDI that did not start: each has its own sentence.
const accessFailures = {
  refuse: 'The browser did not allow this page to send SysEx',
  insecure: 'The browser did not allow this page to send SysEx',
  broken: 'The browser could not start MIDI (InvalidStateError: Platform dependent initialization failed.), so ' +
    'nothing was sent. Close other programs',
};

// What the page's program says of a file of the files folder (the JSON of mu_describe).
const describeFile = (tab, name) => tab.evaluate(async (url) => {
  const bytes = new Uint8Array(await (await fetch(url)).arrayBuffer());
  return withBytes(bytes, (pointer, length) => call('mu_describe', ['number', 'number', 'number'],
    [pointer, length, platform()]));
}, `/files/${name}`);

// Once the service worker has kept the page's files and serves this tab: bounded by the case.
const kept = (tab) => tab.evaluate(async () => {
  await navigator.serviceWorker.ready;
  if (!navigator.serviceWorker.controller) {
    await new Promise((resolve) => navigator.serviceWorker.addEventListener('controllerchange', resolve, { once: true }));
  }
  return (await caches.keys()).filter((name) => name.startsWith('midiupdate-'));
});

const cases = {
  async describes(tab) {
    await openFile(tab, 'pictured.upd');
    const box = await dialog(tab, 'confirm');
    same(box.caption, 'Update Demo Synth', 'the confirmation caption');
    same(box.text, 'Do you want to update your Demo Synth to version 1.05 now?', 'the confirmation');
    same(await tab.title(), 'Update Demo Synth', 'the title');
    same(await tab.$eval('#product', (e) => e.textContent), ' Product: \'Demo Synth\' \tFirmware version: 1.05',
      'the product line');
    await tab.waitForFunction(() => document.getElementById('picture').src.startsWith('blob:') &&
      document.getElementById('picture').complete, { polling: 50 });
    same(await tab.$eval('#picture', (e) => `${e.naturalWidth}x${e.naturalHeight}`), expected.pictureSize,
      'the file\'s picture');
    await tab.screenshot({ path: path.join(shots, 'page-describes.png') });
    await press(tab, 'confirm', 'no');
    same((await record(tab)).requests, 0, 'MIDI access asked for before the update was confirmed');
    same((await record(tab)).wakeLock.requests, 0, 'the screen kept on without an update');
  },

  // The time the update takes: the command line's estimate for the same file and a run with no
  // MIDI system's pacing between (Web MIDI adds none).
  async duration(tab) {
    const info = await describeFile(tab, 'demo.upd');
    same(info.duration, expected.duration, 'the duration');
    check(typeof info.durationMs === 'number' && info.durationMs > 0, `durationMs: ${info.durationMs}`);
  },

  // Each damaged file with the loader's sentence, as the command line says it.
  async damaged(tab) {
    let shown = 0;
    for (const [name, sentence] of Object.entries(expected.damaged)) {
      await openFile(tab, name);
      const box = await dialog(tab, 'box', shown);
      same(box.text, FAILURE + sentence, `the failure box of ${name}`);
      shown = box.shown;
      await press(tab, 'box', 'ok');
      await tab.waitForSelector('body[data-state=idle]');
    }
    same((await record(tab)).requests, 0, 'MIDI access asked for a damaged file');
  },

  // Also the screen wake lock: held during the run, asked for again when the page shows after the
  // browser let it go, and let go when the run ends.
  async accepting(tab) {
    let held = null;
    const box = await runUpdate(tab, 'demo.upd', {
      important: expected.important,
      during: async () => {
        held = await tab.$eval('#fill', (e) => parseFloat(e.style.width));
        await tab.screenshot({ path: path.join(shots, 'page-updating.png') });
        same(await wakeLock(tab), '{"requests":1,"releases":0,"held":1}', 'the screen wake lock during the update');
        await tab.evaluate(() => window.__standInHide());
        same(await wakeLock(tab), '{"requests":1,"releases":0,"held":0}', 'the wake lock once the page was hidden');
        await tab.evaluate(() => window.__standInShow());
        await tab.waitForFunction(() => window.__standInRecord.wakeLock.held > 0, { polling: 50, timeout: 10000 })
          .catch(() => check(false, 'the page did not ask for the wake lock again when it showed'));
        same(await wakeLock(tab), '{"requests":2,"releases":0,"held":1}', 'the wake lock once the page showed');
      },
    });
    same(box.text, expected.verdicts.accept, 'the verdict');
    await tab.waitForSelector('body[data-state=idle]');
    same(await wakeLock(tab), '{"requests":2,"releases":1,"held":0}', 'the wake lock after the update');
    check(held > 0 && held < 100, `the bar at the preparation message: ${held}%`);
    same(await tab.$eval('#status', (e) => e.textContent), ` Completed: ${expected.verdicts.accept.replace(/\n/g, ' ')}`,
      'the status line');
    const report = await deviceReport(tab);
    check(report.startsWith('satisfied\n') && report.includes('Portions complete: 2 of 2, 0 corrupt'),
      `the device's report:\n${report}`);
  },

  async failing(tab) {
    same((await runUpdate(tab, 'demo.upd', { important: expected.important })).text, expected.verdicts.fail,
      'the verdict');
  },

  // While the device says nothing the run cannot tell how far it is: the bar sweeps, with no number.
  async silent(tab) {
    const run = runUpdate(tab, 'one.upd');
    await tab.waitForSelector('#bar.indeterminate');
    same(await tab.$eval('#bar', (e) => e.getAttribute('aria-valuenow')), null, 'the sweeping bar\'s value');
    same(await tab.$eval('#fill', (e) => getComputedStyle(e).animationName), 'sweep', 'the sweeping bar\'s animation');
    await usable(tab, 'while the bar sweeps');
    same((await run).text, expected.verdicts.silent, 'the verdict');
    const shown = await outcome(tab);
    same(shown.look, 'outcome-check', 'the look of a verdict the device did not confirm');
  },

  // A successful and a failed update end differently: the look, the bar, the heading; the whole
  // verdict, on the page and in the live region; "Save log" saves that run's log.
  async outcomes(first) {
    const looks = {};
    const runs = [['accept', device()], ['fail', device('status=fail')]];
    for (const [name, standIn] of runs) {
      const tab = name === 'accept' ? first : await openPage(standIn);
      same((await runUpdate(tab, 'demo.upd')).text, expected.verdicts[name], `the ${name} verdict box`);
      const shown = await outcome(tab);
      await tab.$eval('#result', (e) => e.scrollIntoView({ block: 'center' }));
      await tab.screenshot({ path: path.join(shots, `page-outcome-${name}.png`) });
      same(shown.verdict, expected.verdicts[name], `the ${name} verdict on the page`);
      check(shown.live.includes(expected.verdicts[name]), `the live region after ${name}: ${shown.live}`);
      const saved = await savedLog(tab);
      for (const line of ['File: demo.upd', 'Product name:   Demo Synth', 'MIDI output \'Demo Synth\'',
        `Completed: ${expected.verdicts[name].split('\n')[0]}`]) {
        check(saved.includes(line), `the saved log of ${name} has no '${line}':\n${saved}`);
      }
      looks[name] = shown;
      if (tab !== first) await tab.browserContext().close();
    }
    for (const part of ['look', 'bar', 'colour', 'fill', 'heading']) {
      check(looks.accept[part] !== looks.fail[part], `success and failure have the same ${part}: ${looks.fail[part]}`);
    }
    same(looks.fail.look, 'outcome-failed', 'the look of the failed update');
  },

  // During the update nothing starts another: the controls are off and say why, a dropped file is
  // refused with a sentence, and leaving asks first. After it, leaving does not ask.
  async leaving(tab) {
    await runUpdate(tab, 'demo.upd', {
      during: async () => {
        same(await tab.$eval('#open', (e) => e.disabled), true, 'Open... during the update');
        same(await tab.$eval('#virtual', (e) => e.disabled), true, 'the virtual device during the update');
        check((await text(tab, 'busy')).startsWith('An update is running'), 'no note says why the controls are off');
        await tab.evaluate(() => {
          const dropped = new DataTransfer();
          dropped.items.add(new File(['not used'], 'second.upd'));
          document.getElementById('window').dispatchEvent(new DragEvent('drop', { dataTransfer: dropped,
            bubbles: true, cancelable: true }));
        });
        same(await text(tab, 'busy'), 'An update is running, so \'second.upd\' was not opened. Open it once the ' +
          'update has its verdict.', 'the refusal of a second file');
        const asked = new Promise((resolve) => tab.once('dialog', resolve));
        const gone = new Promise((resolve) => tab.once('close', () => resolve(null)));
        await tab.close({ runBeforeUnload: true });
        const question = await driver.bounded(20, 'the question before leaving', Promise.race([asked, gone]));
        check(question !== null, 'the page closed during the update without asking');
        same(question.type(), 'beforeunload', 'what the browser asked');
        await question.dismiss();
      },
    });
    await outcome(tab);
    same(await tab.$eval('#open', (e) => e.disabled), false, 'Open... after the update');
    const closed = new Promise((resolve) => tab.once('close', () => resolve('closed')));
    const asked = new Promise((resolve) => tab.once('dialog', (d) => { d.accept(); resolve('asked'); }));
    await tab.close({ runBeforeUnload: true });
    same(await Promise.race([closed, asked]), 'closed', 'leaving after the update');
  },

  // The keyboard alone, with Escape on each dialog: Escape closes or cancels, never starts the update.
  async keyboard(tab) {
    await openByKeys(tab, 'demo.upd');
    await dialog(tab, 'confirm');
    await tab.keyboard.press('Escape');
    await tab.waitForSelector('body[data-state=idle]');
    same((await record(tab)).requests, 0, 'MIDI access asked for after Escape on the confirmation');

    await openByKeys(tab, 'demo-1.syx');
    await dialog(tab, 'confirm', 1);
    await tab.keyboard.press('Enter');
    await dialog(tab, 'choose');
    same(await tab.evaluate(() => document.activeElement.id), 'ports', 'the focus in the port choice');
    await tab.keyboard.press('Escape');
    let box = await dialog(tab, 'box');
    same(box.text, `${FAILURE}Update canceled`, 'Escape on the port choice');
    await tab.keyboard.press('Escape');
    await tab.waitForSelector('body[data-state=idle]');

    await openByKeys(tab, 'demo.upd');
    await dialog(tab, 'confirm', 2);
    await tab.keyboard.press('Enter');
    box = await dialog(tab, 'box', box.shown);
    same(box.caption, 'Important message about update', 'the file\'s message');
    await tab.keyboard.press('Escape');
    box = await dialog(tab, 'box', box.shown);
    same(box.text, `${FAILURE}Update canceled`, 'Escape on the file\'s message');
    same((await record(tab)).sends.length, 0, 'messages sent after Escape on the file\'s message');
    await tab.keyboard.press('Escape');
    await tab.waitForSelector('body[data-state=idle]');

    await openByKeys(tab, 'demo.upd');
    await dialog(tab, 'confirm', 3);
    await tab.keyboard.press('Enter');
    box = await dialog(tab, 'box', box.shown);
    await tab.keyboard.press('Enter');
    box = await dialog(tab, 'box', box.shown);
    same(box.caption, 'Important', 'the preparation message');
    await tab.keyboard.press('Escape');
    box = await dialog(tab, 'box', box.shown);
    same(box.caption, 'Important', 'the preparation message after Escape');
    while (box.caption === 'Important') {
      await tab.keyboard.press('Enter');
      box = await dialog(tab, 'box', box.shown);
    }
    same(box.text, expected.verdicts.accept, 'the verdict');
    await tab.keyboard.press('Escape');
    await tab.waitForSelector('body[data-state=idle] #result:not([hidden])');
    await tabTo(tab, 'save-log');
    await tab.waitForFunction((said) => document.getElementById('live').textContent.includes(said), { polling: 50 },
      expected.verdicts.accept);
  },

  async screens(tab) {
    for (const size of Object.keys(screens)) {
      if (size !== 'desktop') {
        await tab.browserContext().close();
        tab = await openPage(device(), { viewport: screens[size] });
      }
      await onScreen(tab, size);
    }
  },

  async raw(tab) {
    await confirmed(tab, 'demo-1.syx');
    const choice = await dialog(tab, 'choose');
    same(JSON.stringify(choice.options), JSON.stringify(['SysEx Device']), 'the ports offered');
    await tab.select('#ports', 'SysEx Device');
    await press(tab, 'choose', 'ok');
    const message = await dialog(tab, 'box');
    same(message.caption, 'Important message about update', 'the message box caption');
    await press(tab, 'box', 'ok');
    same((await dialog(tab, 'box', message.shown)).text, expected.verdicts.raw, 'the verdict');
    same((await record(tab)).wakeLock.requests, 1, 'requests for the screen wake lock (refused)');
    const report = await deviceReport(tab);
    check(report.startsWith('satisfied\n') && report.includes('Portions complete: 1 of 1, 0 corrupt'),
      `the device's report:\n${report}`);
  },

  // A Standard MIDI File: offered by the file picker, summed up as one, with the time its own
  // timing takes, and sent through the port choice with every message whole and none before its
  // time in the file.
  async midiFile(tab) {
    check((await tab.$eval('#file', (e) => e.accept)).split(',').includes('.mid'), 'the file picker offers no .mid');
    await openFile(tab, 'timed.mid');
    await dialog(tab, 'confirm');
    const rows = Object.fromEntries(await tab.$$eval('#confirm dt', (terms) =>
      terms.map((term) => [term.textContent, term.nextElementSibling.textContent])));
    same(rows.Kind, 'MIDI file, its SysEx sent at the file\'s own times', 'the kind in the summary');
    same(rows.Takes, expected.midiDuration, 'the time in the summary');
    const { durationMs } = await describeFile(tab, 'timed.mid');
    check(durationMs >= timed.endMs, `durationMs ${durationMs} is shorter than the file's ${timed.endMs} ms`);
    // When the run says it looks for the device: it reads the start its messages' times count
    // from (the time the first could leave) after that, on its clock of whole milliseconds.
    await tab.evaluate(() => {
      const { report } = page.core.page;
      page.core.page.report = (kind, line, text) => {
        if (kind === 'status' && line.includes('Looking for') && !window.lookingAt) window.lookingAt = performance.now();
        report(kind, line, text);
      };
    });
    await press(tab, 'confirm', 'yes');
    await dialog(tab, 'choose');
    await tab.select('#ports', 'SysEx Device');
    await press(tab, 'choose', 'ok');
    const message = await dialog(tab, 'box');
    await press(tab, 'box', 'ok');
    same((await dialog(tab, 'box', message.shown)).text, expected.verdicts.midi, 'the verdict');
    const sends = (await record(tab)).sends.filter((send) => send.to === 'SysEx Device');
    same(sends.map((send) => send.data.join(' ')).join('\n'), timed.messages.map((m) => m.bytes.join(' ')).join('\n'),
      'the messages sent, one a send');
    // The first message is due at once: each goes out no earlier than its time after the first
    // could. The run's clock and the stand-in's times are the page's performance.now().
    const start = Math.floor(await tab.evaluate(() => window.lookingAt));
    sends.forEach((send, i) => check(send.began - start >= timed.messages[i].timeMs, `message ${i + 1} went ` +
      `out ${(send.began - start).toFixed(2)} ms after the start, before its ${timed.messages[i].timeMs.toFixed(2)} ms`));
    const report = await deviceReport(tab);
    check(report.startsWith('satisfied\n') && report.includes('Portions complete: 1 of 1, 0 corrupt'),
      `the device's report:\n${report}`);
  },

  async canceled(tab) {
    await confirmed(tab, 'demo-1.syx');
    await dialog(tab, 'choose');
    await press(tab, 'choose', 'cancel');
    same((await dialog(tab, 'box')).text, `${FAILURE}Update canceled`, 'the box');
    same((await record(tab)).sends.length, 0, 'messages sent');
  },

  async refused(tab) {
    await confirmed(tab, 'demo.upd');
    const box = await dialog(tab, 'box');
    const access = (await tab.evaluate(() => window.__standIn.access));
    check(box.text.startsWith(`${FAILURE}${accessFailures[access]}`), `the box: ${box.text}`);
    same((await record(tab)).sends.length, 0, 'messages sent');
  },

  async noWebMidi(tab) {
    const notice = await tab.$eval('#notice', (e) => (e.hidden ? '' : e.textContent));
    check(notice.startsWith('This browser has no Web MIDI'), `the notice: ${notice}`);
    await confirmed(tab, 'demo.upd');
    const box = await dialog(tab, 'box');
    same(box.text, FAILURE + notice, 'the box');
    await press(tab, 'box', 'ok');
    // The page's own virtual device needs no Web MIDI.
    await tab.click('#virtual');
    same((await runUpdate(tab, 'demo.upd', { important: expected.important })).text, expected.verdicts.accept,
      'the virtual device\'s verdict');
  },

  // Said before the file's message: the person learns it before being asked anything more.
  async noPort(tab) {
    await confirmed(tab, 'demo.upd');
    const box = await dialog(tab, 'box');
    check(box.text.startsWith(`${FAILURE}No MIDI output port matches 'Demo Synth' or 'Demo Synth MIDI 1'.`),
      `the box: ${box.text}`);
    same((await record(tab)).sends.length, 0, 'messages sent');
  },

  // A product name with a zero byte in it: the page looks for the same name as the programs, and
  // the virtual device shows it whole, so the update finds its port.
  async zeroName(tab) {
    same((await runUpdate(tab, 'zero.upd')).text, expected.verdicts.zero, 'the verdict');
    const report = await deviceReport(tab);
    check(report.startsWith('satisfied\n'), `the device's report:\n${report}`);
  },

  // ... and when no port has that name, the sentence names it whole.
  async zeroNameNoPort(tab) {
    await confirmed(tab, 'zero.upd');
    const box = await dialog(tab, 'box');
    same(box.text, `${FAILURE}No MIDI output port matches 'Demo\\x00Synth'. Connect the device (and close ` +
      'programs that hold its port), then try again.', 'the box');
    same((await record(tab)).sends.length, 0, 'messages sent');
  },

  // Once loaded, the page opens with no network and updates its virtual device: the server is
  // stopped and the browser cut off before the reload.
  async offline(tab, server) {
    const names = await kept(tab);
    same(names.length, 1, `the page's caches (${names.join(', ')})`);
    await server.stop();
    const cdp = await tab.createCDPSession();
    await cdp.send('Network.enable');
    await cdp.send('Network.emulateNetworkConditions',
      { offline: true, latency: 0, downloadThroughput: -1, uploadThroughput: -1 });
    await tab.reload();
    await tab.waitForSelector('body[data-state=idle]');
    check(await tab.evaluate(() => navigator.serviceWorker.controller !== null), 'no service worker serves the page');
    await tab.click('#virtual');
    same((await runUpdate(tab, 'demo.upd', { important: expected.important })).text, expected.verdicts.accept,
      'the virtual device\'s verdict offline');
  },

  // Browsers may install the page as an app: its manifest, icons and service worker pass
  // Chromium's own checks (in its own profile: a private one is never installable).
  async installable(tab) {
    await kept(tab);
    const cdp = await tab.createCDPSession();
    const manifest = await cdp.send('Page.getAppManifest');
    same(JSON.stringify(manifest.errors), '[]', 'the manifest\'s errors');
    const { installabilityErrors } = await cdp.send('Page.getInstallabilityErrors');
    same(JSON.stringify(installabilityErrors), '[]', 'why the page cannot be installed');
  },

  // The real-time send against the pauses the file prescribes: after each chunk its length / 4096
  // seconds, then the port's delay and unprep delay.
  async pacing(tab) {
    // The service worker has kept the site's files first, as it has long before a person picks a
    // file: the measure is of the run alone.
    await kept(tab);
    const box = await runUpdate(tab, 'bench.upd');
    same(box.text, expected.verdicts.bench, 'the verdict');
    const sends = (await record(tab)).sends.filter((send) => send.to === 'Bench Synth');
    // A chunk goes out as one or more messages at once; chunks are at least 30 ms apart here.
    const chunks = [];
    for (const send of sends) {
      const last = chunks[chunks.length - 1];
      if (last && send.at - last.end < 15) {
        last.bytes += send.bytes;
        last.end = send.at;
      } else {
        chunks.push({ start: send.at, end: send.at, bytes: send.bytes });
      }
    }
    const { delay, unprepDelay } = expected.bench;
    let prescribed = 0;
    for (const chunk of chunks.slice(0, -1)) prescribed += (chunk.bytes * 1000) / 4096 + delay + unprepDelay;
    // Each chunk's pauses start when it has gone out, whatever the browser did before: a wake a
    // little late never makes the next chunk come sooner. Both times are the page's own clock.
    for (let i = 0; i + 1 < chunks.length; i++) {
      const pause = Math.floor((chunks[i].bytes * 1000) / 4096) + delay + unprepDelay;
      const gap = chunks[i + 1].start - chunks[i].end;
      check(gap >= pause - 0.01, `chunk ${i + 2} went out ${gap.toFixed(2)} ms after chunk ${i + 1}, ` +
        `before its ${pause} ms of pauses were over`);
    }
    const measured = chunks[chunks.length - 1].start - chunks[0].start;
    const bytes = chunks.reduce((sum, chunk) => sum + chunk.bytes, 0);
    same(bytes, expected.bench.bytes, 'bytes sent');
    const off = (measured / prescribed - 1) * 100;
    // What opening the page loads, and what ticking the virtual device adds.
    const sizes = { page: { raw: 0, gzip: 0 }, virtual: { raw: 0, gzip: 0 } };
    for (const name of fs.readdirSync(site)) {
      const body = fs.readFileSync(path.join(site, name));
      const size = sizes[name.startsWith('virtual') ? 'virtual' : 'page'];
      size.raw += body.length;
      size.gzip += zlib.gzipSync(body, { level: 9 }).length;
    }
    console.log(`page bench: ${chunks.length} chunks, ${bytes} bytes in ${measured.toFixed(1)} ms against ` +
      `${prescribed.toFixed(1)} ms of prescribed pauses (${off >= 0 ? '+' : ''}${off.toFixed(2)}%); ` +
      `page transfer ${sizes.page.raw} bytes (${sizes.page.gzip} gzip -9), the virtual device ` +
      `${sizes.virtual.raw} more (${sizes.virtual.gzip})`);
    check(off >= 0 && off < 2, `the send is ${off.toFixed(2)}% off the prescribed pauses`);
  },
};

// Each case: the stand-in it needs and its limit in seconds. Updates go on without the screen
// wake lock: `raw` is refused it, `noWebMidi` has none.
const plan = [
  ['describes', {}, 30],
  ['damaged', {}, 30],
  ['accepting', device(), 60],
  ['failing', device('status=fail'), 60],
  ['silent', device('status=none,identity=none', '/files/one.upd'), 90],
  ['raw', { ...device('', '/files/demo-1.syx'), wakeLock: 'refuse' }, 60],
  ['midiFile', { ...device('', '/files/timed.mid'), keepBytes: true }, 60],
  ['canceled', device('', '/files/demo-1.syx'), 30],
  ['refused', { access: 'refuse' }, 30],
  ['refused', { access: 'insecure' }, 30],
  ['refused', { access: 'broken' }, 30],
  ['noWebMidi', { access: 'none', wakeLock: 'none' }, 30],
  ['noPort', device('', null), 30],
  ['pacing', device('', '/files/bench.upd'), 90],
  ['duration', {}, 30],
  ['zeroName', device('', '/files/zero.upd'), 60],
  ['zeroNameNoPort', device('', null), 30],
  // On a server of its own, which it stops; no Web MIDI: the page's own virtual device.
  ['offline', { access: 'none', wakeLock: 'none' }, 60, { ownServer: true }],
  ['installable', {}, 30, { lasting: true }],
  ['outcomes', device(), 120],
  ['leaving', device(), 60],
  ['keyboard', device(), 90],
  ['screens', device(), 180],
];

async function main() {
  const served = await driver.serve({ '/files/': files, '/': site }, driver.hostHeaders(site));
  base = served.base;
  browser = await driver.launch();
  const failed = [];
  for (const [name, standIn, seconds, { ownServer, lasting } = {}] of plan) {
    if (only.length && !only.includes(name)) continue;
    const started = Date.now();
    let tab;
    let own = null;
    try {
      if (ownServer) {
        own = await driver.serve({ '/files/': files, '/': site }, driver.hostHeaders(site));
        own.stop = () => {
          own.server.closeAllConnections();
          return new Promise((resolve) => own.server.close(resolve));
        };
      }
      tab = await driver.bounded(30, `${name}: loading the page`, openPage(standIn, {
        viewport: name === 'screens' ? screens.desktop : undefined, at: own ? own.base : base, lasting }));
      await driver.bounded(seconds, name, Promise.race([cases[name](tab, own), policy.violated]));
      check(policy.violations.length === 0, `the content security policy blocked: ${policy.violations.join('; ')}`);
      console.log(`PASS ${name}${standIn.access ? ` (${standIn.access})` : ''} (${((Date.now() - started) / 1000).toFixed(1)} s)`);
    } catch (error) {
      failed.push(name);
      console.log(`FAIL ${name}: ${error.message}\n  the page's log:\n    ${log.slice(-40).join('\n    ')}`);
    }
    if (tab) await (lasting ? tab.close() : tab.browserContext().close()).catch(() => {});
    for (const context of browser.browserContexts()) if (context !== browser.defaultBrowserContext()) await context.close().catch(() => {});
    if (own && own.server.listening) await own.stop();
  }
  await browser.close();
  served.server.close();
  if (failed.length) {
    console.log(`page tests failed: ${failed.join(' ')}`);
    process.exit(1);
  }
  console.log('all page tests passed');
}

main().catch((error) => {
  console.log(`page tests: ${error.stack || error}`);
  process.exit(1);
});
