#include "VirtualDeviceModel.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "Clock.h"
#include "Log.h"
#include "ChunkFraming.h"
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
    using Shape = DeviceBehaviour::IdentityShape;
    if (value == "none") {
        behaviour.identityEnabled = false;
        behaviour.identity.reset();
        return;
    }
    if (value == "short" || value == "cut" || value == "malformed") {
        behaviour.identityEnabled = true;
        behaviour.identityShape = value == "short" ? Shape::Short : value == "cut" ? Shape::Cut : Shape::Malformed;
        return;
    }
    behaviour.identityShape = Shape::Whole;
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

void ParseAnswer(const std::string& item, const std::string& value, DeviceBehaviour& behaviour) {
    using Answer = DeviceBehaviour::Answer;
    if (value == "normal") {
        behaviour.answer = Answer::Normal;
    } else if (value == "garbage") {
        behaviour.answer = Answer::Garbage;
    } else if (value == "echo") {
        behaviour.answer = Answer::Echo;
    } else if (value == "stream") {
        behaviour.answer = Answer::Stream;
    } else if (value == "late") {
        behaviour.answer = Answer::Late;
    } else {
        throw std::invalid_argument("The device behaviour item '" + item +
                                    "' is not understood: answer must be normal, garbage, echo, "
                                    "stream or late.");
    }
}

void ParseDrop(const std::string& item, const std::string& value, DeviceBehaviour& behaviour) {
    std::uint64_t bytes = 0;
    if (!ParseCount(value, 0xFFFFFFFFu, bytes) || bytes == 0)
        throw std::invalid_argument("The device behaviour item '" + item +
                                    "' is not understood: drop must be a number of bytes from 1.");
    behaviour.dropAfterBytes = bytes;
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
        } else if (key == "answer") {
            ParseAnswer(item, value, behaviour);
        } else if (key == "drop") {
            ParseDrop(item, value, behaviour);
        } else {
            throw std::invalid_argument("The device behaviour item '" + item +
                                        "' has an unknown key: use status, identity, offline, "
                                        "answer or drop.");
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


VirtualDeviceModel::VirtualDeviceModel(const Update& update, const PortSettings& settings,
                                       DeviceBehaviour deviceBehaviour)
    : behaviour(std::move(deviceBehaviour)) {
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

    // What each portion must look like on the wire: cut exactly as the sender cuts it with these
    // port settings, then framed as a port frames every chunk.
    const std::uint32_t ideal = UsableIdealChunkSize(settings.ideal);
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

bool VirtualDeviceModel::Online(std::uint64_t nowMs) const {
    return !(nowMs >= offlineFromMs && nowMs < offlineUntilMs);
}

void VirtualDeviceModel::Receive(const std::uint8_t* data, std::size_t length, std::uint64_t nowMs) {
    if (length == 0) return;
    if (behaviour.answer == DeviceBehaviour::Answer::Echo) {
        // A cable looped back: whatever goes out comes straight back in, and nothing else does.
        wire.insert(wire.end(), data, data + length);
        stats.bytesReceived += length;
        Schedule(nowMs, std::vector<std::uint8_t>(data, data + length));
        return;
    }
    const bool betweenPortions = portionOffset == 0;
    if (betweenPortions && length == sizeof(IdentityRequest) &&
        std::memcmp(data, IdentityRequest, sizeof(IdentityRequest)) == 0) {
        IdentityRequested(nowMs);
        return;
    }
    if (BeginsANewUpdate(data, length)) StartOver();
    receivingAtMs = nowMs;
    const std::uint64_t unexpectedBefore = stats.bytesUnexpected;
    IgnoredMessages ignored;
    for (std::size_t i = 0; i < length; ++i) {
        if (behaviour.dropAfterBytes != 0 && !dropped && bytesArrived >= behaviour.dropAfterBytes) {
            // Unplugged part-way: the rest of this chunk never arrives, and when the device is
            // back it has forgotten the portion it was taking.
            dropped = true;
            stats.bytesLostInDrop += length - i;
            offlineFromMs = nowMs;
            offlineUntilMs = nowMs + kDeviceDropMs;
            portionOffset = 0;
            portionIntact = true;
            input.Restart();
            LogMessage("VirtualDevice: gone after %llu bytes, back at %llu ms\n",
                       static_cast<unsigned long long>(bytesArrived),
                       static_cast<unsigned long long>(offlineUntilMs));
            break;
        }
        ++bytesArrived;
        input.Add(data[i], *this, ignored);
    }
    // A piece that was nothing but messages set aside is no chunk of the firmware.
    if (ignored.bytes < length) ++stats.chunksReceived;
    if (ignored.Messages() != 0) {
        stats.ignored.Add(ignored);
        const std::string text = IgnoredMessagesText(ignored);
        for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            LogMessage("VirtualDevice: %s\n", text.substr(start, end - start).c_str());
    }
    if (stats.bytesUnexpected != unexpectedBefore)
        LogMessage("VirtualDevice: %u bytes after the last portion\n",
                   static_cast<unsigned>(stats.bytesUnexpected - unexpectedBefore));
}

std::optional<std::uint64_t> VirtualDeviceModel::IdentityRequested(std::uint64_t nowMs) {
    ++stats.identityRequests;
    if (behaviour.answer == DeviceBehaviour::Answer::Echo) {
        // The loopback hands the request itself back, as the only "reply".
        Schedule(nowMs, std::vector<std::uint8_t>(IdentityRequest, IdentityRequest + sizeof(IdentityRequest)));
        return nowMs;
    }
    if (streamFromMs) {
        LogMessage("VirtualDevice: Identity Request, no answer while streaming\n");
        return std::nullopt;
    }
    if (!behaviour.identityEnabled) {
        LogMessage("VirtualDevice: Identity Request, no answer\n");
        return std::nullopt;
    }
    // The device answers on its own, whether or not the host's port is open; a device that is
    // away answers once it is back.
    const std::uint64_t replyAtMs = (Online(nowMs) ? nowMs : offlineUntilMs) + kDeviceIdentityMs;
    Schedule(replyAtMs, IdentityReply());
    LogMessage("VirtualDevice: Identity Request, reply in %u ms\n",
               static_cast<unsigned>(replyAtMs - nowMs));
    return replyAtMs;
}

std::vector<std::uint8_t> VirtualDeviceModel::IdentityReply() const {
    std::vector<std::uint8_t> reply = MakeIdentityReply(replyVersion, deviceName);
    switch (behaviour.identityShape) {
        case DeviceBehaviour::IdentityShape::Whole: break;
        case DeviceBehaviour::IdentityShape::Short:
            // Header, three-byte manufacturer ID and family, then the end: no version bytes.
            reply.resize(10);
            reply.push_back(0xF7);
            break;
        case DeviceBehaviour::IdentityShape::Cut: reply.resize(reply.size() / 2); break;
        case DeviceBehaviour::IdentityShape::Malformed: reply[2] = 0x7F; break;
    }
    return reply;
}

std::uint64_t VirtualDeviceModel::TakeStreamDue(std::uint64_t nowMs) {
    if (!streamFromMs || nowMs < *streamFromMs) return 0;
    const std::uint64_t due = (nowMs - *streamFromMs) * kDeviceStreamBytesPerMs;
    const std::uint64_t count = due - streamTaken;
    streamTaken = due;
    return count;
}

void VirtualDeviceModel::ScheduleGarbage(std::uint64_t atMs) {
    // Stray bytes outside any message, a note on and active sensing, SysEx of another maker, and
    // a message of the status's length whose prefix is not a status's.
    Schedule(atMs, {0x01, 0x02, 0x90, 0x3C, 0x7F, 0xFE});
    Schedule(atMs, {0xF0, 0x7D, 0x01, 0x02, 0xF7});
    std::vector<std::uint8_t> lookalike = MakeStatusMessage(kStatusAccepted);
    lookalike[4] = 0x74;
    Schedule(atMs, lookalike);
    Schedule(atMs, {0x42, 0x43});
}

std::vector<std::vector<std::uint8_t>> VirtualDeviceModel::TakeDue(std::uint64_t nowMs) {
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

std::optional<std::uint64_t> VirtualDeviceModel::NextDueMs() const {
    if (pending.empty()) return std::nullopt;
    return pending.front().atMs;
}

void VirtualDeviceModel::StartReboot(std::uint64_t nowMs) {
    rebootPending = false;
    GoOffline(nowMs);
}

void VirtualDeviceModel::GoOffline(std::uint64_t fromMs) {
    offlineFromMs = fromMs;
    offlineUntilMs = fromMs + behaviour.offlineMs;
    LogMessage("VirtualDevice: offline from %llu to %llu ms\n",
               static_cast<unsigned long long>(offlineFromMs),
               static_cast<unsigned long long>(offlineUntilMs));
}

void VirtualDeviceModel::Schedule(std::uint64_t atMs, std::vector<std::uint8_t> message,
                                  bool rebootsAfter) {
    // After every message due at the same time, so that a sequence keeps its order.
    auto at = std::upper_bound(pending.begin(), pending.end(), atMs,
                               [](std::uint64_t t, const Pending& p) { return t < p.atMs; });
    pending.insert(at, Pending{atMs, std::move(message), rebootsAfter});
}

// A host stopped part-way (Ctrl-C, a cable pulled) that runs the update again begins with the
// first portion, and an interrupted device is back in update mode: what arrives is the start of
// the first portion where the interrupted run's next bytes were expected.
bool VirtualDeviceModel::BeginsANewUpdate(const std::uint8_t* data, std::size_t length) const {
    std::size_t first = 0;
    while (first < expectedWire.size() && expectedWire[first].empty()) ++first;
    const bool partWay = portionIndex < expectedWire.size() && (portionIndex > first || portionOffset > 0);
    if (!partWay || Expects(data, length)) return false;
    const std::vector<std::uint8_t>& start = expectedWire[first];
    return start.size() >= length && std::equal(data, data + length, start.begin());
}

// The interrupted run is forgotten: what the device reports is the new run.
void VirtualDeviceModel::StartOver() {
    LogMessage("VirtualDevice: a new update begins after an interrupted one; starting over\n");
    const Stats before = stats;
    stats = Stats{};
    stats.restarts = before.restarts + 1;
    stats.identityRequests = before.identityRequests;
    stats.sendsWhileClosed = before.sendsWhileClosed;
    wire.clear();
    pending.clear();
    portionIndex = 0;
    portionOffset = 0;
    portionIntact = true;
    input.Restart();
    SkipEmptyPortions();
}

void VirtualDeviceModel::SkipEmptyPortions() {
    // A portion without data puts nothing on the wire, so the device never sees it.
    while (portionIndex < expectedWire.size() && expectedWire[portionIndex].empty()) ++portionIndex;
}

bool VirtualDeviceModel::Expects(const std::uint8_t* bytes, std::size_t length) const {
    if (portionIndex >= expectedWire.size()) return false;
    const std::vector<std::uint8_t>& expected = expectedWire[portionIndex];
    return expected.size() - portionOffset >= length &&
           std::equal(bytes, bytes + length, expected.begin() + static_cast<std::ptrdiff_t>(portionOffset));
}

void VirtualDeviceModel::ReceiveByte(std::uint8_t b, std::uint64_t nowMs) {
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

void VirtualDeviceModel::PortionReceived(bool intact, std::uint64_t nowMs) {
    ++stats.portionsCompleted;
    if (!intact) ++stats.portionsCorrupt;
    const unsigned number = static_cast<unsigned>(portionIndex + 1);

    std::uint64_t at = nowMs + kDeviceProcessingMs;
    const bool reboots = behaviour.offlineMs > 0;
    if (behaviour.answer == DeviceBehaviour::Answer::Late) at += kDeviceLateMs;
    if (behaviour.answer == DeviceBehaviour::Answer::Stream) {
        // Stuck sending: one message without end, from now on.
        if (!streamFromMs) streamFromMs = at;
    } else if (behaviour.answer == DeviceBehaviour::Answer::Garbage) {
        ScheduleGarbage(at);
        ScheduleGarbage(at + 1000);
    } else if (behaviour.status == DeviceBehaviour::StatusMode::None) {
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
