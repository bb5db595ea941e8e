// What every test of the page does to it: serve its files, start headless Chromium through the
// DevTools protocol, open a file as a person would, and answer the page's dialogs.
'use strict';
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const puppeteer = require('puppeteer-core');

const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm',
  '.png': 'image/png', '.webmanifest': 'application/manifest+json' };

// The headers a host of the page should send: the content security policy its index.html declares
// (a test of the page is a test of that policy), with frame-ancestors, which only a header can say,
// and the others a host should add.
function hostHeaders(site) {
  const html = fs.readFileSync(path.join(site, 'index.html'), 'utf8');
  const declared = html.match(/<meta http-equiv="Content-Security-Policy" content="([^"]+)">/);
  if (!declared) throw new Error(`${site}/index.html declares no content security policy`);
  return {
    'Content-Security-Policy': `${declared[1]}; frame-ancestors 'none'`,
    'Permissions-Policy': 'midi=(self)',
    'X-Content-Type-Options': 'nosniff',
  };
}

// Serves `roots` ({ '/prefix/': folder }, '/' last) on 127.0.0.1 (a secure context for Web MIDI),
// with `headers` on every file; resolves with the server and its address.
async function serve(roots, headers = {}) {
  const server = http.createServer((request, response) => {
    const url = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
    const prefix = Object.keys(roots).find((p) => url.startsWith(p));
    const root = roots[prefix];
    const file = path.join(root, path.normalize(url.slice(prefix.length) || 'index.html'));
    fs.readFile(file, (error, body) => {
      if (error || !file.startsWith(root)) {
        response.writeHead(404).end();
      } else {
        response.writeHead(200, { ...headers, 'Content-Type': types[path.extname(file)] || 'application/octet-stream' })
          .end(body);
      }
    });
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { server, base: `http://127.0.0.1:${server.address().port}` };
}

// Chromium as the machine has it (never a downloaded one), headless, in a new empty profile.
async function launch() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'midiupdate-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    userDataDir: profile,
    timeout: 300000,
    protocolTimeout: 300000,
    // Without the network flags, Chromium's calls home are refused by a closed network.
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--disable-dev-shm-usage'],
  });
  // The profile goes once the browser has gone (it writes there up to its end).
  const close = browser.close.bind(browser);
  browser.close = async () => {
    await close();
    fs.rmSync(profile, { recursive: true, force: true, maxRetries: 5, retryDelay: 200 });
  };
  return browser;
}

// Watches `tab` (before it loads the page) for anything its content security policy blocks: the
// page's securitypolicyviolation events and Chromium's own messages ("Refused to ...", "... violates
// the following Content Security Policy directive ..."). `violations` lists them; `violated`
// rejects at the first, so a case that waits for what was blocked fails at once.
async function watchPolicy(tab) {
  const watch = { violations: [] };
  let reject;
  watch.violated = new Promise((_, fail) => { reject = fail; });
  watch.violated.catch(() => {});
  const marker = 'Content security policy violation: ';
  tab.on('console', (message) => {
    const text = message.text();
    if (text.startsWith(marker) || text.startsWith('Refused to ') ||
        /violates the following Content Security Policy directive/i.test(text)) {
      watch.violations.push(text);
      reject(new Error(`the content security policy blocked something: ${text}`));
    }
  });
  await tab.evaluateOnNewDocument((prefix) => {
    document.addEventListener('securitypolicyviolation', (event) => {
      console.error(`${prefix}${event.effectiveDirective} blocked ${event.blockedURI || '(inline)'}` +
        (event.sourceFile ? ` at ${event.sourceFile}:${event.lineNumber}` : ''));
    });
  }, marker);
  return watch;
}

// Fails after `seconds` unless `promise` settled.
function bounded(seconds, what, promise) {
  let timer;
  const late = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`${what}: not done within ${seconds} s`)), seconds * 1000);
  });
  return Promise.race([promise, late]).finally(() => clearTimeout(timer));
}

async function openFile(tab, file) {
  const input = await tab.$('#file');
  await input.uploadFile(file);
}

// The next showing of a dialog after the `seen` showings so far: its caption, text and choices.
async function dialog(tab, id, seen = 0) {
  await tab.waitForFunction((which, after) => {
    const element = document.getElementById(which);
    return element.open && Number(element.dataset.shown || 0) > after;
  }, { polling: 50, timeout: 0 }, id, seen);
  return tab.$eval(`#${id}`, (element) => ({
    caption: element.querySelector('.caption').textContent,
    text: (element.querySelector('.text') || element).textContent,
    shown: Number(element.dataset.shown),
    options: Array.from(element.querySelectorAll('option'), (option) => option.value),
  }));
}

async function press(tab, id, value) {
  await tab.click(`#${id}[open] button[value=${value}]`);
}

function check(condition, message) {
  if (!condition) throw new Error(message);
}
function same(actual, wanted, what) {
  check(actual === wanted, `${what}: got ${JSON.stringify(actual)}, wanted ${JSON.stringify(wanted)}`);
}

// Confirms the file, reads past the file's message (checking it when `important` is given),
// acknowledges every preparation message, and resolves with the verdict box. `during` runs once,
// while the run is held by the first preparation message.
async function runUpdate(tab, file, { important, during } = {}) {
  await openFile(tab, file);
  await dialog(tab, 'confirm');
  await press(tab, 'confirm', 'yes');
  let box = await dialog(tab, 'box');
  if (important !== undefined) {
    same(box.caption, 'Important message about update', 'the caption of the file\'s message');
    same(box.text, important, 'the file\'s message');
  }
  if (box.caption === 'Important message about update') {
    await press(tab, 'box', 'ok');
    box = await dialog(tab, 'box', box.shown);
  }
  while (box.caption === 'Important') {
    if (during) await during(box);
    during = null;
    await press(tab, 'box', 'ok');
    box = await dialog(tab, 'box', box.shown);
  }
  return box;
}

module.exports = { hostHeaders, serve, watchPolicy, launch, bounded, openFile, dialog, press, check, same, runUpdate };
