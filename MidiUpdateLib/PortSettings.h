#pragma once
// The MIDI port settings that an update file carries: port names to look for and pacing values.

#include <cstdint>
#include <set>
#include <string>

struct PortSettings {
    std::set<std::string> names;  // distinct, byte-wise ordered, case-sensitive
    std::int32_t ideal = 1024;    // bytes: smallest chunk handed to the port
    std::int32_t max = 3072;      // bytes: a chunk may grow up to this to end at a message end
    std::int32_t delay = 200;     // ms: pause after each chunk the output accepted
    std::int32_t unprepDelay = 100;  // ms: pause after each chunk's output buffer was released
    bool chunks = true;           // frame every chunk as one complete SysEx message
    // Chunks end only at message ends: no line feed (0x0A) ends one, and a message longer than
    // `max` goes out whole. Off for an update file, whose makers rely on its cutting and framing
    // (their format's contract with their devices); on, with `chunks` off, for a raw SysEx file,
    // which can come from any maker and goes out as its own messages. Not a record key: only the
    // kind of file decides it.
    bool wholeMessages = false;
    // Not from a file: `names` holds the one output port a person picked (by its name or its
    // number), so the input is the one paired with that output before any other the name matches.
    bool pickedByHand = false;
};

// The settings a raw SysEx file is sent with: the defaults, except that nothing is inserted and a
// chunk ends only at a message end.
PortSettings RawSysExPortSettings();

// The built-in defaults, copied into every new Update before a file is read.
extern const PortSettings DefaultPortSettings;

// Applies one settings record ("win:<any>:key:value:...") to `settings`. Never fails.
void ParsePortSettings(PortSettings& settings, const std::string& text);
// What makes a record, as a maker writes it, mean nothing to the program, or an empty text when
// every field is understood: a record for another platform, an unknown key, a key without a
// value, or a value that its key cannot take (send refuses the same pacing values). The program
// itself reads any record without complaint; this is for tools that write update files.
std::string PortSettingsRecordFault(const std::string& text);
// The record that gives `settings` back when it is applied over the defaults. The names are left
// out when they are only `fallbackName` (what a file without names falls back to: its product
// name), and so is a name that a record cannot carry (one holding ':' or '$').
std::string SettingsRecord(const PortSettings& settings, const std::string& fallbackName);
// Adds every name of a "$"-separated list to `names`.
void ParseNameList(std::set<std::string>& names, const std::string& text);
// "yes", "true" (any letter case) or a non-zero decimal number.
bool ParseBool(const std::string& value);
// Optional leading white space, optional sign, digits up to the first non-digit; no digits read
// as 0; clamped to the signed 32-bit range.
std::int32_t ParseDecimal(const std::string& value);
