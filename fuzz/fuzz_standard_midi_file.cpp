// Reading a Standard MIDI File from arbitrary bytes. A read either throws one of the reader's
// sentences or gives messages in time order, none later than the file's duration, that together
// hold no more bytes than the file, and counts within the cap; a chunk of an unknown kind added
// at the end changes nothing, and the file cut short by one byte is refused as truncated. Loaded
// as an update, it is one timed portion holding exactly those messages at those times.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "StandardMidiFile.h"
#include "Update.h"

namespace {

bool Read(const std::vector<std::uint8_t>& bytes, MidiFileContent& content, std::string& error) {
    try {
        content = ReadStandardMidiFile(bytes.data(), bytes.size());
        return true;
    } catch (const ParseError& e) {
        error = e.what();
        return false;
    }
}

bool SameContent(const MidiFileContent& a, const MidiFileContent& b) {
    if (a.messages.size() != b.messages.size()) return false;
    for (std::size_t i = 0; i < a.messages.size(); ++i)
        if (a.messages[i].bytes != b.messages[i].bytes || a.messages[i].timeUs != b.messages[i].timeUs) return false;
    return a.durationUs == b.durationUs && a.format == b.format && a.tracks == b.tracks &&
           a.channelEvents == b.channelEvents && a.metaEvents == b.metaEvents && a.tempoChanges == b.tempoChanges;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    MidiFileContent content;
    std::string error;
    if (!Read(bytes, content, error)) {
        FUZZ_REQUIRE(error.compare(0, 10, "MIDI file ") == 0);
        if (!LooksLikeStandardMidiFile(data, size)) FUZZ_REQUIRE(error == "MIDI file was invalid (bad header).");
        return 0;
    }
    FUZZ_REQUIRE(LooksLikeStandardMidiFile(data, size));
    FUZZ_REQUIRE(content.format <= 1);
    FUZZ_REQUIRE(content.format == 1 || content.tracks == 1);
    FUZZ_REQUIRE((content.ticksPerQuarter != 0) != (content.smpteFrames != 0));
    FUZZ_REQUIRE(content.smpteFrames == 0 || content.ticksPerFrame != 0);

    std::uint64_t total = 0;
    std::uint64_t previous = 0;
    for (const TimedSysEx& message : content.messages) {
        FUZZ_REQUIRE(!message.bytes.empty());
        FUZZ_REQUIRE(message.timeUs >= previous && message.timeUs <= content.durationUs);
        previous = message.timeUs;
        total += message.bytes.size();
    }
    FUZZ_REQUIRE(total <= size);
    const std::uint64_t events = std::uint64_t{content.channelEvents} + content.metaEvents + content.tempoChanges +
                                 content.messages.size();
    FUZZ_REQUIRE(events <= kMaxMidiFileEvents);

    std::istringstream stream(std::string(bytes.begin(), bytes.end()), std::ios::binary);
    try {
        const Update update(stream, UpdateReaders::WithMidiFile);
        FUZZ_REQUIRE(!content.messages.empty() && update.isMidiFile && update.portions.size() == 1);
        const SysExPortion& portion = update.portions[0];
        FUZZ_REQUIRE(portion.timing.size() == content.messages.size() && portion.data.size() == total);
        FUZZ_REQUIRE(portion.endUs == content.durationUs);
        for (std::size_t i = 0; i < content.messages.size(); ++i) {
            const TimedSysEx& message = content.messages[i];
            FUZZ_REQUIRE(portion.timing[i].timeUs == message.timeUs);
            FUZZ_REQUIRE(std::equal(message.bytes.begin(), message.bytes.end(),
                                    portion.data.begin() + portion.timing[i].offset));
        }
    } catch (const ParseError& e) {
        FUZZ_REQUIRE(content.messages.empty());
        FUZZ_REQUIRE(std::string(e.what()) == "MIDI file holds no SysEx messages: there is nothing in it to send.");
    }

    std::vector<std::uint8_t> longer = bytes;
    const std::uint8_t unknown[] = {'X', 'c', 'h', 'k', 0, 0, 0, 2, 0x90, 0x00};
    longer.insert(longer.end(), unknown, unknown + sizeof unknown);
    MidiFileContent again;
    FUZZ_REQUIRE(Read(longer, again, error));
    FUZZ_REQUIRE(SameContent(content, again));
    FUZZ_REQUIRE(again.skippedChunks == content.skippedChunks + 1);

    const std::vector<std::uint8_t> shorter(data, data + size - 1);
    FUZZ_REQUIRE(!Read(shorter, again, error));
    FUZZ_REQUIRE(error ==
                 "MIDI file was truncated (a chunk runs past the end of the file). Did it download correctly?");
    return 0;
}
