#include "Cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>

#include "Clock.h"
#include "HostPlatform.h"
#if defined(MIDIUPDATE_HAVE_RTMIDI)
#include "DeviceSimulator.h"
#include "RtMidiConnection.h"
#endif
#include "Json.h"
#include "Log.h"
#include "MidiSystem.h"
#include "Reporters.h"
#include "SysExSender.h"
#include "Update.h"
#include "VirtualDevice.h"

#ifndef MIDIUPDATE_VERSION
#define MIDIUPDATE_VERSION "0.0.0"
#endif

namespace {

const char* const kUsage =
    "usage: midiupdate info [--json] FILE\n"
    "       midiupdate pack -o OUT.upd --product NAME --version MAJOR.MINOR [--message TEXT]\n"
    "                  [--image FILE] [--port-settings TEXT]... [--mac-names TEXT]\n"
    "                  --portion FILE.syx[@DELAY_MS]...\n"
    "       midiupdate send FILE [--port NAME | --virtual[=BEHAVIOUR] | --dry-run] [--yes] [--events]\n"
    "       midiupdate ports\n"
    "       midiupdate simulate [FILE] [--name NAME] [--virtual=BEHAVIOUR] [--timeout SECONDS]\n"
    "MIDI system (ports, send, simulate): [--api alsa|jack|coremidi]\n"
    "       midiupdate --help | --version\n"
    "options for every command: [--log FILE] [--verbose]\n";

const char* const kHelp =
    "midiupdate: inspect, author and send MIDI firmware update files.\n"
    "\n"
    "  info FILE            describe an update file (.upd) or raw SysEx file (.syx);\n"
    "                       --json prints one JSON object\n"
    "  pack -o OUT ...      write an update file from SysEx portion files; in --message,\n"
    "                       backslash-n (or a real line break) starts a new line\n"
    "  send FILE ...        run the update: send every portion, wait for the device's\n"
    "                       status and print the verdict\n"
    "  ports                list the MIDI output and input ports as the port search sees them\n"
    "  simulate [FILE]      play a device in update mode on virtual MIDI ports, check every\n"
    "                       byte it receives against FILE (any SysEx without one) and print\n"
    "                       what arrived; stops on Ctrl-C or after --timeout SECONDS\n"
    "\n"
    "send options:\n"
    "  --port NAME          send to the port of this name instead of the ones the file names\n"
    "                       (a raw SysEx file without it asks for a port on a terminal)\n"
    "  --virtual[=B]        use the built-in virtual device; B is a comma-separated list of\n"
    "                       status=accept|fail|none|install:N, identity=MAJOR.MINOR|none,\n"
    "                       offline=MS\n"
    "  --dry-run            run against the virtual device on a simulated clock: finishes at\n"
    "                       once and tells how long the real update would take\n"
    "  --yes                do not wait for Enter at messages that ask for it\n"
    "  --events             print one JSON object per line for every report\n"
    "\n"
    "simulate options:\n"
    "  --name NAME          the name of the device's ports (default: the file's first port name)\n"
    "  --virtual=B          how the device answers, as for send --virtual\n"
    "  --timeout SECONDS    stop after this long (default: run until Ctrl-C)\n"
    "\n"
    "  --api NAME           the MIDI system to use: alsa, jack or coremidi (default: the first\n"
    "                       one available; on Linux the ALSA sequencer, else a running JACK server)\n"
    "  --log FILE           write the diagnostic log to FILE\n"
    "  --verbose            write the diagnostic log to standard error\n"
    "\n"
    "exit status: 0 confirmed success, 1 failure, 2 bad command line,\n"
    "             3 sent but not confirmed by the device, 130 interrupted\n";

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

class LogRouting {
public:
    LogRouting(const std::string& path, bool verbose) {
        if (!path.empty()) {
            file = std::fopen(path.c_str(), "w");
            if (!file) Usage("cannot write the log file '" + path + "': " + std::strerror(errno));
            SetLogSink(&FileSink, file);
        } else if (verbose) {
            SetLogSink(&FileSink, stderr);
        }
    }
    ~LogRouting() {
        SetLogSink(nullptr, nullptr);
        if (file) std::fclose(file);
    }
    LogRouting(const LogRouting&) = delete;
    LogRouting& operator=(const LogRouting&) = delete;

private:
    std::FILE* file = nullptr;
};

// The command line after the command word, with the options every command takes removed.
struct Args {
    std::vector<std::string> items;
    std::size_t next = 0;
    bool Done() const { return next >= items.size(); }
    const std::string& Peek() const { return items[next]; }
    std::string Take() { return items[next++]; }
    std::string Value(const std::string& option) {
        if (Done()) Usage(option + " needs a value");
        return Take();
    }
};

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open '" + path + "': " + std::strerror(errno);
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (file.bad()) {
        error = "cannot read '" + path + "'";
        return false;
    }
    return true;
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
    std::ifstream file(path, std::ios::binary);
    int openError = file ? 0 : errno;
    try {
        // A file that cannot be opened is handed over all the same: it fails as a bad header.
        return std::make_unique<Update>(file);
    } catch (const std::exception& e) {
        io.err << "midiupdate: could not load '" << path << "'";
        if (openError) io.err << " (" << std::strerror(openError) << ")";
        io.err << ":\n" << e.what() << "\n";
        return nullptr;
    }
}

// --- info ------------------------------------------------------------------------------------

void PrintIndented(std::ostream& out, const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) out << "    " << line << "\n";
}

void PrintInfo(const Update& u, const std::string& path, std::ostream& out) {
    const PortSettings& port = u.winPort;
    out << "File:        " << path << "\n";
    out << "Kind:        " << (u.isRawSysEx ? "raw SysEx file" : "update file") << "\n";
    out << "Product:     " << u.productName << "\n";
    out << "Version:     " << VersionText(u.version)
        << (u.version.major == 0 && u.version.minor == 0 ? " (none stated)" : "") << "\n";
    out << "Message:" << (u.message.empty() ? "     (none)" : "") << "\n";
    PrintIndented(out, u.message);
    out << "Image:       " << u.image.size() << " bytes\n";
    out << "Port names:  ";
    if (port.names.empty()) out << "(none; the port is chosen by hand)";
    bool first = true;
    for (const std::string& name : port.names) {
        out << (first ? "" : ", ") << "\"" << name << "\"";
        first = false;
    }
    out << "\n";
    out << "Pacing:      ideal " << port.ideal << ", max " << port.max << " bytes; delay " << port.delay
        << " ms, unprep delay " << port.unprepDelay << " ms; chunks " << (port.chunks ? "framed" : "as cut")
        << "\n";
    out << "Portions:    " << u.portions.size() << "\n";
    for (std::size_t i = 0; i < u.portions.size(); ++i) {
        const SysExPortion& p = u.portions[i];
        out << "    #" << (i + 1) << "  " << p.data.size() << " bytes ("
            << FormatByteSize(static_cast<std::uint32_t>(p.data.size())) << "), pause " << p.delay << " ms\n";
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
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    const std::string data = bytes.str();
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) {
        io.err << "midiupdate: cannot write '" << outPath << "'\n";
        return kExitFailed;
    }
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
std::optional<std::string> ChoosePort(MidiSystem& system, CliIo& io) {
    if (!io.inIsTty) {
        io.err << "midiupdate: a raw SysEx file names no MIDI port and there is no terminal to ask on:\n"
                  "give the output port with --port NAME (see midiupdate ports)\n";
        return std::nullopt;
    }
    const std::vector<MidiPortEntry> outputs = system.OutputPorts();
    if (outputs.empty()) {
        io.err << "midiupdate: there is no MIDI output port to send to.\nUpdate canceled\n";
        return std::nullopt;
    }
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

int Send(Args& args, CliIo& io) {
    std::string path;
    bool haveVirtual = false, dryRun = false, yes = false, events = false;
    std::string behaviourText;
    std::optional<std::string> portName;
    std::string api;
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

    std::unique_ptr<Update> update = LoadUpdate(path, io);
    if (!update) return kExitFailed;

    // A real run: the platform's MIDI system and the port that the file's names (or the user's
    // choice) pick out.
    std::unique_ptr<MidiSystem> system;
    std::unique_ptr<MidiPort> realPort;
    if (!haveVirtual && !dryRun) {
        std::string error;
        system = OpenMidiSystem(io, api, error);
        if (!system) {
            io.err << "midiupdate: " << error << "\n";
            return kExitFailed;
        }
        if (!portName && update->isRawSysEx) {
            portName = ChoosePort(*system, io);
            if (!portName) return kExitFailed;
        }
        // As the choice in the program's dialog does: the chosen name is the only name looked for.
        if (portName && !portName->empty())
            update->winPort.names = {*portName};
        else
            update->winPort.names = PortNamesFor(*update, CurrentHostPlatform());
        realPort = system->MakePort(update->winPort);
    }
    auto run = [&](UpdateProgress& progress) {
        if (!realPort) return RunAgainstVirtualDevice(*update, behaviour, progress);
        SimpleSysExSender sender(*realPort);
        return sender.Send(*update, progress);
    };

    SimulatedClock simulated;
    std::optional<ScopedClock> useSimulated;
    if (dryRun) useSimulated.emplace(simulated);
    Clock& clock = CurrentClock();

    // Where a person answers: only a real run with a person at the keyboard waits.
    Acknowledger ack;
    if (!yes && !dryRun) {
        ack.in = &io.in;
        ack.prompt = events ? &io.err : &io.out;
    }

    UpdateVerdict verdict;
    std::string verdictText;
    if (events) {
        EventsReporter reporter(io.out, clock, ack);
        verdict = run(reporter);
    } else {
        TerminalReporter reporter(io.out, io.outIsTty, clock, ack);
        if (io.outIsTty && !dryRun) {
            Forecast forecast = ForecastRun(*update, behaviour);
            reporter.SetForecast(forecast.times, forecast.totalMs);
        }
        verdict = run(reporter);
        reporter.Finish();
        verdictText = reporter.Verdict();
    }
    if (dryRun) {
        std::ostream& note = events ? io.err : io.out;
        note << "Dry run: on a real device this update would take about " << FormatDuration(simulated.NowMs())
             << " (" << simulated.NowMs() << " ms), not counting time spent at messages.\n";
    }
    if (!events) io.out << verdictText << "\n";
    return ExitStatusFor(verdict);
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
    io.out << "Simulating '" << name << "' on " << MidiApiShortName(*connection)
           << (update ? ", checking what arrives against '" + path + "'" : std::string(", taking any SysEx"))
           << "; Ctrl-C stops.\n"
           << std::flush;
    if (!simulator.Run(timeoutMs)) {
        io.err << "midiupdate: could not open the virtual MIDI ports '" << name << "'\n";
        return kExitFailed;
    }
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
        std::string command = args.Take();
        if (command == "--help" || command == "-h" || command == "help") {
            io.out << kHelp << "\n" << kUsage;
            return kExitOk;
        }
        if (command == "--version") {
            io.out << "midiupdate " << MIDIUPDATE_VERSION << "\n";
            return kExitOk;
        }
        for (const std::string& a : args.items)
            if (a == "--help" || a == "-h") {
                io.out << kUsage;
                return kExitOk;
            }
        LogRouting routing(logPath, verbose);
        try {
            if (command == "info") return Info(args, io);
            if (command == "pack") return Pack(args, io);
            if (command == "send") return Send(args, io);
            if (command == "ports") return Ports(args, io);
            if (command == "simulate") return Simulate(args, io);
        } catch (const RunCancelled&) {
            io.out.flush();
            io.err << "\nmidiupdate: interrupted; the update was stopped and the port closed.\n";
            return kExitCancelled;
        }
        Usage("unknown command: " + command);
    } catch (const UsageError& e) {
        io.err << "midiupdate: " << e.text << "\n" << kUsage;
        return kExitUsage;
    }
}
