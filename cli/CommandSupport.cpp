#include "Commands.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "LogRouting.h"
#include "StandardMidiFile.h"
#include "VisibleText.h"

namespace cli {

void Usage(const std::string& text) { throw UsageError{text}; }

void Args::Ready(const std::vector<std::string>& commandFiles) {
    if (log) log->Start(commandFiles);
}

std::optional<unsigned long> ParseUnsigned(const std::string& text, unsigned long limit) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value > limit) return std::nullopt;
    return value;
}

FirmwareVersion ParseVersionOption(const std::string& text) {
    std::size_t dot = text.find('.');
    auto major = ParseUnsigned(text.substr(0, dot), 65535);
    auto minor = dot == std::string::npos ? std::nullopt : ParseUnsigned(text.substr(dot + 1), 65535);
    if (!major || !minor) Usage("--version takes MAJOR.MINOR, two numbers up to 65535, such as 1.05");
    FirmwareVersion v;
    v.major = static_cast<std::uint16_t>(*major);
    v.minor = static_cast<std::uint16_t>(*minor);
    return v;
}

std::string LineBreaksFromEscapes(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

namespace {

// Loads the update; a Standard MIDI File whose content is asked for is read into memory once and
// both loaded and described from there. A stream that cannot seek is read whole first, as the
// loader would read it, so that its kind can be told; a file too large to load is left to the
// loader to refuse.
std::unique_ptr<Update> LoadStream(std::istream& stream, MidiFileContent* midiFile) {
    if (midiFile) {
        stream.seekg(0, std::ios::end);
        const std::streamoff size = stream.fail() ? -1 : static_cast<std::streamoff>(stream.tellg());
        stream.clear();
        stream.seekg(0);
        if (size < 0 || (FitsUpdateSize(static_cast<std::uint64_t>(size)) && IsStandardMidiFile(stream))) {
            std::ostringstream read(std::ios::binary);
            read << stream.rdbuf();
            const std::string bytes = read.str();
            std::istringstream copy(bytes, std::ios::binary);
            auto update = std::make_unique<Update>(copy, UpdateReaders::WithMidiFile);
            if (update->isMidiFile)
                *midiFile = ReadStandardMidiFile(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            return update;
        }
    }
    return std::make_unique<Update>(stream, UpdateReaders::WithMidiFile);
}

}  // namespace

std::unique_ptr<Update> LoadUpdate(const std::string& path, CliIo& io, std::string* why, MidiFileContent* midiFile) {
    if (path == "-") {
        // Standard input cannot go back to its start: it is read whole, then loaded like a file.
        std::ostringstream bytes(std::ios::binary);
        bytes << io.in.rdbuf();
        std::istringstream stream(bytes.str(), std::ios::binary);
        try {
            return LoadStream(stream, midiFile);
        } catch (const std::exception& e) {
            io.err << "midiupdate: could not load standard input:\n" << VisibleText(e.what(), true) << "\n";
            if (why) *why = e.what();
            return nullptr;
        }
    }
    std::ifstream file(path, std::ios::binary);
    int openError = file ? 0 : errno;
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) openError = EISDIR;
    if (openError) {
        io.err << "midiupdate: could not open '" << VisibleText(path) << "': " << std::strerror(openError) << "\n";
        if (why) *why = std::string("could not open the file: ") + std::strerror(openError);
        return nullptr;
    }
    try {
        return LoadStream(file, midiFile);
    } catch (const std::exception& e) {
        io.err << "midiupdate: could not load '" << VisibleText(path) << "':\n" << VisibleText(e.what(), true) << "\n";
        if (why) *why = e.what();
        // Named as raw SysEx but taken for a damaged update file: what the loader looked for.
        std::string extension = std::filesystem::path(path).extension().string();
        for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::ifstream again(path, std::ios::binary);
        unsigned char head[4] = {};
        again.read(reinterpret_cast<char*>(head), sizeof head);
        const std::streamsize got = again.gcount();
        if (extension == ".syx" && (got == 0 || head[0] != 0xF0)) {
            io.err << "midiupdate: a raw SysEx file begins with F0, ";
            if (got == 0) {
                io.err << "and '" << VisibleText(path) << "' is empty\n";
            } else {
                std::string bytes;
                for (std::streamsize i = 0; i < got; ++i) {
                    char hex[4];
                    std::snprintf(hex, sizeof hex, "%02X", head[i]);
                    bytes += (i ? " " : "") + std::string(hex);
                }
                io.err << "but '" << VisibleText(path) << "' begins with " << bytes << "\n";
            }
        }
        return nullptr;
    }
}

std::string CheckedApi(const std::string& api) {
    for (const char* known : {"alsa", "jack", "coremidi", "winmm"})
        if (api == known) return api;
    Usage("--api takes alsa, jack or coremidi (winmm on Windows), not '" + api + "'");
}

std::unique_ptr<MidiSystem> OpenMidiSystem(CliIo& io, const std::string& api, std::string& error) {
    std::unique_ptr<MidiSystem> system =
        io.openMidiSystem ? io.openMidiSystem(error) : OpenPlatformMidiSystem(api, error);
    if (!system && error.empty()) error = "no MIDI system available";
    return system;
}

namespace {

// How chunks are cut and framed: "chunks framed", "chunks as cut", or for a raw SysEx file's rules
// "messages as the file holds them".
std::string ChunkRulesText(const PortSettings& settings) {
    if (settings.chunks) return "chunks framed";
    return settings.wholeMessages ? "messages as the file holds them" : "chunks as cut";
}

}  // namespace

std::string PacingText(const Update& update, const PortSettings& settings) {
    const std::string pauses = "delay " + std::to_string(settings.delay) + " ms, unprep delay " +
                               std::to_string(settings.unprepDelay) + " ms";
    if (update.isMidiFile)
        return "by the file's times, each message whole and no sooner than the rest after the one before; " + pauses;
    return "ideal " + std::to_string(settings.ideal) + ", max " + std::to_string(settings.max) + " bytes; " + pauses +
           "; " + ChunkRulesText(settings);
}

void PrintIndented(std::ostream& out, const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) out << "    " << line << "\n";
}

}  // namespace cli
