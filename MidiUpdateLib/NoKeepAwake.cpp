// Keeping awake where this build has no way to ask: one log line, and the update runs anyway.

#include "KeepAwake.h"
#include "Log.h"

std::unique_ptr<AwakeGuard> KeepAwake(const std::string&) {
    LogMessage("Keep awake: this build cannot keep the computer from sleeping during the update\n");
    return nullptr;
}
