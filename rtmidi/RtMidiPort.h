#pragma once
// The MidiPort for Linux and macOS, over a MIDI system reached through RtMidi (ALSA sequencer,
// JACK, CoreMIDI). It finds the device's ports by name each time it connects, so a device that
// reboots between portions is found again; frames and paces chunks like every port; cuts long
// SysEx into pieces the system carries whole; and really asks the device in Query.

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "ChunkFraming.h"
#include "MidiConnection.h"
#include "MidiPort.h"
#include "PortSettings.h"

// Keeps the bytes waiting in a MIDI system under what it can hold: before each piece it waits,
// on the current clock, until enough has drained.
class PiecePacer {
public:
    explicit PiecePacer(const TransportLimits& limits) : limits(limits) {}
    // Waits until `bytes` more fit, then counts them as waiting.
    void Admit(std::size_t bytes);
    // Bytes taken to be still waiting in the system now.
    double Backlog();

private:
    TransportLimits limits;
    double backlog = 0;
    std::uint64_t lastMs = 0;
};

// Cuts one framed chunk into pieces of at most `maxPiece` bytes (a piece of 0 means no limit). With
// `atMessageEnds` a piece also ends after every F7, so each piece is either exactly `maxPiece`
// long or ends a message, except perhaps the last.
std::vector<std::vector<std::uint8_t>> SplitIntoPieces(const std::vector<std::uint8_t>& message,
                                                       std::size_t maxPiece, bool atMessageEnds = false);

class RtMidiPort : public MidiPort, private MidiInputHandler {
public:
    // `names` are the port names to look for (the update's, or the one given by hand); the pacing
    // values come from `settings`.
    RtMidiPort(std::unique_ptr<MidiConnection> connection, const PortSettings& settings);
    ~RtMidiPort() override;

    std::int32_t GetIdealChunkSize() override { return settings.ideal; }
    std::int32_t GetMaxChunkSize() override { return settings.max; }
    // Opens the device's ports when they are closed; true when the output is open and the device
    // is still listed (a device that went away is closed, and looked for again).
    bool IsConnected() override;
    void Disconnect() override;
    void Send(const std::uint8_t* data, std::uint32_t length) override;
    // Sends `request` and waits up to `limit` ms for the answer: the first message that is not
    // the request coming back, and for an Identity Request the first Identity Reply.
    std::vector<std::uint8_t> Query(std::uint32_t limit, const std::uint8_t* request,
                                    std::uint32_t length) override;

    std::string OpenOutputName() const override { return outputName; }
    std::string OpenInputName() const override { return inputName; }

private:
    void OnMidiInput(const std::uint8_t* data, std::size_t length) override;
    static void MessageComplete(void* context);
    void Connect();
    bool StillListed();
    bool SendPieces(const std::vector<std::uint8_t>& framed);
    void HandOverHeldTail();
    std::vector<std::vector<std::uint8_t>> TakeInbox();

    std::unique_ptr<MidiConnection> connection;
    PortSettings settings;
    ChunkPacing pacing;
    PiecePacer pacer;
    std::string outputName;
    std::string inputName;
    bool inputMissingLogged = false;
    // The end of the last chunk, inside a message and shorter than a piece, that a system which
    // encodes events could not pass on yet: it goes out in front of the next chunk.
    std::vector<std::uint8_t> heldTail;

    // Messages completed while a Query waits, so that none is lost between two looks.
    std::mutex inboxLock;
    bool collecting = false;
    std::vector<std::vector<std::uint8_t>> inbox;
};
