// A stand-in for the browser's MIDI access, installed before the page's scripts. It lists a
// through port and the ports of the tests' virtual device (standin-device.wasm, the device models
// of `simulate`), grants or refuses SysEx as the test says, refuses what a browser refuses (parts
// of messages), and records when each message went out. Configured by window.__standIn:
//   access: 'grant' (default), 'refuse', or 'none' (a browser without Web MIDI);
//   device: { file: URL of the update file it checks against (none: it takes any SysEx),
//             behaviour: as send --virtual takes it, name: its ports' name }.
(() => {
  const config = window.__standIn || {};
  const record = { sends: [], refused: 0, requests: 0 };
  window.__standInRecord = record;
  if (config.access === 'none') {
    delete Navigator.prototype.requestMIDIAccess;
    return;
  }

  class Port {
    constructor(type, name) {
      Object.assign(this, { type, name, id: `${type}-${name}`, manufacturer: 'stand-in', version: '1' });
      this.state = 'connected';
      this.connection = 'closed';
      this.onmidimessage = null;
      this.onstatechange = null;
    }
    open() { this.connection = 'open'; return Promise.resolve(this); }
    close() { this.connection = 'closed'; return Promise.resolve(this); }
    // What a browser hands the page: a copy, later, on the page's own thread.
    receive(bytes) {
      setTimeout(() => {
        if (this.onmidimessage) this.onmidimessage({ data: new Uint8Array(bytes), timeStamp: performance.now() });
      }, 0);
    }
  }

  // Whole messages only, as Web MIDI demands: complete SysEx, or short messages with their data.
  function wholeMessages(data) {
    for (let i = 0; i < data.length;) {
      const status = data[i];
      if (status === 0xF0) {
        let end = i + 1;
        while (end < data.length && data[end] < 0x80) end++;
        if (end >= data.length || data[end] !== 0xF7) return false;
        i = end + 1;
      } else if (status >= 0xF8) {
        i += 1;
      } else if (status >= 0x80 && status !== 0xF7) {
        const length = [0xC0, 0xD0].includes(status & 0xF0) || status === 0xF1 || status === 0xF3 ? 2
          : status === 0xF6 ? 1 : 3;
        for (let k = 1; k < length; k++) if (i + k >= data.length || data[i + k] >= 0x80) return false;
        i += length;
      } else {
        return false;
      }
    }
    return true;
  }

  class Output extends Port {
    constructor(name, deliver) { super('output', name); this.deliver = deliver; }
    send(data) {
      const bytes = Uint8Array.from(data);
      if (!wholeMessages(bytes)) {
        record.refused++;
        throw new TypeError("Failed to execute 'send' on 'MIDIOutput': not a sequence of whole MIDI messages");
      }
      record.sends.push({ at: performance.now(), bytes: bytes.length, to: this.name });
      this.deliver(bytes);
    }
  }

  const access = { inputs: new Map(), outputs: new Map(), sysexEnabled: true, onstatechange: null };
  const through = new Port('input', 'Midi Through Port-0');
  access.inputs.set(through.id, through);
  const throughOut = new Output('Midi Through Port-0', (bytes) => through.receive(bytes));
  access.outputs.set(throughOut.id, throughOut);

  let device = null;  // the device module
  const pagePorts = { output: null, input: null };
  const standIn = {
    show(pageOutput, name) {
      const port = pageOutput
        ? new Output(name, (bytes) => {
          const at = device._malloc(bytes.length);
          device.HEAPU8.set(bytes, at);
          device._dev_receive(at, bytes.length);
          device._free(at);
        })
        : new Port('input', name);
      pagePorts[pageOutput ? 'output' : 'input'] = port;
      (pageOutput ? access.outputs : access.inputs).set(port.id, port);
    },
    hide(pageOutput) {
      const port = pagePorts[pageOutput ? 'output' : 'input'];
      if (!port) return;
      port.state = 'disconnected';
      (pageOutput ? access.outputs : access.inputs).delete(port.id);
      pagePorts[pageOutput ? 'output' : 'input'] = null;
    },
    answer(bytes) { if (pagePorts.input) pagePorts.input.receive(bytes); },
  };

  function loadScript(src) {
    return new Promise((resolve, reject) => {
      const script = document.createElement('script');
      script.src = src;
      script.onload = resolve;
      script.onerror = () => reject(new Error(`cannot load ${src}`));
      document.head.appendChild(script);
    });
  }

  async function startDevice() {
    await loadScript('/standin/standin-device.js');
    device = await window.StandInDeviceModule({ print: (line) => console.log(`[device] ${line}`) });
    device.standIn = standIn;
    const wanted = config.device || {};
    const file = wanted.file ? new Uint8Array(await (await fetch(wanted.file)).arrayBuffer()) : new Uint8Array(0);
    const at = device._malloc(Math.max(1, file.length));
    device.HEAPU8.set(file, at);
    const started = device.ccall('dev_start', 'number', ['number', 'number', 'string', 'string'],
      [at, file.length, wanted.behaviour || '', wanted.name || 'Demo Synth']);
    device._free(at);
    if (!started) throw new Error(`the stand-in device did not start: ${device.UTF8ToString(device._dev_text())}`);
    setInterval(() => device._dev_step(performance.now()), 5);
  }
  window.__standInReport = () => (device ? device.UTF8ToString(device._dev_report()) : 'no device');

  let started = null;
  Navigator.prototype.requestMIDIAccess = function requestMIDIAccess(options) {
    record.requests++;
    if (config.access === 'refuse' || !(options && options.sysex)) {
      return Promise.reject(new DOMException('Permission to use SysEx was denied.', 'NotAllowedError'));
    }
    started = started || startDevice();
    return started.then(() => access);
  };
})();
