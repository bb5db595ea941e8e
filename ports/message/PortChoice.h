#pragma once
// Which ports of a MIDI system an update's names pick out, for the message port: names as the
// system lists them ("client:port 20:0" on the ALSA sequencer, "client:port" on JACK), the shared
// matching rules of the core, exact names before substrings, never a port that only echoes or a
// software synthesizer; and the input of the device whose output was chosen.

#include <set>
#include <string>
#include <vector>

#include "HostPlatform.h"
#include "MidiSystem.h"
#include "PortSettings.h"

// A port that is never the device: a through port (it sends back what it is sent) or a
// synthesizer in software.
bool IsNeverTheDevice(const std::string& listedName);

// The listed name and the parts a person knows a port by: the client and the port name without
// the system's numbers ("Pad:Pad MIDI 1 20:0" gives "Pad" and "Pad MIDI 1").
std::vector<std::string> PortNameParts(const std::string& listedName);

// Index into `listed` of the port `names` pick: the first whose name or a part of it is exactly
// one of the names, else the first that matches by the core's rules; -1 when none does.
int FindListedPort(const std::set<std::string>& names, const std::vector<std::string>& listed);

// Index into `inputs` of the input that goes with the output listed as `output` ("" when none is
// open): for the file's names, an input whose name or part is exactly one of them; else the input
// paired with that output (PairedInput); else the first the names pick (FindListedPort). -1 when
// none does.
int ChooseInput(const PortSettings& settings, const std::string& output, const std::vector<std::string>& inputs);

// The output `settings` pick among `outputs` and the input that goes with it.
MidiPortPair ChoosePorts(const PortSettings& settings, const std::vector<std::string>& outputs,
                         const std::vector<std::string>& inputs);
