// midiupdate's send to a virtual device behind a MIDI system of its own, with the platform's
// KeepAwake, pausing so that a test can look at the system from outside while the update is being
// sent and again once the run has ended (the program still running).
//
// Usage: paused_send FILE [send options]
// At the first chunk it prints "sending" and waits for a line on standard input; when the run has
// ended it prints "finished STATUS" and waits for another line, then exits with STATUS. What the
// command itself printed goes to standard error.

#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Cli.h"
#include "MidiSystem.h"
#include "Update.h"
#include "VirtualDevice.h"

namespace {

void Handshake(const std::string& line) {
    std::cout << line << std::endl;
    std::string answer;
    std::getline(std::cin, answer);
}

class PausingDevice : public VirtualDevice {
public:
    PausingDevice(const Update& update, const PortSettings& settings)
        : VirtualDevice(update, settings, DeviceBehaviour{}) {}
    void Send(const std::uint8_t* data, std::uint32_t length) override {
        if (!paused) Handshake("sending");
        paused = true;
        VirtualDevice::Send(data, length);
    }

private:
    bool paused = false;
};

// One output port, named as the file asks, with the device behind it.
class DeviceSystem : public MidiSystem {
public:
    explicit DeviceSystem(const Update& update) : update(update) {}
    std::string Name() const override { return "paused"; }
    std::vector<MidiPortEntry> OutputPorts() override {
        std::vector<MidiPortEntry> ports;
        for (const std::string& name : update.winPort.names)
            ports.push_back({static_cast<int>(ports.size()), name, false});
        return ports;
    }
    std::vector<MidiPortEntry> InputPorts() override { return {}; }
    std::unique_ptr<MidiPort> MakePort(const PortSettings& settings) override {
        return std::make_unique<PausingDevice>(update, settings);
    }

private:
    const Update& update;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: paused_send FILE [send options]\n";
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const Update update(file);
    std::ostringstream out, err;
    std::istringstream in;
    CliIo io{out, err, in};
    io.openMidiSystem = [&](std::string&) { return std::make_unique<DeviceSystem>(update); };
    std::vector<std::string> args = {"send"};
    args.insert(args.end(), argv + 1, argv + argc);
    const int status = RunCli(args, io);
    std::cerr << out.str() << err.str();
    Handshake("finished " + std::to_string(status));
    return status;
}
