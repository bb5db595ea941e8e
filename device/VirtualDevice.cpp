#include "VirtualDevice.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "Clock.h"
#include "Log.h"
#include "SysExSender.h"
#include "UpdateStatus.h"

namespace {

// More "installing" statuses than this would only fill memory: the update run gives up polling
// long before (about two hundred polls per portion).
constexpr std::uint32_t kMaxInstallCount = 10000;

// What the version bytes of an Identity Reply can carry: A = major / 22 and C = minor / 10 must
// stay 7-bit, and a minor of 100 or more would not read back as two digits.
constexpr std::uint16_t kMaxReplyMajor = 2815;
constexpr std::uint16_t kMaxReplyMinor = 99;

bool VersionFitsReply(const FirmwareVersion& version) {
    return version.major <= kMaxReplyMajor && version.minor <= kMaxReplyMinor;
}

// A chunk as a port with these framing rules puts it on the wire: with `chunks` on, a missing F0
// goes in front and a missing F7 behind, so every chunk travels as a complete SysEx message.
std::vector<std::uint8_t> FrameChunk(const std::uint8_t* data, std::uint32_t length, bool chunks) {
    std::vector<std::uint8_t> out;
    if (length == 0) return out;
    out.reserve(length + 2u);
    if (chunks && data[0] != 0xF0) out.push_back(0xF0);
    out.insert(out.end(), data, data + length);
    if (chunks && data[length - 1] != 0xF7) out.push_back(0xF7);
    return out;
}

// A negative pause would read as an unsigned sleep of weeks; a device treats it as no pause.
std::uint32_t PauseMs(std::int32_t ms) { return ms > 0 ? static_cast<std::uint32_t>(ms) : 0u; }

std::string Trim(const std::string& text) {
    std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Plain decimal digits only (no sign, no spaces); false when empty, not digits or above `limit`.
bool ParseCount(const std::string& text, std::uint64_t limit, std::uint64_t& value) {
    if (text.empty()) return false;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10u + static_cast<std::uint64_t>(c - '0');
        if (v > limit) return false;
    }
    value = v;
    return true;
}

void ParseStatus(const std::string& item, const std::string& value, DeviceBehaviour& behaviour) {
    if (value == "accept") {
        behaviour.status = DeviceBehaviour::StatusMode::Accept;
    } else if (value == "fail") {
        behaviour.status = DeviceBehaviour::StatusMode::Fail;
    } else if (value == "none") {
        behaviour.status = DeviceBehaviour::StatusMode::None;
    } else if (value.rfind("install:", 0) == 0) {
        std::uint64_t count = 0;
        if (!ParseCount(value.substr(std::strlen("install:")), kMaxInstallCount, count))
            throw std::invalid_argument("The device behaviour item '" + item +
                                        "' needs a whole number of installing statuses from 0 to " +
                                        std::to_string(kMaxInstallCount) + " after 'install:'.");
        behaviour.status = DeviceBehaviour::StatusMode::Install;
        behaviour.installCount = static_cast<std::uint32_t>(count);
    } else {
        throw std::invalid_argument("The device behaviour item '" + item +
                                    "' is not understood: status must be accept, fail, none or "
                                    "install:N.");
    }
}

void ParseIdentity(const std::string& item, const std::string& value, DeviceBehaviour& behaviour) {
    if (value == "none") {
        behaviour.identityEnabled = false;
        behaviour.identity.reset();
        return;
    }
    const std::size_t point = value.find('.');
    std::uint64_t major = 0, minor = 0;
    if (point == std::string::npos || !ParseCount(value.substr(0, point), 0xFFFFFFFFu, major) ||
        !ParseCount(value.substr(point + 1), 0xFFFFFFFFu, minor))
        throw std::invalid_argument("The device behaviour item '" + item +
                                    "' is not understood: identity must be MAJOR.MINOR (such as "
                                    "1.05) or none.");
    if (major > kMaxReplyMajor || minor > kMaxReplyMinor)
        throw std::invalid_argument("The device behaviour item '" + item +
                                    "' names a version an Identity Reply cannot carry: the major "
                                    "version must be at most 2815 and the minor at most 99.");
    behaviour.identityEnabled = true;
    behaviour.identity = FirmwareVersion{static_cast<std::uint16_t>(major),
                                         static_cast<std::uint16_t>(minor)};
}

void ParseOffline(const std::string& item, const std::string& value, DeviceBehaviour& behaviour) {
    std::uint64_t ms = 0;
    if (!ParseCount(value, 0xFFFFFFFFu, ms))
        throw std::invalid_argument("The device behaviour item '" + item +
                                    "' is not understood: offline must be a whole number of "
                                    "milliseconds.");
    behaviour.offlineMs = static_cast<std::uint32_t>(ms);
}

const char* StatusModeText(DeviceBehaviour::StatusMode mode) {
    switch (mode) {
        case DeviceBehaviour::StatusMode::Accept: return "accept";
        case DeviceBehaviour::StatusMode::Fail: return "fail";
        case DeviceBehaviour::StatusMode::None: return "none";
        case DeviceBehaviour::StatusMode::Install: return "install";
    }
    return "?";
}

}  // namespace

DeviceBehaviour ParseDeviceBehaviour(const std::string& text) {
    DeviceBehaviour behaviour;
    if (Trim(text).empty()) return behaviour;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string item =
            Trim(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (item.empty())
            throw std::invalid_argument(
                "The device behaviour has an empty item; separate items by single commas.");
        const std::size_t equals = item.find('=');
        if (equals == std::string::npos)
            throw std::invalid_argument("The device behaviour item '" + item +
                                        "' is not understood: items have the form key=value.");
        const std::string key = item.substr(0, equals);
        const std::string value = item.substr(equals + 1);
        if (key == "status") {
            ParseStatus(item, value, behaviour);
        } else if (key == "identity") {
            ParseIdentity(item, value, behaviour);
        } else if (key == "offline") {
            ParseOffline(item, value, behaviour);
        } else {
            throw std::invalid_argument("The device behaviour item '" + item +
                                        "' has an unknown key: use status, identity or offline.");
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return behaviour;
}

std::vector<std::uint8_t> MakeStatusMessage(std::uint8_t statusByte) {
    // The six device data bytes are not read by the updater; a fixed, recognisable pattern.
    return {0xF0, kManufacturerId[0], kManufacturerId[1], kManufacturerId[2], 0x73,
            0x01, 0x02, 0x03, 0x04, 0x05, 0x06, statusByte, 0xF7};
}

std::vector<std::uint8_t> MakeIdentityReply(const FirmwareVersion& version, const std::string& name) {
    if (!VersionFitsReply(version))
        throw std::invalid_argument("An Identity Reply cannot carry version " + VersionText(version) +
                                    ": the major version must be at most 2815 and the minor at most "
                                    "99.");
    std::vector<std::uint8_t> reply = {0xF0, 0x7E, 0x00, 0x06, 0x02,
                                       kManufacturerId[0], kManufacturerId[1], kManufacturerId[2]};
    // The updater reads the version one byte earlier than where the standard reply keeps its
    // software revision (at the second model byte). So the model's second byte is chosen to be A,
    // and the bytes after it are B C D: both readings stay well formed.
    const std::uint8_t a = static_cast<std::uint8_t>(version.major / 22);
    const std::uint8_t b = static_cast<std::uint8_t>(version.major % 22);
    const std::uint8_t c = static_cast<std::uint8_t>(version.minor / 10);
    const std::uint8_t d = static_cast<std::uint8_t>(version.minor % 10);
    const std::uint8_t family[2] = {0x01, 0x00};
    const std::uint8_t modelFirst = 0x01;
    reply.insert(reply.end(), {family[0], family[1], modelFirst, a, b, c, d});
    // Five bytes the updater skips.
    reply.insert(reply.end(), {0x00, 0x00, 0x00, 0x00, 0x00});
    // A 16-byte 7-bit name; a byte the reader would take as the end of the name is replaced.
    for (std::size_t i = 0; i < 16; ++i) {
        std::uint8_t ch = i < name.size() ? static_cast<std::uint8_t>(name[i]) : 0x00;
        if (ch >= 0x7F) ch = '?';
        reply.push_back(ch);
    }
    reply.push_back(0xF7);
    return reply;
}

VirtualDevice::VirtualDevice(const Update& update, const PortSettings& portSettings,
                             DeviceBehaviour deviceBehaviour)
    : settings(portSettings), behaviour(std::move(deviceBehaviour)) {
    // The reply tells the file's version unless told otherwise, so that a run without statuses
    // still ends in a confirmed update; a file without a version gets a plausible 1.00.
    if (behaviour.identity) {
        replyVersion = *behaviour.identity;
    } else if (update.version.major == 0 && update.version.minor == 0) {
        replyVersion = FirmwareVersion{1, 0};
    } else {
        replyVersion = update.version;
    }
    if (behaviour.identityEnabled && !VersionFitsReply(replyVersion)) {
        LogMessage("VirtualDevice: version %s cannot be told in an Identity Reply; the device "
                   "will not answer one\n",
                   VersionText(replyVersion).c_str());
        behaviour.identityEnabled = false;
    }
    deviceName = update.productName.empty() ? std::string("Virtual Device") : update.productName;

    // What each portion must look like on the wire: cut exactly as the sender cuts it with this
    // port's sizes, then framed as this port frames every chunk.
    const std::uint32_t ideal = settings.ideal > 0 ? static_cast<std::uint32_t>(settings.ideal)
                                                   : kFallbackIdealChunkSize;
    const std::uint32_t max = static_cast<std::uint32_t>(settings.max);
    expectedWire.reserve(update.portions.size());
    for (const SysExPortion& portion : update.portions) {
        std::vector<std::uint8_t> expected;
        const std::uint8_t* cursor = portion.data.data();
        const std::uint8_t* end = cursor + portion.data.size();
        while (cursor != end) {
            const std::uint8_t* chunkEnd = FindChunkEnd(cursor, end, ideal, max);
            std::vector<std::uint8_t> framed =
                FrameChunk(cursor, static_cast<std::uint32_t>(chunkEnd - cursor), settings.chunks);
            expected.insert(expected.end(), framed.begin(), framed.end());
            cursor = chunkEnd;
        }
        expectedWire.push_back(std::move(expected));
    }
    SkipEmptyPortions();
    LogMessage("VirtualDevice: %u portions expected, status=%s, identity=%s, offline=%u ms\n",
               static_cast<unsigned>(expectedWire.size()), StatusModeText(behaviour.status),
               behaviour.identityEnabled ? VersionText(replyVersion).c_str() : "none",
               static_cast<unsigned>(behaviour.offlineMs));
}

// Like a real port, the device is closed when it goes, also when a run is cut short.
VirtualDevice::~VirtualDevice() { Disconnect(); }

std::int32_t VirtualDevice::GetIdealChunkSize() { return settings.ideal; }

std::int32_t VirtualDevice::GetMaxChunkSize() { return settings.max; }

bool VirtualDevice::Online(std::uint64_t nowMs) const {
    return !(nowMs >= offlineFromMs && nowMs < offlineUntilMs);
}

bool VirtualDevice::IsConnected() {
    DeliverDue();
    const bool online = Online(CurrentClock().NowMs());
    if (online && !open) LogMessage("VirtualDevice: port opened\n");
    // A device that went away takes the open port with it, as a real port loses its device.
    open = online;
    return online;
}

void VirtualDevice::Disconnect() {
    if (open) LogMessage("VirtualDevice: port closed\n");
    open = false;
}

void VirtualDevice::Send(const std::uint8_t* data, std::uint32_t length) {
    if (length == 0) return;  // a real port does not even try to connect for nothing
    const std::vector<std::uint8_t> framed = FrameChunk(data, length, settings.chunks);
    if (!IsConnected()) {
        ++stats.sendsWhileClosed;
        LogMessage("VirtualDevice: %u bytes lost, the device is offline\n",
                   static_cast<unsigned>(framed.size()));
        return;
    }
    ++stats.chunksReceived;
    const std::uint64_t nowMs = CurrentClock().NowMs();
    const std::uint64_t unexpectedBefore = stats.bytesUnexpected;
    for (std::uint8_t b : framed) ReceiveByte(b, nowMs);
    if (stats.bytesUnexpected != unexpectedBefore)
        LogMessage("VirtualDevice: %u bytes after the last portion\n",
                   static_cast<unsigned>(stats.bytesUnexpected - unexpectedBefore));
    // The pauses a real port keeps after handing a chunk to its driver and after releasing it.
    SleepMs(PauseMs(settings.delay));
    SleepMs(PauseMs(settings.unprepDelay));
}

std::vector<std::uint8_t> VirtualDevice::Query(std::uint32_t limit, const std::uint8_t* request,
                                               std::uint32_t length) {
    DeliverDue();
    const std::uint64_t nowMs = CurrentClock().NowMs();
    const bool isIdentityRequest = request != nullptr && length == sizeof(IdentityRequest) &&
                                   std::memcmp(request, IdentityRequest, sizeof(IdentityRequest)) == 0;
    if (isIdentityRequest) ++stats.identityRequests;
    if (!isIdentityRequest || !behaviour.identityEnabled) {
        LogMessage("VirtualDevice: no answer to a request of %u bytes\n",
                   static_cast<unsigned>(length));
        SleepMs(limit);
        return {};
    }
    // The device answers on its own, whether or not the port was closed; a device that is away
    // answers once it is back.
    const std::uint64_t replyAtMs = (Online(nowMs) ? nowMs : offlineUntilMs) + kDeviceIdentityMs;
    std::vector<std::uint8_t> reply = MakeIdentityReply(replyVersion, deviceName);
    Schedule(replyAtMs, reply);
    LogMessage("VirtualDevice: Identity Request, reply in %u ms\n",
               static_cast<unsigned>(replyAtMs - nowMs));
    if (replyAtMs - nowMs > limit) {
        // Too late for this caller; the reply still arrives later, as a real one would.
        SleepMs(limit);
        DeliverDue();
        return {};
    }
    SleepMs(static_cast<std::uint32_t>(replyAtMs - nowMs));
    DeliverDue();
    return reply;
}

std::vector<std::uint8_t> VirtualDevice::GetSysEx() {
    DeliverDue();
    std::vector<std::uint8_t> message = MidiPort::GetSysEx();
    // The status has reached the host, so the device may go: it reboots only once its last status
    // is out, like an instrument that restarts after reporting.
    if (rebootWhenRead && !message.empty()) {
        rebootWhenRead = false;
        GoOffline(CurrentClock().NowMs());
    }
    return message;
}

void VirtualDevice::GoOffline(std::uint64_t fromMs) {
    offlineFromMs = fromMs;
    offlineUntilMs = fromMs + behaviour.offlineMs;
    open = false;
    LogMessage("VirtualDevice: offline from %llu to %llu ms\n", static_cast<unsigned long long>(offlineFromMs),
               static_cast<unsigned long long>(offlineUntilMs));
}

void VirtualDevice::ClearSysEx() {
    DeliverDue();
    MidiPort::ClearSysEx();
}

void VirtualDevice::Schedule(std::uint64_t atMs, std::vector<std::uint8_t> message, bool rebootsAfter) {
    // After every message due at the same time, so that a sequence keeps its order.
    auto at = std::upper_bound(pending.begin(), pending.end(), atMs,
                               [](std::uint64_t t, const Pending& p) { return t < p.atMs; });
    pending.insert(at, Pending{atMs, std::move(message), rebootsAfter});
}

void VirtualDevice::DeliverDue() {
    const std::uint64_t nowMs = CurrentClock().NowMs();
    std::size_t due = 0;
    while (due < pending.size() && pending[due].atMs <= nowMs) ++due;
    if (due == 0) return;
    // Through the port's own reassembly, so that a newer message replaces an unread older one
    // exactly as on a real port.
    for (std::size_t i = 0; i < due; ++i) {
        assembler.AddBytes(pending[i].message.data(), pending[i].message.size());
        if (pending[i].rebootsAfter) rebootWhenRead = true;
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(due));
}

void VirtualDevice::SkipEmptyPortions() {
    // A portion without data puts nothing on the wire, so the device never sees it.
    while (portionIndex < expectedWire.size() && expectedWire[portionIndex].empty()) ++portionIndex;
}

void VirtualDevice::ReceiveByte(std::uint8_t b, std::uint64_t nowMs) {
    wire.push_back(b);
    ++stats.bytesReceived;
    if (portionIndex >= expectedWire.size()) {
        ++stats.bytesUnexpected;
        return;
    }
    const std::vector<std::uint8_t>& expected = expectedWire[portionIndex];
    if (expected[portionOffset] != b) portionIntact = false;
    if (++portionOffset == expected.size()) PortionReceived(portionIntact, nowMs);
}

void VirtualDevice::PortionReceived(bool intact, std::uint64_t nowMs) {
    ++stats.portionsCompleted;
    if (!intact) ++stats.portionsCorrupt;
    const unsigned number = static_cast<unsigned>(portionIndex + 1);

    std::uint64_t at = nowMs + kDeviceProcessingMs;
    const bool reboots = behaviour.offlineMs > 0;
    if (behaviour.status == DeviceBehaviour::StatusMode::None) {
        // A silent device reboots when its status would have gone out.
        if (reboots) GoOffline(at);
    } else if (!intact || behaviour.status == DeviceBehaviour::StatusMode::Fail) {
        Schedule(at, MakeStatusMessage(kStatusFailed), reboots);
    } else {
        if (behaviour.status == DeviceBehaviour::StatusMode::Install) {
            for (std::uint32_t i = 0; i < behaviour.installCount; ++i) {
                Schedule(at, MakeStatusMessage(kStatusInstalling));
                at += kDeviceInstallStepMs;
            }
        }
        Schedule(at, MakeStatusMessage(kStatusAccepted), reboots);
    }
    LogMessage("VirtualDevice: portion %u complete (%s)\n", number, intact ? "intact" : "corrupt");

    ++portionIndex;
    portionOffset = 0;
    portionIntact = true;
    SkipEmptyPortions();
}
