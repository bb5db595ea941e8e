#pragma once
// The page's MIDI system: the browser's Web MIDI ports, and the message port over a Web MIDI
// connection. A page has one thread, so input arrives only when the run hands the page back to
// the browser; the page's clock asks this system to deliver it after each wait.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MidiSystem.h"

class WebMidiSystem : public MidiSystem {
public:
    WebMidiSystem();
    ~WebMidiSystem() override;
    WebMidiSystem(const WebMidiSystem&) = delete;
    WebMidiSystem& operator=(const WebMidiSystem&) = delete;

    std::string Name() const override { return "webmidi"; }
    // The browser's lists; a port that is never the device (a through port, a software
    // synthesizer) is marked skipped.
    std::vector<MidiPortEntry> OutputPorts() override;
    std::vector<MidiPortEntry> InputPorts() override;
    // A message port over a Web MIDI connection of its own, which this system delivers input to
    // and reports sends of for as long as the port exists.
    std::unique_ptr<MidiPort> MakePort(const PortSettings& settings) override;
    MidiPortPair PortsFor(const PortSettings& settings) override;

    // Hands what arrived since the last look to the ports this system made.
    void DeliverInput();
    // Called after each message that one of those ports got the browser to take.
    void OnSent(std::function<void()> callback);

    // The connections it made that still exist (shared with them, as either may go first).
    struct Made;

private:
    std::shared_ptr<Made> made;
};
