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

const { dialog, press, check, same } = driver;

const [site, files, expectedFile, shots, ...only] = process.argv.slice(2);
const expected = JSON.parse(fs.readFileSync(expectedFile, 'utf8'));
const standinSource = fs.readFileSync(path.join(__dirname, 'standin.js'), 'utf8');
const FAILURE = 'The update failed for the following reason:\n\n';

let browser;
let base;
let log = [];
let policy; // the current case's watch on the content security policy

// `at`: where the page is served (by default the server every case shares); `lasting`: in the
// browser's own profile, not a new private one.
async function openPage(standIn, at = base, lasting = false) {
  const context = lasting ? browser.defaultBrowserContext() : await browser.createBrowserContext();
  const tab = await context.newPage();
  await tab.setViewport({ width: 548, height: 350 });
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

  async damaged(tab) {
    await openFile(tab, 'damaged.upd');
    const box = await dialog(tab, 'box');
    same(box.text, FAILURE + expected.damaged, 'the failure box');
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

  async silent(tab) {
    same((await runUpdate(tab, 'one.upd')).text, expected.verdicts.silent, 'the verdict');
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
    check(box.text.startsWith(`${FAILURE}The browser did not allow this page to send SysEx`), `the box: ${box.text}`);
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

  async noPort(tab) {
    await confirmed(tab, 'demo.upd');
    await dialog(tab, 'box');
    await press(tab, 'box', 'ok');
    const box = await dialog(tab, 'box', 1);
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
  ['canceled', device('', '/files/demo-1.syx'), 30],
  ['refused', { access: 'refuse' }, 30],
  ['noWebMidi', { access: 'none', wakeLock: 'none' }, 30],
  ['noPort', device('', null), 30],
  ['pacing', device('', '/files/bench.upd'), 90],
  ['duration', {}, 30],
  ['zeroName', device('', '/files/zero.upd'), 60],
  ['zeroNameNoPort', device('', null), 30],
  // On a server of its own, which it stops; no Web MIDI: the page's own virtual device.
  ['offline', { access: 'none', wakeLock: 'none' }, 60, { ownServer: true }],
  ['installable', {}, 30, { lasting: true }],
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
      tab = await driver.bounded(30, `${name}: loading the page`, openPage(standIn, own ? own.base : base, lasting));
      await driver.bounded(seconds, name, Promise.race([cases[name](tab, own), policy.violated]));
      check(policy.violations.length === 0, `the content security policy blocked: ${policy.violations.join('; ')}`);
      console.log(`PASS ${name} (${((Date.now() - started) / 1000).toFixed(1)} s)`);
    } catch (error) {
      failed.push(name);
      console.log(`FAIL ${name}: ${error.message}\n  the page's log:\n    ${log.slice(-40).join('\n    ')}`);
    }
    if (tab) await (lasting ? tab.close() : tab.browserContext().close()).catch(() => {});
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
