// A stand-in for the browser's MIDI access, installed before the page's scripts: the page's own
// virtual device (virtualmidi.js) plays the instrument, beside a through port that the page must
// pass over; SysEx is granted or refused as the test says; every message the browser took is
// recorded with its times (`began` as the send was called, `at` once the port had it). Configured
// by window.__standIn:
//   access: 'grant' (default), 'refuse' (the person said no), 'insecure' (the browser's SecurityError),
//     'broken' (allowed, but the browser's MIDI does not start), or 'none' (a browser without Web MIDI);
//   device: { file: URL of the file the device checks against (none: it takes any SysEx),
//             behaviour: as send --virtual takes it };
//   wakeLock: 'grant' (default), 'refuse', or 'none' (a browser without screen wake locks);
//   keepBytes: true records the bytes of each message as well.
// The screen wake lock is a stand-in too: its requests, the page's releases and the locks held are
// recorded, and __standInHide() / __standInShow() play the page going to the background (where
// the browser lets its lock go) and coming back.
(() => {
  const config = window.__standIn || {};
  const record = { sends: [], requests: 0, wakeLock: { requests: 0, releases: 0, held: 0 } };
  window.__standInRecord = record;

  let visibility = 'visible';
  Object.defineProperty(document, 'visibilityState', { get: () => visibility });
  Object.defineProperty(document, 'hidden', { get: () => visibility === 'hidden' });
  const locks = new Set();
  class StandInWakeLockSentinel extends EventTarget {
    constructor() {
      super();
      Object.assign(this, { type: 'screen', released: false, onrelease: null });
    }
    letGo() {
      if (this.released) return;
      this.released = true;
      locks.delete(this);
      record.wakeLock.held = locks.size;
      const event = new Event('release');
      if (this.onrelease) this.onrelease(event);
      this.dispatchEvent(event);
    }
    release() {
      if (!this.released) record.wakeLock.releases++;
      this.letGo();
      return Promise.resolve();
    }
  }
  const setVisibility = (state) => {
    visibility = state;
    if (state === 'hidden') for (const lock of Array.from(locks)) lock.letGo();
    document.dispatchEvent(new Event('visibilitychange'));
  };
  window.__standInHide = () => setVisibility('hidden');
  window.__standInShow = () => setVisibility('visible');
  if (config.wakeLock === 'none') {
    delete Navigator.prototype.wakeLock;
  } else {
    const wakeLock = {
      request(type) {
        record.wakeLock.requests++;
        if (config.wakeLock === 'refuse' || visibility !== 'visible' || type !== 'screen') {
          return Promise.reject(new DOMException('Wake Lock permission request denied', 'NotAllowedError'));
        }
        const lock = new StandInWakeLockSentinel();
        locks.add(lock);
        record.wakeLock.held = locks.size;
        return Promise.resolve(lock);
      },
    };
    Object.defineProperty(Navigator.prototype, 'wakeLock', { get: () => wakeLock, configurable: true });
  }
  if (config.access === 'none') {
    delete Navigator.prototype.requestMIDIAccess;
    return;
  }

  let access = null;
  async function open() {
    const wanted = config.device || {};
    const file = wanted.file ? new Uint8Array(await (await fetch(wanted.file)).arrayBuffer()) : new Uint8Array(0);
    access = await VirtualMidiAccess.open(file, wanted.behaviour || '', 0);
    const throughIn = new VirtualPort('input', 'Midi Through Port-0');
    const throughOut = new VirtualOutput('Midi Through Port-0', (bytes) => throughIn.receive(bytes));
    access.inputs.set(throughIn.id, throughIn);
    access.outputs.set(throughOut.id, throughOut);
    const send = VirtualOutput.prototype.send;
    VirtualOutput.prototype.send = function recordedSend(data) {
      const began = performance.now();
      send.call(this, data);
      const sent = { began, at: performance.now(), bytes: data.length, to: this.name };
      if (config.keepBytes) sent.data = Array.from(data);
      record.sends.push(sent);
    };
    return access;
  }
  window.__standInReport = () => (access ? access.report() : 'no device');

  let opened = null;
  Navigator.prototype.requestMIDIAccess = function requestMIDIAccess(options) {
    record.requests++;
    if (config.access === 'refuse' || !(options && options.sysex)) {
      return Promise.reject(new DOMException('Permission to use SysEx was denied.', 'NotAllowedError'));
    }
    if (config.access === 'insecure') {
      return Promise.reject(new DOMException('Web MIDI is not allowed in this document.', 'SecurityError'));
    }
    if (config.access === 'broken') {
      return Promise.reject(new DOMException('Platform dependent initialization failed.', 'InvalidStateError'));
    }
    opened = opened || open();
    return opened;
  };
})();
