#include "LookingPort.h"

#include <utility>

#include "SysExSender.h"

LookingPort::LookingPort(std::unique_ptr<MidiPort> port, std::function<void()> note)
    : port(std::move(port)), note(std::move(note)) {}

bool LookingPort::IsConnected() {
    const bool connected = port->IsConnected();
    TakeSendFailures();
    if (connected) {
        connectedOnce = true;
    } else if (!connectedOnce && ++misses == kConnectionAttempts + 1 && note) {
        // A round is its checks and the look after the last one.
        note();
    }
    return connected;
}

void LookingPort::Disconnect() {
    port->Disconnect();
    TakeSendFailures();
}

void LookingPort::Send(const std::uint8_t* data, std::uint32_t length) {
    port->Send(data, length);
    TakeSendFailures();
}

void LookingPort::Reconnect() {
    port->Reconnect();
    TakeSendFailures();
}

std::vector<std::uint8_t> LookingPort::Query(std::uint32_t limit, const std::uint8_t* request,
                                             std::uint32_t length) {
    std::vector<std::uint8_t> reply = port->Query(limit, request, length);
    TakeSendFailures();
    return reply;
}

void LookingPort::TakeSendFailures() {
    for (; failuresSeen < port->SendFailures(); ++failuresSeen) NoteSendFailure();
}
