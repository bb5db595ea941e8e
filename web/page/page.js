// The page: a file is opened or dropped, described, confirmed and updated, with the texts of the
// window program. Every rule (the file format, the port names, the chunks, the pauses, the verdicts)
// comes from the core in midiupdate.wasm; this script only shows, asks and passes bytes along.
'use strict';

const NO_WEB_MIDI = 'This browser has no Web MIDI, so this page cannot reach MIDI devices. Open it in a ' +
  'browser that has Web MIDI: Chrome, Edge or Opera, or Firefox with MIDI access allowed for this site. ' +
  'The virtual device works without it.';
const NOT_SECURE = 'Browsers give Web MIDI only to pages served over HTTPS or from this computer ' +
  '(localhost); this page came over plain HTTP from another computer.';
const REFUSED = 'The browser did not allow this page to send SysEx to MIDI devices, so nothing was sent. ' +
  'Allow MIDI device access (with SysEx) for this page in the browser\'s site settings, then try again.';

// Any other refusal of MIDI access: the permission is there, but the browser's MIDI did not start.
const notStarted = (error) => `The browser could not start MIDI (${error.name}: ${error.message}), so nothing ` +
  'was sent. Close other programs that use the instrument\'s MIDI port, disconnect and reconnect the ' +
  'instrument, or restart the browser, then try again.';
const BUSY = 'An update is running: opening another file and the virtual device wait until it has its verdict. ' +
  'Keep this page open and the instrument connected.';
const notOpened = (name) => `An update is running, so '${name}' was not opened. Open it once the update has ` +
  'its verdict.';
// How each verdict looks (the verdict's number, UpdateVerdict; -1 a run that failed): updated (the
// device accepted, or reports the file's version, or for a file without one its own, as the command
// line's exit status counts it); sent but not confirmed by the device; failed.
const OUTCOMES = {
  ok: 'Updated',
  check: 'Sent: check the instrument',
  failed: 'Update failed',
};
const outcomeOf = (verdict) => {
  if (verdict === 0 || verdict === 3) return 'ok';
  return verdict === 1 || verdict === 2 ? 'check' : 'failed';
};

const $ = (id) => document.getElementById(id);
const page = {
  core: null,      // the WebAssembly module, once loaded
  running: false,  // one update at a time; files dropped meanwhile are refused
  title: 'MIDI Updater',
  log: [],         // the diagnostic log of the last run, for "Save log"
  verdict: '',     // the text of the last run's verdict or failure
};

// A line of the run's log, also on the console.
function note(line) {
  page.log.push(line);
  console.log(line);
}

// Said to assistive technology through the live region. It is emptied first and filled a frame
// later: the same text twice is announced twice only if the region changed in between.
function announce(text) {
  const live = $('live');
  live.textContent = '';
  requestAnimationFrame(() => { live.textContent = text; });
}

// macOS gives the file's Mac port names their turn (0 Linux and the rest, 1 macOS, 2 Windows).
function platform() {
  const name = (navigator.userAgentData && navigator.userAgentData.platform) || navigator.platform || '';
  if (/mac/i.test(name)) return 1;
  if (/win/i.test(name)) return 2;
  return 0;
}

// Calls `fn(pointer, length)` with the bytes copied into the module's memory.
function withBytes(bytes, fn) {
  const pointer = page.core._malloc(Math.max(1, bytes.length));
  page.core.HEAPU8.set(bytes, pointer);
  const done = () => page.core._free(pointer);
  let result;
  try {
    result = fn(pointer, bytes.length);
  } catch (error) {
    done();
    throw error;
  }
  if (result instanceof Promise) return result.finally(done);
  done();
  return result;
}

function call(name, types, args) {
  return JSON.parse(page.core.ccall(name, 'string', types, args));
}

// A dialog that resolves with the button pressed (its value), or '' when closed otherwise (Escape:
// never a confirmation). `cancel` shows the box's Cancel button.
function dialog(id, caption, text, { cancel = false } = {}) {
  const element = $(id);
  if (caption !== undefined) element.querySelector('.caption').textContent = caption;
  if (text !== undefined) element.querySelector('.text').textContent = text;
  const cancelButton = element.querySelector('button.cancel');
  if (cancelButton) cancelButton.hidden = !cancel;
  return new Promise((resolve) => {
    element.addEventListener('close', () => resolve(element.returnValue), { once: true });
    element.returnValue = '';
    // How many times it was shown: one dialog may follow another of the same kind at once.
    element.dataset.shown = String(Number(element.dataset.shown || 0) + 1);
    element.showModal();
  });
}

const inform = (text, caption = page.title) => dialog('box', caption, text);
const fail = (reason) => inform(page.core.ccall('mu_failure', 'string', ['string'], [reason]));

// The progress bar: a fraction, or, while the run cannot say how far it is, a sweep without a
// number until the next fraction.
function setBar(position) {
  $('bar').classList.remove('indeterminate');
  $('fill').style.width = `${position}%`;
  $('bar').setAttribute('aria-valuenow', String(position));
}
function sweepBar() {
  $('bar').classList.add('indeterminate');
  $('bar').removeAttribute('aria-valuenow');
}
const reporter = {
  progress(fraction) {
    const position = Math.trunc(Math.fround(Math.fround(fraction) * 100));
    if (position >= 0) setBar(Math.min(100, position));
  },
  report(kind, line, text) {
    if (kind === 'indeterminate') {
      sweepBar();
    } else if (kind === 'status') {
      $('status').textContent = line;
      announce(line.trim());
    } else if (kind === 'completed') {
      $('status').textContent = line;
      $('status').dataset.verdict = text;
      page.verdict = text;
      inform(text);
    } else if (kind === 'failed') {
      page.verdict = text;
      inform(text);
    }
  },
  // The preparation message holds the run until OK: Escape does not let it go on.
  async blockingMessage(text) {
    while (await dialog('box', 'Important', text) !== 'ok') { /* shown again */ }
  },
  log(line) { page.log.push(line.replace(/\n$/, '')); },
};

// The page's summary of what is about to happen: rows of [label, value].
function showSummary(list, rows) {
  list.replaceChildren(...rows.flatMap(([label, value]) => {
    const term = document.createElement('dt');
    const detail = document.createElement('dd');
    term.textContent = label;
    detail.textContent = value;
    return [term, detail];
  }));
  list.hidden = rows.length === 0;
}
function sizeText(bytes) {
  const grouped = bytes.toLocaleString('en-US');
  if (bytes < 1024) return `${grouped} bytes`;
  const unit = bytes < 1048576 ? ['KB', 1024] : ['MB', 1048576];
  return `${(bytes / unit[1]).toFixed(1)} ${unit[0]} (${grouped} bytes)`;
}
// A raw file names no product or version (the core's stand-ins for them say nothing): its kind
// says instead how it goes out. A MIDI file's duration is its own timing's, as the core forecasts.
const RAW_KINDS = {
  sysex: 'SysEx file, sent as it stands',
  midi: 'MIDI file, its SysEx sent at the file\'s own times',
};
function fileRows(file, info) {
  const rows = [['File', file.name]];
  if (RAW_KINDS[info.kind]) rows.push(['Kind', RAW_KINDS[info.kind]]);
  else rows.push(['Product', info.product], ['Version', info.version]);
  rows.push(['Size', sizeText(file.size)]);
  if (info.duration) rows.push(['Takes', info.duration]);
  return rows;
}

function describe(bytes) {
  const info = withBytes(bytes, (pointer, length) => call('mu_describe', ['number', 'number', 'number'],
    [pointer, length, platform()]));
  if (!info.ok) return info;
  page.title = info.title;
  document.title = info.title;
  $('product').textContent = info.productLine;
  if (info.pictureBytes > 0) {
    const at = page.core._mu_picture();
    const blob = new Blob([page.core.HEAPU8.slice(at, at + info.pictureBytes)], { type: 'image/png' });
    const picture = new Image();
    // A picture that is no image leaves the current one, as in the window.
    picture.onload = () => {
      const shown = $('picture').src;
      $('picture').src = picture.src;
      if (shown.startsWith('blob:')) URL.revokeObjectURL(shown);
    };
    picture.onerror = () => URL.revokeObjectURL(picture.src);
    picture.src = URL.createObjectURL(blob);
  }
  return info;
}

// The browser's MIDI access with SysEx, or null once the reason has been said.
async function midiAccess() {
  if (!navigator.requestMIDIAccess) {
    await fail(window.isSecureContext ? NO_WEB_MIDI : NOT_SECURE);
    return null;
  }
  try {
    return await navigator.requestMIDIAccess({ sysex: true });
  } catch (error) {
    note(`requestMIDIAccess: ${error.name}: ${error.message}`);
    await fail(error.name === 'NotAllowedError' || error.name === 'SecurityError' ? REFUSED : notStarted(error));
    return null;
  }
}

// The page's own virtual device, which checks what it gets against the file, or null once the
// reason has been said.
async function virtualAccess(bytes) {
  try {
    return await VirtualMidiAccess.open(bytes, '', platform());
  } catch (error) {
    await fail(error.message);
    return null;
  }
}

// The port a person picks for a raw SysEx file, or null once the refusal has been said.
async function choosePort() {
  const choices = call('mu_choices', [], []);
  if (choices.ports.length === 0) {
    await inform(choices.noPorts);
    return null;
  }
  const list = $('ports');
  list.replaceChildren(...choices.ports.map((name) => new Option(name, name)));
  if (await dialog('choose') !== 'ok') {
    await inform(choices.canceled);
    return null;
  }
  return list.value;
}

// Keeps the screen on while an update runs: a computer that goes to sleep halfway leaves the
// instrument with part of its firmware. The browser lets the lock go whenever the page is hidden,
// so it is asked for again each time the page shows. Without it (no such API, or refused) the
// update goes on and only the log says so. Returns what lets the lock go.
function holdScreen() {
  if (!('wakeLock' in navigator)) {
    console.log('This browser cannot keep the screen on during the update.');
    return () => {};
  }
  let running = true;
  let sentinel = null;
  let asking = false;
  const ask = async () => {
    if (!running || asking || sentinel || document.visibilityState !== 'visible') return;
    asking = true;
    try {
      const lock = await navigator.wakeLock.request('screen');
      if (running) {
        sentinel = lock;
        lock.addEventListener('release', () => { if (sentinel === lock) sentinel = null; });
      } else {
        lock.release().catch(() => {});
      }
    } catch (error) {
      console.log(`The screen may turn off during the update: ${error.name}: ${error.message}`);
    } finally {
      asking = false;
    }
  };
  document.addEventListener('visibilitychange', ask);
  ask();
  return () => {
    running = false;
    document.removeEventListener('visibilitychange', ask);
    if (sentinel) sentinel.release().catch(() => {});
    sentinel = null;
  };
}

// Asks before the page goes (a reload, the tab closed) while an update runs: leaving stops it
// halfway.
function holdPage(event) {
  event.preventDefault();
  event.returnValue = '';
}

// While a run lasts: what would start another is off, and the page says why.
function setRunning(running) {
  $('open').disabled = running;
  $('virtual').disabled = running;
  $('busy').textContent = BUSY;
  $('busy').hidden = !running;
  if (running) window.addEventListener('beforeunload', holdPage);
  else window.removeEventListener('beforeunload', holdPage);
}

// The verdict as the page shows it once the run is over: its look, its heading, the whole sentence.
function showOutcome(verdict) {
  const outcome = outcomeOf(verdict);
  for (const element of [$('result'), $('rows')]) {
    element.classList.remove('outcome-ok', 'outcome-check', 'outcome-failed');
    element.classList.add(`outcome-${outcome}`);
  }
  if (outcome === 'failed') $('bar').setAttribute('aria-valuetext', OUTCOMES.failed);
  $('result-heading').textContent = OUTCOMES[outcome];
  $('verdict').textContent = page.verdict;
  $('result').hidden = false;
  announce(`${OUTCOMES[outcome]}. ${page.verdict}`);
}

function saveLog() {
  const blob = new Blob([`${page.log.join('\n')}\n`], { type: 'text/plain' });
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = 'midiupdate-log.txt';
  document.body.appendChild(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

// As the window starts an update: port choice, the ports it will use (or that none matches, before
// anything else is asked), the file's message, then the run, which reports through `reporter`
// until its verdict.
async function start(bytes, info, file) {
  const virtual = $('virtual').checked;
  const access = virtual ? await virtualAccess(bytes) : await midiAccess();
  if (!access) return;
  page.core.webMidi = new WebMidiBridge(access);
  let chosen = '';
  if (info.raw) {
    chosen = await choosePort();
    if (chosen === null) return;
  }
  const found = withBytes(bytes, (pointer, length) => call('mu_find_ports',
    ['number', 'number', 'number', 'string'], [pointer, length, platform(), chosen]));
  if (found.problem) {
    note(found.problem);
    await fail(found.problem);
    return;
  }
  note(`MIDI output '${found.output}', input '${found.input || '(none)'}'`);
  showSummary($('summary'), [...fileRows(file, info), ['Output port', found.output],
    ['Input port', found.input || 'none: the instrument\'s answers are not read']]);
  if (info.important && await dialog('box', 'Important message about update', info.important,
    { cancel: true }) !== 'ok') {
    note('Update canceled at the file\'s message');
    await fail('Update canceled');
    return;
  }
  $('rows').hidden = false;
  $('rows').classList.remove('outcome-ok', 'outcome-check', 'outcome-failed');
  $('bar').removeAttribute('aria-valuetext');
  setBar(0);
  delete $('status').dataset.verdict;
  $('status').textContent = '';
  page.verdict = '';
  setRunning(true);
  announce('The update has started.');
  const letScreenGo = holdScreen();
  let verdict = -1;
  try {
    verdict = await withBytes(bytes, (pointer, length) => page.core.ccall('mu_run', 'number',
      ['number', 'number', 'number', 'string'], [pointer, length, platform(), chosen], { async: true }));
  } finally {
    letScreenGo();
    setRunning(false);
    showOutcome(verdict);
  }
  if (virtual) note(`The virtual device's report:\n${access.report()}`);
}

async function openFile(file) {
  if (!page.core) return;
  if (page.running) {
    const refusal = notOpened(file.name);
    $('busy').textContent = refusal;
    $('busy').hidden = false;
    announce(refusal);
    return;
  }
  page.running = true;
  document.body.dataset.state = 'running';
  $('open').disabled = true;
  $('virtual').disabled = true;
  try {
    const bytes = new Uint8Array(await file.arrayBuffer());
    const info = describe(bytes);
    if (!info.ok) {
      await inform(info.failure);
    } else {
      page.log = [`MIDI Updater page, ${new Date().toISOString()}`, `Browser: ${navigator.userAgent}`,
        `File: ${file.name} (${file.size} bytes)`];
      $('result').hidden = true;
      $('waiting').hidden = true;
      showSummary($('summary'), fileRows(file, info));
      showSummary($('confirm').querySelector('.summary'), fileRows(file, info));
      if (await dialog('confirm', info.title, info.confirm) === 'yes') await start(bytes, info, file);
    }
  } catch (error) {
    console.error(error);
    await fail(String(error.message || error));
  } finally {
    page.running = false;
    setRunning(false);
    document.body.dataset.state = 'idle';
  }
}

function wire() {
  $('open').addEventListener('click', () => $('file').click());
  $('file').addEventListener('change', () => {
    if ($('file').files.length) openFile($('file').files[0]);
    $('file').value = '';
  });
  $('save-log').addEventListener('click', saveLog);
  const zone = $('window');
  zone.addEventListener('dragover', (event) => {
    event.preventDefault();
    event.dataTransfer.dropEffect = page.running ? 'none' : 'copy';
    $('drop').classList.toggle('over', !page.running);
  });
  zone.addEventListener('dragleave', () => $('drop').classList.remove('over'));
  zone.addEventListener('drop', (event) => {
    event.preventDefault();
    $('drop').classList.remove('over');
    if (event.dataTransfer.files.length) openFile(event.dataTransfer.files[0]);
  });
  if (!navigator.requestMIDIAccess) {
    $('notice').textContent = window.isSecureContext ? NO_WEB_MIDI : NOT_SECURE;
    $('notice').hidden = false;
  }
}

wire();
MidiUpdateModule({ print: note, printErr: (line) => { page.log.push(line); console.warn(line); } }).then((core) => {
  page.core = core;
  core.page = reporter;
  document.body.dataset.state = 'idle';
}, (error) => {
  $('notice').textContent = `The page could not load its program (midiupdate.wasm): ${error.message || error}. ` +
    'Reload the page; if it happens again, the web server may not serve that file.';
  $('notice').hidden = false;
  document.body.dataset.state = 'broken';
});

// Offline once loaded: the service worker (sw.js) keeps the page's files. Where the browser has
// none or refuses it, the page works as before, online only.
if ('serviceWorker' in navigator) {
  navigator.serviceWorker.register('sw.js').catch((error) => {
    console.log(`The page will not be kept for use offline: ${error.message}`);
  });
}
