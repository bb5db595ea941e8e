#pragma once
// One update run, put together the same way for every front end: the names its port looks for,
// the port from the platform's MIDI system, the computer kept awake, the run, and how it ended.

#include <functional>
#include <memory>
#include <string>

#include "HostPlatform.h"
#include "MidiSystem.h"
#include "SysExSender.h"

// The settings a run's port is made with: the file's pacing and, as names, the output port that a
// person picked for this run (then its only name, marked as picked by hand so that the input heard
// is that output's own), or else the file's names for `platform`.
PortSettings RunPortSettings(const Update& update, HostPlatform platform, const std::string& pickedPort);

// How a run ended: with one of the verdicts, which it has reported through Completed; or without
// one, because something failed on the way (the MIDI system, the clock, anything thrown), and
// then `failure` is the reason for the failure box: the exception's text, or "Unknown reason".
struct UpdateOutcome {
    bool completed = false;
    UpdateVerdict verdict = UpdateVerdict::DeviceError;  // when completed
    std::string failure;                                 // when not completed
    bool failureKnown = true;  // false when what failed was not a standard exception
};

class UpdateSession {
public:
    using PortWrapper = std::function<std::unique_ptr<MidiPort>(std::unique_ptr<MidiPort>)>;

    // `update` must outlive the session and is never changed by it; `settings` come from
    // RunPortSettings, with whatever the caller changed for this run.
    UpdateSession(const Update& update, PortSettings settings);

    const PortSettings& Settings() const { return settings; }
    // The output and input the run would open if it connected now, by the system's own rules.
    MidiPortPair PortsNow(MidiSystem& system) const { return system.PortsFor(settings); }
    // Puts the caller's port around the one the system makes, for a caller that watches the port.
    void WrapPort(PortWrapper wrapper) { wrap = std::move(wrapper); }

    // The whole run on `system`, everything reported through `progress`; the computer stays awake
    // until it ends. A cancellation (RunCancelled) is not a failure of the run: it goes on to the
    // caller that asked for it, with the port closed on the way.
    UpdateOutcome Run(MidiSystem& system, UpdateProgress& progress);

private:
    const Update& update;
    PortSettings settings;
    PortWrapper wrap;
};
