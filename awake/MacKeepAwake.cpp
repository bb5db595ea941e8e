// Keeping awake on macOS: a power management assertion that prevents idle system sleep, released
// when the update ends. (The display may still dim and sleep; the system and USB stay up.)

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/pwr_mgt/IOPMLib.h>

#include "KeepAwake.h"
#include "Log.h"

namespace {

class SleepAssertion : public AwakeGuard {
public:
    explicit SleepAssertion(IOPMAssertionID assertion) : id(assertion) {}
    ~SleepAssertion() override {
        IOPMAssertionRelease(id);
        LogMessage("Keep awake: sleep assertion released\n");
    }

private:
    IOPMAssertionID id;
};

}  // namespace

std::unique_ptr<AwakeGuard> KeepAwake(const std::string& reason) {
    // The name shows in the system's list of assertions (pmset -g assertions): who, and why.
    const std::string name = "MIDI Updater: " + reason;
    CFStringRef cfName = CFStringCreateWithCString(kCFAllocatorDefault, name.c_str(), kCFStringEncodingUTF8);
    if (!cfName) {
        LogMessage("Keep awake: no assertion name; the computer may go to sleep during the update\n");
        return nullptr;
    }
    IOPMAssertionID id = kIOPMNullAssertionID;
    const IOReturn result = IOPMAssertionCreateWithName(kIOPMAssertionTypePreventUserIdleSystemSleep,
                                                        kIOPMAssertionLevelOn, cfName, &id);
    CFRelease(cfName);
    if (result != kIOReturnSuccess) {
        LogMessage("Keep awake: IOPMAssertionCreateWithName failed (0x%x); the computer may go to sleep during "
                   "the update\n",
                   static_cast<unsigned>(result));
        return nullptr;
    }
    LogMessage("Keep awake: idle sleep is held off until the update ends\n");
    return std::make_unique<SleepAssertion>(id);
}
