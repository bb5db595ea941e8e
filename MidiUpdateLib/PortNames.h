#pragma once
// Which MIDI devices an update's port names pick out. Pure logic, shared by every platform's port.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

// The operating system's own synthesizer and mapper are never the device being updated.
extern const char* const kExcludedPortNames[2];

// Drops leading digits, then one '-', then leading blanks: "2- Foo" and "10-Foo" become "Foo".
std::string NormalisePortName(const std::string& deviceName);

// True when the device named `deviceName` (as the platform lists it) is one of `names`: never an
// excluded device; any device when `names` is empty; otherwise a member equal to the normalised
// name, an empty member, a member contained in the normalised name, or a member equal to the name
// exactly as listed (a choice made from the list of devices, such as "2- Foo").
bool MatchesPortName(const std::set<std::string>& names, const std::string& deviceName);

// True when the normalised device name is exactly one of `names`, or the name as listed is: a
// stronger match than a substring, for ports that rank candidates.
bool MatchesPortNameExactly(const std::set<std::string>& names, const std::string& deviceName);

// The name without a trailing " 20:0", the client and port numbers the ALSA sequencer lists.
std::string WithoutSequencerAddress(const std::string& listedName);

// Index into `inputs` of the input port of the device whose output port is listed as `output`,
// or -1. Systems name a device's two ports alike but not always the same: Windows lists
// "MIDIOUT2 (Pad)" and "MIDIIN2 (Pad)", bridges into JACK add "(playback)" and "(capture)", some
// drivers end the names in " Out" and " In", and JACK numbers a second client of one name
// "Pad-01". In that order of preference: the same name as listed; the same name once those marks
// of direction are removed; the same without Windows' numbers too (of MIDIOUT2 and MIDIIN2, and
// the prefix of NormalisePortName); and last, for names of the form "client:port", the one input
// of the same client (none when the client has several, as a bridge that carries every device
// does). An ALSA address keeps its client number in every comparison.
int PairedInput(const std::string& output, const std::vector<std::string>& inputs);
