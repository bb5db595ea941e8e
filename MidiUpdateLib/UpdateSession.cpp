#include "UpdateSession.h"

#include <exception>

#include "Clock.h"
#include "KeepAwake.h"

PortSettings RunPortSettings(const Update& update, HostPlatform platform, const std::string& pickedPort) {
    PortSettings settings = update.winPort;
    if (pickedPort.empty()) {
        settings.names = PortNamesFor(update, platform);
    } else {
        settings.names = {pickedPort};
        settings.pickedByHand = true;
    }
    return settings;
}

UpdateSession::UpdateSession(const Update& update, PortSettings settings)
    : update(update), settings(std::move(settings)) {}

UpdateOutcome UpdateSession::Run(MidiSystem& system, UpdateProgress& progress) {
    UpdateOutcome outcome;
    try {
        std::unique_ptr<MidiPort> port = system.MakePort(settings);
        if (wrap) port = wrap(std::move(port));
        // A firmware write broken off by the computer's sleep can leave the device dead.
        const std::unique_ptr<AwakeGuard> awake = KeepAwake(kUpdateAwakeReason);
        SimpleSysExSender sender(*port);
        outcome.verdict = sender.Send(update, progress);
        outcome.completed = true;
    } catch (const RunCancelled&) {
        throw;
    } catch (const std::exception& error) {
        outcome.failure = error.what();
    } catch (...) {
        outcome.failure = "Unknown reason";
        outcome.failureKnown = false;
    }
    return outcome;
}
