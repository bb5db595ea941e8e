#include "LookingPort.h"

#include <utility>

#include "SysExSender.h"

LookingPort::LookingPort(std::unique_ptr<MidiPort> port, std::function<void()> note, PortsCallback ports)
    : port(std::move(port)), note(std::move(note)), ports(std::move(ports)) {}

bool LookingPort::IsConnected() {
    const bool connected = port->IsConnected();
    if (connected) {
        connectedOnce = true;
    } else if (!connectedOnce && ++misses == kConnectionAttempts + 1 && note) {
        // A round is its checks and the look after the last one.
        note();
    }
    TellPorts();
    return connected;
}

std::vector<std::uint8_t> LookingPort::Query(std::uint32_t limit, const std::uint8_t* request,
                                             std::uint32_t length) {
    std::vector<std::uint8_t> answer = port->Query(limit, request, length);
    TellPorts();
    return answer;
}

void LookingPort::TellPorts() {
    if (!ports) return;
    const std::string output = port->OpenOutputName();
    const std::string input = port->OpenInputName();
    // A closed port is no news: the same ports opened again are not told twice.
    if (output.empty() || (output == toldOutput && input == toldInput)) return;
    toldOutput = output;
    toldInput = input;
    ports(output, input);
}
