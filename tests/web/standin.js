// A stand-in for the browser's MIDI access, installed before the page's scripts: the page's own
// virtual device (virtualmidi.js) plays the instrument, beside a through port that the page must
// pass over; SysEx is granted or refused as the test says; every message the browser took is
// recorded with its time. Configured by window.__standIn:
//   access: 'grant' (default), 'refuse', or 'none' (a browser without Web MIDI);
//   device: { file: URL of the file the device checks against (none: it takes any SysEx),
//             behaviour: as send --virtual takes it }.
(() => {
  const config = window.__standIn || {};
  const record = { sends: [], requests: 0 };
  window.__standInRecord = record;
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
      send.call(this, data);
      record.sends.push({ at: performance.now(), bytes: data.length, to: this.name });
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
    opened = opened || open();
    return opened;
  };
})();
