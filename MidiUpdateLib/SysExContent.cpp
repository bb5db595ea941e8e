#include "SysExContent.h"

#include <algorithm>

#include "Log.h"

namespace {

void NoteManufacturer(SysExContent& content, const std::vector<std::uint8_t>& message) {
    // F0, then one ID byte, or 00 and two more.
    if (message.size() < 2) return;
    std::string id;
    if (message[1] == 0x00) {
        if (message.size() < 4) return;
        id = FormatString("%02X %02X %02X", message[1], message[2], message[3]);
    } else {
        id = FormatString("%02X", message[1]);
    }
    if (std::find(content.manufacturers.begin(), content.manufacturers.end(), id) ==
        content.manufacturers.end())
        content.manufacturers.push_back(id);
}

std::string Count(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

SysExContent DescribeSysEx(const std::uint8_t* data, std::size_t length) {
    SysExContent content;
    std::vector<std::uint8_t> message;  // the first bytes of the message being read
    bool inMessage = false;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t b = data[i];
        if (b == 0xF0) {
            if (inMessage) ++content.unterminated;
            inMessage = true;
            message.assign(1, b);
            continue;
        }
        if (!inMessage) {
            ++content.bytesOutside;
            continue;
        }
        if (b == 0xF7) {
            ++content.messages;
            NoteManufacturer(content, message);
            inMessage = false;
            continue;
        }
        if (b >= 0x80) ++content.highDataBytes;
        if (message.size() < 4) message.push_back(b);
    }
    if (inMessage) ++content.unterminated;

    if (content.bytesOutside)
        content.warnings.push_back(Count(content.bytesOutside, "byte", "bytes") + " outside SysEx messages");
    if (content.highDataBytes)
        content.warnings.push_back(Count(content.highDataBytes, "data byte", "data bytes") +
                                   " of 0x80 or above inside SysEx messages");
    if (content.unterminated)
        content.warnings.push_back(Count(content.unterminated, "message", "messages") + " without F7");
    return content;
}
