#pragma once
// What a device in update mode has still to say and when, and when it is away rebooting: the one
// schedule of answers and absences that every device model shares.

#include <cstdint>
#include <optional>
#include <vector>

#include "DeviceBehaviour.h"

class DeviceSchedule {
public:
    // `message` goes out at `atMs`, after every message due at the same time, so that a sequence
    // keeps its order. With `rebootsAfter` the device asks to reboot once it has gone out.
    void Schedule(std::uint64_t atMs, std::vector<std::uint8_t> message, bool rebootsAfter = false);
    // A step of the update (a portion, or any SysEx after a quiet spell) is done at `atMs`: the
    // statuses `behaviour` prescribes, or a failure where `failed`. A device that reboots does so
    // after its last status, or, when it sends none, at once.
    void AnswerStep(std::uint64_t atMs, const DeviceBehaviour& behaviour, bool failed);
    // The messages due by `nowMs`, in order; they leave the schedule.
    std::vector<std::vector<std::uint8_t>> TakeDue(std::uint64_t nowMs);
    // When the next message is due, if any.
    std::optional<std::uint64_t> NextDueMs() const;
    // Forgets every message not yet sent.
    void Clear() { pending.clear(); }

    // Away in [fromMs, untilMs): present again from `untilMs` on.
    void GoAway(std::uint64_t fromMs, std::uint64_t untilMs);
    bool Online(std::uint64_t nowMs) const { return !(nowMs >= awayFromMs && nowMs < awayUntilMs); }
    std::uint64_t AwayUntilMs() const { return awayUntilMs; }
    // A status that reboots the device has gone out: the transport decides when the host has seen
    // it and calls StartReboot, which takes the device away for `offlineMs`.
    bool RebootPending() const { return rebootPending; }
    void StartReboot(std::uint64_t nowMs, std::uint32_t offlineMs);

private:
    struct Pending {
        std::uint64_t atMs;
        std::vector<std::uint8_t> message;
        bool rebootsAfter = false;
    };
    std::vector<Pending> pending;  // ordered by time
    std::uint64_t awayFromMs = 0;
    std::uint64_t awayUntilMs = 0;
    bool rebootPending = false;
};
