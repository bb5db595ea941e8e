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

const $ = (id) => document.getElementById(id);
const page = {
  core: null,      // the WebAssembly module, once loaded
  running: false,  // one update at a time; files dropped meanwhile are refused
  title: 'MIDI Updater',
  animation: null,
  position: 0,
};

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

// A dialog that resolves with the button pressed (its value), or '' when closed otherwise.
function dialog(id, caption, text) {
  const element = $(id);
  if (caption !== undefined) element.querySelector('.caption').textContent = caption;
  if (text !== undefined) element.querySelector('.text').textContent = text;
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

// The window's progress bar: a fraction, or the busy animation (3 further every 40 ms, back to 0
// above 100) until the next fraction.
function setBar(position) {
  $('fill').style.width = `${position}%`;
  $('bar').setAttribute('aria-valuenow', String(position));
}
function stopAnimation() {
  if (page.animation) clearInterval(page.animation);
  page.animation = null;
}
const reporter = {
  progress(fraction) {
    stopAnimation();
    const position = Math.trunc(Math.fround(Math.fround(fraction) * 100));
    if (position >= 0) setBar(Math.min(100, position));
  },
  report(kind, line, text) {
    if (kind === 'indeterminate') {
      if (!page.animation) {
        page.animation = setInterval(() => {
          page.position = page.position + 3 > 100 ? 0 : page.position + 3;
          setBar(page.position);
        }, 40);
      }
    } else if (kind === 'status') {
      $('status').textContent = line;
    } else if (kind === 'completed') {
      $('status').textContent = line;
      $('status').dataset.verdict = text;
      inform(text);
    } else if (kind === 'failed') {
      inform(text);
    }
  },
  blockingMessage(text) { return dialog('box', 'Important', text); },
};

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
    console.warn(`requestMIDIAccess: ${error.name}: ${error.message}`);
    await fail(REFUSED);
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

// As the window starts an update: port choice, the file's message, then the run, which reports
// through `reporter` until its verdict.
async function start(bytes, info) {
  const virtual = $('virtual').checked;
  const access = virtual ? await virtualAccess(bytes) : await midiAccess();
  if (!access) return;
  page.core.webMidi = new WebMidiBridge(access);
  let chosen = '';
  if (info.raw) {
    chosen = await choosePort();
    if (chosen === null) return;
  }
  if (info.important) await dialog('box', 'Important message about update', info.important);
  const found = withBytes(bytes, (pointer, length) => call('mu_find_ports',
    ['number', 'number', 'number', 'string'], [pointer, length, platform(), chosen]));
  if (found.problem) {
    await fail(found.problem);
    return;
  }
  console.log(`MIDI output '${found.output}', input '${found.input || '(none)'}'`);
  $('rows').hidden = false;
  setBar(0);
  delete $('status').dataset.verdict;
  $('status').textContent = '';
  const letScreenGo = holdScreen();
  try {
    await withBytes(bytes, (pointer, length) => page.core.ccall('mu_run', 'number',
      ['number', 'number', 'number', 'string'], [pointer, length, platform(), chosen], { async: true }));
  } finally {
    letScreenGo();
  }
  if (virtual) console.log(`The virtual device's report:\n${access.report()}`);
}

async function openFile(file) {
  if (page.running || !page.core) return;
  page.running = true;
  document.body.dataset.state = 'running';
  try {
    const bytes = new Uint8Array(await file.arrayBuffer());
    const info = describe(bytes);
    if (!info.ok) {
      await inform(info.failure);
    } else if (await dialog('confirm', info.title, info.confirm) === 'yes') {
      await start(bytes, info);
    }
  } catch (error) {
    console.error(error);
    await fail(String(error.message || error));
  } finally {
    stopAnimation();
    page.running = false;
    document.body.dataset.state = 'idle';
  }
}

function wire() {
  $('open').addEventListener('click', () => $('file').click());
  $('file').addEventListener('change', () => {
    if ($('file').files.length) openFile($('file').files[0]);
    $('file').value = '';
  });
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
MidiUpdateModule({ print: (line) => console.log(line), printErr: (line) => console.warn(line) }).then((core) => {
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
