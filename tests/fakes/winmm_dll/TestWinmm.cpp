// A stand-in winmm.dll for the end-to-end window test under Wine, which has no MIDI devices here:
// the simulated multimedia MIDI services with virtual instruments behind them. Placed beside
// MidiUpdater.exe and loaded instead of the system's (WINEDLLOVERRIDES=winmm=n), it gives the
// program an output and an input device without the program knowing anything of it.
//
// Set up from the environment when the DLL is loaded:
//   TEST_WINMM_DEVICE     name of the instrument's output and input device
//   TEST_WINMM_UPDATE     the update file the instrument expects (how each portion must arrive)
//   TEST_WINMM_BEHAVIOUR  how it answers (status=accept|fail|none|install:N, identity=..., ...)
//   TEST_WINMM_REPORT     file that receives what the instrument saw, when the program ends
//   TEST_WINMM_MORE_OUTPUTS  output devices listed after the instrument's, separated by ';'
//                         (nothing answers behind them)
// Several instruments: the first three as lists separated by ';', one entry per instrument (a
// behaviour left out is the default); the report then holds one section per instrument, each
// headed "instrument: NAME".
// With PLANTED_DLL_MARKERS set it also tells that it was loaded (LoadMarker.h), as a planted DLL
// that a program would really call.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Update.h"
#include "VirtualDeviceModel.h"
#pragma pack(push, 1)  // the system's layout of the records, as in PackedWinmmLayer.cpp
#include "WinmmLayer.h"
#pragma pack(pop)
#include "WinmmLayerControl.h"
#include "LoadMarker.h"

namespace {

struct Instrument {
    std::string name;
    VirtualDeviceModel* model;  // lives as long as the process, never destroyed
    std::size_t expectedBytes;
};
std::vector<Instrument> instruments;
std::string reportPath;

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::vector<std::string> List(const std::string& text) {
    std::vector<std::string> items;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find(';', at);
        if (end == std::string::npos) end = text.size();
        items.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return items;
}

void SetUp() {
    const std::vector<std::string> devices = List(Environment("TEST_WINMM_DEVICE"));
    const std::vector<std::string> updatePaths = List(Environment("TEST_WINMM_UPDATE"));
    const std::vector<std::string> behaviours = List(Environment("TEST_WINMM_BEHAVIOUR"));
    reportPath = Environment("TEST_WINMM_REPORT");
    for (std::size_t i = 0; i < devices.size() && i < updatePaths.size(); ++i) {
        if (devices[i].empty() || updatePaths[i].empty()) continue;
        try {
            std::ifstream stream(updatePaths[i], std::ios::binary);
            Update update(stream);
            auto* model = new VirtualDeviceModel(
                update, update.winPort, ParseDeviceBehaviour(i < behaviours.size() ? behaviours[i] : ""));
            instruments.push_back({devices[i], model, TotalSysExSize(update)});
        } catch (const std::exception& error) {
            std::fprintf(stderr, "test winmm: %s: %s\n", updatePaths[i].c_str(), error.what());
            continue;
        }
        int output = winmm_layer::AddOutput(devices[i]);
        int input = winmm_layer::AddInput(devices[i]);
        winmm_layer::AttachModel(instruments.back().model, output, input);
    }
    if (instruments.empty()) return;  // no devices at all
    for (const std::string& name : List(Environment("TEST_WINMM_MORE_OUTPUTS")))
        if (!name.empty()) winmm_layer::AddOutput(name);
    // What the instruments send back reaches the program's input callback through this pump.
    std::thread([] {
        for (;;) {
            winmm_layer::DeliverDue();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }).detach();
}

// The other threads are gone when the process ends, so the instruments are read without a race.
void WriteReport() {
    if (reportPath.empty() || instruments.empty()) return;
    FILE* file = std::fopen(reportPath.c_str(), "wb");
    if (!file) return;
    for (const Instrument& instrument : instruments) {
        const VirtualDeviceModel::Stats& stats = instrument.model->GetStats();
        if (instruments.size() > 1) std::fprintf(file, "instrument: %s\n", instrument.name.c_str());
        std::fprintf(file, "expected bytes: %u\nbytes received: %u\nportions completed: %u of %u\n"
                     "portions corrupt: %u\nchunks received: %u\nall received: %s\n"
                     "channel messages ignored: %u\nreal-time messages ignored: %u\n",
                     static_cast<unsigned>(instrument.expectedBytes),
                     static_cast<unsigned>(stats.bytesReceived), stats.portionsCompleted,
                     static_cast<unsigned>(instrument.model->PortionsExpected()),
                     stats.portionsCorrupt, stats.chunksReceived,
                     instrument.model->AllPortionsReceived() ? "yes" : "no",
                     stats.ignored.channelMessages, stats.ignored.realTimeMessages);
    }
    std::fclose(file);
}

}  // namespace

// The DLL entry point; declared here because the system headers' types clash with the layer's.
extern "C" int __stdcall DllMain(void* module, unsigned long reason, void*) {
    if (reason == 1) {                 // DLL_PROCESS_ATTACH
        WriteLoadMarker(module);
        SetUp();
    }
    if (reason == 0) WriteReport();    // DLL_PROCESS_DETACH
    return 1;
}
