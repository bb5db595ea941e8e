#pragma once
// One loaded update: an update file (.upd), a raw SysEx file (.syx) or a Standard MIDI File (.mid),
// and the update file's writer.

#include <cstdint>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

#include "PortSettings.h"

struct FirmwareVersion {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;  // 0.0 means that none is stated
};
inline bool operator==(const FirmwareVersion& a, const FirmwareVersion& b) {
    return a.major == b.major && a.minor == b.minor;
}

// Where one message of a timed portion starts in its data, and when it is due after the portion's
// first message could leave.
struct TimedStart {
    std::uint32_t offset = 0;
    std::uint64_t timeUs = 0;
};

struct SysExPortion {
    std::vector<std::uint8_t> data;  // one or more SysEx messages, sent unchanged
    std::uint32_t delay = 0;         // ms to pause after this portion
    // Empty for a portion paced by the sender and the port alone. Otherwise one entry per message,
    // offsets rising from 0, times never falling: each message goes out whole and no earlier than
    // its time, and the portion lasts at least until `endUs`.
    std::vector<TimedStart> timing{};
    std::uint64_t endUs = 0;
};

// The exception of loading; its text is the sentence shown to the user.
class ParseError : public std::exception {
public:
    explicit ParseError(std::string text) : text(std::move(text)) {}
    const char* what() const noexcept override { return text.c_str(); }

private:
    std::string text;
};

extern const std::string DefaultUpdateMessage;

// The largest file that loads: every size and total of an update is a 32-bit count.
constexpr std::uint64_t kMaxUpdateFileSize = 0xFFFFFFFFu;
// False for a file that is refused for its size alone, before any of it is read.
bool FitsUpdateSize(std::uint64_t size);

// Which kinds of file a program reads. The window reads update and SysEx files only; the command
// line and the page also read the SysEx of a Standard MIDI File, with its timing.
enum class UpdateReaders { UpdateAndSysEx, WithMidiFile };

struct Update {
    // The file is bare SysEx, with no maker's records: a .syx, or the SysEx of a .mid. Its port is
    // chosen, and its verdict given, as for any maker's messages.
    bool isRawSysEx = false;
    bool isMidiFile = false;  // a Standard MIDI File: one timed portion
    std::string productName;
    std::string message;
    FirmwareVersion version;
    PortSettings winPort = DefaultPortSettings;
    // The port names of the update's macOS records ("$" lists); empty when it has none.
    std::set<std::string> macNames;
    std::vector<std::uint8_t> image;
    std::vector<SysExPortion> portions;

    // An empty record holding the values before reading.
    Update() = default;
    // Loads from a stream opened in binary mode at its start. Completes or throws (ParseError, or
    // a standard exception); there is no partly loaded record. A stream that cannot seek (a pipe)
    // is read into memory first; a stream that has already failed fails as a bad header.
    explicit Update(std::istream& stream, UpdateReaders readers = UpdateReaders::UpdateAndSysEx);

private:
    void Load(std::istream& stream, UpdateReaders readers);
};

// True when the stream starts with 0xF0 and holds a 0xF7 later. Leaves the stream at its start; a
// stream that has failed is not raw SysEx and stays failed.
bool IsRawSysExFile(std::istream& stream);
void ReadUpdateFile(std::istream& stream, Update& update);
void ReadSysExFile(std::istream& stream, Update& update);
// True when the stream starts with "MThd"; leaves it at its start, as IsRawSysExFile does.
bool IsStandardMidiFile(std::istream& stream);
// The SysEx of a Standard MIDI File as one timed portion; a file without any is refused.
void ReadMidiFileUpdate(std::istream& stream, Update& update);

// The kind of file as machines are told it: "update", "sysex" or "midi".
const char* UpdateKindName(const Update& update);
// "%u.%02u": 1.5 gives "1.05".
std::string VersionText(const FirmwareVersion& version);
std::uint32_t TotalSysExSize(const Update& update);

// What an update file stores, for writing one. The message is stored with its line breaks as
// backslash-n; the port settings and Mac port name texts are stored as records verbatim.
struct UpdateFileContents {
    std::string productName;
    FirmwareVersion version;
    std::string message;
    std::vector<std::uint8_t> image;
    std::vector<std::string> portSettings;  // one tag 3 record each, in order
    std::vector<std::string> macNames;      // one tag 5 record each, in order
    std::vector<SysExPortion> portions;
};

// Writes an update file. Throws std::invalid_argument for contents the format cannot carry (a
// message holding a backslash followed by n, which a reader would turn into a line break).
void WriteUpdateFile(std::ostream& stream, const UpdateFileContents& contents);
