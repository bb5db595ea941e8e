// The virtual device for the page's tests, compiled to WebAssembly: the device models and the
// transport loop of `simulate`, on ports that the tests' stand-in for the browser's MIDI access
// (standin.js) shows to the page. The stand-in's timer drives the loop.

#include <emscripten.h>

#include <memory>
#include <sstream>
#include <string>

#include "DeviceBehaviour.h"
#include "DeviceSimulator.h"
#include "MidiConnection.h"
#include "SimulatedDevices.h"
#include "Update.h"

// `Module.standIn` is the stand-in MIDIAccess of standin.js.
EM_JS(void, standin_show, (int pageOutput, const char* name), {
    Module.standIn.show(!!pageOutput, UTF8ToString(name));
});
EM_JS(void, standin_hide, (int pageOutput), { Module.standIn.hide(!!pageOutput); });
EM_JS(void, standin_answer, (const unsigned char* data, int length), {
    Module.standIn.answer(HEAPU8.slice(data, data + length));
});

namespace {

// The device's side of the stand-in: its input is an output port of the page, and the other way.
class StandInConnection : public MidiConnection {
public:
    std::vector<std::string> OutputNames() override { return {}; }
    std::vector<std::string> InputNames() override { return {}; }
    bool OpenOutput(unsigned) override { return false; }
    bool OpenInput(unsigned, MidiInputHandler&) override { return false; }
    bool OpenVirtualOutput(const std::string& name) override {
        standin_show(0, name.c_str());
        outputOpen = true;
        return true;
    }
    bool OpenVirtualInput(const std::string& name, MidiInputHandler& inputHandler) override {
        standin_show(1, name.c_str());
        handler = &inputHandler;
        return true;
    }
    void CloseOutput() override {
        if (outputOpen) standin_hide(0);
        outputOpen = false;
    }
    void CloseInput() override {
        if (handler) standin_hide(1);
        handler = nullptr;
    }
    bool OutputOpen() const override { return outputOpen; }
    bool InputOpen() const override { return handler != nullptr; }
    bool SendMessage(const std::uint8_t* data, std::size_t length) override {
        standin_answer(data, static_cast<int>(length));
        return true;
    }
    TransportLimits Limits() const override { return {}; }
    std::string ApiName() const override { return "stand-in"; }

    MidiInputHandler* handler = nullptr;
    bool outputOpen = false;
};

struct Served {
    std::unique_ptr<Update> update;
    std::unique_ptr<SimulatedDevice> device;
    StandInConnection connection;
    std::unique_ptr<DeviceSimulator> simulator;
};
std::unique_ptr<Served> served;
std::string text;

}  // namespace

extern "C" {

// Serves the device of the update file (or, without one, the device that takes any SysEx) under
// `name`, answering as `behaviour` says (send --virtual's syntax). 0 and the reason in
// dev_text() when the file or the behaviour is refused.
EMSCRIPTEN_KEEPALIVE int dev_start(const std::uint8_t* data, int length, const char* behaviour, const char* name) {
    served.reset();
    auto next = std::make_unique<Served>();
    try {
        const DeviceBehaviour parsed = ParseDeviceBehaviour(behaviour);
        if (length > 0) {
            std::istringstream stream(std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length)),
                                      std::ios::binary);
            next->update = std::make_unique<Update>(stream);
            next->device = MakeFileDevice(*next->update, next->update->winPort, parsed);
        } else {
            next->device = MakeAnySysExDevice(parsed);
        }
    } catch (const std::exception& e) {
        text = e.what();
        return 0;
    }
    next->simulator = std::make_unique<DeviceSimulator>(next->connection, *next->device, name);
    if (!next->simulator->OpenPorts()) return 0;
    served = std::move(next);
    return 1;
}

// What the page sent to the device's port.
EMSCRIPTEN_KEEPALIVE void dev_receive(const std::uint8_t* data, int length) {
    if (served && served->connection.handler)
        served->connection.handler->OnMidiInput(data, static_cast<std::size_t>(length));
}

EMSCRIPTEN_KEEPALIVE void dev_step(double nowMs) {
    if (served) served->simulator->Step(static_cast<std::uint64_t>(nowMs));
}

// The device's report of what arrived, after a first line "satisfied" or "not satisfied".
EMSCRIPTEN_KEEPALIVE const char* dev_report() {
    text = !served ? "no device\n"
                   : std::string(served->device->Satisfied() ? "satisfied\n" : "not satisfied\n") +
                         served->device->Report();
    return text.c_str();
}

EMSCRIPTEN_KEEPALIVE const char* dev_text() { return text.c_str(); }

}  // extern "C"
