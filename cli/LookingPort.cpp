#include "LookingPort.h"

#include <utility>

#include "SysExSender.h"

LookingPort::LookingPort(std::unique_ptr<MidiPort> port, std::function<void()> note)
    : port(std::move(port)), note(std::move(note)) {}

bool LookingPort::IsConnected() {
    const bool connected = port->IsConnected();
    if (connected) {
        connectedOnce = true;
    } else if (!connectedOnce && ++misses == kConnectionAttempts + 1 && note) {
        // A round is its checks and the look after the last one.
        note();
    }
    return connected;
}
