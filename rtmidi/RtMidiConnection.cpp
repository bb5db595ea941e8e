#include "RtMidiConnection.h"

#include <RtMidi.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#if defined(MIDIUPDATE_JACK_PROBE)
#include <jack/jack.h>
#endif
#if defined(__LINUX_ALSA__)
#include <fcntl.h>
#include <unistd.h>
#endif

#include "Clock.h"
#include "Log.h"

namespace {

// The program's own ports carry this prefix in their client's name and are never offered.
bool IsOwnPort(const std::string& listed, const std::string& clientName) {
    return !clientName.empty() && listed.compare(0, clientName.size(), clientName) == 0;
}

class RtMidiConnection : public MidiConnection {
public:
    // Makes both clients now, so that a system that fails does so here, where it is reported.
    RtMidiConnection(RtMidi::Api api, std::string clientName) : api(api), clientName(std::move(clientName)) {
        Out();
        In();
    }
    ~RtMidiConnection() override {
        // The input's thread must be stopped before anything it calls goes.
        in.reset();
        out.reset();
    }

    std::vector<std::string> OutputNames() override {
        Out();
        return List(*out, outIndexes);
    }
    std::vector<std::string> InputNames() override {
        In();
        return List(*in, inIndexes);
    }

    bool OpenOutput(unsigned index) override {
        if (index >= outIndexes.size()) return false;
        return Guard("open the output", [&] { Out().openPort(outIndexes[index], clientName + " out"); }) &&
               out->isPortOpen();
    }
    bool OpenInput(unsigned index, MidiInputHandler& handler) override {
        if (index >= inIndexes.size()) return false;
        In();
        target.store(&handler);
        const bool ok = Guard("open the input", [&] { in->openPort(inIndexes[index], clientName + " in"); });
        return ok && in->isPortOpen();
    }
    bool OpenVirtualOutput(const std::string& name) override {
        virtualOut = Guard("open a virtual output", [&] { Out().openVirtualPort(name); });
        return virtualOut;
    }
    bool OpenVirtualInput(const std::string& name, MidiInputHandler& handler) override {
        In();
        target.store(&handler);
        virtualIn = Guard("open a virtual input", [&] { in->openVirtualPort(name); });
        return virtualIn;
    }
    // A virtual port goes with its client (closing it would leave it listed on some systems), so
    // that the device really vanishes; the client is made again when it comes back.
    void CloseOutput() override {
        if (virtualOut) {
            out.reset();
            virtualOut = false;
        } else if (out && out->isPortOpen()) {
            Guard("close the output", [&] { out->closePort(); });
        }
    }
    void CloseInput() override {
        if (virtualIn) {
            in.reset();
            virtualIn = false;
        } else if (in && in->isPortOpen()) {
            Guard("close the input", [&] { in->closePort(); });
        }
    }
    bool OutputOpen() const override { return virtualOut || (out && out->isPortOpen()); }
    bool InputOpen() const override { return virtualIn || (in && in->isPortOpen()); }

    bool SendMessage(const std::uint8_t* data, std::size_t length) override {
        if (!OutputOpen()) return false;
        failed.store(false);
        const bool ok = Guard("send", [&] { out->sendMessage(data, length); });
        return ok && !failed.load();
    }

    TransportLimits Limits() const override { return MidiSystemLimits(MidiApiShortName(*this)); }

    std::string ApiName() const override { return RtMidi::getApiName(api); }

private:
    template <typename Action>
    bool Guard(const char* what, Action action) {
        try {
            action();
            return true;
        } catch (const RtMidiError& e) {
            LogMessage("RtMidiConnection: cannot %s: %s\n", what, e.what());
            return false;
        }
    }

    RtMidiOut& Out() {
        if (!out) {
            out = std::make_unique<RtMidiOut>(api, clientName);
            out->setErrorCallback(&RtMidiConnection::OnOutputError, this);
        }
        return *out;
    }
    RtMidiIn& In() {
        if (!in) {
            in = std::make_unique<RtMidiIn>(api, clientName);
            in->setErrorCallback(&RtMidiConnection::OnInputError, this);
            // SysEx in; timing clock and active sensing out.
            in->ignoreTypes(false, true, true);
            in->setCallback(&RtMidiConnection::OnInput, this);
        }
        return *in;
    }

    std::vector<std::string> List(RtMidi& midi, std::vector<unsigned>& indexes) {
        std::vector<std::string> names;
        indexes.clear();
        Guard("list ports", [&] {
            const unsigned count = midi.getPortCount();
            for (unsigned i = 0; i < count; ++i) {
                std::string name = midi.getPortName(i);
                if (name.empty() || IsOwnPort(name, clientName)) continue;
                names.push_back(std::move(name));
                indexes.push_back(i);
            }
        });
        return names;
    }

    static void OnInput(double, std::vector<unsigned char>* message, void* context) {
        RtMidiConnection* self = static_cast<RtMidiConnection*>(context);
        MidiInputHandler* handler = self->target.load();
        if (handler && message && !message->empty()) handler->OnMidiInput(message->data(), message->size());
    }

    // A warning on the output side while a message is handed over means it did not go out; the
    // input side's warnings only go to the log.
    static void OnOutputError(RtMidiError::Type type, const std::string& text, void* context) {
        RtMidiConnection* self = static_cast<RtMidiConnection*>(context);
        if (type != RtMidiError::DEBUG_WARNING) self->failed.store(true);
        LogMessage("RtMidiConnection: %s\n", text.c_str());
    }
    static void OnInputError(RtMidiError::Type, const std::string& text, void*) {
        LogMessage("RtMidiConnection: %s\n", text.c_str());
    }

    RtMidi::Api api;
    std::string clientName;
    std::unique_ptr<RtMidiOut> out;
    std::unique_ptr<RtMidiIn> in;
    std::vector<unsigned> outIndexes, inIndexes;
    std::atomic<MidiInputHandler*> target{nullptr};
    std::atomic<bool> failed{false};
    bool virtualOut = false;
    bool virtualIn = false;
};

#if defined(MIDIUPDATE_JACK_PROBE)
void QuietJack(const char*) {}

// Whether a JACK server is running (the one JACK_DEFAULT_SERVER names, if set); never starts one.
// A running server may refuse a client for a moment: once, on a loaded machine with a second JACK
// server starting and stopping beside it, a send was told there was none while its device was on
// that server. So a refusal is asked again twice before the answer is no; a server that is not
// there costs half a second more to report.
bool JackRunning(std::string& why) {
    jack_set_error_function(&QuietJack);
    jack_set_info_function(&QuietJack);
    constexpr int kAttempts = 3;
    for (int attempt = 1;; ++attempt) {
        jack_status_t status{};
        jack_client_t* client = jack_client_open("midiupdate-probe", JackNoStartServer, &status);
        if (client) {
            jack_client_close(client);
            return true;
        }
        LogMessage("JACK: no client (status 0x%x), attempt %d of %d\n", static_cast<unsigned>(status), attempt,
                   kAttempts);
        if (attempt == kAttempts) break;
        SleepMs(250);
    }
    why = "no JACK server is running";
    return false;
}
#endif

#if defined(__LINUX_ALSA__)
bool AlsaSequencerPresent(std::string& why) {
    const int fd = ::open("/dev/snd/seq", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        why = std::string("no ALSA sequencer (/dev/snd/seq: ") + std::strerror(errno) + ")";
        return false;
    }
    ::close(fd);
    return true;
}
#endif

struct ApiName {
    const char* name;
    RtMidi::Api api;
};
const ApiName kApis[] = {{"alsa", RtMidi::LINUX_ALSA}, {"jack", RtMidi::UNIX_JACK}, {"coremidi", RtMidi::MACOSX_CORE}};

bool Compiled(RtMidi::Api api) {
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    for (RtMidi::Api a : apis)
        if (a == api) return true;
    return false;
}

bool Available(RtMidi::Api api, std::string& why) {
    switch (api) {
#if defined(__LINUX_ALSA__)
        case RtMidi::LINUX_ALSA: return AlsaSequencerPresent(why);
#endif
#if defined(MIDIUPDATE_JACK_PROBE)
        case RtMidi::UNIX_JACK: return JackRunning(why);
#else
        case RtMidi::UNIX_JACK: return true;
#endif
        case RtMidi::MACOSX_CORE: return true;
        default: why = std::string(RtMidi::getApiDisplayName(api)) + " is not built in"; return false;
    }
}

}  // namespace

std::string MidiApiShortName(const MidiConnection& connection) {
    const std::string rtName = connection.ApiName();
    for (const ApiName& a : kApis)
        if (rtName == RtMidi::getApiName(a.api)) return a.name;
    return rtName;
}

std::vector<std::string> CompiledMidiApis() {
    std::vector<std::string> names;
    for (const ApiName& a : kApis)
        if (Compiled(a.api)) names.push_back(a.name);
    return names;
}

std::unique_ptr<MidiConnection> OpenRtMidiConnection(const std::string& api, const std::string& clientName) {
    std::vector<RtMidi::Api> candidates;
    if (api.empty()) {
        for (const ApiName& a : kApis)
            if (Compiled(a.api)) candidates.push_back(a.api);
    } else {
        for (const ApiName& a : kApis)
            if (api == a.name) candidates.push_back(a.api);
        if (candidates.empty()) throw std::invalid_argument("unknown MIDI system '" + api + "': use alsa, jack or coremidi");
        if (!Compiled(candidates[0])) throw MidiSystemUnavailable(api + " is not built into this program");
    }
    std::string reasons;
    for (RtMidi::Api candidate : candidates) {
        std::string why;
        if (Available(candidate, why)) {
            try {
                return std::make_unique<RtMidiConnection>(candidate, clientName);
            } catch (const RtMidiError& e) {
                why = e.what();
            }
        }
        reasons += (reasons.empty() ? "" : "; ") + why;
    }
    throw MidiSystemUnavailable(reasons.empty() ? std::string("none is built in") : reasons);
}
