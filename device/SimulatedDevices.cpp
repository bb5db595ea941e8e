#include "SimulatedDevices.h"

#include <cstring>
#include <set>

#include "ChunkFraming.h"
#include "DeviceSchedule.h"
#include "Log.h"
#include "UpdateModeInput.h"
#include "UpdateStatus.h"
#include "VirtualDeviceModel.h"

namespace {

std::string Plural(std::uint64_t count, const char* noun) {
    return FormatString("%llu %s%s", static_cast<unsigned long long>(count), noun, count == 1 ? "" : "s");
}

// The report's line on what the MIDI system lost on the way in; empty when it reported nothing.
std::string InputErrorsText(const MidiInputErrors& errors) {
    if (!errors.Any()) return "";
    return "MIDI input errors: the MIDI system reported " + Plural(errors.overruns, "input buffer overrun") +
           " and " + Plural(errors.failures, "other input error") + "; what came meanwhile was lost\n";
}

// The same for the lines shown while it runs.
std::string InputErrorsNote(const MidiInputErrors& errors) {
    if (!errors.Any()) return "";
    return "; " + Plural(errors.overruns + errors.failures, "MIDI input error");
}

constexpr const char* kInputLostVerdict =
    "Verdict: the MIDI system lost input on the way in, so this transfer is not good.\n";

class FileDevice : public SimulatedDevice {
public:
    FileDevice(const Update& update, const PortSettings& settings, const DeviceBehaviour& behaviour)
        : model(update, settings, behaviour), wireRules(WireRulesText(update, settings)) {}
    void Receive(const std::uint8_t* data, std::size_t length, std::uint64_t nowMs) override {
        model.Receive(data, length, nowMs);
    }
    std::vector<std::vector<std::uint8_t>> TakeDue(std::uint64_t nowMs) override { return model.TakeDue(nowMs); }
    bool Online(std::uint64_t nowMs) const override { return model.Online(nowMs); }
    bool RebootPending() const override { return model.RebootPending(); }
    void StartReboot(std::uint64_t nowMs) override { model.StartReboot(nowMs); }
    void NoteInputErrors(const MidiInputErrors& errors) override { inputErrors = errors; }
    std::string Report() const override {
        const VirtualDeviceModel::Stats& s = model.GetStats();
        std::string text = wireRules;
        text += FormatString("Received %llu of %llu bytes in %u of %u SysEx messages\n",
                             static_cast<unsigned long long>(s.bytesReceived),
                             static_cast<unsigned long long>(model.WireBytesExpected()),
                             static_cast<unsigned>(s.messagesReceived),
                             static_cast<unsigned>(model.WireMessagesExpected()));
        text += FormatString("Portions complete: %u of %u, %u corrupt; unexpected bytes: %llu; Identity Requests: %u\n",
                             static_cast<unsigned>(s.portionsCompleted), static_cast<unsigned>(model.PortionsExpected()),
                             static_cast<unsigned>(s.portionsCorrupt),
                             static_cast<unsigned long long>(s.bytesUnexpected),
                             static_cast<unsigned>(s.identityRequests));
        text += IgnoredMessagesText(s.ignored);
        if (s.restarts != 0)
            text += FormatString("Started over %u time%s: a new update began after an interrupted one; the "
                                 "counts above are the last one's\n",
                                 static_cast<unsigned>(s.restarts), s.restarts == 1 ? "" : "s");
        text += InputErrorsText(inputErrors);
        if (Satisfied())
            text += "Verdict: every byte arrived as the file says.\n";
        else if (inputErrors.Any())
            text += kInputLostVerdict;
        else if (s.portionsCorrupt != 0 || s.bytesUnexpected != 0)
            text += "Verdict: the data differs from the file.\n";
        else
            text += "Verdict: the update did not arrive in full.\n";
        return text;
    }
    bool Satisfied() const override {
        const VirtualDeviceModel::Stats& s = model.GetStats();
        return model.AllPortionsReceived() && s.portionsCorrupt == 0 && s.bytesUnexpected == 0 &&
               !inputErrors.Any();
    }
    std::string ArrivedLine() const override {
        const VirtualDeviceModel::Stats& s = model.GetStats();
        return FormatString("Received %llu of %llu bytes; portions complete: %u of %u",
                            static_cast<unsigned long long>(s.bytesReceived),
                            static_cast<unsigned long long>(model.WireBytesExpected()),
                            static_cast<unsigned>(s.portionsCompleted),
                            static_cast<unsigned>(model.PortionsExpected())) +
               InputErrorsNote(inputErrors);
    }
    std::string StepLine() const override {
        const VirtualDeviceModel::Stats& s = model.GetStats();
        std::string line = FormatString("Portions complete: %u of %u, %u corrupt",
                                        static_cast<unsigned>(s.portionsCompleted),
                                        static_cast<unsigned>(model.PortionsExpected()),
                                        static_cast<unsigned>(s.portionsCorrupt));
        if (s.restarts != 0)
            line += FormatString(" (started over %u time%s)", static_cast<unsigned>(s.restarts),
                                 s.restarts == 1 ? "" : "s");
        return line + InputErrorsNote(inputErrors);
    }

private:
    // What the device expects on the wire, in a maker's words: the rules differ by the kind of file.
    static std::string WireRulesText(const Update& update, const PortSettings& settings) {
        const ChunkRules rules = ChunkRulesFor(settings);
        CutCount cut;
        for (const SysExPortion& portion : update.portions) {
            const CutCount more = CountCutMessages(portion.data, rules);
            cut.messages += more.messages;
            cut.cut += more.cut;
            cut.wireMessages += more.wireMessages;
            cut.bytesInserted += more.bytesInserted;
        }
        if (cut.bytesInserted == 0) return "Expecting: the file's bytes exactly as they stand, nothing added\n";
        return FormatString("Expecting: the file's bytes in chunks of its pacing settings, each chunk framed as a "
                            "SysEx message: %u of its %u messages are cut across chunks and arrive as %u, with "
                            "%llu bytes added\n",
                            static_cast<unsigned>(cut.cut), static_cast<unsigned>(cut.messages),
                            static_cast<unsigned>(cut.wireMessages),
                            static_cast<unsigned long long>(cut.bytesInserted));
    }

    VirtualDeviceModel model;
    std::string wireRules;
    MidiInputErrors inputErrors;
};

class AnySysExDevice : public SimulatedDevice, private UpdateModeInput::Device {
public:
    explicit AnySysExDevice(const DeviceBehaviour& behaviour) : behaviour(behaviour) {}

    void Receive(const std::uint8_t* data, std::size_t length, std::uint64_t nowMs) override {
        if (length == 0) return;
        if (!inMessage && length == sizeof(IdentityRequest) &&
            std::memcmp(data, IdentityRequest, sizeof(IdentityRequest)) == 0) {
            ++identityRequests;
            if (behaviour.identityEnabled)
                schedule.Schedule(nowMs + kDeviceIdentityMs,
                                  MakeIdentityReply(behaviour.identity.value_or(FirmwareVersion{1, 0}), "Simulator"));
            return;
        }
        const std::uint64_t bytesBefore = bytes;
        for (std::size_t i = 0; i < length; ++i) input.Add(data[i], *this, ignored);
        // Only SysEx (and whatever else is not set aside) restarts the quiet second.
        if (bytes == bytesBefore) return;
        lastByteMs = nowMs;
        waiting = true;
    }

    void Tick(std::uint64_t nowMs) override {
        if (!waiting || nowMs < lastByteMs + kQuietMs) return;
        waiting = false;
        ++reports;
        messagesAtReport = messages;
        // Like an instrument that finds a gap in what it took, it reports a failure when a message
        // was broken off or the MIDI system lost input since its last answer.
        const std::uint64_t gapsNow = brokenMessages + inputErrors.overruns + inputErrors.failures;
        schedule.AnswerStep(nowMs, behaviour, gapsNow != gapsAtAnswer);
        gapsAtAnswer = gapsNow;
    }

    std::vector<std::vector<std::uint8_t>> TakeDue(std::uint64_t nowMs) override { return schedule.TakeDue(nowMs); }
    bool Online(std::uint64_t nowMs) const override { return schedule.Online(nowMs); }
    bool RebootPending() const override { return schedule.RebootPending(); }
    void StartReboot(std::uint64_t nowMs) override { schedule.StartReboot(nowMs, behaviour.offlineMs); }
    void NoteInputErrors(const MidiInputErrors& errors) override { inputErrors = errors; }
    std::string Report() const override {
        std::string text = FormatString("Received %llu bytes, %llu complete SysEx messages\n",
                                        static_cast<unsigned long long>(bytes),
                                        static_cast<unsigned long long>(messages));
        text += FormatString("Status reports: %u; Identity Requests: %u\n", static_cast<unsigned>(reports),
                             static_cast<unsigned>(identityRequests));
        text += IgnoredMessagesText(ignored);
        if (brokenMessages != 0)
            text += "Broken off: " + Plural(brokenMessages, "SysEx message") +
                    " ended by a status byte other than F7\n";
        text += InputErrorsText(inputErrors);
        if (inputErrors.Any())
            text += kInputLostVerdict;
        else if (brokenMessages != 0)
            text += "Verdict: SysEx arrived broken: bytes are missing.\n";
        else
            text += Satisfied() ? "Verdict: SysEx arrived (no file to check it against).\n"
                                : "Verdict: no SysEx arrived.\n";
        return text;
    }
    // Without a file, only a message broken off and the MIDI system's own count tell that
    // something went missing.
    bool Satisfied() const override { return messages > 0 && brokenMessages == 0 && !inputErrors.Any(); }
    std::string ArrivedLine() const override {
        return FormatString("Received %llu bytes, %llu complete SysEx messages",
                            static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(messages)) +
               InputErrorsNote(inputErrors);
    }
    std::string StepLine() const override {
        return FormatString("Answered %u time%s, after %llu SysEx messages", static_cast<unsigned>(reports),
                            reports == 1 ? "" : "s", static_cast<unsigned long long>(messagesAtReport)) +
               InputErrorsNote(inputErrors);
    }

private:
    // Without a file nothing outside SysEx is expected.
    bool Expects(const std::uint8_t*, std::size_t) const override { return false; }
    void TakeFirmware(std::uint8_t b) override {
        ++bytes;
        if (b < 0x80) return;
        // Any status byte but F7 breaks off the message it lands in: bytes went missing between.
        if (inMessage && b != 0xF7) ++brokenMessages;
        if (inMessage && b == 0xF7) ++messages;
        inMessage = b == 0xF0;
    }

    DeviceBehaviour behaviour;
    UpdateModeInput input;
    IgnoredMessages ignored;
    bool inMessage = false;
    bool waiting = false;
    std::uint64_t lastByteMs = 0;
    std::uint64_t bytes = 0;
    std::uint64_t messages = 0;
    std::uint32_t reports = 0;
    std::uint64_t messagesAtReport = 0;
    std::uint32_t identityRequests = 0;
    MidiInputErrors inputErrors;
    std::uint64_t brokenMessages = 0;
    std::uint64_t gapsAtAnswer = 0;
    DeviceSchedule schedule;
};

}  // namespace

std::unique_ptr<SimulatedDevice> MakeFileDevice(const Update& update, const PortSettings& settings,
                                                const DeviceBehaviour& behaviour) {
    return std::make_unique<FileDevice>(update, settings, behaviour);
}

std::unique_ptr<SimulatedDevice> MakeAnySysExDevice(const DeviceBehaviour& behaviour) {
    return std::make_unique<AnySysExDevice>(behaviour);
}


std::string SimulatedDeviceName(const Update* update, HostPlatform platform) {
    const std::set<std::string> names = update ? PortNamesFor(*update, platform) : std::set<std::string>{};
    if (!names.empty() && !names.begin()->empty()) return *names.begin();
    if (update && !update->isRawSysEx && !update->productName.empty()) return update->productName;
    return "SysEx Device";
}
