#pragma once
// An update run against the virtual device, and the same run silently on a simulated clock: when
// each report of the run would come and how long the whole run takes.

#include <cstdint>
#include <string>
#include <vector>

#include "DeviceBehaviour.h"
#include "MidiSystem.h"
#include "PortSettings.h"
#include "SysExSender.h"
#include "Update.h"
#include "UpdateProgress.h"

class Clock;

// Runs the update against a virtual device on the clock installed now; with `transport`, through
// a MIDI system's pacing as well.
UpdateVerdict RunAgainstVirtualDevice(const Update& update, const PortSettings& settings,
                                      const DeviceBehaviour& behaviour, UpdateProgress& progress,
                                      TransportPacing* transport = nullptr);

// Records when each report happens, on the run's clock; a forecast run of an update gives the
// times from which a reporter estimates the time left.
class TimelineRecorder : public UpdateProgress {
public:
    explicit TimelineRecorder(Clock& clock);
    std::vector<std::uint64_t> times;  // ms since start, one per report
    std::string verdict;

    void Progress(float) override { Mark(); }
    void ProgressIndeterminate() override { Mark(); }
    void Status(const std::string&) override { Mark(); }
    void Error(const std::string&) override { Mark(); }
    void Completed(const std::string& text) override { verdict = text; Mark(); }
    void BlockingMessage(const std::string&) override { Mark(); }

private:
    void Mark();
    Clock& clock;
    std::uint64_t startMs;
};

struct Forecast {
    std::vector<std::uint64_t> times;  // of each report, ms since the start
    std::uint64_t totalMs = 0;         // the whole run, not counting time spent at messages
};

// The run against the virtual device answering as `behaviour` says, silently (the log muted) on a
// simulated clock installed for its length; with `transport`, through that MIDI system's pacing.
Forecast ForecastRun(const Update& update, const PortSettings& settings, const DeviceBehaviour& behaviour,
                     TransportPacing* transport = nullptr);
