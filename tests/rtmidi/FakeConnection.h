#pragma once
// A MIDI system in memory: port lists the test sets, and every message sent recorded with the
// clock time. Input is delivered by the test, from its own thread or from another. It can also
// pass what it is sent through a model of RtMidi's ALSA output and its event encoder.

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
    // What the system reports having lost on the way in.
    MidiInputErrors inputErrors;
    // Sent messages go through the ALSA encoder model; what it emits is in `events`.
    bool alsaEncoder = false;
    std::vector<Bytes> events;

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
        if (alsaEncoder && !Encode(data, length)) return false;
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
    // Everything the ALSA encoder model emitted: what reaches the device.
    Bytes Delivered() const { return Join(events); }

private:
    static Bytes Join(const std::vector<Bytes>& messages) {
        Bytes all;
        for (const Bytes& m : messages) all.insert(all.end(), m.begin(), m.end());
        return all;
    }

    // RtMidi's sendMessage over ALSA: a message longer than the encoder's buffer grows the buffer,
    // which empties it; then the encoder emits a SysEx event at F7 or when its buffer is full and
    // a real-time byte as an event of its own. Bytes that end no event stay in the encoder for the
    // next call and the message is refused ("incomplete message"); the events before them went out.
    // Only SysEx is modelled: other bytes are taken as if they were inside one.
    bool Encode(const std::uint8_t* data, std::size_t length) {
        if (length > encoderSize) {
            encoderSize = length;
            encoding.clear();
        }
        for (std::size_t i = 0; i < length; ++i) {
            const std::uint8_t b = data[i];
            if (b >= 0xF8) {
                events.push_back({b});
                continue;
            }
            encoding.push_back(b);
            if (b == 0xF7 || encoding.size() >= encoderSize) {
                events.push_back(encoding);
                encoding.clear();
            }
        }
        return encoding.empty();
    }

    int sendCount = 0;
    std::size_t encoderSize = 32;  // RtMidi's first buffer
    Bytes encoding;
};
