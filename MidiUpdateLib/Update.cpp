#include "Update.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <istream>
#include <limits>
#include <ostream>
#include <sstream>

#include "Log.h"
#include "StandardMidiFile.h"

const std::string DefaultUpdateMessage =
    "To apply this update file, please detach all MIDI devices from your computer, and shut down all "
    "other MIDI applications.\n\nThen plug in your device and put it into update mode. Refer to the "
    "User's Manual for details on how to do this.\n\nWhen the device is ready to accept an update, you "
    "can start the update process.\n";

namespace {

const char kMagic[] = "ZellUpdateFile";
constexpr std::size_t kMagicSize = sizeof kMagic - 1;
constexpr std::uint16_t kFormatVersion = 4;

const char kBadHeader[] = "Update file was invalid (bad header).";
const char kWrongVersion[] =
    "Update file is wrong version. Please check you have the latest version of the updater.";
const char kTruncatedFile[] = "Update file was truncated. Did it download correctly?";
const char kTruncatedPortion[] = "Trucated sysex";
const char kUnrecognisedData[] =
    "File contains unrecognised data. Please Please check you have the latest version of the updater.";
const char kTooLarge[] =
    "The file is too large: an update file or SysEx file holds at most 4294967295 bytes (4 GiB less one "
    "byte).";

const char kSourceName[] = "MidiUpdateLib/Update.cpp";
const char kRawProductName[] = "<SysEx Update Device>";
const char kDefaultMessageMarker[] = "<sysex>";

enum RecordTag : std::uint32_t {
    kPortionTag = 1,
    kImageTag = 2,
    kPortSettingsTag = 3,
    kMacNamesTag = 5,
};

// Large enough that scanning and reads of unknown length take few calls, small enough that a lying
// byte count costs no more than this before the stream runs dry.
constexpr std::size_t kBlockSize = std::size_t{64} * 1024;

constexpr unsigned char kSysExStart = 0xF0;
constexpr unsigned char kSysExEnd = 0xF7;

// Bytes from the current position to the end, or -1 when the stream cannot tell. Leaves the
// position where it was.
std::streamoff BytesLeft(std::istream& stream) {
    if (!stream.good()) return -1;
    const std::streampos here = stream.tellg();
    if (here == std::streampos(-1)) return -1;
    stream.seekg(0, std::ios::end);
    const std::streampos end = stream.tellg();
    stream.clear();
    stream.seekg(here);
    if (!stream.good() || end == std::streampos(-1) || end < here) {
        stream.clear();
        return -1;
    }
    return static_cast<std::streamoff>(end - here);
}

// Reads up to `count` bytes onto the end of `out` in one read. Returns how many arrived.
template <typename Bytes>
std::size_t AppendBlock(std::istream& stream, Bytes& out, std::size_t count) {
    if (count == 0) return 0;
    const std::size_t start = out.size();
    if (count > out.max_size() - start) throw std::length_error("The data is too large to hold in memory.");
    out.resize(start + count);
    stream.read(reinterpret_cast<char*>(&out[start]), static_cast<std::streamsize>(count));
    const std::size_t got = static_cast<std::size_t>(stream.gcount());
    out.resize(start + got);
    return got;
}

// Reads up to `count` bytes onto the end of `out` in bounded blocks, for streams that cannot say
// how much they hold: memory then grows only with what actually arrives.
template <typename Bytes>
std::uint64_t AppendInBlocks(std::istream& stream, Bytes& out, std::uint64_t count) {
    std::uint64_t total = 0;
    while (total < count) {
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(count - total, kBlockSize));
        const std::size_t got = AppendBlock(stream, out, wanted);
        total += got;
        if (got < wanted) break;
    }
    return total;
}

// The primitive readers of the format. Every byte count in a file is untrusted: the reader never
// reserves more memory than the stream still holds, so a few bytes claiming gigabytes fail (or
// end) quickly instead of exhausting memory.
class UpdateFileReader {
public:
    explicit UpdateFileReader(std::istream& stream) : stream(stream) {
        const std::streamoff left = BytesLeft(stream);
        sizeKnown = left >= 0;
        remaining = sizeKnown ? static_cast<std::uint64_t>(left) : 0;
    }

    bool ReadU16(std::uint16_t& value) {
        unsigned char bytes[2] = {};
        const bool ok = ReadRaw(bytes, sizeof bytes);
        value = static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
        return ok;
    }

    bool ReadU32(std::uint32_t& value) {
        unsigned char bytes[4] = {};
        const bool ok = ReadRaw(bytes, sizeof bytes);
        value = static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
                (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
        return ok;
    }

    // Appends exactly `count` bytes to `out`; false when the stream ends (or fails) first. Reads
    // nothing when the stream is known to be too short: the caller rejects the file anyway.
    template <typename Bytes>
    bool ReadBytes(std::uint64_t count, Bytes& out) {
        if (sizeKnown && count > remaining) return false;
        const std::uint64_t got = sizeKnown ? AppendBlock(stream, out, static_cast<std::size_t>(count))
                                            : AppendInBlocks(stream, out, count);
        Consumed(got);
        return got == count && stream.good();
    }

    // A u32 byte count and the text.
    bool ReadString(std::string& text) {
        std::uint32_t count = 0;
        return ReadU32(count) && ReadBytes(count, text);
    }

private:
    bool ReadRaw(unsigned char* bytes, std::size_t count) {
        stream.read(reinterpret_cast<char*>(bytes), static_cast<std::streamsize>(count));
        const std::size_t got = static_cast<std::size_t>(stream.gcount());
        Consumed(got);
        return got == count && stream.good();
    }

    void Consumed(std::uint64_t count) { remaining -= std::min(count, remaining); }

    std::istream& stream;
    bool sizeKnown = false;
    std::uint64_t remaining = 0;
};

// Stored messages spell line breaks as backslash-n. Scanning resumes after each replacement, so a
// backslash never escapes another backslash.
std::string DecodeMessage(const std::string& stored) {
    std::string text;
    text.reserve(stored.size());
    for (std::size_t at = 0; at < stored.size(); ++at) {
        if (stored[at] == '\\' && at + 1 < stored.size() && stored[at + 1] == 'n') {
            text.push_back('\n');
            ++at;
        } else {
            text.push_back(stored[at]);
        }
    }
    return text == kDefaultMessageMarker ? DefaultUpdateMessage : text;
}

void ReadHeader(UpdateFileReader& reader, Update& update) {
    std::string magic;
    if (!reader.ReadBytes(kMagicSize, magic) || magic != kMagic) throw ParseError(kBadHeader);

    std::uint16_t format = 0;
    if (!reader.ReadU16(format) || format != kFormatVersion) throw ParseError(kWrongVersion);

    std::string productName;
    std::string message;
    FirmwareVersion version;
    std::uint16_t reserved = 0;
    const bool complete = reader.ReadString(productName) && reader.ReadU16(version.major) &&
                          reader.ReadU16(version.minor) && reader.ReadString(message) &&
                          reader.ReadU16(reserved) && reader.ReadU16(reserved) && reader.ReadU16(reserved);
    if (!complete) throw ParseError(kTruncatedFile);

    update.productName = std::move(productName);
    update.version = version;
    update.message = DecodeMessage(message);
}

// Once a record's tag has been read, the rest of the record must be there: a file that ends inside
// it was cut short (an interrupted download), and sending what is left would install part of a
// firmware.

void ReadPortion(UpdateFileReader& reader, Update& update) {
    std::uint32_t count = 0;
    SysExPortion portion;
    if (!reader.ReadU32(count) || !reader.ReadBytes(count, portion.data) || !reader.ReadU32(portion.delay))
        throw ParseError(kTruncatedPortion);
    update.portions.push_back(std::move(portion));
}

void ReadImage(UpdateFileReader& reader, Update& update) {
    std::uint32_t count = 0;
    if (!reader.ReadU32(count) || !reader.ReadBytes(count, update.image)) throw ParseError(kTruncatedFile);
}

void ReadPortSettings(UpdateFileReader& reader, Update& update) {
    // A settings text cut short would apply a different value ("max:1024" cut to "max:1").
    std::string text;
    if (!reader.ReadString(text)) throw ParseError(kTruncatedFile);
    ParsePortSettings(update.winPort, text);
}

void ReadMacNames(UpdateFileReader& reader, Update& update) {
    // The names the device's ports have on macOS.
    std::string text;
    if (!reader.ReadString(text)) throw ParseError(kTruncatedFile);
    ParseNameList(update.macNames, text);
}

// Returns whether a record was read. The end of the file, or one to three stray bytes of a tag
// before it, ends the records quietly.
bool ReadRecord(UpdateFileReader& reader, Update& update) {
    std::uint32_t tag = 0;
    if (!reader.ReadU32(tag)) return false;
    switch (tag) {
        case kPortionTag: ReadPortion(reader, update); return true;
        case kImageTag: ReadImage(reader, update); return true;
        case kPortSettingsTag: ReadPortSettings(reader, update); return true;
        case kMacNamesTag: ReadMacNames(reader, update); return true;
        default:
            // Points a developer at the check that refused the file.
            std::fprintf(stderr, "%s:%u\n", kSourceName, static_cast<unsigned>(__LINE__));
            throw ParseError(kUnrecognisedData);
    }
}

// True when the stream can go back to its start, as loading needs. A failed stream counts as
// seekable: there is nothing to copy, and it fails as a bad header.
bool CanSeek(std::istream& stream) {
    if (!stream.good()) return true;
    const std::streampos here = stream.tellg();
    if (here == std::streampos(-1)) {
        stream.clear();
        return false;
    }
    stream.seekg(0, std::ios::end);
    const bool ok = !stream.fail();
    stream.clear();
    stream.seekg(here);
    return ok && !stream.fail();
}

// Scans forward for a SysEx end byte in blocks; a file that is one long SysEx stream is scanned
// as fast as it can be read.
bool FindSysExEnd(std::istream& stream) {
    std::vector<char> block(kBlockSize);
    for (;;) {
        stream.read(block.data(), static_cast<std::streamsize>(block.size()));
        const std::size_t got = static_cast<std::size_t>(stream.gcount());
        if (got == 0) return false;
        if (std::memchr(block.data(), static_cast<int>(kSysExEnd), got) != nullptr) return true;
        if (got < block.size()) return false;
    }
}

// Little-endian primitives of the format, for the writer.
class UpdateFileWriter {
public:
    explicit UpdateFileWriter(std::ostream& stream) : stream(stream) {}

    void U16(std::uint16_t value) {
        const char bytes[2] = {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
        stream.write(bytes, sizeof bytes);
    }

    void U32(std::uint32_t value) {
        const char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                               static_cast<char>((value >> 16) & 0xFF), static_cast<char>(value >> 24)};
        stream.write(bytes, sizeof bytes);
    }

    void Raw(const void* data, std::size_t size) {
        if (size != 0) stream.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    // A u32 byte count and the bytes; callers have checked that the count fits.
    void Counted(const void* data, std::size_t size) {
        U32(static_cast<std::uint32_t>(size));
        Raw(data, size);
    }

private:
    std::ostream& stream;
};

void CheckCountFits(std::size_t size, const char* what) {
    if (static_cast<std::uint64_t>(size) > std::numeric_limits<std::uint32_t>::max())
        throw std::invalid_argument(std::string("The ") + what +
                                    " is larger than an update file can store (4294967295 bytes).");
}

void CheckWritable(const UpdateFileContents& contents) {
    if (contents.message.find("\\n") != std::string::npos)
        throw std::invalid_argument(
            "The message holds a backslash followed by the letter n, which an update file cannot store: "
            "a reader would turn it into a line break.");
    CheckCountFits(contents.productName.size(), "product name");
    // Each line feed grows by one byte when stored.
    const std::size_t lineFeeds =
        static_cast<std::size_t>(std::count(contents.message.begin(), contents.message.end(), '\n'));
    CheckCountFits(contents.message.size() + lineFeeds, "message");
    CheckCountFits(contents.image.size(), "image");
    for (const std::string& text : contents.portSettings) CheckCountFits(text.size(), "port settings text");
    for (const std::string& text : contents.macNames) CheckCountFits(text.size(), "Mac port name list");
    for (const SysExPortion& portion : contents.portions) CheckCountFits(portion.data.size(), "SysEx portion");
}

std::string EncodeMessage(const std::string& message) {
    std::string stored;
    stored.reserve(message.size());
    for (char c : message) {
        if (c == '\n')
            stored += "\\n";
        else
            stored.push_back(c);
    }
    return stored;
}

}  // namespace

bool FitsUpdateSize(std::uint64_t size) { return size <= kMaxUpdateFileSize; }

Update::Update(std::istream& stream, UpdateReaders readers) {
    if (!CanSeek(stream)) {
        // A pipe can be read only once, and both the raw SysEx check and the raw reader go back
        // to the start: take everything it delivers first, then load that like a file. One byte
        // past the largest size is enough to refuse it.
        std::string bytes;
        AppendInBlocks(stream, bytes, kMaxUpdateFileSize + 1);
        std::istringstream copy(std::move(bytes), std::ios::in | std::ios::binary);
        Load(copy, readers);
        return;
    }
    Load(stream, readers);
}

void Update::Load(std::istream& stream, UpdateReaders readers) {
    // Sizes and totals are 32-bit, as in the file format: a larger file would be described, and
    // sent, as its size less a multiple of 4 GiB. It is refused before any of it is read.
    const std::streamoff size = BytesLeft(stream);
    if (size > 0 && !FitsUpdateSize(static_cast<std::uint64_t>(size))) throw ParseError(kTooLarge);
    if (readers == UpdateReaders::WithMidiFile && IsStandardMidiFile(stream)) {
        ReadMidiFileUpdate(stream, *this);
        return;
    }
    isRawSysEx = IsRawSysExFile(stream);
    if (isRawSysEx)
        ReadSysExFile(stream, *this);
    else
        ReadUpdateFile(stream, *this);
}

bool IsRawSysExFile(std::istream& stream) {
    // A stream that has failed delivers nothing: it is left failed, so that it is read as an
    // update file whose magic cannot match.
    if (!stream.good()) return false;
    stream.seekg(0);
    const std::istream::int_type first = stream.get();
    const bool isRaw = first == static_cast<std::istream::int_type>(kSysExStart) && FindSysExEnd(stream);
    stream.clear();
    stream.seekg(0);
    return isRaw;
}

void ReadUpdateFile(std::istream& stream, Update& update) {
    UpdateFileReader reader(stream);
    ReadHeader(reader, update);
    while (ReadRecord(reader, update)) {
    }
    // Without names of its own the device is looked for under its product name.
    if (update.winPort.names.empty()) update.winPort.names.insert(update.productName);
}

void ReadSysExFile(std::istream& stream, Update& update) {
    update.productName = kRawProductName;
    // Any maker's messages: they go out exactly as the file holds them.
    update.winPort = RawSysExPortSettings();
    SysExPortion portion;
    const std::streamoff size = BytesLeft(stream);
    if (size < 0) {
        // The stream cannot say how long it is: take whatever it delivers.
        AppendInBlocks(stream, portion.data, std::numeric_limits<std::uint64_t>::max());
    } else {
        if (!FitsUpdateSize(static_cast<std::uint64_t>(size))) throw ParseError(kTooLarge);
        if (static_cast<std::uint64_t>(size) > portion.data.max_size())
            throw std::length_error("The sysex file is too large to hold in memory.");
        const std::size_t got = AppendBlock(stream, portion.data, static_cast<std::size_t>(size));
        if (got != static_cast<std::size_t>(size))
            throw ParseError(FormatString("Failed to load all of the sysex file. (Got:%u was;%u)",
                                          static_cast<unsigned>(got), static_cast<unsigned>(size)));
    }
    update.portions.push_back(std::move(portion));
    update.message = DefaultUpdateMessage;
}

bool IsStandardMidiFile(std::istream& stream) {
    if (!stream.good()) return false;
    stream.seekg(0);
    char start[4] = {};
    stream.read(start, sizeof start);
    const bool isMidi = stream.gcount() == static_cast<std::streamsize>(sizeof start) &&
                        LooksLikeStandardMidiFile(reinterpret_cast<const std::uint8_t*>(start), sizeof start);
    stream.clear();
    stream.seekg(0);
    return isMidi;
}

void ReadMidiFileUpdate(std::istream& stream, Update& update) {
    std::vector<std::uint8_t> bytes;
    // The caller refused a file too large before; a stream that cannot tell is read up to one byte
    // past the largest size, which is refused in its turn.
    AppendInBlocks(stream, bytes, kMaxUpdateFileSize + 1);
    if (!FitsUpdateSize(bytes.size())) throw ParseError(kTooLarge);
    const MidiFileContent content = ReadStandardMidiFile(bytes.data(), bytes.size());
    if (content.messages.empty())
        throw ParseError("MIDI file holds no SysEx messages: there is nothing in it to send.");

    update.isRawSysEx = true;
    update.isMidiFile = true;
    update.productName = kRawProductName;
    update.winPort = RawSysExPortSettings();
    // The file's times pace its messages, as an update file's records pace its chunks: the port's
    // default pauses, meant for untimed data, would stretch every gap the file's maker chose.
    update.winPort.delay = 0;
    update.winPort.unprepDelay = 0;
    SysExPortion portion;
    portion.timing.reserve(content.messages.size());
    for (const TimedSysEx& message : content.messages) {
        // The messages hold no more bytes than the file, whose size fits in 32 bits.
        portion.timing.push_back({static_cast<std::uint32_t>(portion.data.size()), message.timeUs});
        portion.data.insert(portion.data.end(), message.bytes.begin(), message.bytes.end());
    }
    portion.endUs = content.durationUs;
    update.portions.push_back(std::move(portion));
    update.message = DefaultUpdateMessage;
}

const char* UpdateKindName(const Update& update) {
    if (update.isMidiFile) return "midi";
    return update.isRawSysEx ? "sysex" : "update";
}

std::string VersionText(const FirmwareVersion& version) {
    return FormatString("%u.%02u", static_cast<unsigned>(version.major), static_cast<unsigned>(version.minor));
}

std::uint32_t TotalSysExSize(const Update& update) {
    std::uint32_t total = 0;
    for (const SysExPortion& portion : update.portions) total += static_cast<std::uint32_t>(portion.data.size());
    return total;
}

void WriteUpdateFile(std::ostream& stream, const UpdateFileContents& contents) {
    CheckWritable(contents);
    UpdateFileWriter writer(stream);

    const std::string message = EncodeMessage(contents.message);
    writer.Raw(kMagic, kMagicSize);
    writer.U16(kFormatVersion);
    writer.Counted(contents.productName.data(), contents.productName.size());
    writer.U16(contents.version.major);
    writer.U16(contents.version.minor);
    writer.Counted(message.data(), message.size());
    for (int i = 0; i < 3; ++i) writer.U16(0);  // reserved words

    for (const std::string& text : contents.portSettings) {
        writer.U32(kPortSettingsTag);
        writer.Counted(text.data(), text.size());
    }
    for (const std::string& text : contents.macNames) {
        writer.U32(kMacNamesTag);
        writer.Counted(text.data(), text.size());
    }
    if (!contents.image.empty()) {
        writer.U32(kImageTag);
        writer.Counted(contents.image.data(), contents.image.size());
    }
    for (const SysExPortion& portion : contents.portions) {
        writer.U32(kPortionTag);
        writer.Counted(portion.data.data(), portion.data.size());
        writer.U32(portion.delay);
    }
}
