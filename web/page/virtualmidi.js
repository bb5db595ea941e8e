// A MIDI access of the page's own, with the ports of the virtual device (virtualdevice.wasm, the
// device `midiupdate simulate` plays): the page updates it as it would an instrument, and it checks
// every byte against the file. It refuses what a browser's Web MIDI refuses (parts of messages),
// and answers later, on the page's own thread, as a browser does.
'use strict';

class VirtualPort {
  constructor(type, name) {
    Object.assign(this, { type, name, id: `virtual-${type}-${name}`, manufacturer: 'MIDI Updater', version: '1' });
    this.state = 'connected';
    this.connection = 'closed';
    this.onmidimessage = null;
  }
  open() { this.connection = 'open'; return Promise.resolve(this); }
  close() { this.connection = 'closed'; return Promise.resolve(this); }
  receive(bytes) {
    setTimeout(() => {
      if (this.onmidimessage) this.onmidimessage({ data: new Uint8Array(bytes), timeStamp: performance.now() });
    }, 0);
  }
}

// Whole messages only: complete SysEx, real-time bytes, or short messages with all their data.
function wholeMidiMessages(data) {
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
      const kind = status & 0xF0;
      const length = kind === 0xC0 || kind === 0xD0 || status === 0xF1 || status === 0xF3 ? 2 : status === 0xF6 ? 1 : 3;
      for (let k = 1; k < length; k++) if (i + k >= data.length || data[i + k] >= 0x80) return false;
      i += length;
    } else {
      return false;
    }
  }
  return true;
}

class VirtualOutput extends VirtualPort {
  constructor(name, deliver) { super('output', name); this.deliver = deliver; }
  send(data) {
    const bytes = Uint8Array.from(data);
    if (!wholeMidiMessages(bytes)) {
      throw new TypeError("Failed to execute 'send' on 'MIDIOutput': not a sequence of whole MIDI messages");
    }
    this.deliver(bytes);
  }
}

class VirtualMidiAccess {
  // The device for `file` (bytes; empty: a device that takes any SysEx), answering as `behaviour`
  // says (as send --virtual takes it), named as the page looks for it on `platform`.
  static async open(file, behaviour, platform) {
    if (!window.DeviceModelModule) {
      await new Promise((resolve, reject) => {
        const script = document.createElement('script');
        script.src = 'virtualdevice.js';
        script.onload = resolve;
        script.onerror = () => reject(new Error('the virtual device could not be loaded'));
        document.head.appendChild(script);
      });
    }
    const access = new VirtualMidiAccess(await window.DeviceModelModule({
      print: (line) => console.log(`[virtual device] ${line}`),
      printErr: (line) => console.warn(`[virtual device] ${line}`),
    }));
    access.start(file, behaviour, platform);
    return access;
  }

  constructor(device) {
    this.device = device;
    device.virtualMidi = this;
    this.inputs = new Map();
    this.outputs = new Map();
    this.sysexEnabled = true;
    this.onstatechange = null;
    this.ports = { output: null, input: null };
  }

  start(file, behaviour, platform) {
    const device = this.device;
    const at = device._malloc(Math.max(1, file.length));
    device.HEAPU8.set(file, at);
    const started = device.ccall('vd_start', 'number', ['number', 'number', 'string', 'number'],
      [at, file.length, behaviour, platform]);
    device._free(at);
    if (!started) throw new Error(`The virtual device did not start: ${device.UTF8ToString(device._vd_text())}`);
    this.timer = setInterval(() => device._vd_step(performance.now()), 5);
  }

  // Called by the device: its ports appear and go as it starts and reboots.
  show(pageOutput, name) {
    const port = pageOutput ? new VirtualOutput(name, (bytes) => this.deliver(bytes)) : new VirtualPort('input', name);
    this.ports[pageOutput ? 'output' : 'input'] = port;
    (pageOutput ? this.outputs : this.inputs).set(port.id, port);
  }
  hide(pageOutput) {
    const port = this.ports[pageOutput ? 'output' : 'input'];
    if (!port) return;
    port.state = 'disconnected';
    (pageOutput ? this.outputs : this.inputs).delete(port.id);
    this.ports[pageOutput ? 'output' : 'input'] = null;
  }
  answer(bytes) { if (this.ports.input) this.ports.input.receive(bytes); }

  deliver(bytes) {
    const at = this.device._malloc(bytes.length);
    this.device.HEAPU8.set(bytes, at);
    this.device._vd_receive(at, bytes.length);
    this.device._free(at);
  }

  // What the device received, and whether it is what the file says.
  report() { return this.device.UTF8ToString(this.device._vd_report()); }
}
