#pragma once
// The MidiPort over any message-based MIDI system (the ALSA sequencer, JACK and CoreMIDI through
// RtMidi, and the page's Web MIDI), reached through a MidiConnection. It finds the device's ports
// by name each time it connects, so a device that reboots between portions is found again; frames
// and paces chunks like every port; cuts long SysEx into pieces the system carries whole; and
// really asks the device in Query.

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

// Cuts one framed chunk into pieces of at most `maxPiece` bytes (a piece of 0 means no limit),
// wherever that falls: for a system that carries a raw byte stream.
std::vector<std::vector<std::uint8_t>> SplitIntoPieces(const std::vector<std::uint8_t>& message,
                                                       std::size_t maxPiece);

// Cuts a stream of MIDI bytes, chunk after chunk, into the pieces a system that takes only whole
// messages accepts (see TransportLimits::wholeMessages). A real-time byte goes at once, also from
// inside a message. A message that another status byte cuts short goes as far as it came, for the
// system to take or refuse.
class MessageCutter {
public:
    using Pieces = std::vector<std::vector<std::uint8_t>>;
    explicit MessageCutter(std::size_t maxPiece) : maxPiece(maxPiece) {}
    // Adds to `pieces` what `data` completes and keeps what it leaves incomplete. Returns how many
    // data bytes belonged to no message (no status byte before them): those cannot be handed
    // over and are dropped.
    std::size_t Add(const std::uint8_t* data, std::size_t length, Pieces& pieces);
    // The bytes of the message not complete yet.
    const std::vector<std::uint8_t>& Held() const { return held; }
    // Takes the held bytes away and starts afresh, as at the start of a stream.
    std::vector<std::uint8_t> TakeHeld();

private:
    void Flush(Pieces& pieces);

    std::size_t maxPiece;
    std::vector<std::uint8_t> held;
    bool inSysEx = false;
    std::uint8_t runningStatus = 0;
    std::size_t dataWanted = 0;
};

// The pieces a system with `limits` is handed for the next bytes of a chunk, as the port hands them
// over; `cutter` keeps what a system of whole messages must wait for. Returns the bytes that belong
// to no message (not sent) through `stray`.
MessageCutter::Pieces PiecesFor(const TransportLimits& limits, MessageCutter& cutter, const std::uint8_t* data,
                                std::size_t length, std::size_t& stray);

class MessagePort : public MidiPort, private MidiInputHandler {
public:
    // `names` are the port names to look for (the update's, or the one given by hand); the pacing
    // values come from `settings`.
    MessagePort(std::unique_ptr<MidiConnection> connection, const PortSettings& settings);
    ~MessagePort() override;

    std::int32_t GetIdealChunkSize() override { return settings.ideal; }
    std::int32_t GetMaxChunkSize() override { return settings.max; }
    bool SendsWholeMessages() override { return settings.wholeMessages; }
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
    TransportLimits limits;
    PiecePacer pacer;
    std::string outputName;
    std::string inputName;
    bool inputMissingLogged = false;
    // For a system that takes whole messages: it holds the end of the last chunk, inside a message,
    // until the next chunk completes it.
    MessageCutter cutter;

    // Messages completed while a Query waits, so that none is lost between two looks.
    std::mutex inboxLock;
    bool collecting = false;
    std::vector<std::vector<std::uint8_t>> inbox;
};
