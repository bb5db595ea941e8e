#pragma once
// A MIDI system in memory: port lists the test sets, and every message sent recorded with the
// clock time. Input is delivered by the test, from its own thread or from another. It can also
// take what it is sent as released RtMidi (5.0.0 and 6.0.0) over ALSA, JACK or CoreMIDI does,
// and keep what would reach the device.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Clock.h"
#include "MidiConnection.h"

using Bytes = std::vector<std::uint8_t>;

class FakeConnection : public MidiConnection {
public:
    std::vector<std::string> outputs;
    std::vector<std::string> inputs;
    TransportLimits limits;
    // Sends numbered from 1 that the system refuses.
    std::vector<int> refusedSends;
    // Called for every accepted message, after it was recorded (a device answering).
    std::function<void(const Bytes&)> onSend;
    // How sent messages are taken, and what of them reaches the device: `events`, in order; what
    // the system took but loses on the way is in `lost`.
    enum class Model { Plain, Alsa, Jack, CoreMidi };
    Model model = Model::Plain;
    // What the system reports having lost on the way in.
    MidiInputErrors inputErrors;
    std::vector<Bytes> events;
    std::vector<Bytes> lost;

    std::vector<Bytes> sent;
    std::vector<std::uint64_t> sentAtMs;
    std::string openOutput, openInput;  // names of the ports open now, "" when closed
    std::string virtualName;            // name of the virtual ports open now
    int outputOpens = 0;
    int closes = 0;
    MidiInputHandler* handler = nullptr;

    std::vector<std::string> OutputNames() override { return outputs; }
    std::vector<std::string> InputNames() override { return inputs; }
    bool OpenOutput(unsigned index) override {
        if (index >= outputs.size()) return false;
        openOutput = outputs[index];
        ++outputOpens;
        return true;
    }
    bool OpenInput(unsigned index, MidiInputHandler& h) override {
        if (index >= inputs.size()) return false;
        openInput = inputs[index];
        handler = &h;
        return true;
    }
    bool OpenVirtualOutput(const std::string& name) override {
        virtualName = name;
        openOutput = name;
        return true;
    }
    bool OpenVirtualInput(const std::string& name, MidiInputHandler& h) override {
        openInput = name;
        handler = &h;
        return true;
    }
    void CloseOutput() override {
        if (!openOutput.empty()) ++closes;
        openOutput.clear();
        virtualName.clear();
    }
    void CloseInput() override {
        openInput.clear();
        handler = nullptr;
    }
    bool OutputOpen() const override { return !openOutput.empty(); }
    bool InputOpen() const override { return !openInput.empty(); }

    bool SendMessage(const std::uint8_t* data, std::size_t length) override {
        const int number = ++sendCount;
        for (int refused : refusedSends)
            if (refused == number) return false;
        if (!Take(Bytes(data, data + length))) return false;
        sent.emplace_back(data, data + length);
        sentAtMs.push_back(CurrentClock().NowMs());
        if (onSend) onSend(sent.back());
        return true;
    }
    MidiInputErrors InputErrors() const override { return inputErrors; }
    TransportLimits Limits() const override { return limits; }
    std::string ApiName() const override { return "fake"; }

    // What arrives on the open input.
    void Deliver(const Bytes& bytes) {
        if (handler) handler->OnMidiInput(bytes.data(), bytes.size());
    }
    // Everything sent, back to back.
    Bytes Wire() const { return Join(sent); }
    // Everything that reaches the device.
    Bytes Delivered() const { return Join(events); }

private:
    static Bytes Join(const std::vector<Bytes>& messages) {
        Bytes all;
        for (const Bytes& m : messages) all.insert(all.end(), m.begin(), m.end());
        return all;
    }

    bool Take(const Bytes& message) {
        switch (model) {
            case Model::Alsa: return TakeAlsa(message);
            case Model::Jack: return TakeJack(message);
            case Model::CoreMidi: return TakeCoreMidi(message);
            case Model::Plain: break;
        }
        events.push_back(message);
        return true;
    }

    // The length of the whole message without running status that starts `message` at `at`, or 0
    // when none does. SysEx is not one of these.
    static std::size_t ShortMessageAt(const Bytes& message, std::size_t at) {
        const std::uint8_t status = message[at];
        if (status >= 0xF8) return status == 0xF9 || status == 0xFD ? 0 : 1;
        std::size_t data = 2;
        if (status < 0x80 || status == 0xF0 || status == 0xF7 || status == 0xF4 || status == 0xF5) return 0;
        if ((status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 || status == 0xF1 || status == 0xF3) data = 1;
        if (status == 0xF6) data = 0;
        if (message.size() - at < 1 + data) return 0;
        for (std::size_t i = 1; i <= data; ++i)
            if (message[at + i] >= 0x80) return 0;
        return 1 + data;
    }

    // Whether `part` may come next in a SysEx message that spans several: only data bytes, and an
    // F7 at the end only. Leaves `inSysEx` as the part leaves the message.
    static bool SysExPart(const Bytes& part, std::size_t from, bool& inSysEx) {
        for (std::size_t i = from; i < part.size(); ++i) {
            if (part[i] == 0xF7 && i + 1 == part.size()) {
                inSysEx = false;
                return true;
            }
            if (part[i] >= 0x80) return false;
        }
        inSysEx = true;
        return true;
    }

    // RtMidi's sendMessage over ALSA, through alsa-lib's snd_midi_event encoder: a message longer
    // than the encoder's buffer grows the buffer, which resets the encoder. Then the encoder is
    // asked for one event after another; bytes that end no event make RtMidi warn of an incomplete
    // message and stop: the events before went out, and the bytes left stay in the encoder for
    // the next call.
    bool TakeAlsa(const Bytes& message) {
        if (message.size() > alsa.buffer.size()) {
            alsa.buffer.resize(message.size());
            alsa.Reset();
        }
        for (std::size_t at = 0; at < message.size();) {
            Bytes event;
            bool complete = false;
            while (at < message.size() && !complete) complete = alsa.EncodeByte(message[at++], event);
            if (!complete) return false;
            events.push_back(event);
        }
        return true;
    }

    // alsa-lib's byte encoder (as since 1.1.7), as far as MIDI bytes go. Every status byte but the
    // F7 of a SysEx message starts a new message, dropping one not complete; a SysEx event ends at
    // its F7 or when the buffer is full; a real-time byte is an event of its own; a short message
    // (also one under running status, which only channel messages have) is one when complete and
    // reaches the device with its status byte. Bytes of no message (undefined status bytes, F7
    // outside SysEx, data bytes without status) are swallowed.
    struct AlsaEncoder {
        static constexpr int kInvalid = 7;
        static constexpr int kSysEx = 8;  // types 0-6 are the channel messages, 8-15 F0-F7
        Bytes buffer = Bytes(32);         // RtMidi's first buffer
        std::size_t read = 0;
        int type = kInvalid;
        long wanted = 0;  // data bytes still to come; a SysEx message keeps 1, no message less than 0
        void Reset() {
            read = 0;
            type = kInvalid;
            wanted = 0;
        }
        static long DataBytes(int type) {
            static const long table[16] = {2, 2, 2, 2, 1, 1, 2, -1, 1, 1, 2, 1, -1, -1, 0, -1};
            return table[type];
        }

        // True when `c` completes an event, which is then in `event`.
        bool EncodeByte(std::uint8_t c, Bytes& event) {
            if (c >= 0xF8) {
                if (c == 0xF9 || c == 0xFD) return false;
                event = {c};
                return true;
            }
            if ((c & 0x80) && (c != 0xF7 || type != kSysEx)) {
                buffer[0] = c;
                type = (c & 0xF0) == 0xF0 ? kSysEx + (c & 0x0F) : (c >> 4) & 0x07;
                read = 1;
                wanted = DataBytes(type);
            } else if (wanted > 0) {
                buffer[read++] = c;
                if (type != kSysEx) --wanted;
            } else {
                buffer[1] = c;  // running status
                read = 2;
                wanted = DataBytes(type) - 1;
            }
            if (wanted == 0) {
                event = {static_cast<std::uint8_t>(type < kSysEx ? 0x80 | type << 4 | (buffer[0] & 0x0F)
                                                                 : 0xF0 + type - kSysEx)};
                event.insert(event.end(), buffer.begin() + 1, buffer.begin() + static_cast<std::ptrdiff_t>(read));
                if (type >= kSysEx) type = kInvalid;
                return true;
            }
            if (type == kSysEx && (c == 0xF7 || read >= buffer.size())) {
                event.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(read));
                if (c == 0xF7) {
                    Reset();
                } else {
                    read = 0;
                }
                return true;
            }
            return false;
        }
    };

    // RtMidi's sendMessage over JACK queues every message as one event, but drops without a word
    // one longer than its ring buffer (16384 bytes, 4 of them for the length) can ever hold. JACK
    // wants each event one whole message with its status byte, and lets only a SysEx message come
    // in parts: the first from F0, the others data bytes, the last ending in F7. An event that
    // breaks this reaches no device.
    bool TakeJack(const Bytes& message) {
        if (message.size() + 4 > 16383) return true;
        const bool whole = jackInSysEx ? SysExPart(message, 0, jackInSysEx)
                                       : message.empty() ? false
                                       : message[0] == 0xF0 ? SysExPart(message, 1, jackInSysEx)
                                                            : ShortMessageAt(message, 0) == message.size();
        (whole ? events : lost).push_back(message);
        return true;
    }

    // RtMidi's sendMessage over CoreMIDI refuses an empty message and one that does not begin with
    // F0 and is longer than 3 bytes; it sends the rest in packets of at most 65535 bytes. CoreMIDI
    // wants every message in a packet complete and without running status, except that a SysEx
    // message may span packets, and a packet with SysEx holds nothing else. A packet that breaks
    // this reaches no device.
    bool TakeCoreMidi(const Bytes& message) {
        if (message.empty() || (message[0] != 0xF0 && message.size() > 3)) return false;
        for (std::size_t at = 0; at < message.size(); at += 65535) {
            const Bytes packet(message.begin() + static_cast<std::ptrdiff_t>(at),
                               message.begin() + static_cast<std::ptrdiff_t>(std::min(message.size(), at + 65535)));
            (CorePacket(packet) ? events : lost).push_back(packet);
        }
        return true;
    }
    bool CorePacket(const Bytes& packet) {
        if (coreInSysEx) return SysExPart(packet, 0, coreInSysEx);
        if (packet[0] == 0xF0) return SysExPart(packet, 1, coreInSysEx);
        for (std::size_t at = 0; at < packet.size();) {
            const std::size_t length = ShortMessageAt(packet, at);
            if (length == 0) return false;
            at += length;
        }
        return true;
    }

    int sendCount = 0;
    AlsaEncoder alsa;
    bool jackInSysEx = false;
    bool coreInSysEx = false;
};
