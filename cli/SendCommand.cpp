// The send command: its options, the plan of where the update goes, the preview and the
// confirmation, and the run with the reporter of the output's kind.

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include "Clock.h"
#include "Commands.h"
#include "FileOutput.h"
#include "HostPlatform.h"
#include "Log.h"
#include "LookingPort.h"
#include "Reporters.h"
#include "SysExSender.h"
#include "TextEncoding.h"
#include "UpdateForecast.h"
#include "UpdateSession.h"
#include "VisibleText.h"

namespace cli {

namespace {


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

// How the MIDI system named `api` paces what it carries (null: not known).
std::unique_ptr<TransportPacing> PacingOf(CliIo& io, const std::string& api) {
    return io.transportPacing ? io.transportPacing(api) : PlatformTransportPacing(api);
}

// A raw SysEx file names no port: the person at the terminal picks one of the output ports, all
// of them listed as the system lists them. Nothing chosen cancels the update.
// Without one, `status` says why: no terminal to ask on, no port to offer, or none chosen.
std::optional<std::string> PromptForPort(MidiSystem& system, CliIo& io, int& status) {
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
    for (std::size_t i = 0; i < outputs.size(); ++i)
        io.out << "  " << (i + 1) << ") " << VisibleSystemText(outputs[i].name) << "\n";
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
        if (chunks) {
            settings.chunks = *chunks;
            // Framing asks for the update file's rules whole: a raw file's chunks then end at
            // line feeds too, as a device made for those rules expects.
            if (*chunks) settings.wholeMessages = false;
        }
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

// Bytes at the end of `data` from its last F0 on, when no F7 follows it; 0 otherwise.
std::size_t UnterminatedTail(const std::vector<std::uint8_t>& data) {
    for (std::size_t i = data.size(); i-- > 0;) {
        if (data[i] == 0xF7) return 0;
        if (data[i] == 0xF0) return data.size() - i;
    }
    return 0;
}

// What is about to happen, before anything is sent: the counterpart of the program's
// confirmation dialog.
// `width`: the terminal's columns, to wrap the file's message at; 0 off a terminal. `lowerBound`:
// the pacing of the MIDI system that will carry the update is not in the estimate.
// `ports`: the lines naming the output and input a run would open now, where they are known.
// `p`: the settings the run's port is made with (the file's, with the command line's changes).
void PrintSendPreview(const Update& u, const PortSettings& p, const std::string& target, const std::string& ports,
                      std::uint64_t estimateMs, bool lowerBound, std::size_t width, std::ostream& out) {
    const std::uint32_t total = TotalSysExSize(u);
    out << "Product:     " << VisibleText(Cp1252ToUtf8(u.productName)) << "\n";
    out << "Version:     " << VersionText(u.version)
        << (u.version.major == 0 && u.version.minor == 0 ? " (none stated)" : "") << "\n";
    if (!u.message.empty()) {
        out << "Message:\n";
        PrintIndented(out, VisibleText(Cp1252ToUtf8(WrapText(u.message, width > 8 ? width - 4 : 0)), true));
    }
    out << "Send to:     " << target << "\n";
    out << ports;
    out << "Portions:    " << u.portions.size() << ", " << total << " bytes (" << FormatByteSize(total)
        << ") in all\n";
    // The pacing in effect, overrides included.
    out << "Pacing:      " << PacingText(u, p) << "\n";
    if (lowerBound)
        out << "Duration:    at least " << FormatDuration(estimateMs)
            << ", not counting time spent at messages or the MIDI system's own pacing\n";
    else
        out << "Duration:    about " << FormatDuration(estimateMs) << ", not counting time spent at messages\n";
    if (p.max >= 0 && p.ideal > 0 && p.max < p.ideal)
        out << "Warning:     max (" << p.max << " bytes) is below ideal (" << p.ideal
            << " bytes): no chunk grows to end at a message end\n";
    constexpr std::int64_t kHourMs = 60 * 60 * 1000;
    if (p.delay > kHourMs || p.unprepDelay > kHourMs)
        out << "Warning:     a pause of more than an hour after each chunk (delay " << p.delay
            << " ms, unprep delay " << p.unprepDelay << " ms)\n";
    // Unframed, a last message without its F7 goes out as it stands, and a MIDI system that passes on
    // only whole messages (the ALSA sequencer, CoreMIDI) cannot send it: the run counts it as not sent.
    if (!p.chunks) {
        for (std::size_t i = 0; i < u.portions.size(); ++i) {
            const std::size_t tail = UnterminatedTail(u.portions[i].data);
            if (tail != 0)
                out << "Warning:     portion #" << (i + 1) << " ends inside a SysEx message (its last " << tail
                    << " bytes have no F7): most MIDI systems cannot send them, and the update then "
                       "counts as not sent in full\n";
        }
    }
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
        text += (first ? "\"" : " or \"") + VisibleText(Cp1252ToUtf8(name)) + "\"";
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

// --- options ---------------------------------------------------------------------------------

struct SendOptions {
    std::string path;
    bool virtualDevice = false, dryRun = false, yes = false, events = false;
    DeviceBehaviour behaviour;
    std::optional<std::string> portName;
    std::string api;
    PacingOverrides pacing;
};

SendOptions ParseSendOptions(Args& args) {
    SendOptions o;
    std::string behaviourText;
    while (!args.Done()) {
        std::string a = args.Take();
        if (a == "--port") {
            o.portName = args.Value(a);
        } else if (a == "--api") {
            o.api = CheckedApi(args.Value(a));
        } else if (a == "--virtual") {
            o.virtualDevice = true;
        } else if (a.rfind("--virtual=", 0) == 0) {
            o.virtualDevice = true;
            behaviourText = a.substr(std::strlen("--virtual="));
        } else if (a == "--dry-run") {
            o.dryRun = true;
        } else if (a == "--yes" || a == "-y") {
            o.yes = true;
        } else if (a == "--events") {
            o.events = true;
        } else if (a == "--ideal") {
            o.pacing.ideal = ParsePacingNumber(a, args.Value(a), false);
            if (*o.pacing.ideal == 0) Usage("--ideal must be at least 1: a chunk holds at least one byte");
        } else if (a == "--max") {
            o.pacing.max = ParsePacingNumber(a, args.Value(a), false);
        } else if (a == "--delay") {
            o.pacing.delay = ParsePacingNumber(a, args.Value(a), false);
        } else if (a == "--unprep-delay") {
            o.pacing.unprepDelay = ParsePacingNumber(a, args.Value(a), false);
        } else if (a == "--chunks") {
            const std::string value = args.Value(a);
            if (value != "yes" && value != "no") Usage("--chunks takes yes or no, not '" + value + "'");
            o.pacing.chunks = value == "yes";
        } else if (a.size() > 1 && a[0] == '-') {
            Usage("unknown option for send: " + a);
        } else if (o.path.empty()) {
            o.path = a;
        } else {
            Usage("send takes one file");
        }
    }
    if (o.path.empty()) Usage("send needs a file");
    if (o.portName && (o.virtualDevice || o.dryRun))
        Usage("--port sends to a real port: leave out --virtual and --dry-run");
    try {
        o.behaviour = ParseDeviceBehaviour(behaviourText);
    } catch (const std::invalid_argument& e) {
        Usage(std::string("--virtual: ") + e.what());
    }
    args.Ready({o.path});
    return o;
}

// --- plan ------------------------------------------------------------------------------------

// How a send ends before anything is sent: its --events verdict and its exit status.
struct Stop {
    const char* verdict;
    int status;
};

// Where the update goes: the built-in virtual device, or a real port of the platform's system.
struct SendPlan {
    std::unique_ptr<MidiSystem> system;  // empty for the virtual device
    std::string pickedPort;              // the output port named or chosen for this run, if any
    std::string target = "the built-in virtual device";
};

// The output a run would open now and the input the device's answers would come in on, as the
// system lists the ports now, for the preview. Nothing while the output itself is not there (or
// the system cannot tell): the run then waits for it.
std::string PortLines(MidiSystem& system, const UpdateSession& session) {
    const MidiPortPair ports = session.PortsNow(system);
    if (ports.output.empty()) return "";
    const std::string output = "\"" + VisibleSystemText(ports.output) + "\"";
    return "Output:      the output port " + output + "\n" + "Answers on:  " +
           (ports.input.empty() ? "no input port of " + output + " is listed; its answers may go unheard"
                                : "the input port \"" + VisibleSystemText(ports.input) + "\"") +
           "\n";
}

// A real run: the platform's MIDI system, and the port the user named or chose, if any.
std::optional<Stop> PlanRealSend(const SendOptions& options, const Update& update, CliIo& io, SendPlan& plan) {
    std::string error;
    plan.system = OpenMidiSystem(io, options.api, error);
    if (!plan.system) {
        io.err << "midiupdate: " << VisibleText(error) << "\n";
        return Stop{"no_midi_system", kExitFailed};
    }
    MidiSystem& system = *plan.system;
    std::optional<std::string> portName = options.portName;
    // A number, as ports prints it, stands for that output port's name.
    if (portName && !portName->empty()) {
        const std::string digits = (*portName)[0] == '#' ? portName->substr(1) : *portName;
        if (const std::optional<unsigned long> number = ParseUnsigned(digits, 0x7FFFFFFFul)) {
            const std::vector<MidiPortEntry> outputs = system.OutputPorts();
            const auto listed = std::find_if(outputs.begin(), outputs.end(), [&](const MidiPortEntry& p) {
                return p.id == static_cast<int>(*number);
            });
            if (listed == outputs.end()) {
                io.err << "midiupdate: there is no output port #" << *number << " (" << system.Name()
                       << "); midiupdate ports lists them\n";
                return Stop{"no_port", kExitFailed};
            }
            portName = listed->name;
        }
    }
    if (!portName && update.isRawSysEx) {
        int status = kExitFailed;
        portName = PromptForPort(system, io, status);
        if (!portName) return Stop{status == kExitUsage ? "refused" : "canceled", status};
    }
    if (portName) plan.pickedPort = *portName;
    // A name picked by hand is the system's (or the command line's), not the file's text.
    plan.target = (!plan.pickedPort.empty()
                       ? "a MIDI port named \"" + VisibleSystemText(plan.pickedPort) + "\""
                       : PortNamesText(PortNamesFor(update, CurrentHostPlatform()))) +
                  " (" + system.Name() + ")";
    return std::nullopt;
}

}  // namespace

// --- run -------------------------------------------------------------------------------------

int Send(Args& args, CliIo& io) {
    const SendOptions options = ParseSendOptions(args);

    // From here on the command line was good: with --events every way out ends in a verdict line.
    SimulatedClock simulated;
    std::optional<ScopedClock> useSimulated;
    if (options.dryRun) useSimulated.emplace(simulated);
    Clock& clock = CurrentClock();
    Acknowledger ack;
    if (!options.yes && !options.dryRun) {
        ack.in = &io.in;
        ack.prompt = options.events ? &io.err : &io.out;
    }
    std::optional<EventsReporter> eventsReporter;
    if (options.events) eventsReporter.emplace(io.out, clock, ack);
    const auto finish = [&](const char* verdict, int status) {
        if (eventsReporter) eventsReporter->Verdict(verdict, status);
        return status;
    };
    // The person reads the preview and answers on the terminal; JSON lines stay alone on stdout.
    std::ostream& talk = options.events ? io.err : io.out;
    // Notes during the run go through the terminal's reporter, which keeps its bar below them.
    const std::function<void(const std::string&)> sayToTalk = [&](const std::string& text) {
        talk << text << std::flush;
    };
    std::function<void(const std::string&)> say = sayToTalk;

    std::unique_ptr<const Update> update = LoadUpdate(options.path, io);
    if (!update) return finish("not_loaded", kExitFailed);

    try {
        SendPlan plan;
        if (!options.virtualDevice && !options.dryRun) {
            if (const std::optional<Stop> stop = PlanRealSend(options, *update, io, plan))
                return finish(stop->verdict, stop->status);
        }
        // The names the port looks for (a port picked by hand alone, as the program's dialog
        // does, so that the answers are heard on that output's own input), and the pacing with
        // the command line's changes; the loaded file stays as it was.
        PortSettings settings = RunPortSettings(*update, CurrentHostPlatform(), plan.pickedPort);
        options.pacing.ApplyTo(settings);
        UpdateSession session(*update, settings);

        // What the MIDI system between adds to the port's pacing, in every forecast of a run that
        // goes through one: the system a real send opened, or for a dry run the one --api names
        // (else the one a send would take). The virtual device in real time has none between.
        const bool throughMidiSystem = options.dryRun || plan.system;
        const std::string pacedApi = plan.system ? plan.system->Name() : options.api;
        std::unique_ptr<TransportPacing> forecastPacing = throughMidiSystem ? PacingOf(io, pacedApi) : nullptr;
        // Where that system's pacing is not known, every estimate is only a lower bound.
        const bool lowerBound = throughMidiSystem && !forecastPacing;
        const Forecast forecast = ForecastRun(*update, settings, options.behaviour, forecastPacing.get());
        // Plain text is wrapped to a terminal's width, never off one.
        const std::size_t width = io.outIsTty && !options.events ? (io.columns ? io.columns() : 80) : 0;
        PrintSendPreview(*update, settings, plan.target, plan.system ? PortLines(*plan.system, session) : "",
                         forecast.totalMs, lowerBound, width, talk);
        talk << "\n";
        // Only a real device is at risk; the virtual device and a dry run go ahead unasked.
        if (plan.system) {
            int refusal = kExitFailed;
            if (!ConfirmSend(io, options.yes, options.path == "-", talk, refusal))
                return finish(refusal == kExitUsage ? "refused" : "canceled", refusal);
            // A port that does not appear is waited for without end; after the first round of
            // checks the person learns what is looked for, what there is, and how to stop.
            MidiSystem& system = *plan.system;
            session.WrapPort([&](std::unique_ptr<MidiPort> port) -> std::unique_ptr<MidiPort> {
                return std::make_unique<LookingPort>(
                    std::move(port),
                    [&] {
                        std::ostringstream text;
                        text << "midiupdate: no MIDI port matches yet; still looking for " << plan.target
                             << ", as the device may still be starting its update mode. Ctrl-C stops.\n";
                        PrintPorts("Output ports now:", system.OutputPorts(), text);
                        PrintPorts("Input ports now:", system.InputPorts(), text);
                        say(text.str());
                    },
                    [&](const std::string& output, const std::string& input) {
                        if (eventsReporter) eventsReporter->Ports(output, input);
                    });
            });
        }
        // A dry run goes through the same pacing as its forecast, afresh.
        std::unique_ptr<TransportPacing> dryRunPacing = options.dryRun ? PacingOf(io, pacedApi) : nullptr;
        auto run = [&](UpdateProgress& progress) {
            if (!plan.system)
                return RunAgainstVirtualDevice(*update, settings, options.behaviour, progress, dryRunPacing.get());
            const UpdateOutcome outcome = session.Run(*plan.system, progress);
            // What kept the run from a verdict ends the command as any failure does.
            if (!outcome.completed) throw std::runtime_error(outcome.failure);
            return outcome.verdict;
        };

        UpdateVerdict verdict;
        std::string verdictText;
        if (eventsReporter) {
            verdict = run(*eventsReporter);
        } else {
            TerminalReporter reporter(io.out, io.outIsTty, clock, ack, io.columns);
            if (io.outIsTty && !options.dryRun) reporter.SetForecast(forecast.times, forecast.totalMs);
            say = [&](const std::string& text) { reporter.Note(text); };
            verdict = run(reporter);
            say = sayToTalk;
            reporter.Finish();
            verdictText = reporter.Verdict();
        }
        if (options.dryRun) {
            const std::string took =
                FormatDuration(simulated.NowMs()) + " (" + std::to_string(simulated.NowMs()) + " ms)";
            talk << WrapText(dryRunPacing ? "Dry run: on a real device over " + dryRunPacing->Name() +
                                                " this update would take about " + took +
                                                ", not counting time spent at messages."
                                          : "Dry run: on a real device this update would take at least " + took +
                                                ", not counting time spent at messages or the pacing of the MIDI "
                                                "system that will carry it (--api names it).",
                             width)
                 << "\n";
        }
        if (!options.events) io.out << VisibleText(Cp1252ToUtf8(WrapText(verdictText, width)), true) << "\n";
        return finish(VerdictName(verdict), ExitStatusFor(verdict));
    } catch (const RunCancelled&) {
        finish("interrupted", kExitCancelled);
        throw;
    }
}

}  // namespace cli
