// Keeping awake on Windows: the thread that runs the update tells the power manager that the
// system is required until it says otherwise. The request belongs to the thread (and ends with
// it), so the guard is taken and destroyed on the thread that runs the update.

#include <windows.h>

#include "KeepAwake.h"
#include "Log.h"

namespace {

class SystemRequired : public AwakeGuard {
public:
    ~SystemRequired() override {
        SetThreadExecutionState(ES_CONTINUOUS);
        LogMessage("Keep awake: the system may sleep again\n");
    }
};

}  // namespace

std::unique_ptr<AwakeGuard> KeepAwake(const std::string&) {
    if (SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) == 0) {
        LogMessage("Keep awake: SetThreadExecutionState failed; the computer may go to sleep during the update\n");
        return nullptr;
    }
    LogMessage("Keep awake: the system is required until the update ends\n");
    return std::make_unique<SystemRequired>();
}
