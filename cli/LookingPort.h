#pragma once
// A port that tells the person at the terminal, once, when the device's port has not appeared
// after a whole round of connection checks: the run keeps looking without end (the device may
// still be starting its update mode), and silence would look like a hang. It also tells which
// ports it opened, whenever they change.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MidiPort.h"

class LookingPort : public MidiPort {
public:
    using PortsCallback = std::function<void(const std::string& output, const std::string& input)>;
    // `note` is called once, on the run's thread, after the first round of checks found nothing.
    // `ports` is called on the run's thread with the names of the open output and input (the
    // input "" while there is none) when an output is open and they differ from the last call.
    LookingPort(std::unique_ptr<MidiPort> port, std::function<void()> note, PortsCallback ports = nullptr);

    std::int32_t GetIdealChunkSize() override { return port->GetIdealChunkSize(); }
    std::int32_t GetMaxChunkSize() override { return port->GetMaxChunkSize(); }
    bool SendsWholeMessages() override { return port->SendsWholeMessages(); }
    bool IsConnected() override;
    void AskForPort() override { port->AskForPort(); }
    void Disconnect() override { port->Disconnect(); }
    void Send(const std::uint8_t* data, std::uint32_t length) override { port->Send(data, length); }
    void Reconnect() override { port->Reconnect(); }
    // The port may open the device's input while it waits for the answer.
    std::vector<std::uint8_t> Query(std::uint32_t limit, const std::uint8_t* request,
                                    std::uint32_t length) override;
    std::vector<std::uint8_t> GetSysEx() override { return port->GetSysEx(); }
    void ClearSysEx() override { port->ClearSysEx(); }
    std::uint32_t SendFailures() const override { return port->SendFailures(); }
    std::string OpenOutputName() const override { return port->OpenOutputName(); }
    std::string OpenInputName() const override { return port->OpenInputName(); }

private:
    void TellPorts();

    std::unique_ptr<MidiPort> port;
    std::function<void()> note;
    PortsCallback ports;
    std::string toldOutput, toldInput;  // the names `ports` was last called with
    std::uint32_t misses = 0;  // checks that found no port before the first connection
    bool connectedOnce = false;
};
