#pragma once
// Builders shared by the virtual device tests.

#include <cstdint>
#include <string>
#include <vector>

#include "PortSettings.h"
#include "Update.h"

using Bytes = std::vector<std::uint8_t>;

inline Update MakeUpdate(const std::vector<Bytes>& portions, FirmwareVersion version = {1, 5},
                         const std::string& productName = "Pad") {
    Update update;
    update.productName = productName;
    update.version = version;
    for (const Bytes& data : portions) {
        SysExPortion portion;
        portion.data = data;
        update.portions.push_back(portion);
    }
    return update;
}

// Pacing values without pauses, so that a test controls time alone.
inline PortSettings QuietSettings(std::int32_t ideal = 1024, std::int32_t max = 3072) {
    PortSettings settings;
    settings.ideal = ideal;
    settings.max = max;
    settings.delay = 0;
    settings.unprepDelay = 0;
    settings.chunks = true;
    return settings;
}

// `messages` SysEx messages of `messageSize` bytes each (at least 2): F0, data bytes, F7. The data
// bytes stay clear of F7 and line feed, so the only chunk ends are the messages' F7 bytes.
inline Bytes SysExMessages(std::size_t messages, std::size_t messageSize, std::uint8_t seed = 0) {
    Bytes out;
    for (std::size_t m = 0; m < messages; ++m) {
        out.push_back(0xF0);
        for (std::size_t i = 2; i < messageSize; ++i)
            out.push_back(static_cast<std::uint8_t>(0x10 + (seed + out.size() * 7u) % 0x50));
        out.push_back(0xF7);
    }
    return out;
}
