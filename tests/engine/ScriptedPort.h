#pragma once
// A MIDI port driven by a test script: it records what is sent with the clock time, answers
// IsConnected from a programmable sequence, and lets device messages appear at given times,
// after a number of polls, or in answer to a send.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "Clock.h"
#include "MidiPort.h"
#include "TestSupport.h"
#include "UpdateStatus.h"

using Bytes = std::vector<std::uint8_t>;

struct SentChunk {
    Bytes bytes;
    std::uint64_t atMs;
};

struct QueryCall {
    std::uint32_t limit;
    Bytes request;
    std::uint64_t atMs;
    int disconnectsBefore;
};

class ScriptedPort : public MidiPort {
public:
    std::int32_t ideal = 1024;
    std::int32_t max = 3072;
    bool wholeMessages = false;
    // Answers of IsConnected in order; once used up, `connectedAfterScript`.
    std::deque<bool> connectedScript;
    bool connectedAfterScript = true;
    // Each Send takes the next entry and delivers it at once (an empty entry delivers nothing).
    std::deque<Bytes> repliesToSends;
    Bytes queryReply;
    // When not empty, delivered anew at every GetSysEx (a device that repeats itself).
    Bytes deliverOnEveryPoll;
    // Sends numbered from 1 that the operating system refuses (the port records the failure).
    std::vector<int> failingSends;

    std::vector<SentChunk> sends;
    std::vector<QueryCall> queries;
    std::vector<std::uint64_t> pollTimes;  // clock time of every GetSysEx
    int isConnectedCalls = 0;
    int disconnects = 0;
    int clears = 0;

    // The message becomes available once the clock has reached `atMs`.
    void DeliverAt(std::uint64_t atMs, Bytes message) { timed.push_back({atMs, 0, std::move(message)}); }
    // The message becomes available at the `poll`-th GetSysEx (counting from 1).
    void DeliverAtPoll(int poll, Bytes message) { timed.push_back({0, poll, std::move(message)}); }
    // Hands bytes to the reassembly now, as the input thread would.
    void Feed(const Bytes& bytes) { assembler.AddBytes(bytes.data(), bytes.size()); }

    std::int32_t GetIdealChunkSize() override { return ideal; }
    std::int32_t GetMaxChunkSize() override { return max; }
    bool SendsWholeMessages() override { return wholeMessages; }
    bool IsConnected() override {
        ++isConnectedCalls;
        if (connectedScript.empty()) return connectedAfterScript;
        bool answer = connectedScript.front();
        connectedScript.pop_front();
        return answer;
    }
    void Disconnect() override { ++disconnects; }
    void Send(const std::uint8_t* data, std::uint32_t length) override {
        sends.push_back({Bytes(data, data + length), CurrentClock().NowMs()});
        if (std::find(failingSends.begin(), failingSends.end(), static_cast<int>(sends.size())) !=
            failingSends.end())
            NoteSendFailure();
        if (repliesToSends.empty()) return;
        Bytes reply = std::move(repliesToSends.front());
        repliesToSends.pop_front();
        Feed(reply);
    }
    Bytes Query(std::uint32_t limit, const std::uint8_t* request, std::uint32_t length) override {
        queries.push_back({limit, Bytes(request, request + length), CurrentClock().NowMs(), disconnects});
        return queryReply;
    }
    Bytes GetSysEx() override {
        pollTimes.push_back(CurrentClock().NowMs());
        DeliverDue();
        if (!deliverOnEveryPoll.empty()) Feed(deliverOnEveryPoll);
        return MidiPort::GetSysEx();
    }
    void ClearSysEx() override {
        ++clears;
        MidiPort::ClearSysEx();
    }

private:
    struct Timed {
        std::uint64_t atMs;
        int atPoll;  // 0: by time
        Bytes message;
    };
    std::vector<Timed> timed;

    void DeliverDue() {
        const std::uint64_t now = CurrentClock().NowMs();
        const int poll = static_cast<int>(pollTimes.size());
        for (auto it = timed.begin(); it != timed.end();) {
            bool due = it->atPoll > 0 ? poll >= it->atPoll : now >= it->atMs;
            if (!due) {
                ++it;
                continue;
            }
            Feed(it->message);
            it = timed.erase(it);
        }
    }
};

// The device's 13-byte status message with the given status byte.
inline Bytes StatusMessage(std::uint8_t status) {
    return {0xF0, kManufacturerId[0], kManufacturerId[1], kManufacturerId[2], 0x73, 0, 0, 0, 0, 0, 0,
            status, 0xF7};
}

// An Identity Reply: header, manufacturer ID, the family byte and two unread bytes, version bytes
// A B C D, five unread bytes, a 16-byte name padded with zeros, F7.
inline Bytes IdentityReply(const Bytes& manufacturer, std::uint8_t family, std::uint8_t a,
                           std::uint8_t b, std::uint8_t c, std::uint8_t d,
                           const std::string& name = "Pad") {
    Bytes reply = {0xF0, 0x7E, 0x00, 0x06, 0x02};
    reply.insert(reply.end(), manufacturer.begin(), manufacturer.end());
    reply.insert(reply.end(), {family, 0x11, 0x22, a, b, c, d, 0x31, 0x32, 0x33, 0x34, 0x35});
    Bytes nameBytes(16, 0x00);
    for (std::size_t i = 0; i < name.size() && i < 16; ++i) nameBytes[i] = static_cast<std::uint8_t>(name[i]);
    reply.insert(reply.end(), nameBytes.begin(), nameBytes.end());
    reply.push_back(0xF7);
    return reply;
}

// A scripted port on a simulated clock, with the reports and the log recorded.
class EngineTest : public ::testing::Test {
protected:
    SimulatedClock clock{0};
    ScopedClock useClock{clock};
    ScriptedPort port;
    RecordingProgress progress;
    LogCapture log;
};
