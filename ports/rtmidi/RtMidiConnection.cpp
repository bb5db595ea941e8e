#include "RtMidiConnection.h"

#include <RtMidi.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#if defined(MIDIUPDATE_JACK_PROBE)
#include <jack/jack.h>
#endif
#if defined(__LINUX_ALSA__)
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

#include "Clock.h"
#include "Log.h"
#include "PiecePacing.h"

#if defined(__LINUX_ALSA__)
// RtMidi's ALSA input thread learns of lost input from alsa-lib and only prints a line to standard
// error: the error callback never hears of it. The kernel sets a flag when a client's input pool
// is full and an event has to be dropped, and the next read reports -ENOSPC (having thrown away
// everything still queued); RtMidi's first read after the overrun is usually the one in
// snd_seq_event_input_pending, whose error it takes for "events pending", so its next read finds
// nothing (-EAGAIN, "unknown MIDI input error") or, when more arrived meanwhile, says nothing at all.
// So the two functions RtMidi reads input with are defined here as well: the program's own
// definitions come first when the library's calls are bound, count what the real ones (the next
// definitions, in alsa-lib) return, and pass it on unchanged. Nothing else in this program reads
// ALSA input, so the counts are the RtMidi inputs'.
namespace {

std::atomic<std::uint64_t> alsaInputCalls{0};
std::atomic<std::uint64_t> alsaInputOverruns{0};
std::atomic<std::uint64_t> alsaInputFailures{0};

void CountAlsaInputResult(int result) {
    alsaInputCalls.fetch_add(1, std::memory_order_relaxed);
    if (result == -ENOSPC) {
        alsaInputOverruns.fetch_add(1, std::memory_order_relaxed);
        LogMessage("RtMidiConnection: the ALSA sequencer's input buffer overran; what it held is lost\n");
    } else if (result < 0 && result != -EAGAIN) {
        // -EAGAIN is no error: nothing to read (also right after an overrun, which was counted).
        alsaInputFailures.fetch_add(1, std::memory_order_relaxed);
        LogMessage("RtMidiConnection: reading ALSA input failed: %s\n", std::strerror(-result));
    }
}

template <typename Function>
Function NextDefinition(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

MidiInputErrors AlsaInputErrorsNow() {
    MidiInputErrors errors;
    errors.overruns = alsaInputOverruns.load();
    errors.failures = alsaInputFailures.load();
    return errors;
}

}  // namespace

// alsa-lib's handles, opaque here as in its own headers.
typedef struct _snd_seq snd_seq_t;
typedef struct snd_seq_event snd_seq_event_t;

extern "C" int snd_seq_event_input(snd_seq_t* seq, snd_seq_event_t** ev) {
    using Real = int (*)(snd_seq_t*, snd_seq_event_t**);
    static const Real real = NextDefinition<Real>("snd_seq_event_input");
    if (!real) return -ENOSYS;
    const int result = real(seq, ev);
    CountAlsaInputResult(result);
    return result;
}

extern "C" int snd_seq_event_input_pending(snd_seq_t* seq, int fetchSequencer) {
    using Real = int (*)(snd_seq_t*, int);
    static const Real real = NextDefinition<Real>("snd_seq_event_input_pending");
    if (!real) return -ENOSYS;
    const int result = real(seq, fetchSequencer);
    // Without a fetch it only looks at what is already read: no news from the kernel.
    if (fetchSequencer) CountAlsaInputResult(result);
    return result;
}
#endif

namespace {

// The program's own ports carry this prefix in their client's name and are never offered.
bool IsOwnPort(const std::string& listed, const std::string& clientName) {
    return !clientName.empty() && listed.compare(0, clientName.size(), clientName) == 0;
}

class RtMidiConnection : public MidiConnection {
public:
    // Makes both clients now, so that a system that fails does so here, where it is reported.
    RtMidiConnection(RtMidi::Api api, std::string clientName) : api(api), clientName(std::move(clientName)) {
#if defined(__LINUX_ALSA__)
        inputErrorsAtStart = AlsaInputErrorsNow();
#endif
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
    MidiInputErrors InputErrors() const override {
        MidiInputErrors errors;
#if defined(__LINUX_ALSA__)
        // JACK and CoreMIDI report no lost input through RtMidi; ALSA's is counted above.
        if (api == RtMidi::LINUX_ALSA) {
            const MidiInputErrors now = AlsaInputErrorsNow();
            errors.overruns = now.overruns - inputErrorsAtStart.overruns;
            errors.failures = now.failures - inputErrorsAtStart.failures;
        }
#endif
        return errors;
    }


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
#if defined(__LINUX_ALSA__)
        // Input that did not pass through the counting above would leave lost input unseen.
        if (self->api == RtMidi::LINUX_ALSA && alsaInputCalls.load() == 0 && !self->uncountedLogged.exchange(true))
            LogMessage("RtMidiConnection: ALSA input arrives without being counted; lost input goes unreported\n");
#endif
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
#if defined(__LINUX_ALSA__)
    MidiInputErrors inputErrorsAtStart;
    std::atomic<bool> uncountedLogged{false};
#endif
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

std::string ExpectedMidiApi(const std::string& api) {
    for (const ApiName& a : kApis) {
        if (!api.empty()) {
            if (api == a.name) return Compiled(a.api) ? a.name : "";
            continue;
        }
        if (!Compiled(a.api)) continue;
        switch (a.api) {
#if defined(__LINUX_ALSA__)
            case RtMidi::LINUX_ALSA: {
                std::string why;
                if (AlsaSequencerPresent(why)) return a.name;
                break;
            }
#endif
            case RtMidi::MACOSX_CORE: return a.name;
            default: return "";  // a JACK server may or may not be running
        }
    }
    return "";
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
