#pragma once
// What the message port and the device simulator need of a MIDI system (ALSA sequencer, JACK,
// CoreMIDI, Web MIDI): the lists of ports, one output and one input that can be opened, and whole messages
// in and out. Small on purpose, so that the logic above it runs in tests against a fake.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "TransportLimits.h"
#include "MidiSystem.h"

// Receives what arrives on an open input, one message (or piece of a long SysEx) at a time, on the
// MIDI system's own thread.
class MidiInputHandler {
public:
    virtual ~MidiInputHandler() = default;
    virtual void OnMidiInput(const std::uint8_t* data, std::size_t length) = 0;
};

class MidiConnection {
public:
    virtual ~MidiConnection() = default;

    // Names of the ports this program can send to and receive from, in the system's order, the
    // program's own ports left out.
    virtual std::vector<std::string> OutputNames() = 0;
    virtual std::vector<std::string> InputNames() = 0;

    // Open the port at `index` of the latest list; false (and logged) when the system refuses.
    virtual bool OpenOutput(unsigned index) = 0;
    virtual bool OpenInput(unsigned index, MidiInputHandler& handler) = 0;
    // Ports of this program's own that other programs see under `name`, as a device's ports.
    virtual bool OpenVirtualOutput(const std::string& name) = 0;
    virtual bool OpenVirtualInput(const std::string& name, MidiInputHandler& handler) = 0;
    // Closing waits until the handler is no longer called.
    virtual void CloseOutput() = 0;
    virtual void CloseInput() = 0;
    virtual bool OutputOpen() const = 0;
    virtual bool InputOpen() const = 0;

    // One message, or one piece of a long SysEx; false when the system refused it.
    virtual bool SendMessage(const std::uint8_t* data, std::size_t length) = 0;

    // The input errors the system has reported since this connection was made (over all the
    // inputs it opened); zeros from a system that reports none.
    virtual MidiInputErrors InputErrors() const { return {}; }

    virtual TransportLimits Limits() const = 0;
    // "alsa", "jack", "coremidi" or "webmidi".
    virtual std::string ApiName() const = 0;
};
