#pragma once
// What a portion holds, for people who inspect or author update files: how many SysEx messages,
// whose manufacturer IDs, and what does not look like well-formed SysEx. Only a description: some
// devices take data that is not SysEx, so nothing here stops a load or a send.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct SysExContent {
    std::size_t messages = 0;                // F0 ... F7 frames
    std::vector<std::string> manufacturers;  // distinct IDs as "%02X" or "00 20 33", first seen first
    std::size_t bytesOutside = 0;            // bytes between messages
    std::size_t highDataBytes = 0;           // bytes of 0x80 or more inside a message (F7 aside)
    std::size_t unterminated = 0;            // messages cut by a new F0 or by the end of the data
    std::vector<std::string> warnings;       // one sentence for each kind of problem found
};

SysExContent DescribeSysEx(const std::uint8_t* data, std::size_t length);
