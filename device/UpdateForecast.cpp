#include "UpdateForecast.h"

#include "Clock.h"
#include "Log.h"
#include "VirtualDevice.h"

UpdateVerdict RunAgainstVirtualDevice(const Update& update, const PortSettings& settings,
                                      const DeviceBehaviour& behaviour, UpdateProgress& progress,
                                      TransportPacing* transport) {
    VirtualDevice device(update, settings, behaviour, transport);
    SimpleSysExSender sender(device);
    return sender.Send(update, progress);
}

TimelineRecorder::TimelineRecorder(Clock& clock) : clock(clock), startMs(clock.NowMs()) {}
void TimelineRecorder::Mark() { times.push_back(clock.NowMs() - startMs); }

Forecast ForecastRun(const Update& update, const PortSettings& settings, const DeviceBehaviour& behaviour,
                     TransportPacing* transport) {
    ScopedLogMute mute;
    SimulatedClock clock;
    ScopedClock use(clock);
    TimelineRecorder recorder(clock);
    RunAgainstVirtualDevice(update, settings, behaviour, recorder, transport);
    return {recorder.times, clock.NowMs()};
}
