#pragma once
// The page's Web MIDI as a MidiConnection, so that the port the programs use on Linux and macOS
// (name choice, piecing, pacing, Query) runs in the browser unchanged. The MIDIAccess object lives
// in the page's script (page/webmidi.js); this side only asks it, and takes what arrived whenever
// the run wakes from a wait: a page has one thread, so nothing arrives while the run computes.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "MidiConnection.h"

class WebMidiConnection : public MidiConnection {
public:
    ~WebMidiConnection() override;

    // Names as the browser lists them, in code page 1252 where it holds them (the update file's
    // names are 1252 text), else as the browser gave them.
    std::vector<std::string> OutputNames() override;
    std::vector<std::string> InputNames() override;
    bool OpenOutput(unsigned index) override;
    bool OpenInput(unsigned index, MidiInputHandler& handler) override;
    // A page cannot make ports of its own.
    bool OpenVirtualOutput(const std::string&) override { return false; }
    bool OpenVirtualInput(const std::string&, MidiInputHandler&) override { return false; }
    void CloseOutput() override;
    void CloseInput() override;
    bool OutputOpen() const override { return outputOpen; }
    bool InputOpen() const override { return handler != nullptr; }
    // False when the browser refused the bytes (Web MIDI takes only whole messages).
    bool SendMessage(const std::uint8_t* data, std::size_t length) override;
    TransportLimits Limits() const override;
    std::string ApiName() const override { return "webmidi"; }

    // Hands everything that arrived on the open input since the last look to its handler.
    void DeliverInput();
    // Called after each message the browser took.
    void OnSent(std::function<void()> callback) { onSent = std::move(callback); }

private:
    std::function<void()> onSent;
    bool outputOpen = false;
    MidiInputHandler* handler = nullptr;
};
