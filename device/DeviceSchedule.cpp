#include "DeviceSchedule.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "Log.h"

void DeviceSchedule::Schedule(std::uint64_t atMs, std::vector<std::uint8_t> message, bool rebootsAfter) {
    auto at = std::upper_bound(pending.begin(), pending.end(), atMs,
                               [](std::uint64_t t, const Pending& p) { return t < p.atMs; });
    pending.insert(at, Pending{atMs, std::move(message), rebootsAfter});
}

void DeviceSchedule::AnswerStep(std::uint64_t atMs, const DeviceBehaviour& behaviour, bool failed) {
    const bool reboots = behaviour.offlineMs > 0;
    if (behaviour.status == DeviceBehaviour::StatusMode::None) {
        // A silent device reboots when its status would have gone out.
        if (reboots) GoAway(atMs, atMs + behaviour.offlineMs);
        return;
    }
    if (failed || behaviour.status == DeviceBehaviour::StatusMode::Fail) {
        Schedule(atMs, MakeStatusMessage(kStatusFailed), reboots);
        return;
    }
    if (behaviour.status == DeviceBehaviour::StatusMode::Install) {
        for (std::uint32_t i = 0; i < behaviour.installCount; ++i) {
            Schedule(atMs, MakeStatusMessage(kStatusInstalling));
            atMs += kDeviceInstallStepMs;
        }
    }
    Schedule(atMs, MakeStatusMessage(kStatusAccepted), reboots);
}

std::vector<std::vector<std::uint8_t>> DeviceSchedule::TakeDue(std::uint64_t nowMs) {
    std::size_t due = 0;
    while (due < pending.size() && pending[due].atMs <= nowMs) ++due;
    std::vector<std::vector<std::uint8_t>> out;
    out.reserve(due);
    for (std::size_t i = 0; i < due; ++i) {
        out.push_back(std::move(pending[i].message));
        if (pending[i].rebootsAfter) rebootPending = true;
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(due));
    return out;
}

std::optional<std::uint64_t> DeviceSchedule::NextDueMs() const {
    if (pending.empty()) return std::nullopt;
    return pending.front().atMs;
}

void DeviceSchedule::GoAway(std::uint64_t fromMs, std::uint64_t untilMs) {
    awayFromMs = fromMs;
    awayUntilMs = untilMs;
    LogMessage("VirtualDevice: offline from %llu to %llu ms\n", static_cast<unsigned long long>(fromMs),
               static_cast<unsigned long long>(untilMs));
}

void DeviceSchedule::StartReboot(std::uint64_t nowMs, std::uint32_t offlineMs) {
    rebootPending = false;
    GoAway(nowMs, nowMs + offlineMs);
}
