#include "Cli.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include "Clock.h"
#include "HostPlatform.h"
#if defined(MIDIUPDATE_HAVE_RTMIDI)
#include "DeviceSimulator.h"
#include "RtMidiConnection.h"
#endif
#include "FileOutput.h"
#include "Help.h"
#include "Json.h"
#include "Log.h"
#include "LookingPort.h"
#include "MidiSystem.h"
#include "Reporters.h"
#include "SysExContent.h"
#include "SysExSender.h"
#include "TextEncoding.h"
#include "Update.h"
#include "VirtualDevice.h"

#ifndef MIDIUPDATE_VERSION
#define MIDIUPDATE_VERSION "0.0.0"
#endif

namespace {

struct UsageError {
    std::string text;
};

[[noreturn]] void Usage(const std::string& text) { throw UsageError{text}; }

// Log sinks for --log and --verbose; the program's own output never carries log lines.
void FileSink(void* context, const char* text, std::size_t length) {
    std::FILE* file = static_cast<std::FILE*>(context);
    std::fwrite(text, 1, length, file);
    std::fflush(file);
}

// --verbose: each line begins with the milliseconds since the program started, so that waits and
// pauses can be read off the log. The log calls its sink under its own lock, one call per text.
struct TimedSink {
    std::FILE* file = nullptr;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    bool atLineStart = true;

    static void Write(void* context, const char* text, std::size_t length) {
        TimedSink& sink = *static_cast<TimedSink*>(context);
        for (std::size_t i = 0; i < length;) {
            if (sink.atLineStart) {
                const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - sink.start)
                                    .count();
                std::fprintf(sink.file, "[%7lld ms] ", static_cast<long long>(ms));
                sink.atLineStart = false;
            }
            const char* newline = static_cast<const char*>(std::memchr(text + i, '\n', length - i));
            const std::size_t end = newline ? static_cast<std::size_t>(newline - text) + 1 : length;
            std::fwrite(text + i, 1, end - i, sink.file);
            if (newline) sink.atLineStart = true;
            i = end;
        }
        std::fflush(sink.file);
    }
};

// The log file is opened only once a command has checked its command line, so a mistyped command
// never empties it, and never when it is one of the files the command works on: opening it for
// writing would empty that file.
class LogRouting {
public:
    LogRouting(std::string path, bool verbose) : path(std::move(path)), verbose(verbose) {}
    void Start(const std::vector<std::string>& commandFiles) {
        if (started) return;
        started = true;
        if (!path.empty()) {
            for (const std::string& used : commandFiles)
                if (!used.empty() && SameFile(path, used))
                    Usage("--log '" + path + "' names a file the command works on; choose another log file");
            // Binary: the same bytes on every platform (no carriage returns added on Windows).
            file = std::fopen(path.c_str(), "wb");
            if (!file) Usage("cannot write the log file '" + path + "': " + std::strerror(errno));
            SetLogSink(&FileSink, file);
        } else if (verbose) {
            timed.file = stderr;
            SetLogSink(&TimedSink::Write, &timed);
        }
    }
    ~LogRouting() {
        if (started) SetLogSink(nullptr, nullptr);
        if (file) std::fclose(file);
    }
    LogRouting(const LogRouting&) = delete;
    LogRouting& operator=(const LogRouting&) = delete;

private:
    std::string path;
    bool verbose;
    bool started = false;
    std::FILE* file = nullptr;
    TimedSink timed;
};

// The command line after the command word, with the options every command takes removed.
struct Args {
    std::vector<std::string> items;
    std::size_t next = 0;
    LogRouting* log = nullptr;
    bool Done() const { return next >= items.size(); }
    const std::string& Peek() const { return items[next]; }
    std::string Take() { return items[next++]; }
    std::string Value(const std::string& option) {
        if (Done()) Usage(option + " needs a value");
        return Take();
    }
    // Every command calls this once its command line has been checked, naming the files it reads
    // or writes; only then does the diagnostic log start.
    void Ready(const std::vector<std::string>& commandFiles) {
        if (log) log->Start(commandFiles);
    }
};

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

// The file stores a line break as backslash-n, so that is what a maker types for one.
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

// Loads an update file as the program does; on failure tells the user why, the loader's own
// message on the last line.
std::unique_ptr<Update> LoadUpdate(const std::string& path, CliIo& io) {
    if (path == "-") {
        // Standard input cannot go back to its start: it is read whole, then loaded like a file.
        std::ostringstream bytes(std::ios::binary);
        bytes << io.in.rdbuf();
        std::istringstream stream(bytes.str(), std::ios::binary);
        try {
            return std::make_unique<Update>(stream);
        } catch (const std::exception& e) {
            io.err << "midiupdate: could not load standard input:\n" << e.what() << "\n";
            return nullptr;
        }
    }
    std::ifstream file(path, std::ios::binary);
    int openError = file ? 0 : errno;
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) openError = EISDIR;
    if (openError) {
        io.err << "midiupdate: could not open '" << path << "': " << std::strerror(openError) << "\n";
        return nullptr;
    }
    try {
        return std::make_unique<Update>(file);
    } catch (const std::exception& e) {
        io.err << "midiupdate: could not load '" << path << "':\n" << e.what() << "\n";
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
                io.err << "and '" << path << "' is empty\n";
            } else {
                std::string bytes;
                for (std::streamsize i = 0; i < got; ++i) {
                    char hex[4];
                    std::snprintf(hex, sizeof hex, "%02X", head[i]);
                    bytes += (i ? " " : "") + std::string(hex);
                }
                io.err << "but '" << path << "' begins with " << bytes << "\n";
            }
        }
        return nullptr;
    }
}

// --- info ------------------------------------------------------------------------------------

// Whether bytes begin as every PNG file does.
bool LooksLikePng(const std::vector<std::uint8_t>& bytes) {
    static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return bytes.size() >= 8 && std::equal(signature, signature + 8, bytes.begin());
}

void PrintIndented(std::ostream& out, const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) out << "    " << line << "\n";
}

std::string JoinWords(const std::vector<std::string>& words, const char* separator) {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : separator) + w;
    return out;
}

void PrintInfo(const Update& u, const std::string& path, std::ostream& out) {
    const PortSettings& port = u.winPort;
    out << "File:        " << path << "\n";
    out << "Kind:        " << (u.isRawSysEx ? "raw SysEx file" : "update file") << "\n";
    out << "Product:     " << Cp1252ToUtf8(u.productName) << "\n";
    out << "Version:     " << VersionText(u.version)
        << (u.version.major == 0 && u.version.minor == 0 ? " (none stated)" : "") << "\n";
    out << "Message:" << (u.message.empty() ? "     (none)" : "") << "\n";
    PrintIndented(out, Cp1252ToUtf8(u.message));
    out << "Image:       " << u.image.size() << " bytes\n";
    out << "Port names:  ";
    if (port.names.empty()) out << "(none; the port is chosen by hand)";
    bool first = true;
    for (const std::string& name : port.names) {
        out << (first ? "" : ", ") << "\"" << Cp1252ToUtf8(name) << "\"";
        first = false;
    }
    out << "\n";
    out << "Pacing:      ideal " << port.ideal << ", max " << port.max << " bytes; delay " << port.delay
        << " ms, unprep delay " << port.unprepDelay << " ms; chunks " << (port.chunks ? "framed" : "as cut")
        << "\n";
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
    }
    std::uint32_t total = TotalSysExSize(u);
    out << "Total SysEx: " << total << " bytes (" << FormatByteSize(total) << ")\n";
}

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
    std::unique_ptr<Update> update = LoadUpdate(path, io);
    if (!update) return kExitFailed;
    if (json)
        io.out << UpdateInfoJson(*update) << "\n";
    else
        PrintInfo(*update, path, io.out);
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
        io.err << "midiupdate: " << error << "\n";
        return kExitFailed;
    }
    for (const auto& [path, delay] : portionFiles) {
        SysExPortion portion;
        portion.delay = delay;
        if (!ReadWholeFile(path, portion.data, error)) {
            io.err << "midiupdate: " << error << "\n";
            return kExitFailed;
        }
        contents.portions.push_back(std::move(portion));
    }

    std::ostringstream bytes(std::ios::binary);
    try {
        WriteUpdateFile(bytes, contents);
    } catch (const std::exception& e) {
        io.err << "midiupdate: " << e.what() << "\n";
        return kExitFailed;
    }
    // An update file cut short part-way would load as a valid file with fewer portions: the old
    // file stays until the new one is complete.
    if (!ReplaceFile(outPath, bytes.str(), error)) {
        io.err << "midiupdate: " << error << "\n";
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
            io.err << "midiupdate: warning: " << which << " is empty\n";
            continue;
        }
        for (const std::string& warning : DescribeSysEx(data.data(), data.size()).warnings)
            io.err << "midiupdate: warning: " << which << ": " << warning << "\n";
    }
    return kExitOk;
}

// --- unpack ----------------------------------------------------------------------------------

// A word the shell passes on unchanged.
std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool WriteFileBytes(const std::string& path, const void* data, std::size_t size, CliIo& io) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    file.close();
    if (file) return true;
    io.err << "midiupdate: cannot write '" << path << "': " << std::strerror(errno) << "\n";
    return false;
}

// The settings record that gives a loaded update's port settings back. The product name alone
// is what a file without names falls back to, so it is left out; so is a name that a record
// cannot carry (one holding a colon).
std::string SettingsRecord(const Update& u) {
    const PortSettings& p = u.winPort;
    std::string names;
    const bool fallback = p.names.size() == 1 && *p.names.begin() == u.productName;
    if (!fallback)
        for (const std::string& n : p.names)
            if (n.find(':') == std::string::npos && n.find('$') == std::string::npos)
                names += (names.empty() ? "" : "$") + n;
    std::string text = "win:unpacked";
    if (!names.empty()) text += ":name:" + names;
    text += ":ideal:" + std::to_string(p.ideal) + ":max:" + std::to_string(p.max) +
            ":delay:" + std::to_string(p.delay) + ":unprepdelay:" + std::to_string(p.unprepDelay) +
            ":chunks:" + (p.chunks ? "yes" : "no");
    return text;
}

// A message as pack takes it: line breaks typed as backslash-n.
std::string EscapedLineBreaks(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

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
        io.err << "midiupdate: cannot make the folder '" << dir << "': " << error.message() << "\n";
        return kExitFailed;
    }
    const auto in = [&](const std::string& name) { return (std::filesystem::path(dir) / name).string(); };

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
    const std::string settings = Cp1252ToUtf8(SettingsRecord(*update));
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
           << (update->image.empty() ? "" : " and the picture") << " to " << dir << ".\n"
           << "To rebuild an equivalent update file:\n"
           << command << "\n";
    return kExitOk;
}

// --- send ------------------------------------------------------------------------------------

int ExitStatusFor(UpdateVerdict verdict) {
    switch (verdict) {
        case UpdateVerdict::Updated:
        case UpdateVerdict::SentReportsVersion: return kExitOk;
        case UpdateVerdict::DeviceError:
        case UpdateVerdict::VersionDiffers: return kExitFailed;
        case UpdateVerdict::SentCheckDevice:
        case UpdateVerdict::SentNotConfirmed: return kExitUnconfirmed;
    }
    return kExitFailed;
}

// Runs the update against a virtual device on the clock installed now.
UpdateVerdict RunAgainstVirtualDevice(const Update& update, const DeviceBehaviour& behaviour,
                                      UpdateProgress& progress) {
    VirtualDevice device(update, update.winPort, behaviour);
    SimpleSysExSender sender(device);
    return sender.Send(update, progress);
}

// The same run on a simulated clock, silently: when each report would come and how long it takes.
struct Forecast {
    std::vector<std::uint64_t> times;
    std::uint64_t totalMs = 0;
};

Forecast ForecastRun(const Update& update, const DeviceBehaviour& behaviour) {
    ScopedLogMute mute;
    SimulatedClock clock;
    ScopedClock use(clock);
    TimelineRecorder recorder(clock);
    RunAgainstVirtualDevice(update, behaviour, recorder);
    return {recorder.times, clock.NowMs()};
}

// The MIDI systems --api may name.
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

// A raw SysEx file names no port: the person at the terminal picks one of the output ports, all
// of them listed as the system lists them. Nothing chosen cancels the update.
// Without one, `status` says why: no terminal to ask on, no port to offer, or none chosen.
std::optional<std::string> ChoosePort(MidiSystem& system, CliIo& io, int& status) {
    if (!io.inIsTty) {
        io.err << "midiupdate: a raw SysEx file names no MIDI port and there is no terminal to ask on:\n"
                  "give the output port with --port NAME (see midiupdate ports)\n";
        status = kExitUsage;
        return std::nullopt;
    }
    const std::vector<MidiPortEntry> outputs = system.OutputPorts();
    if (outputs.empty()) {
        io.err << "midiupdate: there is no MIDI output port to send to.\nUpdate canceled\n";
        status = kExitFailed;
        return std::nullopt;
    }
    status = kExitDeclined;
    io.out << "Please select a MIDI port:\n";
    for (std::size_t i = 0; i < outputs.size(); ++i) io.out << "  " << (i + 1) << ") " << outputs[i].name << "\n";
    io.out << "Port number (Enter for none): " << std::flush;
    std::string line;
    std::getline(io.in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    std::optional<unsigned long> choice = ParseUnsigned(line, outputs.size());
    if (!choice || *choice == 0) {
        io.err << "midiupdate: Update canceled\n";
        return std::nullopt;
    }
    return outputs[*choice - 1].name;
}

// --- ports -----------------------------------------------------------------------------------

void PrintPorts(const char* title, const std::vector<MidiPortEntry>& ports, std::ostream& out) {
    out << title << "\n";
    if (ports.empty()) out << "  (none)\n";
    for (const MidiPortEntry& p : ports) {
        out << "  #" << p.id << "  '" << p.name << "'";
        if (p.skipped) out << "  (skipped by the port search)";
        out << "\n";
    }
}

int Ports(Args& args, CliIo& io) {
    std::string api;
    while (!args.Done()) {
        const std::string a = args.Take();
        if (a != "--api") Usage("ports takes no arguments but --api NAME");
        api = CheckedApi(args.Value(a));
    }
    args.Ready({});
    std::string error;
    std::unique_ptr<MidiSystem> system = OpenMidiSystem(io, api, error);
    if (!system) {
        io.err << "midiupdate: " << error << "\n";
        return kExitFailed;
    }
    const std::vector<MidiPortEntry> outputs = system->OutputPorts();
    const std::vector<MidiPortEntry> inputs = system->InputPorts();
    if (outputs.empty() && inputs.empty()) {
        io.out << "No MIDI ports found (" << system->Name() << ").\n";
        return kExitOk;
    }
    PrintPorts(("MIDI output ports (" + system->Name() + "):").c_str(), outputs, io.out);
    PrintPorts(("MIDI input ports (" + system->Name() + "):").c_str(), inputs, io.out);
    return kExitOk;
}

// The verdict's name in --events.
const char* VerdictName(UpdateVerdict verdict) {
    switch (verdict) {
        case UpdateVerdict::Updated: return "updated";
        case UpdateVerdict::SentCheckDevice: return "sent_check_device";
        case UpdateVerdict::SentNotConfirmed: return "sent_not_confirmed";
        case UpdateVerdict::SentReportsVersion: return "sent_reports_version";
        case UpdateVerdict::VersionDiffers: return "version_differs";
        case UpdateVerdict::DeviceError: return "device_error";
    }
    return "device_error";
}

// Pacing values given on the command line replace the file's for this run.
struct PacingOverrides {
    std::optional<std::int32_t> ideal, max, delay, unprepDelay;
    std::optional<bool> chunks;

    void ApplyTo(PortSettings& settings) const {
        if (ideal) settings.ideal = *ideal;
        if (max) settings.max = *max;
        if (delay) settings.delay = *delay;
        if (unprepDelay) settings.unprepDelay = *unprepDelay;
        if (chunks) settings.chunks = *chunks;
    }
};

std::int32_t ParsePacingNumber(const std::string& option, const std::string& text, bool allowNegative) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::optional<unsigned long> value = ParseUnsigned(negative ? text.substr(1) : text, 0x7FFFFFFFul);
    if (!value || (negative && !allowNegative))
        Usage(option + " takes a whole number" + (allowNegative ? "" : " of at least 0") +
              " up to 2147483647, not '" + text + "'");
    return negative ? -static_cast<std::int32_t>(*value) : static_cast<std::int32_t>(*value);
}

// What is about to happen, before anything is sent: the counterpart of the program's
// confirmation dialog.
// `width`: the terminal's columns, to wrap the file's message at; 0 off a terminal.
void PrintSendPreview(const Update& u, const std::string& target, std::uint64_t estimateMs, std::size_t width,
                      std::ostream& out) {
    const std::uint32_t total = TotalSysExSize(u);
    out << "Product:     " << Cp1252ToUtf8(u.productName) << "\n";
    out << "Version:     " << VersionText(u.version)
        << (u.version.major == 0 && u.version.minor == 0 ? " (none stated)" : "") << "\n";
    if (!u.message.empty()) {
        out << "Message:\n";
        PrintIndented(out, Cp1252ToUtf8(WrapText(u.message, width > 8 ? width - 4 : 0)));
    }
    out << "Send to:     " << target << "\n";
    out << "Portions:    " << u.portions.size() << ", " << total << " bytes (" << FormatByteSize(total)
        << ") in all\n";
    // The pacing in effect, overrides included.
    const PortSettings& p = u.winPort;
    out << "Pacing:      ideal " << p.ideal << ", max " << p.max << " bytes; delay " << p.delay
        << " ms, unprep delay " << p.unprepDelay << " ms; chunks " << (p.chunks ? "framed" : "as cut") << "\n";
    out << "Duration:    about " << FormatDuration(estimateMs) << ", not counting time spent at messages\n";
    if (p.max >= 0 && p.ideal > 0 && p.max < p.ideal)
        out << "Warning:     max (" << p.max << " bytes) is below ideal (" << p.ideal
            << " bytes): no chunk grows to end at a message end\n";
    constexpr std::int64_t kHourMs = 60 * 60 * 1000;
    if (p.delay > kHourMs || p.unprepDelay > kHourMs)
        out << "Warning:     a pause of more than an hour after each chunk (delay " << p.delay
            << " ms, unprep delay " << p.unprepDelay << " ms)\n";
    for (std::size_t i = 0; i < u.portions.size(); ++i)
        if (u.portions[i].delay > kHourMs)
            out << "Warning:     a pause of " << FormatDuration(u.portions[i].delay) << " after portion #"
                << (i + 1) << "\n";
}

std::string PortNamesText(const std::set<std::string>& names) {
    if (names.empty()) return "the first MIDI port found";
    std::string text = "a MIDI port named ";
    bool first = true;
    for (const std::string& name : names) {
        text += (first ? "\"" : " or \"") + Cp1252ToUtf8(name) + "\"";
        first = false;
    }
    return text;
}

// Asks before a real device is updated. True to go ahead.
bool ConfirmSend(CliIo& io, bool yes, bool fileFromInput, std::ostream& talk, int& refusal) {
    if (yes) return true;
    if (!io.inIsTty || fileFromInput) {
        io.err << "midiupdate: nothing was sent: there is no terminal to ask \"Update now?\" on; give --yes "
                  "to update without asking\n";
        refusal = kExitUsage;
        return false;
    }
    talk << "Update now? [y/N] " << std::flush;
    std::string answer;
    std::getline(io.in, answer);
    if (CancelRequested()) throw RunCancelled();
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) answer.pop_back();
    if (answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "YES") return true;
    io.err << "midiupdate: Update canceled; nothing was sent.\n";
    refusal = kExitDeclined;
    return false;
}

int Send(Args& args, CliIo& io) {
    std::string path;
    bool haveVirtual = false, dryRun = false, yes = false, events = false;
    std::string behaviourText;
    std::optional<std::string> portName;
    std::string api;
    PacingOverrides pacing;
    while (!args.Done()) {
        std::string a = args.Take();
        if (a == "--port") {
            portName = args.Value(a);
        } else if (a == "--api") {
            api = CheckedApi(args.Value(a));
        } else if (a == "--virtual") {
            haveVirtual = true;
        } else if (a.rfind("--virtual=", 0) == 0) {
            haveVirtual = true;
            behaviourText = a.substr(std::strlen("--virtual="));
        } else if (a == "--dry-run") {
            dryRun = true;
        } else if (a == "--yes" || a == "-y") {
            yes = true;
        } else if (a == "--events") {
            events = true;
        } else if (a == "--ideal") {
            pacing.ideal = ParsePacingNumber(a, args.Value(a), false);
            if (*pacing.ideal == 0) Usage("--ideal must be at least 1: a chunk holds at least one byte");
        } else if (a == "--max") {
            pacing.max = ParsePacingNumber(a, args.Value(a), false);
        } else if (a == "--delay") {
            pacing.delay = ParsePacingNumber(a, args.Value(a), false);
        } else if (a == "--unprep-delay") {
            pacing.unprepDelay = ParsePacingNumber(a, args.Value(a), false);
        } else if (a == "--chunks") {
            const std::string value = args.Value(a);
            if (value != "yes" && value != "no") Usage("--chunks takes yes or no, not '" + value + "'");
            pacing.chunks = value == "yes";
        } else if (a.size() > 1 && a[0] == '-') {
            Usage("unknown option for send: " + a);
        } else if (path.empty()) {
            path = a;
        } else {
            Usage("send takes one file");
        }
    }
    if (path.empty()) Usage("send needs a file");
    if (portName && (haveVirtual || dryRun)) Usage("--port sends to a real port: leave out --virtual and --dry-run");
    DeviceBehaviour behaviour;
    try {
        behaviour = ParseDeviceBehaviour(behaviourText);
    } catch (const std::invalid_argument& e) {
        Usage(std::string("--virtual: ") + e.what());
    }
    args.Ready({path});

    // From here on the command line was good: with --events every way out ends in a verdict line.
    SimulatedClock simulated;
    std::optional<ScopedClock> useSimulated;
    if (dryRun) useSimulated.emplace(simulated);
    Clock& clock = CurrentClock();
    Acknowledger ack;
    if (!yes && !dryRun) {
        ack.in = &io.in;
        ack.prompt = events ? &io.err : &io.out;
    }
    std::optional<EventsReporter> eventsReporter;
    if (events) eventsReporter.emplace(io.out, clock, ack);
    const auto finish = [&](const char* verdict, int status) {
        if (eventsReporter) eventsReporter->Verdict(verdict, status);
        return status;
    };
    // The person reads the preview and answers on the terminal; JSON lines stay alone on stdout.
    std::ostream& talk = events ? io.err : io.out;
    // Notes during the run go through the terminal's reporter, which keeps its bar below them.
    const std::function<void(const std::string&)> sayToTalk = [&](const std::string& text) {
        talk << text << std::flush;
    };
    std::function<void(const std::string&)> say = sayToTalk;

    std::unique_ptr<Update> update = LoadUpdate(path, io);
    if (!update) return finish("not_loaded", kExitFailed);
    pacing.ApplyTo(update->winPort);

    try {
        // A real run: the platform's MIDI system and the port that the file's names (or the
        // user's choice) pick out.
        std::unique_ptr<MidiSystem> system;
        std::unique_ptr<MidiPort> realPort;
        std::string target = "the built-in virtual device";
        if (!haveVirtual && !dryRun) {
            std::string error;
            system = OpenMidiSystem(io, api, error);
            if (!system) {
                io.err << "midiupdate: " << error << "\n";
                return finish("no_midi_system", kExitFailed);
            }
            // A number, as ports prints it, stands for that output port's name.
            if (portName && !portName->empty()) {
                const std::string digits = (*portName)[0] == '#' ? portName->substr(1) : *portName;
                if (const std::optional<unsigned long> number = ParseUnsigned(digits, 0x7FFFFFFFul)) {
                    const std::vector<MidiPortEntry> outputs = system->OutputPorts();
                    const auto listed = std::find_if(outputs.begin(), outputs.end(), [&](const MidiPortEntry& p) {
                        return p.id == static_cast<int>(*number);
                    });
                    if (listed == outputs.end()) {
                        io.err << "midiupdate: there is no output port #" << *number << " (" << system->Name()
                               << "); midiupdate ports lists them\n";
                        return finish("no_port", kExitFailed);
                    }
                    portName = listed->name;
                }
            }
            if (!portName && update->isRawSysEx) {
                int status = kExitFailed;
                portName = ChoosePort(*system, io, status);
                if (!portName) return finish(status == kExitUsage ? "refused" : "canceled", status);
            }
            // As the choice in the program's dialog does: the chosen name is the only name looked for.
            if (portName && !portName->empty())
                update->winPort.names = {*portName};
            else
                update->winPort.names = PortNamesFor(*update, CurrentHostPlatform());
            target = PortNamesText(update->winPort.names) + " (" + system->Name() + ")";
        }

        const Forecast forecast = ForecastRun(*update, behaviour);
        // Plain text is wrapped to a terminal's width, never off one.
        const std::size_t width = io.outIsTty && !events ? (io.columns ? io.columns() : 80) : 0;
        PrintSendPreview(*update, target, forecast.totalMs, width, talk);
        talk << "\n";
        // Only a real device is at risk; the virtual device and a dry run go ahead unasked.
        if (system) {
            int refusal = kExitFailed;
            if (!ConfirmSend(io, yes, path == "-", talk, refusal))
                return finish(refusal == kExitUsage ? "refused" : "canceled", refusal);
            // A port that does not appear is waited for without end; after the first round of
            // checks the person learns what is looked for, what there is, and how to stop.
            realPort = std::make_unique<LookingPort>(system->MakePort(update->winPort), [&] {
                std::ostringstream text;
                text << "midiupdate: no MIDI port matches yet; still looking for " << target
                     << ", as the device may still be starting its update mode. Ctrl-C stops.\n";
                PrintPorts("Output ports now:", system->OutputPorts(), text);
                PrintPorts("Input ports now:", system->InputPorts(), text);
                say(text.str());
            });
        }
        auto run = [&](UpdateProgress& progress) {
            if (!realPort) return RunAgainstVirtualDevice(*update, behaviour, progress);
            SimpleSysExSender sender(*realPort);
            return sender.Send(*update, progress);
        };

        UpdateVerdict verdict;
        std::string verdictText;
        if (eventsReporter) {
            verdict = run(*eventsReporter);
        } else {
            TerminalReporter reporter(io.out, io.outIsTty, clock, ack, io.columns);
            if (io.outIsTty && !dryRun) reporter.SetForecast(forecast.times, forecast.totalMs);
            say = [&](const std::string& text) { reporter.Note(text); };
            verdict = run(reporter);
            say = sayToTalk;
            reporter.Finish();
            verdictText = reporter.Verdict();
        }
        if (dryRun) {
            talk << WrapText("Dry run: on a real device this update would take about " +
                                 FormatDuration(simulated.NowMs()) + " (" + std::to_string(simulated.NowMs()) +
                                 " ms), not counting time spent at messages.",
                             width)
                 << "\n";
        }
        if (!events) io.out << Cp1252ToUtf8(WrapText(verdictText, width)) << "\n";
        return finish(VerdictName(verdict), ExitStatusFor(verdict));
    } catch (const RunCancelled&) {
        finish("interrupted", kExitCancelled);
        throw;
    }
}

// --- simulate --------------------------------------------------------------------------------

int Simulate(Args& args, CliIo& io) {
    std::string path, name, behaviourText, api;
    std::uint64_t timeoutMs = 0;
    while (!args.Done()) {
        std::string a = args.Take();
        if (a == "--name") {
            name = args.Value(a);
        } else if (a == "--virtual") {
            behaviourText.clear();
        } else if (a.rfind("--virtual=", 0) == 0) {
            behaviourText = a.substr(std::strlen("--virtual="));
        } else if (a == "--timeout") {
            auto seconds = ParseUnsigned(args.Value(a), 4000000ul);
            if (!seconds || *seconds == 0) Usage("--timeout takes a whole number of seconds, at least 1");
            timeoutMs = static_cast<std::uint64_t>(*seconds) * 1000u;
        } else if (a == "--api") {
            api = CheckedApi(args.Value(a));
        } else if (a.size() > 1 && a[0] == '-') {
            Usage("unknown option for simulate: " + a);
        } else if (path.empty()) {
            path = a;
        } else {
            Usage("simulate takes one file");
        }
    }
    DeviceBehaviour behaviour;
    try {
        behaviour = ParseDeviceBehaviour(behaviourText);
    } catch (const std::invalid_argument& e) {
        Usage(std::string("--virtual: ") + e.what());
    }
    args.Ready(path.empty() ? std::vector<std::string>{} : std::vector<std::string>{path});
    std::unique_ptr<Update> update;
    if (!path.empty()) {
        update = LoadUpdate(path, io);
        if (!update) return kExitFailed;
    }
    if (name.empty()) {
        // Named as the updater will look for it.
        const std::set<std::string> names =
            update ? PortNamesFor(*update, CurrentHostPlatform()) : std::set<std::string>{};
        if (!names.empty() && !names.begin()->empty())
            name = *names.begin();
        else if (update && !update->isRawSysEx && !update->productName.empty())
            name = update->productName;
        else
            name = "SysEx Device";
    }
#if defined(MIDIUPDATE_HAVE_RTMIDI)
    std::unique_ptr<MidiConnection> connection;
    try {
        // The device's own client name: its ports show as the device's, never as this program's.
        connection = OpenRtMidiConnection(api, name);
    } catch (const std::exception& e) {
        io.err << "midiupdate: no MIDI system available: " << e.what() << "\n";
        return kExitFailed;
    }
    std::unique_ptr<SimulatedDevice> device =
        update ? MakeFileDevice(*update, update->winPort, behaviour) : MakeAnySysExDevice(behaviour);
    DeviceSimulator simulator(*connection, *device, name);
    // What arrives, while it arrives: on a terminal one line redrawn in place, otherwise a line
    // for each step of the update.
    std::string shownLine, shownStep = device->StepLine();
    simulator.OnArrival([&](const SimulatedDevice& seen) {
        if (io.outIsTty) {
            const std::string line = seen.ArrivedLine();
            if (line == shownLine) return;
            shownLine = line;
            const std::size_t width = io.columns ? io.columns() : 80;
            io.out << "\r" << CutAtWord(line, width > 1 ? width - 1 : 1) << "\x1b[K" << std::flush;
        } else {
            const std::string step = seen.StepLine();
            if (step == shownStep) return;
            shownStep = step;
            io.out << step << "\n" << std::flush;
        }
    });
    io.out << "Simulating '" << name << "' on " << MidiApiShortName(*connection)
           << (update ? ", checking what arrives against '" + path + "'" : std::string(", taking any SysEx"))
           << "; Ctrl-C stops.\n"
           << std::flush;
    if (!simulator.Run(timeoutMs)) {
        io.err << "midiupdate: could not open the virtual MIDI ports '" << name << "'\n";
        return kExitFailed;
    }
    if (!shownLine.empty()) io.out << "\n";
    io.out << device->Report();
    io.out << "Messages: " << simulator.MessagesIn() << " in, " << simulator.MessagesOut() << " out\n";
    return device->Satisfied() ? kExitOk : kExitFailed;
#else
    (void)timeoutMs;
    io.err << "midiupdate: no MIDI system available: this program was built without RtMidi\n";
    return kExitFailed;
#endif
}

}  // namespace

int RunCli(const std::vector<std::string>& argv, CliIo& io) {
    // The options that every command takes may stand anywhere.
    Args args;
    std::string command;
    std::string logPath;
    bool verbose = false;
    try {
        for (std::size_t i = 0; i < argv.size(); ++i) {
            if (argv[i] == "--log") {
                if (i + 1 >= argv.size()) Usage("--log needs a file");
                logPath = argv[++i];
            } else if (argv[i] == "--verbose" || argv[i] == "-v") {
                verbose = true;
            } else {
                args.items.push_back(argv[i]);
            }
        }
        if (args.Done()) Usage("no command given");
        command = args.Take();
        if (command == "--help" || command == "-h") {
            io.out << CommandHelp("");
            return kExitOk;
        }
        if (command == "help") {
            const std::string topic = args.Done() ? std::string() : args.Take();
            command = "help";
            if (!args.Done()) Usage("help takes one command name");
            const std::string text = CommandHelp(topic);
            if (text.empty()) Usage("no such command: " + topic);
            io.out << text;
            return kExitOk;
        }
        if (command == "--version" || command == "-V") {
            io.out << "midiupdate " << MIDIUPDATE_VERSION << "\n";
            return kExitOk;
        }
        for (const std::string& a : args.items)
            if (a == "--help" || a == "-h") {
                const std::string text = CommandHelp(command);
                if (text.empty()) break;  // an unknown command is reported below
                io.out << text;
                return kExitOk;
            }
        LogRouting routing(logPath, verbose);
        args.log = &routing;
        try {
            if (command == "info") return Info(args, io);
            if (command == "pack") return Pack(args, io);
            if (command == "unpack") return Unpack(args, io);
            if (command == "send") return Send(args, io);
            if (command == "ports" || command == "list") return Ports(args, io);
            if (command == "simulate") return Simulate(args, io);
        } catch (const RunCancelled&) {
            io.out.flush();
            io.err << "\nmidiupdate: interrupted; the update was stopped and the port closed.\n";
            return kExitCancelled;
        }
        const std::string unknown = command;
        command.clear();  // show every command's usage
        Usage("unknown command: " + unknown);
    } catch (const UsageError& e) {
        // The one thing that was wrong, and where the command's usage is.
        io.err << "midiupdate: " << e.text << "\n";
        if (!CommandHelp(command).empty() && command != "help")
            io.err << "See 'midiupdate help " << command << "' for its options.\n";
        else
            io.err << "See 'midiupdate help' for the commands.\n";
        return kExitUsage;
    } catch (const std::exception& e) {
        // Reaching here has unwound the command, closing any port it had open.
        io.err << "midiupdate: " << e.what() << "\n";
        return kExitFailed;
    } catch (...) {
        io.err << "midiupdate: the command failed for an unknown reason\n";
        return kExitFailed;
    }
}
