// The page's MIDI access as the update run asks for it (WebMidiConnection.cpp): the lists of
// ports, one output and one input in use, whole messages out, and what arrived kept until the run
// takes it after its next wait.
'use strict';

class WebMidiBridge {
  constructor(access) {
    this.access = access;
    this.output = null;
    this.input = null;
    this.arrived = [];
  }

  // Ports that are there now, in the browser's order: a device that went away may stay listed as
  // disconnected.
  static present(map) {
    return Array.from(map.values()).filter((port) => port.state !== 'disconnected');
  }

  outputNames() { return WebMidiBridge.present(this.access.outputs).map((port) => port.name); }
  inputNames() { return WebMidiBridge.present(this.access.inputs).map((port) => port.name); }

  open(isOutput, index) {
    const port = WebMidiBridge.present(isOutput ? this.access.outputs : this.access.inputs)[index];
    if (!port) return false;
    if (isOutput) {
      this.output = port;
    } else {
      this.close(false);
      this.input = port;
      port.onmidimessage = (event) => this.arrived.push(event.data);
    }
    // Sending opens an output as well; a port that will not open shows as refused sends.
    port.open().catch((error) => console.warn(`Web MIDI could not open '${port.name}': ${error.message}`));
    return true;
  }

  // An output is let go, not closed: closing could drop what the browser still has to send.
  close(isOutput) {
    if (isOutput) {
      this.output = null;
    } else if (this.input) {
      this.input.onmidimessage = null;
      this.input = null;
      this.arrived = [];
    }
  }

  send(bytes) {
    if (!this.output) return false;
    try {
      this.output.send(bytes);
      return true;
    } catch (error) {
      console.warn(`Web MIDI refused ${bytes.length} bytes: ${error.message}`);
      return false;
    }
  }

  // The oldest message that arrived, at most `capacity` bytes of it (the rest stays for the next
  // call), or null.
  take(capacity) {
    if (this.arrived.length === 0) return null;
    const head = this.arrived[0];
    if (head.length <= capacity) {
      this.arrived.shift();
      return head;
    }
    this.arrived[0] = head.subarray(capacity);
    return head.subarray(0, capacity);
  }
}
