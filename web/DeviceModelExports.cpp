// The virtual device in WebAssembly (virtualdevice.js): the device models and the transport loop
// of `simulate`, on ports that page/virtualmidi.js shows to the page as a MIDI access of its own.
// With it the page updates a device that checks every byte against the file, without an
// instrument or Web MIDI. That script's timer drives the loop.

#include <emscripten.h>

#include <memory>
#include <sstream>
#include <string>

#include "DeviceBehaviour.h"
#include "DeviceSimulator.h"
#include "HostPlatform.h"
#include "MidiConnection.h"
#include "SimulatedDevices.h"
#include "TextEncoding.h"
#include "Update.h"

// `Module.virtualMidi` is the VirtualMidiAccess of virtualmidi.js; names go as UTF-8 with their
// length, whole: a name may hold zero bytes, which a C string would end at.
EM_JS(void, vd_show, (int pageOutput, const char* name, int length), {
    Module.virtualMidi.show(!!pageOutput, new TextDecoder().decode(HEAPU8.slice(name, name + length)));
});
EM_JS(void, vd_hide, (int pageOutput), { Module.virtualMidi.hide(!!pageOutput); });
EM_JS(void, vd_answer, (const unsigned char* data, int length), {
    Module.virtualMidi.answer(HEAPU8.slice(data, data + length));
});

namespace {

// The device's side: its input is an output port of the page, and the other way round.
class PagePorts : public MidiConnection {
public:
    std::vector<std::string> OutputNames() override { return {}; }
    std::vector<std::string> InputNames() override { return {}; }
    bool OpenOutput(unsigned) override { return false; }
    bool OpenInput(unsigned, MidiInputHandler&) override { return false; }
    bool OpenVirtualOutput(const std::string& name) override {
        Show(0, name);
        outputOpen = true;
        return true;
    }
    bool OpenVirtualInput(const std::string& name, MidiInputHandler& inputHandler) override {
        Show(1, name);
        handler = &inputHandler;
        return true;
    }
    void CloseOutput() override {
        if (outputOpen) vd_hide(0);
        outputOpen = false;
    }
    void CloseInput() override {
        if (handler) vd_hide(1);
        handler = nullptr;
    }
    bool OutputOpen() const override { return outputOpen; }
    bool InputOpen() const override { return handler != nullptr; }
    bool SendMessage(const std::uint8_t* data, std::size_t length) override {
        vd_answer(data, static_cast<int>(length));
        return true;
    }
    TransportLimits Limits() const override { return {}; }
    std::string ApiName() const override { return "virtual"; }

    MidiInputHandler* handler = nullptr;
    bool outputOpen = false;

private:
    static void Show(int pageOutput, const std::string& name) {
        const std::string utf8 = Cp1252ToUtf8(name);
        vd_show(pageOutput, utf8.data(), static_cast<int>(utf8.size()));
    }
};

struct Served {
    std::unique_ptr<Update> update;
    std::unique_ptr<SimulatedDevice> device;
    PagePorts ports;
    std::unique_ptr<DeviceSimulator> simulator;
};
std::unique_ptr<Served> served;
std::string text;

}  // namespace

extern "C" {

// Serves the device of the update file (without one, the device that takes any SysEx) under the
// name the updater looks for on `platform` (0 Linux, 1 macOS, 2 Windows), answering as
// `behaviour` says (send --virtual's syntax). 0 and the reason in vd_text() when the file or the
// behaviour is refused.
EMSCRIPTEN_KEEPALIVE int vd_start(const std::uint8_t* data, int length, const char* behaviour, int platform) {
    served.reset();
    auto next = std::make_unique<Served>();
    try {
        const DeviceBehaviour parsed = ParseDeviceBehaviour(behaviour);
        if (length > 0) {
            std::istringstream stream(std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length)),
                                      std::ios::binary);
            next->update = std::make_unique<Update>(stream, UpdateReaders::WithMidiFile);
            next->device = MakeFileDevice(*next->update, next->update->winPort, parsed);
        } else {
            next->device = MakeAnySysExDevice(parsed);
        }
    } catch (const std::exception& e) {
        text = e.what();
        return 0;
    }
    const HostPlatform host = platform == 1 ? HostPlatform::MacOS : platform == 2 ? HostPlatform::Windows
                                                                                  : HostPlatform::Linux;
    next->simulator = std::make_unique<DeviceSimulator>(next->ports, *next->device,
                                                        SimulatedDeviceName(next->update.get(), host));
    if (!next->simulator->OpenPorts()) return 0;
    served = std::move(next);
    return 1;
}

// What the page sent to the device's port.
EMSCRIPTEN_KEEPALIVE void vd_receive(const std::uint8_t* data, int length) {
    if (served && served->ports.handler) served->ports.handler->OnMidiInput(data, static_cast<std::size_t>(length));
}

EMSCRIPTEN_KEEPALIVE void vd_step(double nowMs) {
    if (served) served->simulator->Step(static_cast<std::uint64_t>(nowMs));
}

// The device's report of what arrived (UTF-8), after a first line "satisfied" or "not satisfied".
EMSCRIPTEN_KEEPALIVE const char* vd_report() {
    text = !served ? "no device\n"
                   : std::string(served->device->Satisfied() ? "satisfied\n" : "not satisfied\n") +
                         Cp1252ToUtf8(served->device->Report());
    return text.c_str();
}

EMSCRIPTEN_KEEPALIVE const char* vd_text() { return text.c_str(); }

}  // extern "C"
