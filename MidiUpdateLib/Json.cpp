#include "Json.h"

#include <cstdio>

#include "ChunkFraming.h"
#include "StandardMidiFile.h"
#include "SysExContent.h"
#include "TextEncoding.h"
#include "Update.h"

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        const char32_t cp = Cp1252CodePoint(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
            // Control characters, the undefined bytes of the code page among them, stay visible.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(cp));
            out += escape;
        } else {
            out += Cp1252ToUtf8(std::string(1, static_cast<char>(c)));
        }
    }
    out += '"';
    return out;
}

std::string JsonUtf8Text(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
            out += escape;
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else if (char32_t cp = 0; const std::size_t length = Utf8Sequence(text, i, cp)) {
            // A C1 control (U+0080 to U+009F, C2 80 to C2 9F) acts on a terminal as ESC does.
            if (cp < 0xA0) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(cp));
                out += escape;
            } else {
                out.append(text, i, length);
            }
            i += length;
        } else {
            out += "\\uFFFD";
            ++i;
        }
    }
    out += '"';
    return out;
}

std::string JsonSystemText(const std::string& text) {
#if defined(_WIN32)
    return JsonText(text);
#else
    return JsonUtf8Text(text);
#endif
}

std::string JsonFloat(float value) {
    // Four decimals are finer than any bar can show; more would only be single-precision noise.
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.4f", static_cast<double>(value));
    std::string text = buffer;
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
    if (text == "-0") text = "0";
    return text;
}

namespace {

std::string MidiFileJson(const MidiFileContent& midi) {
    std::uint64_t sysExBytes = 0;
    for (const TimedSysEx& message : midi.messages) sysExBytes += message.bytes.size();
    const SysExGaps gaps = MeasureSysExGaps(midi.messages);
    return "{\"format\": " + std::to_string(midi.format) +
           ", \"tracks\": " + std::to_string(midi.tracks) +
           ", \"ticks_per_quarter\": " + std::to_string(midi.ticksPerQuarter) +
           ", \"smpte_frames\": " + std::to_string(midi.smpteFrames) +
           ", \"ticks_per_frame\": " + std::to_string(midi.ticksPerFrame) +
           ", \"sysex_messages\": " + std::to_string(midi.messages.size()) +
           ", \"sysex_bytes\": " + std::to_string(sysExBytes) +
           ", \"duration_us\": " + std::to_string(midi.durationUs) +
           ", \"longest_gap_us\": " + std::to_string(gaps.longestUs) +
           ", \"shortest_gap_us\": " + std::to_string(gaps.shortestUs) +
           ", \"left_out\": {\"channel_events\": " + std::to_string(midi.channelEvents) +
           ", \"meta_events\": " + std::to_string(midi.metaEvents) +
           ", \"tempo_changes\": " + std::to_string(midi.tempoChanges) +
           ", \"chunks\": " + std::to_string(midi.skippedChunks) + "}}";
}

}  // namespace

std::string UpdateInfoJson(const Update& update, const MidiFileContent* midiFile) {
    const PortSettings& port = update.winPort;
    std::string names;
    for (const std::string& name : port.names) names += (names.empty() ? "" : ", ") + JsonText(name);
    std::string macNames;
    for (const std::string& name : update.macNames)
        macNames += (macNames.empty() ? "" : ", ") + JsonText(name);
    std::string portions;
    const ChunkRules rules = ChunkRulesFor(port);
    for (const SysExPortion& p : update.portions) {
        const CutCount cut = CountCutMessages(p.data, rules);
        const SysExContent content = DescribeSysEx(p.data.data(), p.data.size());
        std::string manufacturers, warnings;
        for (const std::string& id : content.manufacturers)
            manufacturers += (manufacturers.empty() ? "" : ", ") + JsonText(id);
        for (const std::string& w : content.warnings) warnings += (warnings.empty() ? "" : ", ") + JsonText(w);
        portions += portions.empty() ? "" : ", ";
        portions += "{\"bytes\": " + std::to_string(p.data.size()) +
                    ", \"delay\": " + std::to_string(p.delay) +
                    ", \"messages\": " + std::to_string(content.messages) +

                    ", \"manufacturers\": [" + manufacturers + "]" +
                    ", \"warnings\": [" + warnings + "]" +
                    ", \"messages_cut\": " + std::to_string(cut.cut) +
                    ", \"wire_messages\": " + std::to_string(cut.wireMessages) +
                    ", \"bytes_added\": " + std::to_string(cut.bytesInserted) + "}";
    }
    return std::string("{") +
           "\"kind\": \"" + UpdateKindName(update) + "\"" +
           ", \"product\": " + JsonText(update.productName) +
           ", \"version\": {\"major\": " + std::to_string(update.version.major) +
           ", \"minor\": " + std::to_string(update.version.minor) +
           ", \"text\": " + JsonText(VersionText(update.version)) + "}" +
           ", \"message\": " + JsonText(update.message) +
           ", \"image_bytes\": " + std::to_string(update.image.size()) +
           ", \"port\": {\"names\": [" + names + "]" +
           ", \"ideal\": " + std::to_string(port.ideal) +
           ", \"max\": " + std::to_string(port.max) +
           ", \"delay\": " + std::to_string(port.delay) +
           ", \"unprep_delay\": " + std::to_string(port.unprepDelay) +
           ", \"chunks\": " + (port.chunks ? "true" : "false") +
           ", \"whole_messages\": " + (port.wholeMessages ? "true" : "false") + "}" +
           ", \"mac_names\": [" + macNames + "]" +
           ", \"portions\": [" + portions + "]" +
           ", \"total_sysex_bytes\": " + std::to_string(TotalSysExSize(update)) +
           (midiFile ? ", \"midi_file\": " + MidiFileJson(*midiFile) : std::string()) + "}";
}

std::string RefusedFileJson(const std::string& path, const std::string& why) {
    return "{\"file\": " + JsonUtf8Text(path) + ", \"error\": " + JsonUtf8Text(why) + "}";
}
