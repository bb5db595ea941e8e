// The file commands: info describes an update file, pack writes one, unpack takes one apart
// into the files pack takes.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Commands.h"
#include "FileOutput.h"
#include "ChunkFraming.h"
#include "Json.h"
#include "PortSettings.h"
#include "StandardMidiFile.h"
#include "SysExContent.h"
#include "SysExSender.h"
#include "TextEncoding.h"
#include "VisibleText.h"

namespace cli {

namespace {


// Whether bytes begin as every PNG file does.
bool LooksLikePng(const std::vector<std::uint8_t>& bytes) {
    static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return bytes.size() >= 8 && std::equal(signature, signature + 8, bytes.begin());
}

std::string JoinWords(const std::vector<std::string>& words, const char* separator) {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : separator) + w;
    return out;
}

// "3 tempo changes", "1 tempo change".
std::string Counted(std::uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// A time in milliseconds, to the microsecond where it has a part of one.
std::string MillisecondsText(std::uint64_t us) {
    char text[48];
    if (us % 1000 == 0)
        std::snprintf(text, sizeof text, "%llu ms", static_cast<unsigned long long>(us / 1000));
    else
        std::snprintf(text, sizeof text, "%llu.%03llu ms", static_cast<unsigned long long>(us / 1000),
                      static_cast<unsigned long long>(us % 1000));
    return text;
}

std::string MidiFileKind(const MidiFileContent& midi) {
    std::string kind = "Standard MIDI File, format " + std::to_string(midi.format) + ", " +
                       Counted(midi.tracks, "track", "tracks") + ", ";
    if (midi.ticksPerQuarter != 0) return kind + std::to_string(midi.ticksPerQuarter) + " ticks per quarter note";
    // The header's 29 stands for the 29.97 frames a second of drop-frame time code.
    const std::string frames = midi.smpteFrames == 29 ? "29.97" : std::to_string(midi.smpteFrames);
    return kind + frames + " frames a second, " + Counted(midi.ticksPerFrame, "tick", "ticks") + " a frame";
}

// What of a Standard MIDI File is timing and what is not sent, after the lines every file has.
void PrintMidiFileTiming(const MidiFileContent& midi, std::ostream& out) {
    std::uint64_t bytes = 0;
    for (const TimedSysEx& message : midi.messages) bytes += message.bytes.size();
    out << "SysEx:       " << Counted(midi.messages.size(), "message", "messages") << " of "
        << Counted(bytes, "byte", "bytes") << ", each sent whole at its time in the file\n";
    out << "Duration:    " << FormatDuration(midi.durationUs / 1000) << " ("
        << MillisecondsText(midi.durationUs) << ") by the file's timing\n";
    if (midi.messages.size() < 2) {
        out << "Gaps:        none (one message)\n";
    } else {
        const SysExGaps gaps = MeasureSysExGaps(midi.messages);
        out << "Gaps:        longest " << MillisecondsText(gaps.longestUs) << ", shortest "
            << MillisecondsText(gaps.shortestUs) << " between consecutive messages\n";
    }
    std::vector<std::string> leftOut;
    if (midi.channelEvents) leftOut.push_back(Counted(midi.channelEvents, "channel event", "channel events"));
    if (midi.metaEvents) leftOut.push_back(Counted(midi.metaEvents, "other meta event", "other meta events"));
    if (midi.tempoChanges)
        leftOut.push_back(Counted(midi.tempoChanges, "tempo change", "tempo changes") +
                          (midi.ticksPerQuarter != 0 ? " (in the timing above)" : " (without effect: SMPTE time)"));
    if (midi.skippedChunks) leftOut.push_back(Counted(midi.skippedChunks, "other chunk", "other chunks"));
    out << "Left out:    " << (leftOut.empty() ? "nothing" : JoinWords(leftOut, ", ")) << "\n";
}

void PrintInfo(const Update& u, const std::string& path, std::ostream& out,
               const MidiFileContent* midi = nullptr) {
    const PortSettings& port = u.winPort;
    out << "File:        " << VisibleText(path) << "\n";
    out << "Kind:        " << (midi ? MidiFileKind(*midi) : u.isRawSysEx ? "raw SysEx file" : "update file") << "\n";
    out << "Product:     " << VisibleText(Cp1252ToUtf8(u.productName)) << "\n";
    out << "Version:     " << VersionText(u.version)
        << (u.version.major == 0 && u.version.minor == 0 ? " (none stated)" : "") << "\n";
    out << "Message:" << (u.message.empty() ? "     (none)" : "") << "\n";
    PrintIndented(out, VisibleText(Cp1252ToUtf8(u.message), true));
    out << "Image:       " << u.image.size() << " bytes\n";
    out << "Port names:  ";
    if (port.names.empty()) out << "(none; the port is chosen by hand)";
    bool first = true;
    for (const std::string& name : port.names) {
        out << (first ? "" : ", ") << "\"" << VisibleText(Cp1252ToUtf8(name)) << "\"";
        first = false;
    }
    out << "\n";
    out << "Pacing:      " << PacingText(u, port) << "\n";
    const ChunkRules rules = ChunkRulesFor(port);
    out << "Portions:    " << u.portions.size() << "\n";
    for (std::size_t i = 0; i < u.portions.size(); ++i) {
        const SysExPortion& p = u.portions[i];
        const SysExContent content = DescribeSysEx(p.data.data(), p.data.size());
        out << "    #" << (i + 1) << "  " << p.data.size() << " bytes ("
            << FormatByteSize(static_cast<std::uint32_t>(p.data.size())) << "), pause " << p.delay << " ms; "
            << content.messages << (content.messages == 1 ? " SysEx message" : " SysEx messages");
        if (!content.manufacturers.empty())
            out << ", manufacturer " << JoinWords(content.manufacturers, ", ");
        out << "\n";
        for (const std::string& warning : content.warnings) out << "        warning: " << warning << "\n";
        // A maker sees before shipping which messages the pacing settings will break up: a device
        // that checks lengths or checksums refuses the parts.
        const CutCount cut = CountCutMessages(p.data, rules);
        if (rules.frame && cut.cut != 0)
            out << "        cut: " << cut.cut << " of " << cut.messages
                << " messages end up in two or more chunks and arrive framed as " << cut.wireMessages
                << " messages (" << cut.bytesInserted << " bytes added)\n";
    }
    std::uint32_t total = TotalSysExSize(u);
    out << "Total SysEx: " << total << " bytes (" << FormatByteSize(total) << ")\n";
    if (midi) PrintMidiFileTiming(*midi, out);
}


// A word the shell passes on unchanged. A word with control characters takes the $'...' form
// (bash, zsh, ksh, and POSIX sh since 2024), in which every byte outside printable ASCII is
// spelt as an escape: the command shown can be pasted as it is, and never drives the terminal.
std::string ShellQuote(const std::string& text) {
    std::string out;
    if (VisibleText(text) == text) {
        out = "'";
        for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    }
    out = "$'";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(byte));
            out += escape;
        } else {
            if (c == '\'' || c == '\\') out += '\\';
            out += c;
        }
    }
    return out + "'";
}

// Unpack's files replace what stands at their names: a link there is replaced, never written
// through.
bool WriteFileBytes(const std::string& path, const void* data, std::size_t size, CliIo& io) {
    std::string error;
    if (WriteFreshFile(path, data, size, error)) return true;
    io.err << "midiupdate: " << VisibleText(error) << "\n";
    return false;
}

// A message as pack takes it: line breaks typed as backslash-n.
std::string EscapedLineBreaks(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

}  // namespace

// --- info ------------------------------------------------------------------------------------

int Info(Args& args, CliIo& io) {
    bool json = false;
    std::string path;
    while (!args.Done()) {
        std::string a = args.Take();
        if (a == "--json")
            json = true;
        else if (a.size() > 1 && a[0] == '-')
            Usage("unknown option for info: " + a);
        else if (path.empty())
            path = a;
        else
            Usage("info takes one file");
    }
    if (path.empty()) Usage("info needs a file");
    args.Ready({path});
    std::string why;
    MidiFileContent midi;
    std::unique_ptr<Update> update = LoadUpdate(path, io, &why, &midi);
    if (!update) {
        // A machine reading the output learns why as well as the person reading the error.
        if (json) io.out << RefusedFileJson(path, why) << "\n";
        return kExitFailed;
    }
    const MidiFileContent* midiFile = update->isMidiFile ? &midi : nullptr;
    if (json)
        io.out << UpdateInfoJson(*update, midiFile) << "\n";
    else
        PrintInfo(*update, path, io.out, midiFile);
    return kExitOk;
}

// --- pack ------------------------------------------------------------------------------------


int Pack(Args& args, CliIo& io) {
    UpdateFileContents contents;
    std::string outPath, imagePath;
    bool haveProduct = false, haveVersion = false;
    std::vector<std::pair<std::string, std::uint32_t>> portionFiles;
    while (!args.Done()) {
        std::string a = args.Take();
        if (a == "-o" || a == "--output") {
            outPath = args.Value(a);
        } else if (a == "--product") {
            contents.productName = args.Value(a);
            haveProduct = true;
        } else if (a == "--version") {
            contents.version = ParseVersionOption(args.Value(a));
            haveVersion = true;
        } else if (a == "--message") {
            contents.message = LineBreaksFromEscapes(args.Value(a));
        } else if (a == "--image") {
            imagePath = args.Value(a);
        } else if (a == "--port-settings") {
            contents.portSettings.push_back(args.Value(a));
        } else if (a == "--mac-names") {
            contents.macNames.push_back(args.Value(a));
        } else if (a == "--portion") {
            std::string spec = args.Value(a);
            std::uint32_t delay = 0;
            std::size_t at = spec.rfind('@');
            if (at != std::string::npos) {
                auto ms = ParseUnsigned(spec.substr(at + 1), 0xFFFFFFFFul);
                if (!ms) Usage("--portion takes FILE or FILE@DELAY_MS with a whole number of milliseconds: " + spec);
                delay = static_cast<std::uint32_t>(*ms);
                spec.resize(at);
            }
            portionFiles.emplace_back(spec, delay);
        } else {
            Usage("unknown option for pack: " + a);
        }
    }
    if (outPath.empty()) Usage("pack needs -o OUT.upd");
    if (!haveProduct) Usage("pack needs --product NAME");
    if (!haveVersion) Usage("pack needs --version MAJOR.MINOR");
    if (portionFiles.empty()) Usage("pack needs at least one --portion FILE.syx");
    // Update files hold code page 1252 text; the arguments arrive in UTF-8.
    const auto toFileText = [](const char* option, std::string& text) {
        std::string converted, error;
        if (!Utf8ToCp1252(text, converted, error))
            Usage(std::string(option) + ": " + error + "; update files hold code page 1252 text");
        text = converted;
    };
    // The update file replaces its path at the end: an input there would be lost.
    if (!imagePath.empty() && SameFile(outPath, imagePath))
        Usage("-o '" + outPath + "' is the picture given with --image; write the update file elsewhere");
    for (const auto& portionFile : portionFiles)
        if (SameFile(outPath, portionFile.first))
            Usage("-o '" + outPath + "' is a portion given with --portion; write the update file elsewhere");
    toFileText("--product", contents.productName);
    toFileText("--message", contents.message);
    for (std::string& text : contents.portSettings) toFileText("--port-settings", text);
    for (std::string& text : contents.macNames) toFileText("--mac-names", text);
    for (const std::string& record : contents.portSettings) {
        const std::string fault = PortSettingsRecordFault(record);
        if (!fault.empty()) Usage("--port-settings: " + Cp1252ToUtf8(fault));
    }
    std::vector<std::string> files = {outPath, imagePath};
    for (const auto& portionFile : portionFiles) files.push_back(portionFile.first);
    args.Ready(files);

    std::string error;
    if (!imagePath.empty() && !ReadWholeFile(imagePath, contents.image, error)) {
        io.err << "midiupdate: " << VisibleText(error) << "\n";
        return kExitFailed;
    }
    for (const auto& [path, delay] : portionFiles) {
        SysExPortion portion;
        portion.delay = delay;
        if (!ReadWholeFile(path, portion.data, error)) {
            io.err << "midiupdate: " << VisibleText(error) << "\n";
            return kExitFailed;
        }
        // Its SysEx would be packed with the file's headers and events around it, and without its
        // timing.
        if (LooksLikeStandardMidiFile(portion.data.data(), portion.data.size()))
            Usage("--portion '" + path + "' is a Standard MIDI File, which an update file cannot hold: send it as "
                  "it is to keep its timing, or unpack it first (midiupdate unpack " + ShellQuote(path) +
                  " -o DIR) and pack its .syx");
        contents.portions.push_back(std::move(portion));
    }

    std::ostringstream bytes(std::ios::binary);
    try {
        WriteUpdateFile(bytes, contents);
    } catch (const std::exception& e) {
        io.err << "midiupdate: " << VisibleText(e.what()) << "\n";
        return kExitFailed;
    }
    // An update file cut short part-way would load as a valid file with fewer portions: the old
    // file stays until the new one is complete.
    if (!ReplaceFile(outPath, bytes.str(), error)) {
        io.err << "midiupdate: " << VisibleText(error) << "\n";
        return kExitFailed;
    }
    // What was written, read back as the programs read it, then what a maker may have overlooked;
    // nothing of it is refused, as some devices take data that is not SysEx.
    std::istringstream written(bytes.str(), std::ios::binary);
    const Update update(written);
    PrintInfo(update, outPath, io.out);
    if (!update.image.empty() && !LooksLikePng(update.image))
        io.err << "midiupdate: warning: the picture is not a PNG image; the programs show only PNG\n";
    for (std::size_t i = 0; i < update.portions.size(); ++i) {
        const std::vector<std::uint8_t>& data = update.portions[i].data;
        const std::string which = "portion #" + std::to_string(i + 1) + " (" + portionFiles[i].first + ")";
        if (data.empty()) {
            io.err << "midiupdate: warning: " << VisibleText(which) << " is empty\n";
            continue;
        }
        for (const std::string& warning : DescribeSysEx(data.data(), data.size()).warnings)
            io.err << "midiupdate: warning: " << VisibleText(which) << ": " << warning << "\n";
    }
    return kExitOk;
}

// --- unpack ----------------------------------------------------------------------------------

int Unpack(Args& args, CliIo& io) {
    std::string path, dir;
    bool force = false;
    while (!args.Done()) {
        std::string a = args.Take();
        if (a == "-o" || a == "--output")
            dir = args.Value(a);
        else if (a == "--force" || a == "-f")
            force = true;
        else if (a.size() > 1 && a[0] == '-')
            Usage("unknown option for unpack: " + a);
        else if (path.empty())
            path = a;
        else
            Usage("unpack takes one file");
    }
    if (path.empty()) Usage("unpack needs a file");
    if (dir.empty()) Usage("unpack needs -o DIR");
    // Its files would replace files of the same names there without a word.
    std::error_code ignored;
    if (!force && std::filesystem::is_directory(dir, ignored) && !std::filesystem::is_empty(dir, ignored))
        Usage("the folder '" + dir + "' is not empty; unpack into an empty or new folder, or give --force "
              "to replace the files of the same names there");
    args.Ready({path});
    std::unique_ptr<Update> update = LoadUpdate(path, io);
    if (!update) return kExitFailed;
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        io.err << "midiupdate: cannot make the folder '" << VisibleText(dir) << "': " << error.message() << "\n";
        return kExitFailed;
    }
    const auto in = [&](const std::string& name) { return (std::filesystem::path(dir) / name).string(); };

    if (update->isMidiFile) {
        // A MIDI file has no parts for pack: its SysEx is all it sends. No command rebuilds the file.
        const SysExPortion& sysEx = update->portions.front();
        const std::string syxPath = in("sysex.syx");
        if (!WriteFileBytes(syxPath, sysEx.data.data(), sysEx.data.size(), io)) return kExitFailed;
        const std::string what = Counted(sysEx.timing.size(), "SysEx message", "SysEx messages") +
                                 " of the MIDI file (" + Counted(sysEx.data.size(), "byte", "bytes") + ")";
        io.out << "Wrote the " << what << ", in the order they are sent, to " << VisibleText(syxPath) << ".\n"
               << "Their timing is lost: a .syx holds none; send the MIDI file itself to keep it.\n";
        return kExitOk;
    }

    std::string command = "midiupdate pack -o " + ShellQuote(in("rebuilt.upd")) + " --product " +
                          ShellQuote(Cp1252ToUtf8(update->productName)) + " --version " +
                          VersionText(update->version);
    if (!update->message.empty())
        command += " --message " + ShellQuote(Cp1252ToUtf8(EscapedLineBreaks(update->message)));
    if (!update->image.empty()) {
        // A PNG keeps its kind in its name, so that it opens as a picture.
        const std::string imagePath = in(LooksLikePng(update->image) ? "image.png" : "image.bin");
        if (!WriteFileBytes(imagePath, update->image.data(), update->image.size(), io)) return kExitFailed;
        command += " --image " + ShellQuote(imagePath);
    }
    const std::string settings = Cp1252ToUtf8(SettingsRecord(update->winPort, update->productName));
    if (!WriteFileBytes(in("port-settings.txt"), settings.data(), settings.size(), io)) return kExitFailed;
    command += " --port-settings \"$(cat " + ShellQuote(in("port-settings.txt")) + ")\"";
    // The macOS port names go back as one list; a name holding the list's separator cannot.
    std::string macNames;
    for (const std::string& name : update->macNames)
        if (name.find('$') == std::string::npos) macNames += (macNames.empty() ? "" : "$") + name;
    if (!macNames.empty()) command += " --mac-names " + ShellQuote(Cp1252ToUtf8(macNames));
    for (std::size_t i = 0; i < update->portions.size(); ++i) {
        const SysExPortion& portion = update->portions[i];
        const std::string portionPath = in("portion-" + std::to_string(i + 1) + ".syx");
        if (!WriteFileBytes(portionPath, portion.data.data(), portion.data.size(), io)) return kExitFailed;
        command += " --portion " + ShellQuote(portionPath + "@" + std::to_string(portion.delay));
    }
    io.out << "Wrote " << update->portions.size() << " portion file(s), the port settings"
           << (update->image.empty() ? "" : " and the picture") << " to " << VisibleText(dir) << ".\n"
           << "To rebuild an equivalent update file:\n"
           << command << "\n";
    return kExitOk;
}

}  // namespace cli
