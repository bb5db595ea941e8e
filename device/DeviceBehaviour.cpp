#include "DeviceBehaviour.h"

#include <cstring>
#include <stdexcept>

#include "UpdateStatus.h"

namespace {

// More "installing" statuses than this would only fill memory: the update run gives up polling
// long before (about two hundred polls per portion).
constexpr std::uint32_t kMaxInstallCount = 10000;

// What the version bytes of an Identity Reply can carry: A = major / 22 and C = minor / 10 must
// stay 7-bit, and a minor of 100 or more would not read back as two digits.
constexpr std::uint16_t kMaxReplyMajor = 2815;
constexpr std::uint16_t kMaxReplyMinor = 99;

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

}  // namespace

bool VersionFitsReply(const FirmwareVersion& version) {
    return version.major <= kMaxReplyMajor && version.minor <= kMaxReplyMinor;
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


