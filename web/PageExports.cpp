// What the page's script calls: describe a file (with the time its update will take), find the
// device's ports, offer the ports for a raw SysEx file, and run an update. Every rule of the file
// format, the names, the chunking, the pacing and the verdicts is the core's; this file only turns
// its results into JSON for the page.

#include <emscripten.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FrontEndTexts.h"
#include "HostPlatform.h"
#include "Json.h"
#include "Log.h"
#include "SysExSender.h"
#include "Update.h"
#include "UpdateForecast.h"
#include "UpdateSession.h"
#include "WebClock.h"
#include "WebMidiSystem.h"
#include "WebUpdateProgress.h"

namespace {

// The answer of the last call that returns text: the page copies it before its next call.
std::string answer;
// The picture of the last file described.
std::vector<std::uint8_t> picture;

const char* Answer(std::string text) {
    answer = std::move(text);
    return answer.c_str();
}

Update Load(const std::uint8_t* data, int length) {
    std::istringstream stream(std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length)),
                              std::ios::binary);
    return Update(stream, UpdateReaders::WithMidiFile);
}

HostPlatform Platform(int platform) {
    switch (platform) {
        case 1: return HostPlatform::MacOS;
        case 2: return HostPlatform::Windows;
        default: return HostPlatform::Linux;
    }
}

std::string JsonList(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (const std::string& text : texts) out += (out.size() > 1 ? ", " : "") + JsonText(text);
    return out + "]";
}

// The run of `update` on the chosen port, else on the file's ports for this platform.
UpdateSession Session(const Update& update, int platform, const char* chosen) {
    return UpdateSession(update, RunPortSettings(update, Platform(platform), chosen ? chosen : ""));
}

// "'Demo Synth' or 'Demo Synth MIDI 1'", or what an empty list means. A control character in a
// name shows as an escape, "\x00", as the command line shows it: the page's texts are C strings
// on their way to the failure box, and a zero byte would end the sentence there.
std::string NamesText(const std::set<std::string>& names) {
    if (names.empty()) return "any MIDI port";
    std::string out;
    std::size_t i = 0;
    for (const std::string& name : names) {
        if (i > 0) out += i + 1 == names.size() ? " or " : ", ";
        out += "'";
        for (const char c : name) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7F) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(byte));
                out += escape;
            } else {
                out += c;
            }
        }
        out += "'";
        ++i;
    }
    return out;
}

// The failure box of a port choice that picks nothing: the window's own reason.
std::string PickRefusal(const std::vector<std::string>& names, int choice) {
    try {
        PickedPortName(names, choice);
    } catch (const std::exception& e) {
        return FailureBoxText(e.what());
    }
    return "";
}

std::string FailureJson(const char* reason) {
    return "{\"ok\": false, \"failure\": " + JsonText(FailureBoxText(reason)) + ", \"reason\": " +
           JsonText(reason) + "}";
}

}  // namespace

extern "C" {

// The file as the window describes it before the run, or the loader's sentence:
//   {"ok": true, "raw", "kind" ("update", "sysex" or "midi", as `info --json` says), "title",
//    "product", "version", "productLine", "confirm", "important", "names" (the ports looked for),
//    "portions", "bytes", "pictureBytes",
//    "durationMs" (number): how long the update will take, not counting time spent at messages,
//        as `midiupdate send --dry-run` forecasts it against the virtual device; Web MIDI adds no
//        pacing of its own, so it is the command line's estimate for a run with none between;
//    "duration" (text): the same in the command line's words, "about 4h 17m"}
//   {"ok": false, "failure" (the window's failure box), "reason"}
EMSCRIPTEN_KEEPALIVE const char* mu_describe(const std::uint8_t* data, int length, int platform) {
    picture.clear();
    try {
        const Update update = Load(data, length);
        picture = update.image;
        const Forecast forecast =
            ForecastRun(update, Session(update, platform, nullptr).Settings(), DeviceBehaviour());
        std::vector<std::string> names;
        for (const std::string& name : PortNamesFor(update, Platform(platform))) names.push_back(name);
        return Answer(std::string("{\"ok\": true") +
                      ", \"raw\": " + (update.isRawSysEx ? "true" : "false") +
                      ", \"kind\": \"" + UpdateKindName(update) + "\"" +
                      ", \"title\": " + JsonText("Update " + update.productName) +
                      ", \"product\": " + JsonText(update.productName) +
                      ", \"version\": " + JsonText(VersionText(update.version)) +
                      ", \"productLine\": " + JsonText(ProductLineText(update)) +
                      ", \"confirm\": " + JsonText(ConfirmQuestionText(update)) +
                      ", \"important\": " + JsonText(update.message.empty() ? "" : ImportantMessageText(update.message)) +
                      ", \"names\": " + JsonList(names) +
                      ", \"portions\": " + std::to_string(update.portions.size()) +
                      ", \"bytes\": " + std::to_string(TotalSysExSize(update)) +
                      ", \"pictureBytes\": " + std::to_string(picture.size()) +
                      ", \"durationMs\": " + std::to_string(forecast.totalMs) +
                      ", \"duration\": " + JsonText("about " + FormatDuration(forecast.totalMs)) + "}");
    } catch (const std::exception& e) {
        return Answer(FailureJson(e.what()));
    }
}

// The picture of the file last described (its size is in the description).
EMSCRIPTEN_KEEPALIVE const std::uint8_t* mu_picture() { return picture.data(); }

// The output ports a person may pick for a raw SysEx file: every port but those that are never a
// device (a through port, a software synthesizer), which the run would pass over even if picked.
// With the window's failure texts for no port at all and for no choice.
EMSCRIPTEN_KEEPALIVE const char* mu_choices() {
    WebMidiSystem midi;
    std::vector<std::string> offered;
    for (const MidiPortEntry& port : midi.OutputPorts())
        if (!port.skipped) offered.push_back(port.name);
    return Answer("{\"ports\": " + JsonList(offered) + ", \"noPorts\": " + JsonText(PickRefusal({}, 0)) +
                  ", \"canceled\": " + JsonText(PickRefusal(offered, -1)) + "}");
}

// The window's failure box for `reason` (UTF-8 in and out).
EMSCRIPTEN_KEEPALIVE const char* mu_failure(const char* reason) {
    return Answer(FailureBoxText(reason));
}

// Which output and input the run would open now, by the programs' own rules; with no output, the
// sentence that says so.
EMSCRIPTEN_KEEPALIVE const char* mu_find_ports(const std::uint8_t* data, int length, int platform,
                                              const char* chosen) {
    try {
        const Update update = Load(data, length);
        const UpdateSession session = Session(update, platform, chosen);
        WebMidiSystem midi;
        const MidiPortPair ports = session.PortsNow(midi);
        std::string json = "{\"ok\": true, \"output\": " + JsonText(ports.output) +
                           ", \"input\": " + JsonText(ports.input);
        if (ports.output.empty()) {
            json += ", \"problem\": " +
                    JsonText("No MIDI output port matches " + NamesText(session.Settings().names) +
                             ". Connect the device (and close programs that hold its port), then try again.");
        }
        return Answer(json + "}");
    } catch (const std::exception& e) {
        return Answer(FailureJson(e.what()));
    }
}

// The whole update run, as the window's worker does it: loads the file again and runs the update
// session over the page's MIDI system, everything reported through the page. The verdict's number
// (UpdateVerdict), or -1 when the run failed, which the page has been told in a "failed" report.
EMSCRIPTEN_KEEPALIVE int mu_run(const std::uint8_t* data, int length, int platform, const char* chosen) {
    WebUpdateProgress progress;
    try {
        const Update update = Load(data, length);
        LogMessage("Product name:   %s\n", update.productName.c_str());
        LogMessage("SysEx portions: %u\n", static_cast<unsigned>(update.portions.size()));
        LogMessage("Total SysEx:    %u bytes\n", static_cast<unsigned>(TotalSysExSize(update)));
        WebMidiSystem midi;
        // What arrived is taken after each wait, and each message sent starts a new pause.
        WebClock clock([&midi] { midi.DeliverInput(); });
        midi.OnSent([&clock] { clock.Sent(); });
        ScopedClock use(clock);
        UpdateSession session = Session(update, platform, chosen);
        const UpdateOutcome outcome = session.Run(midi, progress);
        if (outcome.completed) return static_cast<int>(outcome.verdict);
        progress.Error(outcome.failure);
    } catch (const std::exception& e) {
        // The file failed to load, or the run was cancelled.
        progress.Error(e.what());
    } catch (...) {
        progress.Error("Unknown reason");
    }
    return -1;
}

}  // extern "C"
