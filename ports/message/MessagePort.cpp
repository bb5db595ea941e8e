#include "MessagePort.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Clock.h"
#include "Log.h"
#include "PortChoice.h"
#include "UpdateStatus.h"

namespace {

// How often Query looks for the answer, and how often it looks for a device that is away.
constexpr std::uint32_t kQueryPollMs = 10;
constexpr std::uint32_t kQueryReconnectMs = 500;

bool IsIdentityRequest(const std::uint8_t* data, std::uint32_t length) {
    return data != nullptr && length == sizeof(IdentityRequest) &&
           std::memcmp(data, IdentityRequest, sizeof(IdentityRequest)) == 0;
}

// F0 7E <device> 06 02: a General Information Identity Reply from any device id.
bool IsIdentityReply(const std::vector<std::uint8_t>& message) {
    return message.size() >= 5 && message[0] == 0xF0 && message[1] == 0x7E && message[3] == 0x06 &&
           message[4] == 0x02;
}

// Data bytes after a status byte other than SysEx: two for most channel messages, one for
// program change and channel pressure; the system common messages as MIDI defines them.
std::size_t DataBytesAfter(std::uint8_t status) {
    if (status < 0xF0) {
        const std::uint8_t kind = status & 0xF0;
        return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
    }
    switch (status) {
        case 0xF1:
        case 0xF3: return 1;
        case 0xF2: return 2;
        default: return 0;
    }
}

}  // namespace

void PiecePacer::Admit(std::size_t bytes) {
    Backlog();
    const double queue = static_cast<double>(limits.queueBytes);
    if (backlog > 0 && backlog + static_cast<double>(bytes) > queue && limits.drainBytesPerMs > 0) {
        // Wait until the piece fits, or until the system is empty for a piece larger than it holds.
        const double excess = std::min(backlog, backlog + static_cast<double>(bytes) - queue);
        SleepMs(static_cast<std::uint32_t>(std::ceil(excess / limits.drainBytesPerMs)));
        Backlog();
    }
    backlog += static_cast<double>(bytes);
}

double PiecePacer::Backlog() {
    const std::uint64_t now = CurrentClock().NowMs();
    if (now > lastMs) {
        backlog = std::max(0.0, backlog - static_cast<double>(now - lastMs) * limits.drainBytesPerMs);
    }
    lastMs = now;
    return backlog;
}

std::vector<std::vector<std::uint8_t>> SplitIntoPieces(const std::vector<std::uint8_t>& message,
                                                       std::size_t maxPiece) {
    std::vector<std::vector<std::uint8_t>> pieces;
    if (maxPiece == 0) maxPiece = message.size();
    for (std::size_t at = 0; at < message.size();) {
        const std::size_t end = std::min(message.size(), at + maxPiece);
        pieces.emplace_back(message.begin() + static_cast<std::ptrdiff_t>(at),
                            message.begin() + static_cast<std::ptrdiff_t>(end));
        at = end;
    }
    return pieces;
}

std::size_t MessageCutter::Add(const std::uint8_t* data, std::size_t length, Pieces& pieces) {
    std::size_t stray = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t b = data[i];
        if (b >= 0xF8) {
            pieces.push_back({b});
            continue;
        }
        if (inSysEx) {
            if (b < 0x80 || b == 0xF7) {
                held.push_back(b);
                if (b == 0xF7) {
                    inSysEx = false;
                    Flush(pieces);
                } else if (maxPiece != 0 && held.size() == maxPiece) {
                    Flush(pieces);
                }
                continue;
            }
            inSysEx = false;  // cut short by the status byte below
        }
        if (b < 0x80) {
            if (held.empty()) {
                if (runningStatus == 0) {
                    ++stray;
                    continue;
                }
                held.push_back(runningStatus);
                dataWanted = DataBytesAfter(runningStatus);
            }
            held.push_back(b);
            if (--dataWanted == 0) Flush(pieces);
            continue;
        }
        Flush(pieces);
        held.push_back(b);
        if (b == 0xF0) {
            inSysEx = true;
            runningStatus = 0;
            continue;
        }
        // System common messages end running status; a channel message starts it.
        runningStatus = b < 0xF0 ? b : 0;
        dataWanted = DataBytesAfter(b);
        if (dataWanted == 0) Flush(pieces);
    }
    return stray;
}

std::vector<std::uint8_t> MessageCutter::TakeHeld() {
    std::vector<std::uint8_t> taken;
    taken.swap(held);
    inSysEx = false;
    runningStatus = 0;
    dataWanted = 0;
    return taken;
}

void MessageCutter::Flush(Pieces& pieces) {
    if (held.empty()) return;
    pieces.push_back(std::move(held));
    held.clear();
}

MessagePort::MessagePort(std::unique_ptr<MidiConnection> midiConnection, const PortSettings& portSettings)
    : connection(std::move(midiConnection)),
      settings(portSettings),
      pacing{portSettings.delay, portSettings.unprepDelay},
      limits(connection->Limits()),
      pacer(limits),
      cutter(limits.maxPieceBytes) {
    // Every completed message also reaches a waiting Query.
    assembler.onComplete = &MessagePort::MessageComplete;
    assembler.context = this;
}

MessagePort::~MessagePort() { Disconnect(); }

void MessagePort::MessageComplete(void* context) {
    MessagePort* port = static_cast<MessagePort*>(context);
    port->GotSysEx();
    std::lock_guard<std::mutex> guard(port->inboxLock);
    if (port->collecting) port->inbox.push_back(port->assembler.buffer);
}

void MessagePort::OnMidiInput(const std::uint8_t* data, std::size_t length) {
    if (length == 0) return;
    const std::uint8_t first = data[0];
    // Timing clock, active sensing and the other real-time bytes, and every short message, are
    // not SysEx: only a message that starts one (F0) or continues one (data bytes, or its F7).
    if (first >= 0x80 && first != 0xF0 && first != 0xF7) return;
    assembler.AddBytes(data, length);
}

void MessagePort::Connect() {
    const std::vector<std::string> outputs = connection->OutputNames();
    const std::vector<std::string> inputs = connection->InputNames();
    if (!connection->OutputOpen()) {
        // The ports as the system lists them, once per search for the device.
        LogMessage("%s: %s\n", "MessagePort::Connect", connection->ApiName().c_str());
        for (std::size_t i = 0; i < outputs.size(); ++i)
            LogMessage("  MIDI OUT port #%d: '%s'\n", static_cast<int>(i), outputs[i].c_str());
        for (std::size_t i = 0; i < inputs.size(); ++i)
            LogMessage("  MIDI IN  port #%d: '%s'\n", static_cast<int>(i), inputs[i].c_str());
    }

    if (!connection->OutputOpen()) {
        const int out = FindListedPort(settings.names, outputs);
        if (out < 0) {
            LogMessage("%s: no output port matches\n", "MessagePort::Connect");
        } else if (connection->OpenOutput(static_cast<unsigned>(out))) {
            outputName = outputs[static_cast<std::size_t>(out)];
            LogMessage("%s: output '%s'\n", "MessagePort::Connect", outputName.c_str());
            if (limits.settleMs != 0) SleepMs(limits.settleMs);
        }
    }
    if (!connection->InputOpen()) {
        // The chosen output's device answers on its own input, whose name may differ.
        const int in = ChooseInput(settings, outputName, inputs);
        if (in < 0) {
            if (!inputMissingLogged) LogMessage("%s: no input port matches\n", "MessagePort::Connect");
            inputMissingLogged = true;
        } else if (connection->OpenInput(static_cast<unsigned>(in), *this)) {
            inputName = inputs[static_cast<std::size_t>(in)];
            inputMissingLogged = false;
            LogMessage("%s: input '%s'\n", "MessagePort::Connect", inputName.c_str());
        }
    }
}

bool MessagePort::StillListed() {
    const std::vector<std::string> outputs = connection->OutputNames();
    return std::find(outputs.begin(), outputs.end(), outputName) != outputs.end();
}

bool MessagePort::IsConnected() {
    if (connection->OutputOpen() && !StillListed()) {
        // The device went away (unplugged, or rebooting): its port stays open here but leads
        // nowhere, and a device that comes back is a new port to open.
        LogMessage("%s: '%s' has gone\n", "MessagePort::IsConnected", outputName.c_str());
        Disconnect();
    }
    // A device whose input port shows up after its output (or never) is still reachable; its
    // answers are looked for again at every question until its input is open too.
    if (!connection->OutputOpen() || !connection->InputOpen()) Connect();
    return connection->OutputOpen();
}

void MessagePort::Disconnect() {
    HandOverHeldTail();
    if (connection->OutputOpen() || connection->InputOpen())
        LogMessage("%s\n", "MessagePort::Disconnect");
    connection->CloseInput();
    connection->CloseOutput();
    outputName.clear();
    inputName.clear();
}

MessageCutter::Pieces PiecesFor(const TransportLimits& limits, MessageCutter& cutter, const std::uint8_t* data,
                                std::size_t length, std::size_t& stray) {
    MessageCutter::Pieces pieces;
    stray = 0;
    if (!limits.wholeMessages)
        pieces = SplitIntoPieces(std::vector<std::uint8_t>(data, data + length), limits.maxPieceBytes);
    else
        stray = cutter.Add(data, length, pieces);
    return pieces;
}

bool MessagePort::SendPieces(const std::vector<std::uint8_t>& framed) {
    std::size_t stray = 0;
    const MessageCutter::Pieces pieces = PiecesFor(limits, cutter, framed.data(), framed.size(), stray);
    if (stray != 0) {
        NoteSendFailure();
        LogMessage("%s: %u bytes belong to no message (no status byte before them); not sent\n",
                   "MessagePort::Send", static_cast<unsigned>(stray));
    }
    for (const std::vector<std::uint8_t>& piece : pieces) {
        pacer.Admit(piece.size());
        if (!connection->SendMessage(piece.data(), piece.size())) {
            // A refused piece breaks the chunk: what is held would join the wrong bytes.
            cutter.TakeHeld();
            return false;
        }
    }
    if (!cutter.Held().empty())
        LogMessage("%s: %u bytes wait for the rest of their message\n", "MessagePort::Send",
                   static_cast<unsigned>(cutter.Held().size()));
    return true;
}

// Before the port closes or asks the device, what is still held waits for nothing more.
void MessagePort::HandOverHeldTail() {
    const std::vector<std::uint8_t> tail = cutter.TakeHeld();
    if (tail.empty()) return;
    // A message that never ends (a file's last message without its F7) is not handed over: every
    // system here takes only whole messages (or, JACK, parts that a later F7 ends), and the next
    // message, the Identity Request among them, would only be glued to it. It counts as not sent.
    NoteSendFailure();
    LogMessage("%s: the last %u bytes end inside a message that never ends; not sent\n", "MessagePort::Send",
               static_cast<unsigned>(tail.size()));
}

void MessagePort::Send(const std::uint8_t* data, std::uint32_t length) {
    LogMessage("%s(%u)\n", "MessagePort::Send", static_cast<unsigned>(length));
    if (length == 0) return;
    if (!IsConnected()) {
        NoteSendFailure();
        LogMessage("%s: no device; %u bytes not sent\n", "MessagePort::Send", static_cast<unsigned>(length));
        return;
    }
    const std::vector<std::uint8_t> framed = FrameChunk(data, length, settings.chunks);
    if (SendPieces(framed)) {
        pacing.AfterHandOver();
    } else {
        NoteSendFailure();
        LogMessage("%s: the MIDI system refused the chunk\n", "MessagePort::Send");
    }
    pacing.AfterRelease();
}

std::vector<std::vector<std::uint8_t>> MessagePort::TakeInbox() {
    std::lock_guard<std::mutex> guard(inboxLock);
    std::vector<std::vector<std::uint8_t>> taken;
    taken.swap(inbox);
    return taken;
}

std::vector<std::uint8_t> MessagePort::Query(std::uint32_t limit, const std::uint8_t* request,
                                            std::uint32_t length) {
    LogMessage("%s(%u, %u bytes)\n", "MessagePort::Query", static_cast<unsigned>(limit),
               static_cast<unsigned>(length));
    Clock& clock = CurrentClock();
    const std::uint64_t deadline = clock.NowMs() + limit;
    // The device may be restarting after its last status: it has until the limit to come back.
    while (!IsConnected()) {
        const std::uint64_t now = clock.NowMs();
        if (now >= deadline) {
            LogMessage("%s: no device to ask\n", "MessagePort::Query");
            return {};
        }
        SleepMs(static_cast<std::uint32_t>(std::min<std::uint64_t>(kQueryReconnectMs, deadline - now)));
    }
    HandOverHeldTail();
    if (request == nullptr || length == 0) return {};

    struct StopCollecting {
        MessagePort& port;
        ~StopCollecting() {
            std::lock_guard<std::mutex> guard(port.inboxLock);
            port.collecting = false;
            port.inbox.clear();
        }
    };
    {
        std::lock_guard<std::mutex> guard(inboxLock);
        inbox.clear();
        collecting = true;
    }
    StopCollecting stop{*this};
    if (!connection->SendMessage(request, length)) {
        LogMessage("%s: the MIDI system refused the request\n", "MessagePort::Query");
        return {};
    }
    const std::vector<std::uint8_t> sent(request, request + length);
    const bool wantsIdentity = IsIdentityRequest(request, length);
    for (;;) {
        for (std::vector<std::uint8_t>& message : TakeInbox()) {
            if (message == sent) {
                LogMessage("%s: the request came back (a loopback); not an answer\n", "MessagePort::Query");
                continue;
            }
            if (wantsIdentity && !IsIdentityReply(message)) {
                LogMessage("%s: %u bytes that are no Identity Reply; still waiting\n", "MessagePort::Query",
                           static_cast<unsigned>(message.size()));
                continue;
            }
            return std::move(message);
        }
        const std::uint64_t now = clock.NowMs();
        if (now >= deadline) break;
        SleepMs(static_cast<std::uint32_t>(std::min<std::uint64_t>(kQueryPollMs, deadline - now)));
    }
    LogMessage("%s: no answer within %u ms\n", "MessagePort::Query", static_cast<unsigned>(limit));
    return {};
}
