// The ports command: every MIDI port the system lists, as the port search sees it.

#include <ostream>

#include "Commands.h"
#include "VisibleText.h"

namespace cli {


void PrintPorts(const char* title, const std::vector<MidiPortEntry>& ports, std::ostream& out) {
    out << title << "\n";
    if (ports.empty()) out << "  (none)\n";
    for (const MidiPortEntry& p : ports) {
        out << "  #" << p.id << "  '" << VisibleSystemText(p.name) << "'";
        if (p.skipped) out << "  (skipped by the port search)";
        out << "\n";
    }
}

int Ports(Args& args, CliIo& io) {
    std::string api;
    while (!args.Done()) {
        const std::string a = args.Take();
        if (a != "--api") Usage("ports takes no arguments but --api NAME");
        api = CheckedApi(args.Value(a));
    }
    args.Ready({});
    std::string error;
    std::unique_ptr<MidiSystem> system = OpenMidiSystem(io, api, error);
    if (!system) {
        io.err << "midiupdate: " << VisibleText(error) << "\n";
        return kExitFailed;
    }
    const std::vector<MidiPortEntry> outputs = system->OutputPorts();
    const std::vector<MidiPortEntry> inputs = system->InputPorts();
    if (outputs.empty() && inputs.empty()) {
        io.out << "No MIDI ports found (" << system->Name() << ").\n";
        return kExitOk;
    }
    PrintPorts(("MIDI output ports (" + system->Name() + "):").c_str(), outputs, io.out);
    PrintPorts(("MIDI input ports (" + system->Name() + "):").c_str(), inputs, io.out);
    return kExitOk;
}


}  // namespace cli
