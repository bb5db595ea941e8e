#pragma once
// A port that tells the person at the terminal, once, when the device's port has not appeared
// after a whole round of connection checks: the run keeps looking without end (the device may
// still be starting its update mode), and silence would look like a hang.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "MidiPort.h"

class LookingPort : public MidiPort {
public:
    // `note` is called once, on the run's thread, after the first round of checks found nothing.
    LookingPort(std::unique_ptr<MidiPort> port, std::function<void()> note);

    std::int32_t GetIdealChunkSize() override { return port->GetIdealChunkSize(); }
    std::int32_t GetMaxChunkSize() override { return port->GetMaxChunkSize(); }
    bool SendsWholeMessages() override { return port->SendsWholeMessages(); }
    bool IsConnected() override;
    void AskForPort() override { port->AskForPort(); }
    void Disconnect() override { port->Disconnect(); }
    void Send(const std::uint8_t* data, std::uint32_t length) override { port->Send(data, length); }
    void Reconnect() override { port->Reconnect(); }
    std::vector<std::uint8_t> Query(std::uint32_t limit, const std::uint8_t* request,
                                    std::uint32_t length) override {
        return port->Query(limit, request, length);
    }
    std::vector<std::uint8_t> GetSysEx() override { return port->GetSysEx(); }
    void ClearSysEx() override { port->ClearSysEx(); }
    std::uint32_t SendFailures() const override { return port->SendFailures(); }

private:
    std::unique_ptr<MidiPort> port;
    std::function<void()> note;
    std::uint32_t misses = 0;  // checks that found no port before the first connection
    bool connectedOnce = false;
};
