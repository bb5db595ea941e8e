#pragma once
// Keeps the computer from going to sleep while an update runs: a firmware write that sleep breaks
// off halfway can leave an instrument dead.
//
// The build links one platform's definition of KeepAwake, as it does for the MIDI system: the
// power management of Windows, logind on Linux, IOKit on macOS, or one that only says it cannot.

#include <memory>
#include <string>

// Held for as long as the computer must stay awake; destroying it lets the computer sleep again.
// Destroy it on the thread that took it: Windows keeps the request per thread.
class AwakeGuard {
public:
    AwakeGuard() = default;
    virtual ~AwakeGuard() = default;
    AwakeGuard(const AwakeGuard&) = delete;
    AwakeGuard& operator=(const AwakeGuard&) = delete;
};

// What an update tells the system it is staying awake for.
constexpr const char* kUpdateAwakeReason = "Updating firmware";

// Asks the system not to sleep until the guard is destroyed. It never stops an update: where the
// system cannot be asked (no such service, no permission) it says why in one log line and returns
// null, and the update runs as it would have.
std::unique_ptr<AwakeGuard> KeepAwake(const std::string& reason);
