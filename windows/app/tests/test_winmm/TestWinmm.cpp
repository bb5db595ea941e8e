// A stand-in winmm.dll for the end-to-end window test under Wine, which has no MIDI devices here:
// the simulated multimedia MIDI services with one virtual instrument behind them. Placed beside
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
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "Update.h"
#include "VirtualDeviceModel.h"
#pragma pack(push, 1)  // the system's layout of the records, as in PackedWinmmLayer.cpp
#include "WinmmLayer.h"
#pragma pack(pop)
#include "WinmmLayerControl.h"

namespace {

VirtualDeviceModel* instrument = nullptr;  // lives as long as the process, never destroyed
std::size_t expectedBytes = 0;
std::string reportPath;

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

void SetUp() {
    const std::string device = Environment("TEST_WINMM_DEVICE");
    const std::string updatePath = Environment("TEST_WINMM_UPDATE");
    reportPath = Environment("TEST_WINMM_REPORT");
    if (device.empty() || updatePath.empty()) return;  // no devices at all
    try {
        std::ifstream stream(updatePath, std::ios::binary);
        Update update(stream);
        expectedBytes = TotalSysExSize(update);
        instrument = new VirtualDeviceModel(update, update.winPort,
                                            ParseDeviceBehaviour(Environment("TEST_WINMM_BEHAVIOUR")));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "test winmm: %s\n", error.what());
        return;
    }
    int output = winmm_layer::AddOutput(device);
    int input = winmm_layer::AddInput(device);
    winmm_layer::AttachModel(instrument, output, input);
    const std::string more = Environment("TEST_WINMM_MORE_OUTPUTS");
    for (std::size_t at = 0; at < more.size();) {
        std::size_t end = more.find(';', at);
        if (end == std::string::npos) end = more.size();
        if (end > at) winmm_layer::AddOutput(more.substr(at, end - at));
        at = end + 1;
    }
    // What the instrument sends back reaches the program's input callback through this pump.
    std::thread([] {
        for (;;) {
            winmm_layer::DeliverDue();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }).detach();
}

// The other threads are gone when the process ends, so the instrument is read without a race.
void WriteReport() {
    if (reportPath.empty() || !instrument) return;
    const VirtualDeviceModel::Stats& stats = instrument->GetStats();
    if (FILE* file = std::fopen(reportPath.c_str(), "wb")) {
        std::fprintf(file, "expected bytes: %u\nbytes received: %u\nportions completed: %u of %u\n"
                     "portions corrupt: %u\nchunks received: %u\nall received: %s\n"
                     "channel messages ignored: %u\nreal-time messages ignored: %u\n",
                     static_cast<unsigned>(expectedBytes), static_cast<unsigned>(stats.bytesReceived),
                     stats.portionsCompleted, static_cast<unsigned>(instrument->PortionsExpected()),
                     stats.portionsCorrupt, stats.chunksReceived,
                     instrument->AllPortionsReceived() ? "yes" : "no", stats.ignored.channelMessages,
                     stats.ignored.realTimeMessages);
        std::fclose(file);
    }
}

}  // namespace

// The DLL entry point; declared here because the system headers' types clash with the layer's.
extern "C" int __stdcall DllMain(void*, unsigned long reason, void*) {
    if (reason == 1) SetUp();          // DLL_PROCESS_ATTACH
    if (reason == 0) WriteReport();    // DLL_PROCESS_DETACH
    return 1;
}
