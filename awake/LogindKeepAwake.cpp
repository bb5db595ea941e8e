// Keeping awake on Linux: a "sleep" inhibitor lock of logind (systemd-logind and compatible),
// asked for over the system bus and held as the file descriptor logind hands back; closing it ends
// the lock. Without logind (or the bus, or the permission) the update runs as it would have.
//
// The system bus is the one sd-bus finds: DBUS_SYSTEM_BUS_ADDRESS when it is set, else the usual
// socket.

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "KeepAwake.h"
#include "Log.h"

namespace {

// A bus that does not answer within this time is not waited for longer: the update is waiting.
constexpr std::uint64_t kBusTimeoutUsec = 10 * 1000 * 1000;

class InhibitorLock : public AwakeGuard {
public:
    explicit InhibitorLock(int lockFd) : fd(lockFd) {}
    ~InhibitorLock() override {
        close(fd);
        LogMessage("Keep awake: sleep inhibitor released\n");
    }

private:
    int fd;
};

std::unique_ptr<AwakeGuard> Declined(const char* what, int error, const sd_bus_error* busError) {
    const char* why = busError && sd_bus_error_is_set(busError) && busError->message ? busError->message
                                                                                    : std::strerror(error);
    LogMessage("Keep awake: %s (%s); the computer may go to sleep during the update\n", what, why);
    return nullptr;
}

}  // namespace

std::unique_ptr<AwakeGuard> KeepAwake(const std::string& reason) {
    sd_bus* bus = nullptr;
    int r = sd_bus_open_system(&bus);
    if (r < 0) return Declined("no system bus", -r, nullptr);

    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    std::unique_ptr<AwakeGuard> lock;
    r = sd_bus_message_new_method_call(bus, &call, "org.freedesktop.login1", "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", "Inhibit");
    if (r >= 0) r = sd_bus_message_append(call, "ssss", "sleep", "MIDI Updater", reason.c_str(), "block");
    if (r >= 0) r = sd_bus_call(bus, call, kBusTimeoutUsec, &error, &reply);
    int fd = -1;
    if (r >= 0) r = sd_bus_message_read(reply, "h", &fd);
    if (r < 0) {
        Declined("logind gave no sleep inhibitor", -r, &error);
    } else {
        // The descriptor belongs to the reply, which goes now: the lock keeps a copy of its own.
        const int held = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        if (held < 0) {
            Declined("the sleep inhibitor could not be kept", errno, nullptr);
        } else {
            LogMessage("Keep awake: logind holds off sleep until the update ends\n");
            lock = std::make_unique<InhibitorLock>(held);
        }
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    sd_bus_flush_close_unref(bus);
    return lock;
}
