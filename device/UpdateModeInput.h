#pragma once
// How an instrument in update mode reads its MIDI input: SysEx, and whatever else the update
// itself puts on the wire, is firmware; channel messages outside SysEx and real-time messages it
// does not expect are set aside and counted by kind, as instruments ignore them (a host's MIDI
// system sends All Sound Off and sustain off on every channel when it closes a port, and clocks
// or active sensing may come at any time, even in the middle of a SysEx message).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The messages a device set aside, by kind in the order each kind was first seen.
struct IgnoredMessages {
    std::uint32_t channelMessages = 0;  // outside SysEx, complete
    std::uint32_t realTimeMessages = 0;
    std::uint64_t bytes = 0;
    struct Kind {
        std::uint16_t code;  // a channel message's type byte and controller, or a real-time byte
        std::uint32_t count;
    };
    std::vector<Kind> kinds;

    std::uint32_t Messages() const { return channelMessages + realTimeMessages; }
    // A channel message with `status` (any channel) and its first data byte; a real-time byte.
    void AddChannelMessage(std::uint8_t status, std::uint8_t firstData, std::size_t length);
    void AddRealTime(std::uint8_t b);
    void Add(const IgnoredMessages& more);

private:
    void Count(std::uint16_t code, std::uint32_t count = 1);
};

// One line per family that occurred, each ending in a line feed; empty when nothing was set
// aside. Such as "Ignored 32 channel messages outside SysEx: 16 x Control Change 120 (All Sound
// Off), 16 x Control Change 64 (Sustain)".
std::string IgnoredMessagesText(const IgnoredMessages& ignored);

class UpdateModeInput {
public:
    // The device behind the input: what it expects next, and where its firmware bytes go.
    class Device {
    public:
        virtual ~Device() = default;
        // Whether these are the very bytes the device expects next; a message that is goes on
        // as firmware instead of being set aside.
        virtual bool Expects(const std::uint8_t* bytes, std::size_t length) const = 0;
        virtual void TakeFirmware(std::uint8_t b) = 0;
    };

    // One byte from the wire. Firmware bytes reach `device` in the order they arrived, except
    // that a channel message is held until it is complete (at most three bytes), as its fate
    // is known only then; what is set aside is counted in `ignored`.
    void Add(std::uint8_t b, Device& device, IgnoredMessages& ignored);
    // The device lost what it was reading (it went away): outside SysEx, no running status.
    void Restart();

private:
    void TakeHeld(Device& device);

    bool inSysEx = false;
    std::uint8_t runningStatus = 0;  // 0: none
    std::uint8_t held[3] = {};       // a channel message outside SysEx, not yet complete
    std::size_t heldLength = 0;
    std::size_t heldNeeded = 0;      // its length once complete
};
