#pragma once
// Which MIDI devices an update's port names pick out. Pure logic, shared by every platform's port.

#include <cstdint>
#include <set>
#include <string>

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
