// The simulate command: this program plays an update-mode device on virtual MIDI ports of the
// platform's system, so that another program can update it.

#include <cstring>
#include <memory>
#include <ostream>
#include <set>

#include "Commands.h"
#include "HostPlatform.h"
#include "Reporters.h"
#include "SimulatedDevices.h"
#include "VisibleText.h"

namespace cli {

int Simulate(Args& args, CliIo& io) {
    std::string path, name, behaviourText, api;
    std::uint64_t timeoutMs = 0;
    while (!args.Done()) {
        std::string a = args.Take();
        if (a == "--name") {
            name = args.Value(a);
        } else if (a == "--virtual") {
            behaviourText.clear();
        } else if (a.rfind("--virtual=", 0) == 0) {
            behaviourText = a.substr(std::strlen("--virtual="));
        } else if (a == "--timeout") {
            auto seconds = ParseUnsigned(args.Value(a), 4000000ul);
            if (!seconds || *seconds == 0) Usage("--timeout takes a whole number of seconds, at least 1");
            timeoutMs = static_cast<std::uint64_t>(*seconds) * 1000u;
        } else if (a == "--api") {
            api = CheckedApi(args.Value(a));
        } else if (a.size() > 1 && a[0] == '-') {
            Usage("unknown option for simulate: " + a);
        } else if (path.empty()) {
            path = a;
        } else {
            Usage("simulate takes one file");
        }
    }
    DeviceBehaviour behaviour;
    try {
        behaviour = ParseDeviceBehaviour(behaviourText);
    } catch (const std::invalid_argument& e) {
        Usage(std::string("--virtual: ") + e.what());
    }
    args.Ready(path.empty() ? std::vector<std::string>{} : std::vector<std::string>{path});
    std::unique_ptr<Update> update;
    if (!path.empty()) {
        update = LoadUpdate(path, io);
        if (!update) return kExitFailed;
    }
    if (name.empty()) name = SimulatedDeviceName(update.get(), CurrentHostPlatform());
    std::unique_ptr<SimulatedDevice> device =
        update ? MakeFileDevice(*update, update->winPort, behaviour) : MakeAnySysExDevice(behaviour);
    std::string error;
    std::unique_ptr<MidiSystem> system = OpenMidiSystem(io, api, error);
    std::unique_ptr<DeviceServer> server = system ? system->ServeDevice(name, *device, error) : nullptr;
    if (!server) {
        io.err << "midiupdate: " << VisibleText(error) << "\n";
        return kExitFailed;
    }
    // What arrives, while it arrives: on a terminal one line redrawn in place, otherwise a line
    // for each step of the update.
    std::string shownLine, shownStep = device->StepLine();
    server->OnArrival([&](const SimulatedDevice& seen) {
        if (io.outIsTty) {
            const std::string line = VisibleText(seen.ArrivedLine());
            if (line == shownLine) return;
            shownLine = line;
            const std::size_t width = io.columns ? io.columns() : 80;
            io.out << "\r" << CutAtWord(line, width > 1 ? width - 1 : 1) << "\x1b[K" << std::flush;
        } else {
            const std::string step = seen.StepLine();
            if (step == shownStep) return;
            shownStep = step;
            io.out << VisibleText(step) << "\n" << std::flush;
        }
    });
    io.out << "Simulating '" << VisibleText(name) << "' on " << system->Name()
           << (update ? ", checking what arrives against '" + VisibleText(path) + "'" : std::string(", taking any SysEx"))
           << "; Ctrl-C stops.\n"
           << std::flush;
    if (!server->Run(timeoutMs)) {
        io.err << "midiupdate: could not open the virtual MIDI ports '" << VisibleText(name) << "'\n";
        return kExitFailed;
    }
    if (!shownLine.empty()) io.out << "\n";
    io.out << VisibleText(device->Report(), true);
    io.out << "Messages: " << server->MessagesIn() << " in, " << server->MessagesOut() << " out\n";
    return device->Satisfied() ? kExitOk : kExitFailed;
}

}  // namespace cli
