#include "UpdateModeInput.h"

#include <algorithm>

#include "Log.h"

namespace {

// Kinds listed by name in a report line; the rest are counted together.
constexpr std::size_t kKindsNamed = 8;

// Data bytes after a channel status: one for program change and channel pressure, else two.
std::size_t DataBytes(std::uint8_t status) {
    const std::uint8_t type = status & 0xF0;
    return type == 0xC0 || type == 0xD0 ? 1 : 2;
}

const char* ControllerName(std::uint8_t controller) {
    switch (controller) {
        case 0: return "Bank Select";
        case 1: return "Modulation";
        case 7: return "Volume";
        case 10: return "Pan";
        case 11: return "Expression";
        case 32: return "Bank Select LSB";
        case 64: return "Sustain";
        case 120: return "All Sound Off";
        case 121: return "Reset All Controllers";
        case 122: return "Local Control";
        case 123: return "All Notes Off";
        case 124: return "Omni Off";
        case 125: return "Omni On";
        case 126: return "Mono On";
        case 127: return "Poly On";
        default: return nullptr;
    }
}

std::string KindText(std::uint16_t code) {
    if (code < 0x100) {
        const char* name = nullptr;
        switch (code) {
            case 0xF8: name = "Timing Clock"; break;
            case 0xFA: name = "Start"; break;
            case 0xFB: name = "Continue"; break;
            case 0xFC: name = "Stop"; break;
            case 0xFE: name = "Active Sensing"; break;
            case 0xFF: name = "System Reset"; break;
            default: name = "undefined"; break;
        }
        return FormatString("%s (%02X)", name, static_cast<unsigned>(code));
    }
    const std::uint8_t type = static_cast<std::uint8_t>(code >> 8);
    switch (type) {
        case 0x80: return "Note Off";
        case 0x90: return "Note On";
        case 0xA0: return "Poly Pressure";
        case 0xB0: {
            const std::uint8_t controller = static_cast<std::uint8_t>(code & 0x7F);
            const char* name = ControllerName(controller);
            return FormatString("Control Change %u", static_cast<unsigned>(controller)) +
                   (name ? std::string(" (") + name + ")" : std::string());
        }
        case 0xC0: return "Program Change";
        case 0xD0: return "Channel Pressure";
        default: return "Pitch Bend";
    }
}

// "Ignored 2 real-time messages: 2 x Active Sensing (FE)" for the kinds that `channel` selects.
std::string FamilyLine(const IgnoredMessages& ignored, bool channel) {
    const std::uint32_t total = channel ? ignored.channelMessages : ignored.realTimeMessages;
    if (total == 0) return {};
    std::string line = "Ignored " + std::to_string(total) + (channel ? " channel message" : " real-time message") +
                       (total == 1 ? "" : "s") + (channel ? " outside SysEx:" : ":");
    std::size_t named = 0;
    std::uint32_t rest = 0;
    for (const IgnoredMessages::Kind& kind : ignored.kinds) {
        if ((kind.code >= 0x100) != channel) continue;
        if (named == kKindsNamed) {
            rest += kind.count;
            continue;
        }
        line += (named++ == 0 ? " " : ", ") + std::to_string(kind.count) + " x " + KindText(kind.code);
    }
    if (rest != 0) line += ", " + std::to_string(rest) + " of other kinds";
    return line + "\n";
}

}  // namespace

void IgnoredMessages::AddChannelMessage(std::uint8_t status, std::uint8_t firstData, std::size_t length) {
    ++channelMessages;
    bytes += length;
    // Control changes are told apart by controller; other messages only by type.
    const std::uint8_t type = status & 0xF0;
    Count(static_cast<std::uint16_t>(type << 8 | (type == 0xB0 ? firstData : 0)));
}

void IgnoredMessages::AddRealTime(std::uint8_t b) {
    ++realTimeMessages;
    ++bytes;
    Count(b);
}

void IgnoredMessages::Add(const IgnoredMessages& more) {
    channelMessages += more.channelMessages;
    realTimeMessages += more.realTimeMessages;
    bytes += more.bytes;
    for (const Kind& kind : more.kinds) Count(kind.code, kind.count);
}

void IgnoredMessages::Count(std::uint16_t code, std::uint32_t count) {
    auto kind = std::find_if(kinds.begin(), kinds.end(), [&](const Kind& k) { return k.code == code; });
    if (kind == kinds.end())
        kinds.push_back({code, count});
    else
        kind->count += count;
}

std::string IgnoredMessagesText(const IgnoredMessages& ignored) {
    return FamilyLine(ignored, true) + FamilyLine(ignored, false);
}

void UpdateModeInput::Add(std::uint8_t b, Device& device, IgnoredMessages& ignored) {
    if (b >= 0xF8) {
        // Real-time: a message of one byte that may stand anywhere, inside SysEx or between the
        // bytes of another message, and changes nothing about what it interrupts.
        if (heldLength == 0 && device.Expects(&b, 1))
            device.TakeFirmware(b);
        else
            ignored.AddRealTime(b);
        return;
    }
    if (inSysEx) {
        // Every other byte belongs to the message. A status byte ends it: F7 as it should, anything
        // else breaks it off. The bytes after a break stay firmware (never running-status data to
        // set aside), so that the break shows as the corruption it is.
        device.TakeFirmware(b);
        if (b >= 0x80) {
            inSysEx = b == 0xF0;
            runningStatus = 0;
        }
        return;
    }
    if (b >= 0xF0) {
        // A SysEx start, a stray end or system common: firmware, and the end of running status.
        TakeHeld(device);
        runningStatus = 0;
        device.TakeFirmware(b);
        inSysEx = b == 0xF0;
        return;
    }
    if (b >= 0x80) {
        TakeHeld(device);
        runningStatus = b;
        held[0] = b;
        heldLength = 1;
        heldNeeded = 1 + DataBytes(b);
        return;
    }
    if (heldLength == 0) {
        // A data byte with no message to belong to is firmware (and most likely wrong).
        if (runningStatus == 0) {
            device.TakeFirmware(b);
            return;
        }
        heldNeeded = DataBytes(runningStatus);
    }
    held[heldLength++] = b;
    if (heldLength < heldNeeded) return;
    const std::size_t length = heldLength;
    heldLength = 0;
    if (device.Expects(held, length)) {
        for (std::size_t i = 0; i < length; ++i) device.TakeFirmware(held[i]);
    } else {
        ignored.AddChannelMessage(runningStatus, held[0] >= 0x80 ? held[1] : held[0], length);
    }
}

void UpdateModeInput::Restart() {
    inSysEx = false;
    runningStatus = 0;
    heldLength = 0;
}

void UpdateModeInput::TakeHeld(Device& device) {
    // A channel message cut short is no message an instrument could act on, so it is not set
    // aside: its bytes are firmware, compared like any other.
    const std::size_t length = heldLength;
    heldLength = 0;
    for (std::size_t i = 0; i < length; ++i) device.TakeFirmware(held[i]);
}
